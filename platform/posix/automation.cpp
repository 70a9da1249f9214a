// Automation objects on Linux: the server is a child process spoken to over
// a pair of pipes with the line protocol of automation_protocol.h.
#include "platform/automation.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <vector>

#include "platform/automation_protocol.h"
#include "platform/failure.h"
#include "platform/filesystem.h"
#include "platform/process.h"
#include "platform/registry.h"

extern char** environ;

namespace platform {
namespace {

namespace protocol = automation_protocol;

constexpr long kRpcFailed = -2147023170;
constexpr const char* kRpcFailedText = "The remote procedure call failed.";
// How long a released server gets to end by itself before it is killed.
constexpr int kExitGraceMs = 2000;
// An answer longer than this is treated as a broken server.
constexpr std::size_t kMaxAnswerBytes = 64u << 20;

Failure RpcFailure() {
  return Failure(kRpcFailed, kRpcFailedText);
}

Failure TimeOutFailure() {
  return Failure(AutomationObject::kCallTimedOut,
                 "This operation returned because the timeout period expired.");
}

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline` for poll(), never negative.
int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 1'000'000'000 ? 1'000'000'000 : static_cast<int>(left);
}

enum class Outcome { kDone, kBroken, kTimedOut };

// The server's command line as program and arguments. A quoted program runs
// to its closing quote, as registered servers under folders with blanks
// often are; otherwise the line is split as any unquoted command line.
bool SplitServerCommand(const std::string& line, std::vector<std::string>& words) {
  const std::size_t start = line.find_first_not_of(' ');
  if (start == std::string::npos) return false;
  try {
    if (line[start] == '"') {
      const std::size_t close = line.find('"', start + 1);
      if (close == std::string::npos) return false;
      const std::string program = Files().NativePath(line.substr(start + 1, close - start - 1));
      struct stat info {};
      if (::stat(program.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
      words = {program};
      for (std::string& argument : SplitArgumentText(line.substr(close + 1))) {
        words.push_back(std::move(argument));
      }
      return true;
    }
    CommandLine split = SplitCommandLine(line.substr(start));
    words = {split.program};
    for (std::string& argument : split.arguments) words.push_back(std::move(argument));
    return true;
  } catch (const Failure&) {
    return false;
  }
}

// A descriptor number of 3 or more, so that placing it on 0 or 1 in the
// child never meets a descriptor that is already there.
int HighDescriptor(int fd) {
  if (fd > 2) return fd;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  ::close(fd);
  return moved;
}

int OpenPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  errno = ENOSYS;
  return -1;
#endif
}

class PipeServer final : public AutomationObject {
 public:
  PipeServer(pid_t pid, int to_server, int from_server)
      : pid_(pid), to_server_(to_server), from_server_(from_server), pidfd_(OpenPidfd(pid)) {}

  ~PipeServer() override {
    ::close(to_server_);
    WaitForExit(kExitGraceMs);
    // Whatever the server left running in its group goes with it. The server
    // is reaped only after this, so that its group id cannot have been
    // handed on yet.
    ::kill(-pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    ::close(from_server_);
    if (pidfd_ >= 0) ::close(pidfd_);
  }

  void PutProperty(const std::string& member, const Variant& value) override {
    Exchange({protocol::Request::Kind::kPut, member, value});
  }
  Variant CallMethod(const std::string& member) override {
    return Exchange({protocol::Request::Kind::kCall, member, {}});
  }
  Variant GetProperty(const std::string& member) override {
    return Exchange({protocol::Request::Kind::kGet, member, {}});
  }

 private:
  Variant Exchange(const protocol::Request& request) {
    if (broken_) throw RpcFailure();
    broken_ = true;  // until a well-formed answer arrives
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(CallBound());
    std::string line;
    Outcome outcome = WriteAll(protocol::FormatRequest(request) + "\n", deadline);
    if (outcome == Outcome::kDone) outcome = ReadLine(line, deadline);
    if (outcome == Outcome::kTimedOut) {
      // A server that does not answer in time is not waited for again: it
      // and everything it started go now.
      ::kill(-pid_, SIGKILL);
      throw TimeOutFailure();
    }
    if (outcome != Outcome::kDone) throw RpcFailure();
    const auto answer = protocol::ParseAnswer(line);
    if (!answer) throw RpcFailure();
    broken_ = false;
    if (!answer->ok) throw Failure(answer->number, answer->description);
    return answer->value;
  }

  // Writes with SIGPIPE held back, so that a server that has gone away
  // shows up as EPIPE instead of ending this process. The pipe is
  // non-blocking: a server that stops reading cannot hold the call past its
  // deadline.
  Outcome WriteAll(const std::string& bytes, Clock::time_point deadline) {
    sigset_t pipe_only;
    sigset_t previous;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe_only, &previous);
    sigset_t pending;
    sigpending(&pending);
    const bool was_pending = sigismember(&pending, SIGPIPE) == 1;

    Outcome outcome = Outcome::kDone;
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(to_server_, bytes.data() + done, bytes.size() - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN) {
          pollfd fd{to_server_, POLLOUT, 0};
          const int ready = ::poll(&fd, 1, MillisecondsLeft(deadline));
          if (ready == 0) {
            outcome = Outcome::kTimedOut;
            break;
          }
          if (ready > 0 || errno == EINTR) continue;
        }
        outcome = Outcome::kBroken;
        break;
      }
      done += static_cast<std::size_t>(n);
    }
    const int write_error = errno;

    if (outcome == Outcome::kBroken && write_error == EPIPE && !was_pending) {
      // Take the SIGPIPE this write raised before the mask is restored.
      const timespec zero{0, 0};
      while (::sigtimedwait(&pipe_only, nullptr, &zero) < 0 && errno == EINTR) {
      }
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return outcome;
  }

  // Reads up to the next line feed. Fails at end of output, and when the
  // server has ended with nothing more to read (even if a process it left
  // behind still holds the pipe open); times out at `deadline`.
  Outcome ReadLine(std::string& line, Clock::time_point deadline) {
    while (true) {
      const auto newline = buffer_.find('\n');
      if (newline != std::string::npos) {
        line = buffer_.substr(0, newline);
        buffer_.erase(0, newline + 1);
        return Outcome::kDone;
      }
      if (buffer_.size() > kMaxAnswerBytes) return Outcome::kBroken;
      const int left = MillisecondsLeft(deadline);
      if (left == 0) return Outcome::kTimedOut;
      pollfd fds[2] = {{from_server_, POLLIN, 0}, {pidfd_, POLLIN, 0}};
      const nfds_t count = pidfd_ >= 0 ? 2 : 1;
      // Without a pidfd, look at the server now and then instead.
      const int timeout = pidfd_ >= 0 ? left : std::min(left, 200);
      const int ready = ::poll(fds, count, timeout);
      if (ready < 0) {
        if (errno == EINTR) continue;
        return Outcome::kBroken;
      }
      if (fds[0].revents != 0) {
        char chunk[4096];
        const ssize_t n = ::read(from_server_, chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return Outcome::kBroken;
        buffer_.append(chunk, static_cast<std::size_t>(n));
        continue;
      }
      if (count == 2 && fds[1].revents != 0) return Outcome::kBroken;
      if (count == 1 && HasExited()) return Outcome::kBroken;
    }
  }

  // Whether the server has ended, leaving it unreaped.
  bool HasExited() {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
      return errno != EINTR;
    }
    return info.si_pid == pid_;
  }

  void WaitForExit(int milliseconds) {
    if (pidfd_ >= 0) {
      const auto deadline =
          std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
      while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd fd{pidfd_, POLLIN, 0};
        const int ready = ::poll(&fd, 1, static_cast<int>(left.count()));
        if (ready > 0) break;
        if (ready < 0 && errno != EINTR) break;
      }
      return;
    }
    for (int waited = 0; waited < milliseconds && !HasExited(); waited += 20) {
      const timespec step{0, 20'000'000};
      ::nanosleep(&step, nullptr);
    }
  }

  pid_t pid_;
  int to_server_;
  int from_server_;
  int pidfd_;
  bool broken_ = false;
  std::string buffer_;
};

struct SpawnSetup {
  posix_spawn_file_actions_t actions{};
  posix_spawnattr_t attributes{};
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

void CloseAll(std::initializer_list<int> fds) {
  for (const int fd : fds) {
    if (fd >= 0) ::close(fd);
  }
}

}  // namespace

std::unique_ptr<AutomationObject> AutomationObject::Create(const std::string& prog_id) {
  std::string command_line;
  if (!RegReadText(kHkeyClassesRoot, prog_id + "\\LocalServer32", "", command_line)) {
    throw Failure(err::kCantCreateObject);
  }
  std::vector<std::string> words;
  if (!SplitServerCommand(command_line, words)) throw Failure(err::kCantCreateObject);

  int input[2];   // server's standard input: [0] its end, [1] ours
  int output[2];  // server's standard output: [0] ours, [1] its end
  if (::pipe2(input, O_CLOEXEC) != 0) throw Failure(err::kCantCreateObject);
  if (::pipe2(output, O_CLOEXEC) != 0) {
    CloseAll({input[0], input[1]});
    throw Failure(err::kCantCreateObject);
  }
  for (int* fd : {&input[0], &input[1], &output[0], &output[1]}) *fd = HighDescriptor(*fd);
  if (input[0] < 0 || input[1] < 0 || output[0] < 0 || output[1] < 0) {
    CloseAll({input[0], input[1], output[0], output[1]});
    throw Failure(err::kCantCreateObject);
  }

  SpawnSetup setup;
  posix_spawn_file_actions_adddup2(&setup.actions, input[0], 0);
  posix_spawn_file_actions_adddup2(&setup.actions, output[1], 1);
  posix_spawn_file_actions_addopen(&setup.actions, 2, "/dev/null", O_WRONLY, 0);
  // A group of its own, default signal handling and nothing blocked, whatever
  // this process has set up for itself.
  sigset_t none;
  sigset_t defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  posix_spawnattr_setsigmask(&setup.attributes, &none);
  posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
  posix_spawnattr_setpgroup(&setup.attributes, 0);
  posix_spawnattr_setflags(
      &setup.attributes,
      static_cast<short>(POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));

  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int error =
      ::posix_spawn(&pid, argv[0], &setup.actions, &setup.attributes, argv.data(), environ);
  CloseAll({input[0], output[1]});
  if (error != 0) {
    CloseAll({input[1], output[0]});
    throw Failure(err::kCantCreateObject);
  }
  // Our end of the server's input never blocks a call past its bound.
  ::fcntl(input[1], F_SETFL, ::fcntl(input[1], F_GETFL) | O_NONBLOCK);
  return std::make_unique<PipeServer>(pid, input[1], output[0]);
}

}  // namespace platform
