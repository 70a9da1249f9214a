// The registry's portable part: the single-byte query's answer, and text
// values read through the two-step query.
#include "platform/registry.h"

#include <cstring>

#include "platform/last_error.h"
#include "platform/registry_query.h"

namespace platform {

bool IsRegTextType(std::uint32_t type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

long AnswerValueQuery(std::uint32_t stored_type, std::string bytes, std::uint32_t* type,
                      unsigned char* data, std::uint32_t* size) {
  // Text handed to a single-byte caller always ends with its NUL, unless
  // the value holds no data at all.
  if (IsRegTextType(stored_type) && !bytes.empty() && bytes.back() != '\0') bytes += '\0';
  if (type != nullptr) *type = stored_type;
  const auto needed = static_cast<std::uint32_t>(bytes.size());
  if (data == nullptr) {
    if (size != nullptr) *size = needed;
    return kErrorSuccess;
  }
  if (size == nullptr) return 998;  // invalid access to memory location
  if (needed == 0) {
    *size = 0;
    return kErrorSuccess;
  }
  if (*size < needed) {
    *size = needed;
    return kErrorMoreData;
  }
  std::memcpy(data, bytes.data(), needed);
  *size = needed;
  return kErrorSuccess;
}

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
