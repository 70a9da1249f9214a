// The run lock on Linux: flock() on the lock file.
//
// flock() locks belong to the open file description: they are not lost when
// some other descriptor of the same file is closed in this process (as
// fcntl() record locks would be), and the descriptor is close-on-exec, so a
// program the run starts never inherits the lock and keeps it past the run.
#include "platform/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/failure.h"
#include "platform/filesystem.h"
#include "platform/posix/errno_failure.h"

namespace platform {
namespace {

// How often a waiting run looks whether the holder has let go. Short against
// the length of a run, long enough to cost nothing while waiting.
constexpr std::chrono::milliseconds kRetryInterval{50};

int OpenLockFile(const std::string& native) {
  // Never through a link, and never blocking on a FIFO someone put there.
  const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = ::open(native.c_str(), flags | O_CREAT | O_EXCL, 0640);
  if (fd >= 0) {
    // The group must be able to open it whatever the creator's umask.
    ::fchmod(fd, 0640);
  } else if (errno == EEXIST) {
    fd = ::open(native.c_str(), flags);
  }
  if (fd < 0) throw FailureFromErrno(errno, native);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw Failure(err::kPathFileAccess, "Path/File access error: " + native + " is not a file");
  }
  return fd;
}

}  // namespace

void RunLock::Release() {
  if (handle_ < 0) return;
  // Closing the only descriptor of the open file lets go of the lock.
  ::close(static_cast<int>(handle_));
  handle_ = -1;
}

RunLock RunLock::Take(const std::string& data_path, std::uint32_t wait_ms) {
  std::string native = Files().NativePath(data_path);
  if (native.empty() || native.back() != '/') native += '/';
  native += kRunLockFileName;
  const int fd = OpenLockFile(native);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return RunLock(fd);
    if (errno != EWOULDBLOCK && errno != EINTR) {
      const int saved = errno;
      ::close(fd);
      throw FailureFromErrno(saved, native);
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(kRetryInterval, deadline - now));
  }
  ::close(fd);
  return RunLock();
}

}  // namespace platform
