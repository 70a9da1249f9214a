// Writing to descriptors and bounding waits on them: the pieces the file
// streams and the child-process pipes share.
#pragma once

#include <chrono>
#include <cstddef>

namespace platform::posix {

using Clock = std::chrono::steady_clock;

// Milliseconds from now until `deadline`, for poll(): 0 once it has passed,
// and no more than poll() takes (Clock::time_point::max() is "no deadline").
int MillisecondsLeft(Clock::time_point deadline);

enum class IoOutcome { kDone, kFailed, kTimedOut };

// Writes all `size` bytes, retrying short writes and interruptions. On a
// non-blocking descriptor it waits for room, but not past `deadline`. On
// kFailed errno tells why.
IoOutcome WriteAll(int fd, const char* data, std::size_t size,
                   Clock::time_point deadline = Clock::time_point::max());

}  // namespace platform::posix
