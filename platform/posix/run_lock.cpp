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

#include <cerrno>

#include "platform/failure.h"
#include "platform/filesystem.h"
#include "platform/posix/errno_failure.h"
#include "platform/posix/unique_fd.h"
#include "platform/text_streams.h"

namespace platform {

std::intptr_t RunLock::OpenLockFile(const std::string& data_path, std::string& native) {
  native = Files().NativePath(data_path);
  if (native.empty() || native.back() != '/') native += '/';
  native += kRunLockFileName;
  // Never through a link, and never blocking on a FIFO someone put there.
  const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  UniqueFd fd(::open(native.c_str(), flags | O_CREAT | O_EXCL, 0640));
  if (fd.valid()) {
    // The group must be able to open it whatever the creator's umask.
    ::fchmod(fd.get(), 0640);
  } else if (errno == EEXIST) {
    fd.reset(::open(native.c_str(), flags));
  }
  if (!fd.valid()) throw FailureFromErrno(errno, native);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    throw NotAFile(native);
  }
  return fd.release();
}

bool RunLock::TryLock(std::intptr_t handle, const std::string& native) {
  if (::flock(static_cast<int>(handle), LOCK_EX | LOCK_NB) == 0) return true;
  if (errno != EWOULDBLOCK && errno != EINTR) throw FailureFromErrno(errno, native);
  return false;
}

void RunLock::CloseLockFile(std::intptr_t handle) {
  // Closing the only descriptor of the open file lets go of the lock.
  UniqueFd(static_cast<int>(handle)).reset();
}

}  // namespace platform
