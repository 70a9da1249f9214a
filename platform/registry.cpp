// The registry's portable part: text values read through the two-step query.
#include "platform/registry.h"

namespace platform {

bool RegReadText(RegRoot root, const std::string& sub_key, const std::string& name,
                 std::string& value) {
  std::unique_ptr<RegKey> key;
  if (OpenRegKey(root, sub_key, 0, kKeyQueryValue, key) != kErrorSuccess) return false;
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  if (key->QueryValue(name, &type, nullptr, &size) != kErrorSuccess) return false;
  if (type != kRegSz && type != kRegExpandSz) return false;
  std::string buffer(size, '\0');
  if (size > 0 && key->QueryValue(name, &type, reinterpret_cast<unsigned char*>(buffer.data()),
                                  &size) != kErrorSuccess) {
    return false;
  }
  value = buffer.substr(0, buffer.find('\0'));
  return true;
}

}  // namespace platform
