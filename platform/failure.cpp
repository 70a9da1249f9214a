#include "platform/failure.h"

#include <cerrno>
#include <new>

namespace platform {

Failure::Failure(long number, std::string description)
    : number_(number), description_(std::move(description)) {}

Failure::Failure(long number) : Failure(number, ClassicDescription(number)) {}

std::string ClassicDescription(long number) {
  switch (number) {
    case 5:
      return "Invalid procedure call or argument";
    case 6:
      return "Overflow";
    case 7:
      return "Out of memory";
    case 9:
      return "Subscript out of range";
    case 52:
      return "Bad file name or number";
    case 53:
      return "File not found";
    case 57:
      return "Device I/O error";
    case 58:
      return "File already exists";
    case 61:
      return "Disk full";
    case 62:
      return "Input past end of file";
    case 67:
      return "Too many files";
    case 70:
      return "Permission denied";
    case 75:
      return "Path/File access error";
    case 76:
      return "Path not found";
    case 91:
      return "Object variable or With block variable not set";
    case 429:
      return "ActiveX component can't create object";
    case 438:
      return "Object doesn't support this property or method";
    case 440:
      return "Automation error";
    default:
      return {};
  }
}

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

Failure CaughtFailure() {
  try {
    throw;
  } catch (const Failure& failure) {
    return failure;
  } catch (const std::bad_alloc&) {
    return Failure(err::kOutOfMemory);
  } catch (const std::exception& e) {
    return Failure(err::kInvalidCall, e.what());
  } catch (...) {
    return Failure(err::kInvalidCall);
  }
}

}  // namespace platform
