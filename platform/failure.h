// The one failure type of the platform layer.
//
// Every platform operation that cannot do what it was asked throws
// platform::Failure. The number follows the classic run-time error numbers
// (so that logs read alike on every platform), the description is a short
// human text. Routines above the platform layer catch it in their guard and
// write their own "ERR : " line; nothing else is ever thrown on purpose.
#pragma once

#include <exception>
#include <string>

namespace platform {

// Classic run-time error numbers used by the layer.
namespace err {
inline constexpr long kInvalidCall = 5;  // Invalid procedure call or argument
inline constexpr long kOverflow = 6;     // Overflow
inline constexpr long kOutOfMemory = 7;  // Out of memory
inline constexpr long kFileNotFound = 53;
inline constexpr long kFileExists = 58;
inline constexpr long kDiskFull = 61;
inline constexpr long kPermissionDenied = 70;
inline constexpr long kPathFileAccess = 75;
inline constexpr long kPathNotFound = 76;
inline constexpr long kObjectNotSet = 91;
inline constexpr long kCantCreateObject = 429;
inline constexpr long kNoSuchMember = 438;
inline constexpr long kAutomationError = 440;
}  // namespace err

class Failure : public std::exception {
 public:
  Failure(long number, std::string description);
  // A failure with the classic description of `number` ("Overflow", ...).
  explicit Failure(long number);

  long number() const noexcept { return number_; }
  const std::string& description() const noexcept { return description_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  long number_;
  std::string description_;
};

// Classic description of a run-time error number; empty for unknown numbers.
std::string ClassicDescription(long number);

// For guards: the failure being handled inside a catch (...) block. A
// platform::Failure comes back as it is; std::bad_alloc as 7 "Out of memory";
// any other exception as 5 with its what() text.
Failure CaughtFailure();

}  // namespace platform
