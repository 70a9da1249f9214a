// Failures of Win32 calls, for the Windows implementation only: the
// counterpart of posix/errno_failure.h, so that a failing file operation
// carries the same classic number on both systems.
#pragma once

#include <cstdint>
#include <string>

#include "platform/failure.h"

namespace platform {

// Failure for a failed call on `path`: the system's error code (GetLastError)
// mapped to the classic number (2 -> 53, 3 -> 76, 5 and 32 -> 70, 80 and
// 183 -> 58, 112 -> 61, ...).
Failure FailureFromLastError(std::uint32_t code, const std::string& path);

}  // namespace platform
