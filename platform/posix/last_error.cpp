// The last error code on Linux: a thread's own value, set by this layer the
// way Windows functions set theirs, and strerror() texts for the codes that
// have an errno counterpart.
#include "platform/last_error.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace platform {

namespace {
thread_local std::uint32_t last_error = 0;

// Windows error codes and the errno values whose strerror() text stands in
// for the system's message.
int ErrnoForCode(std::uint32_t code) {
  switch (code) {
    case 0:
      return 0;
    case 2:
      return ENOENT;
    case 3:
      return ENOTDIR;
    case 5:
      return EACCES;
    case 6:
      return EBADF;
    case 8:
      return ENOMEM;
    case 32:
      return EBUSY;
    case 80:
      return EEXIST;
    case 87:
      return EINVAL;
    case 112:
      return ENOSPC;
    case 122:
      return ERANGE;
    case 193:
      return ENOEXEC;
    default:
      return -1;
  }
}
}  // namespace

std::uint32_t LastErrorCode() {
  return last_error;
}
void SetLastErrorCode(std::uint32_t code) {
  last_error = code;
}

std::uint32_t FormatSystemMessage(std::uint32_t code, char* buffer, std::uint32_t size) {
  int error_number = ErrnoForCode(code);
  if (error_number < 0) {
    SetLastErrorCode(317);  // the system has no message for the code
    return 0;
  }
  std::string text = error_number == 0 ? "Success." : std::strerror(error_number);
  text += "\r\n";
  if (buffer == nullptr || size < text.size() + 1) {
    SetLastErrorCode(122);
    return 0;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<std::uint32_t>(text.size());
}

}  // namespace platform
