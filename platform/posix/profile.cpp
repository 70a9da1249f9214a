// Placeholder until the profile functions land.
#include "platform/profile.h"

namespace platform {
std::uint32_t WriteProfileString(const char*, const char*, const char*, const std::string&) {
  return 0;
}
std::uint32_t GetProfileString(const char*, const char*, const char*, char* buffer,
                               std::uint32_t size, const std::string&) {
  if (size > 0) buffer[0] = '\0';
  return 0;
}
}  // namespace platform
