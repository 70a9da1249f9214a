#include "app/driver.h"

int main() {
  Main();
  return 0;
}
