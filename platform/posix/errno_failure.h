// Failures of POSIX system calls, for the POSIX implementation only.
#pragma once

#include <string>

#include "platform/failure.h"

namespace platform {

// Failure for a failed system call on `path`: errno mapped to the classic
// number (ENOENT -> 53, ENOTDIR -> 76, EACCES/EPERM -> 70, ENOSPC -> 61, ...).
Failure FailureFromErrno(int error_number, const std::string& path);

}  // namespace platform
