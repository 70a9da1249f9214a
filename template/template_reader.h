// The agent's template file.
#pragma once

#include <string>

#include "app/vbbool.h"

// Reads the template at `path` into AppState. True when it names at least one
// feed.
VBBool fncParseLUXTemplateXML(std::string path);
