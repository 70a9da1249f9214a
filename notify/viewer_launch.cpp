// Placeholder until the viewer launch lands.
#include "notify/viewer_launch.h"

void fncExecuteRSSExe() {}
