#include "platform/posix/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

extern char** environ;

namespace platform::posix {
namespace {

// The pidfd call goes through syscall(): the declarations in glibc 2.36's
// <sys/pidfd.h> lack C linkage and cannot be linked from C++.
int OpenPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));  // always close-on-exec
#else
  (void)pid;
  errno = ENOSYS;
  return -1;
#endif
}

// A pipe whose both ends are close-on-exec and numbered 3 or more, so that
// placing one on 0, 1 or 2 in the child never meets a descriptor that is
// already there.
bool HighPipe(UniqueFd ends[2]) {
  int made[2];
  if (::pipe2(made, O_CLOEXEC) != 0) return false;
  for (int i = 0; i < 2; ++i) {
    ends[i].reset(made[i]);
    if (made[i] <= 2) ends[i].reset(::fcntl(made[i], F_DUPFD_CLOEXEC, 3));
  }
  if (ends[0].valid() && ends[1].valid()) return true;
  ends[0].reset();
  ends[1].reset();
  errno = EMFILE;
  return false;
}

// posix_spawn attributes and file actions, released on every path out.
class SpawnSetup {
 public:
  SpawnSetup() {
    ::posix_spawnattr_init(&attributes_);
    ::posix_spawn_file_actions_init(&actions_);
  }
  ~SpawnSetup() {
    ::posix_spawn_file_actions_destroy(&actions_);
    ::posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
  posix_spawnattr_t* attributes() { return &attributes_; }
  posix_spawn_file_actions_t* actions() { return &actions_; }

 private:
  posix_spawnattr_t attributes_;
  posix_spawn_file_actions_t actions_;
};

}  // namespace

ChildProcess::~ChildProcess() {
  Release();
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept {
  *this = std::move(other);
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Release();
    pid_ = std::exchange(other.pid_, 0);
    pidfd_ = std::move(other.pidfd_);
    pidfd_error_ = std::exchange(other.pidfd_error_, 0);
    input_ = std::move(other.input_);
    output_ = std::move(other.output_);
    error_ = std::move(other.error_);
    pending_ = std::move(other.pending_);
  }
  return *this;
}

void ChildProcess::Release() {
  if (pid_ > 0) ReapIfEnded();
  input_.reset();
  output_.reset();
  error_.reset();
  pidfd_.reset();
  pid_ = 0;
}

int ChildProcess::Start(const ChildSetup& setup) {
  Release();
  SpawnSetup spawn;
  sigset_t none;
  sigset_t all;
  ::sigemptyset(&none);
  ::sigfillset(&all);
  ::posix_spawnattr_setflags(
      spawn.attributes(),
      static_cast<short>(POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
  ::posix_spawnattr_setpgroup(spawn.attributes(), 0);
  ::posix_spawnattr_setsigmask(spawn.attributes(), &none);
  ::posix_spawnattr_setsigdefault(spawn.attributes(), &all);

  // [stream][0] read end, [stream][1] write end, for standard input, output
  // and error; the child's end is placed on 0, 1 or 2.
  // Whatever is left in it on a way out is closed.
  UniqueFd pipes[3][2];
  const Stream streams[3] = {setup.input, setup.output, setup.error};
  for (int fd = 0; fd < 3; ++fd) {
    switch (streams[fd]) {
      case Stream::kInherit:
        break;
      case Stream::kNull:
        ::posix_spawn_file_actions_addopen(spawn.actions(), fd, "/dev/null",
                                           fd == 0 ? O_RDONLY : O_WRONLY, 0);
        break;
      case Stream::kPipe:
        if (!HighPipe(pipes[fd])) return errno;
        ::posix_spawn_file_actions_adddup2(spawn.actions(), pipes[fd][fd == 0 ? 0 : 1].get(), fd);
        break;
    }
  }

  std::vector<std::string> words = setup.argv;
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int error_number =
      ::posix_spawn(&pid, argv[0], spawn.actions(), spawn.attributes(), argv.data(), environ);
  // The child's ends are the child's alone from here.
  pipes[0][0].reset();
  pipes[1][1].reset();
  pipes[2][1].reset();
  if (error_number != 0) return error_number;
  pid_ = pid;
  input_ = std::move(pipes[0][1]);
  output_ = std::move(pipes[1][0]);
  error_ = std::move(pipes[2][0]);
  // Writing to a child that has stopped reading never blocks past a bound.
  if (input_.valid()) {
    ::fcntl(input_.get(), F_SETFL, ::fcntl(input_.get(), F_GETFL) | O_NONBLOCK);
  }
  pidfd_.reset(OpenPidfd(pid));
  pidfd_error_ = pidfd_.valid() ? 0 : errno;
  return 0;
}

void ChildProcess::CloseInput() {
  input_.reset();
}

bool ChildProcess::Ended() const {
  if (pid_ <= 0) return true;
  siginfo_t info{};
  while (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
    if (errno != EINTR) return true;
  }
  return info.si_pid == pid_;
}

ChildProcess::Wake ChildProcess::WaitUntil(Clock::time_point deadline, int watch) const {
  Wake wake;
  for (;;) {
    const int left = MillisecondsLeft(deadline);
    pollfd entries[2] = {{watch, POLLIN, 0}, {pidfd_.get(), POLLIN, 0}};
    const nfds_t count = pidfd_.valid() ? 2 : 1;
    const int timeout = pidfd_.valid() ? left : std::min(left, 20);
    const int ready = ::poll(entries, count, timeout);  // a watch of -1 is passed over
    if (ready < 0 && errno != EINTR) {
      wake.failed = true;
      return wake;
    }
    wake.readable = ready > 0 && watch >= 0 && entries[0].revents != 0;
    wake.ended = pidfd_.valid() ? ready > 0 && entries[1].revents != 0 : Ended();
    if (wake.readable || wake.ended || MillisecondsLeft(deadline) == 0) return wake;
  }
}

IoOutcome ChildProcess::ReadLine(std::string& line, Clock::time_point deadline,
                                 std::size_t max_bytes) {
  for (;;) {
    const std::size_t newline = pending_.find('\n');
    if (newline != std::string::npos) {
      line = pending_.substr(0, newline);
      pending_.erase(0, newline + 1);
      return IoOutcome::kDone;
    }
    if (pending_.size() > max_bytes) return IoOutcome::kFailed;
    if (MillisecondsLeft(deadline) == 0) return IoOutcome::kTimedOut;
    const Wake wake = WaitUntil(deadline, output_.get());
    if (wake.failed) return IoOutcome::kFailed;
    if (wake.readable) {
      char chunk[4096];
      const ssize_t n = ::read(output_.get(), chunk, sizeof chunk);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) return IoOutcome::kFailed;
      pending_.append(chunk, static_cast<std::size_t>(n));
      continue;
    }
    if (wake.ended) return IoOutcome::kFailed;
  }
}

void ChildProcess::KillGroup() const {
  if (pid_ > 0) ::kill(-pid_, SIGKILL);
}

void ChildProcess::Reap() {
  if (pid_ <= 0) return;
  while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
  pid_ = 0;
}

bool ChildProcess::ReapIfEnded() {
  if (pid_ <= 0) return false;
  siginfo_t info{};
  if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG) != 0 ||
      info.si_pid != pid_) {
    return false;
  }
  pid_ = 0;
  return true;
}

}  // namespace platform::posix
