// Placeholder until the converted feed reader lands.
#include "feeds/converted_reader.h"

std::int16_t fncParseRSSTemp(std::string path) {
  (void)path;
  return 0;
}
