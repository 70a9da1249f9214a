// The last error code on Windows: the system's own, and its message texts.
#include "platform/last_error.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "platform/win32/system_message.h"

namespace platform {

std::uint32_t LastErrorCode() {
  return ::GetLastError();
}

void SetLastErrorCode(std::uint32_t code) {
  ::SetLastError(code);
}

std::uint32_t FormatSystemMessage(std::uint32_t code, char* buffer, std::uint32_t size) {
  const std::string text = SystemMessage(code);
  if (text.empty()) return 0;  // the system's error code (317: no text) stays
  if (buffer == nullptr || size < text.size() + 1) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<std::uint32_t>(text.size());
}

}  // namespace platform
