#include "platform/win32/last_error_failure.h"

#include <windows.h>

namespace platform {

Failure FailureFromLastError(std::uint32_t code, const std::string& path) {
  (void)path;  // kept for the caller's readability; descriptions stay classic
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
      return Failure(err::kFileNotFound);
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY:  // a path component is not a folder
      return Failure(err::kPathNotFound);
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return Failure(err::kPermissionDenied);
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return Failure(err::kFileExists);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case 1295:  // ERROR_DISK_QUOTA_EXCEEDED, missing from mingw-w64's headers
      return Failure(err::kDiskFull);
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return Failure(err::kOutOfMemory);
    case ERROR_TOO_MANY_OPEN_FILES:
      return Failure(67);
    case ERROR_WRITE_FAULT:
    case ERROR_READ_FAULT:
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
      return Failure(57);
    default:
      return Failure(err::kPathFileAccess);
  }
}

}  // namespace platform
