#include "platform/failure.h"

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
