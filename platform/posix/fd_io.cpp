#include "platform/posix/fd_io.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace platform::posix {

int MillisecondsLeft(Clock::time_point deadline) {
  if (deadline == Clock::time_point::max()) return 1'000'000'000;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 1'000'000'000 ? 1'000'000'000 : static_cast<int>(left);
}

IoOutcome WriteAll(int fd, const char* data, std::size_t size, Clock::time_point deadline) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n >= 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return IoOutcome::kFailed;
    pollfd entry{fd, POLLOUT, 0};
    const int ready = ::poll(&entry, 1, MillisecondsLeft(deadline));
    if (ready == 0) return IoOutcome::kTimedOut;
    if (ready < 0 && errno != EINTR) return IoOutcome::kFailed;
  }
  return IoOutcome::kDone;
}

}  // namespace platform::posix
