// Programs started with a bounded wait, on Linux.
//
// Each started program is a child of this process, held by a ChildProcess
// with its pidfd: its end can be looked at without reaping it (waitid with
// WNOWAIT), so EndGroup can tell an ended program from a running one, and its
// process id cannot be handed on while it is watched. A program is reaped
// when its StartedProgram is destroyed after it has ended.
#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "platform/failure.h"
#include "platform/last_error.h"
#include "platform/posix/child_process.h"
#include "platform/posix/unique_fd.h"
#include "platform/system.h"

namespace platform {
namespace {

using posix::ChildProcess;
using posix::Clock;

// How long ending a program waits for it and what it started to be gone.
// SIGKILL normally takes effect at once; the bound only matters for a
// process stuck in the kernel.
constexpr int kKillSettleMilliseconds = 2000;

// The error output kept of a program started with ErrorOutput::kKeepFirstLine.
struct ErrorCapture {
  int fd = -1;             // read end of its standard error, non-blocking
  std::string first_line;  // what was read of the first line
  bool line_complete = false;
};

// Reads what is waiting in the pipe, keeping the first line (bounded). A
// program that writes without pause cannot keep the caller here: one call
// reads at most 64 chunks.
void DrainErrorOutput(ErrorCapture& capture) {
  if (capture.fd < 0) return;
  char chunk[4096];
  for (int reads = 0; reads < 64; ++reads) {
    const ssize_t n = ::read(capture.fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) capture.fd = -1;  // the writers are gone (the pipe closes with the child)
      return;
    }
    for (ssize_t i = 0; i < n && !capture.line_complete; ++i) {
      if (chunk[i] == '\n' || chunk[i] == '\r') {
        // Line ends before any text are skipped.
        capture.line_complete = !capture.first_line.empty();
        continue;
      }
      if (capture.first_line.size() < kErrorLineBytes) capture.first_line += chunk[i];
    }
  }
}

// Sets the last error for a failed system call, in Windows numbering.
void SetLastErrorFromErrno(int error_number) {
  switch (error_number) {
    case ENOENT:
      SetLastErrorCode(kErrorFileNotFound);
      break;
    case EACCES:
    case EPERM:
      SetLastErrorCode(kErrorAccessDenied);
      break;
    case EBADF:
      SetLastErrorCode(kErrorInvalidHandle);
      break;
    case ENOEXEC:
      SetLastErrorCode(kErrorBadExeFormat);
      break;
    case ENOMEM:
      SetLastErrorCode(8);
      break;
    default:
      SetLastErrorCode(kErrorInvalidParameter);
      break;
  }
}

// --- the whole tree of a started program ---------------------------------
//
// A program may start others that leave its process group, even its session
// (setsid), so that a group kill does not reach them; once their parent has
// ended they would be handed to init and outlive the run. This process
// therefore becomes the child subreaper of everything it starts: orphans of
// its descendants become its own children. Ending a program's tree kills
// every process whose parent chain leads to it, and every orphan handed to
// this process, until none is left, and reaps the orphans.

// Processes this layer started itself (not orphans handed over).
std::set<pid_t> own_children;

void BecomeSubreaper() {
  static const bool done = [] {
    ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
    return true;
  }();
  (void)done;
}

struct ProcInfo {
  pid_t parent = 0;
  bool zombie = false;
};

// Every process's parent, from /proc.
std::map<pid_t, ProcInfo> ProcessTable() {
  std::map<pid_t, ProcInfo> table;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return table;
  while (dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') continue;
    const std::string path = std::string("/proc/") + entry->d_name + "/stat";
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) continue;
    char buffer[512];
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer - 1);
    if (n <= 0) continue;
    buffer[n] = '\0';
    // "pid (name) S ppid ...": the name may hold anything, so look after the
    // last ")".
    const char* close = std::strrchr(buffer, ')');
    if (close == nullptr) continue;
    char state = 0;
    long parent = 0;
    if (std::sscanf(close + 1, " %c %ld", &state, &parent) != 2) continue;
    table[static_cast<pid_t>(pid)] = {static_cast<pid_t>(parent), state == 'Z'};
  }
  ::closedir(proc);
  return table;
}

// The living descendants of `root` (not `root` itself) and the orphans handed
// to this process.
std::vector<pid_t> TreeAndOrphans(const std::map<pid_t, ProcInfo>& table, pid_t root,
                                  std::vector<pid_t>* orphans) {
  const pid_t self = ::getpid();
  std::multimap<pid_t, pid_t> children;
  for (const auto& [pid, info] : table) children.emplace(info.parent, pid);
  std::vector<pid_t> found;
  std::vector<pid_t> queue{root};
  for (const auto& [pid, info] : table) {
    if (info.parent == self && pid != root && own_children.count(pid) == 0) {
      orphans->push_back(pid);
      queue.push_back(pid);
      if (!info.zombie) found.push_back(pid);
    }
  }
  std::set<pid_t> seen(queue.begin(), queue.end());
  for (std::size_t i = 0; i < queue.size(); ++i) {
    const auto [first, last] = children.equal_range(queue[i]);
    for (auto it = first; it != last; ++it) {
      if (!seen.insert(it->second).second) continue;
      queue.push_back(it->second);
      if (!table.at(it->second).zombie) found.push_back(it->second);
    }
  }
  return found;
}

