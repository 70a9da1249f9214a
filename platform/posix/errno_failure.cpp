#include "platform/posix/errno_failure.h"

#include <cerrno>

namespace platform {

Failure FailureFromErrno(int error_number, const std::string& path) {
  (void)path;  // kept for the caller's readability; descriptions stay classic
  switch (error_number) {
    case ENOENT:
      return Failure(err::kFileNotFound);
    case ENOTDIR:
      return Failure(err::kPathNotFound);
    case EACCES:
    case EPERM:
    case EROFS:
      return Failure(err::kPermissionDenied);
    case EEXIST:
      return Failure(err::kFileExists);
    case ENOSPC:
    case EDQUOT:
      return Failure(err::kDiskFull);
    case ENOMEM:
      return Failure(err::kOutOfMemory);
    case EMFILE:
    case ENFILE:
      return Failure(67);
    case EIO:
      return Failure(57);
    default:
      return Failure(err::kPathFileAccess);
  }
}

}  // namespace platform