// Whether every child of this process, running or ended, is one this layer
// started itself. Whatever an ended program left behind was handed to this
// process when its parent ended, so then nothing of it is left; the lists of
// children come from each thread of this process. False when a list cannot
// be read (then only the whole process table tells).
bool OnlyOwnChildren() {
  DIR* tasks = ::opendir("/proc/self/task");
  if (tasks == nullptr) return false;
  bool only_own = true;
  while (dirent* entry = ::readdir(tasks)) {
    if (entry->d_name[0] == '.') continue;
    const std::string path = std::string("/proc/self/task/") + entry->d_name + "/children";
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    std::string list;
    char buffer[512];
    ssize_t n = 0;
    while (fd.valid() && (n = ::read(fd.get(), buffer, sizeof buffer)) > 0) list.append(buffer, n);
    if (!fd.valid() || n < 0) {
      only_own = false;
      break;
    }
    const char* at = list.c_str();
    for (char* end = nullptr;; at = end) {
      const long pid = std::strtol(at, &end, 10);
      if (end == at) break;
      if (own_children.count(static_cast<pid_t>(pid)) == 0) only_own = false;
    }
    if (!only_own) break;
  }
  ::closedir(tasks);
  return only_own;
}

// Kills the descendants of `root` and the orphans handed to this process,
// then reaps the orphans, all within a bound.
void EndTree(pid_t root) {
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(kKillSettleMilliseconds);
  for (;;) {
    std::vector<pid_t> orphans;
    const std::vector<pid_t> living = TreeAndOrphans(ProcessTable(), root, &orphans);
    for (const pid_t pid : living) ::kill(pid, SIGKILL);
    for (const pid_t pid : orphans) ::waitpid(pid, nullptr, WNOHANG);
    if ((living.empty() && orphans.empty()) || Clock::now() >= deadline) return;
    const timespec step{0, 5'000'000};
    ::nanosleep(&step, nullptr);
  }
}

}  // namespace

struct StartedProgram::State {
  ChildProcess child;
  bool watched = false;
  ErrorCapture capture;

  ~State() {
    // The capture's descriptor is the child's error pipe, closed with it.
    if (child.ReapIfEnded()) own_children.erase(pid);
  }
  pid_t pid = 0;
};

StartedProgram::StartedProgram(std::unique_ptr<State> state) : state_(std::move(state)) {}
StartedProgram::StartedProgram(StartedProgram&&) noexcept = default;
StartedProgram& StartedProgram::operator=(StartedProgram&&) noexcept = default;
StartedProgram::~StartedProgram() = default;

std::uint32_t StartedProgram::id() const {
  return static_cast<std::uint32_t>(state_->pid);
}

bool StartedProgram::watched() const {
  return state_->watched;
}

bool StartedProgram::HasEnded() {
  return state_->child.Ended();
}

bool StartedProgram::Wait(std::uint32_t milliseconds) {
  ErrorCapture& capture = state_->capture;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    const ChildProcess::Wake wake = state_->child.WaitUntil(deadline, capture.fd);
    if (wake.readable) DrainErrorOutput(capture);
    if (wake.ended) return true;
    if (wake.failed) {
      SetLastErrorFromErrno(errno);
      return false;
    }
    if (!wake.readable) return false;  // timed out
  }
}

bool StartedProgram::EndGroup() {
  ChildProcess& child = state_->child;
  // Killing a program that has ended (a zombie) would succeed here; Windows
  // refuses, and callers rely on the refusal.
  if (child.Ended()) {
    // What it left running (in its group or escaped from it) ends all the
    // same: nothing of a program outlives the end of its wait. Usually it
    // left nothing, which its parent's own list of children shows at once.
    if (!OnlyOwnChildren()) EndTree(state_->pid);
    SetLastErrorCode(kErrorAccessDenied);
    return false;
  }
  // The whole group first, so that what the program started cannot outlive
  // it; then whatever left the group, and what the killed ones leave behind.
  child.KillGroup();
  ::kill(state_->pid, SIGKILL);
  EndTree(state_->pid);
  child.WaitUntil(Clock::now() + std::chrono::milliseconds(kKillSettleMilliseconds));
  return true;
}

std::string StartedProgram::ErrorLine() {
  DrainErrorOutput(state_->capture);
  return state_->capture.first_line;
}

StartedProgram StartProgram(const CommandLine& command, int show_state, ErrorOutput error_output) {
  posix::ChildSetup setup;
  setup.argv.push_back(command.program);
  setup.argv.insert(setup.argv.end(), command.arguments.begin(), command.arguments.end());
  // Standard input never comes from the terminal; a hidden program gets no
  // terminal output either.
  setup.input = posix::Stream::kNull;
  const posix::Stream shown =
      show_state == kShowHidden ? posix::Stream::kNull : posix::Stream::kInherit;
  setup.output = shown;
  setup.error = error_output == ErrorOutput::kKeepFirstLine ? posix::Stream::kPipe : shown;

  BecomeSubreaper();
  auto state = std::make_unique<StartedProgram::State>();
  const int error_number = state->child.Start(setup);
  if (error_number != 0) {
    SetLastErrorFromErrno(error_number);
    if (error_number == ENOENT) throw Failure(err::kFileNotFound);
    throw Failure(err::kPathFileAccess);
  }
  state->pid = state->child.pid();
  own_children.insert(state->pid);
  if (state->child.error() >= 0) {
    state->capture.fd = state->child.error();
    ::fcntl(state->capture.fd, F_SETFL, ::fcntl(state->capture.fd, F_GETFL) | O_NONBLOCK);
  }
  state->watched = state->child.pidfd() >= 0;
  if (!state->watched) {
    SetLastErrorCode(state->child.pidfd_error() == ESRCH ? kErrorInvalidParameter
                                                         : kErrorAccessDenied);
  }
  return StartedProgram(std::move(state));
}

bool EndWithStarter(std::uint32_t starter_id) {
  // The signal is asked for first: a parent that ends after it is covered,
  // one that ended before shows as another parent (init or a subreaper).
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0) != 0) return false;
  return static_cast<std::uint32_t>(::getppid()) == starter_id;
}

}  // namespace platform
