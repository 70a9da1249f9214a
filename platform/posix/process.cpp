// Processes on Linux, behaving like the Windows process functions.
//
// A process handle is a key into a table of open pidfds. Keys count up from 4
// in steps of 4 (as Windows handle values do) and are never reused, so a
// closed handle stays invalid instead of silently naming another process.
// Handles are only given for children of this process: their exit status can
// be looked at without reaping them (waitid with WNOWAIT), which is what lets
// GetProcessExitCode be asked any number of times and lets
// TerminateProcessHandle tell an ended process from a running one. A child is
// reaped when the last handle to it is closed after it has ended.
#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "platform/failure.h"
#include "platform/filesystem.h"
#include "platform/system.h"

extern char** environ;

namespace platform {
namespace {

constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;
// How long a terminate waits for the killed process to be gone, so that its
// exit code can be read right after. SIGKILL normally takes effect at once;
// the bound only matters for a process stuck in the kernel.
constexpr int kKillSettleMilliseconds = 2000;

// The pidfd calls go through syscall(): the declarations in glibc 2.36's
// <sys/pidfd.h> lack C linkage and cannot be linked from C++.
int PidfdOpen(pid_t pid) {
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}
int PidfdKill(int pidfd) {
  return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0));
}

bool IsRegularFile(const std::string& native) {
  struct stat st {};
  return ::stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The last path component of a program-form path has an extension.
bool HasExtension(const std::string& path) {
  std::size_t separator = path.find_last_of("\\/");
  std::size_t start = separator == std::string::npos ? 0 : separator + 1;
  return path.find('.', start) != std::string::npos;
}

// The native path of the program file that `prefix` names, or nothing.
std::optional<std::string> ProgramFile(const std::string& prefix) {
  std::string native = Files().NativePath(prefix);
  if (IsRegularFile(native)) return native;
  if (!HasExtension(prefix)) {
    native = Files().NativePath(prefix + ".exe");
    if (IsRegularFile(native)) return native;
  }
  return std::nullopt;
}

struct HandleEntry {
  int pidfd;
  pid_t pid;
};

// What is known about a process while handles to it are open.
struct ProcessRecord {
  int open_handles = 0;
  std::optional<std::uint32_t> terminate_code;  // set once it was terminated
};

// The error output kept of a process started with ErrorOutput::kKeepFirstLine.
struct ErrorCapture {
  int fd = -1;             // read end of its standard error, non-blocking
  std::string first_line;  // what was read of the first line
  bool line_complete = false;
};
std::map<pid_t, ErrorCapture> error_captures;

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
      if (n == 0) {  // the writers are gone: nothing more will come
        ::close(capture.fd);
        capture.fd = -1;
      }
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

void DropErrorCapture(pid_t pid) {
  auto it = error_captures.find(pid);
  if (it == error_captures.end()) return;
  if (it->second.fd >= 0) ::close(it->second.fd);
  error_captures.erase(it);
}

std::map<ProcessHandle, HandleEntry> handles;
std::map<pid_t, ProcessRecord> records;
ProcessHandle next_handle = 4;

HandleEntry* Lookup(ProcessHandle handle) {
  auto it = handles.find(handle);
  if (it == handles.end()) {
    SetLastErrorCode(kErrorInvalidHandle);
    return nullptr;
  }
  return &it->second;
}

// Looks at a child without reaping it. Returns false when waitid fails;
// otherwise `ended` tells whether the child has ended and `info` how.
bool PeekChild(int pidfd, bool* ended, siginfo_t* info) {
  *info = {};
  if (::waitid(P_PIDFD, static_cast<id_t>(pidfd), info, WEXITED | WNOHANG | WNOWAIT) != 0) {
    return false;
  }
  *ended = info->si_pid != 0;
  return true;
}

std::uint32_t ExitCodeOf(const siginfo_t& info) {
  if (info.si_code == CLD_EXITED) return static_cast<std::uint32_t>(info.si_status);
  return 128u + static_cast<std::uint32_t>(info.si_status);  // ended by a signal
}

// Blocks until the pidfd is readable (the process ended) or `milliseconds`
// pass, with kInfinite for no limit, keeping the program's error output
// flowing meanwhile when there is a capture. A signal interrupting the wait
// does not lengthen it. Returns 1 ended, 0 timed out, -1 failed (errno set).
int WaitReadable(int pidfd, std::uint32_t milliseconds, ErrorCapture* capture = nullptr) {
  using Clock = std::chrono::steady_clock;
  const bool infinite = milliseconds == kInfinite;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    int timeout = -1;
    if (!infinite) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left < 0) left = 0;
      timeout = left > INT_MAX ? INT_MAX : static_cast<int>(left);
    }
    const bool draining = capture != nullptr && capture->fd >= 0;
    pollfd entries[2] = {{pidfd, POLLIN, 0}, {draining ? capture->fd : -1, POLLIN, 0}};
    const int n = ::poll(entries, draining ? 2 : 1, timeout);
    if (n < 0 && errno != EINTR) return -1;
    if (n > 0 && capture != nullptr) DrainErrorOutput(*capture);
    if (n > 0 && entries[0].revents != 0) return 1;
    // Interrupted, output drained, or a time-out longer than poll() takes ran
    // out in parts.
    if (!infinite && Clock::now() >= deadline) return 0;
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
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    char buffer[512];
    const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
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

// Kills the descendants of `root` and the orphans handed to this process,
// then reaps the orphans, all within a bound.
void EndTree(pid_t root) {
  using Clock = std::chrono::steady_clock;
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

std::vector<std::string> SplitArgumentText(const std::string& text) {
  std::vector<std::string> arguments;
  std::size_t i = 0;
  const std::size_t n = text.size();
  for (;;) {
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i >= n) break;
    std::string argument;
    bool quoted = false;
    while (i < n && (quoted || (text[i] != ' ' && text[i] != '\t'))) {
      char c = text[i];
      if (c == '\\') {
        std::size_t run = 0;
        while (i < n && text[i] == '\\') {
          ++run;
          ++i;
        }
        if (i < n && text[i] == '"') {
          // 2n backslashes before a quote are n backslashes and the quote
          // groups; 2n+1 are n backslashes and a literal quote.
          argument.append(run / 2, '\\');
          if (run % 2 == 1) {
            argument += '"';
            ++i;
          }
        } else {
          argument.append(run, '\\');  // not before a quote: taken as they are
        }
      } else if (c == '"') {
        if (quoted && i + 1 < n && text[i + 1] == '"') {
          argument += '"';  // "" inside quotes is one literal quote
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        argument += c;
        ++i;
      }
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

CommandLine SplitCommandLine(const std::string& command_line) {
  std::size_t start = command_line.find_first_not_of(" \t");
  if (start == std::string::npos) throw Failure(err::kFileNotFound);
  // Every blank ends a candidate; the shortest one naming a file wins, so a
  // file "dir" beside a folder "dir with blanks" takes the line, as on Windows.
  for (std::size_t end = start; end <= command_line.size(); ++end) {
    if (end < command_line.size() && command_line[end] != ' ') continue;
    if (end == start) continue;
    std::optional<std::string> program = ProgramFile(command_line.substr(start, end - start));
    if (!program) continue;
    CommandLine result;
    result.program = *program;
    if (end < command_line.size())
      result.arguments = SplitArgumentText(command_line.substr(end + 1));
    return result;
  }
  throw Failure(err::kFileNotFound);
}

std::uint32_t StartProcess(const std::string& command_line, int show_state,
                           ErrorOutput error_output) {
  CommandLine split;
  try {
    split = SplitCommandLine(command_line);
  } catch (const Failure&) {
    SetLastErrorCode(kErrorFileNotFound);
    throw;
  }
  return StartProgram(split, show_state, error_output);
}

std::uint32_t StartProgram(const CommandLine& command, int show_state, ErrorOutput error_output) {
  CommandLine split = command;
  std::vector<char*> argv;
  argv.push_back(split.program.data());
  for (std::string& argument : split.arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  SpawnSetup setup;
  // A group of its own, so that terminating it reaches whatever it starts;
  // no blocked or ignored signals carried over from this process.
  sigset_t empty;
  sigset_t all;
  ::sigemptyset(&empty);
  ::sigfillset(&all);
  ::posix_spawnattr_setflags(
      setup.attributes(), POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  ::posix_spawnattr_setpgroup(setup.attributes(), 0);
  ::posix_spawnattr_setsigmask(setup.attributes(), &empty);
  ::posix_spawnattr_setsigdefault(setup.attributes(), &all);
  // Standard input never comes from the terminal; a hidden program gets no
  // terminal output either.
  ::posix_spawn_file_actions_addopen(setup.actions(), 0, "/dev/null", O_RDONLY, 0);
  if (show_state == kShowHidden) {
    ::posix_spawn_file_actions_addopen(setup.actions(), 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_adddup2(setup.actions(), 1, 2);
  }
  int error_pipe[2] = {-1, -1};
  if (error_output == ErrorOutput::kKeepFirstLine) {
    if (::pipe2(error_pipe, O_CLOEXEC) != 0) {
      SetLastErrorFromErrno(errno);
      throw Failure(err::kPathFileAccess);
    }
    ::fcntl(error_pipe[0], F_SETFL, ::fcntl(error_pipe[0], F_GETFL) | O_NONBLOCK);
    ::posix_spawn_file_actions_adddup2(setup.actions(), error_pipe[1], 2);
  }

  BecomeSubreaper();
  pid_t pid = 0;
  int error_number = ::posix_spawn(&pid, split.program.c_str(), setup.actions(), setup.attributes(),
                                   argv.data(), environ);
  if (error_pipe[1] >= 0) ::close(error_pipe[1]);
  if (error_number == 0) {
    own_children.insert(pid);
    if (error_pipe[0] >= 0) {
      DropErrorCapture(pid);
      error_captures[pid].fd = error_pipe[0];
    }
  } else if (error_pipe[0] >= 0) {
    ::close(error_pipe[0]);
  }
  if (error_number != 0) {
    SetLastErrorFromErrno(error_number);
    if (error_number == ENOENT) throw Failure(err::kFileNotFound);
    throw Failure(err::kPathFileAccess);
  }
  return static_cast<std::uint32_t>(pid);
}

ProcessHandle OpenProcessHandle(std::uint32_t access, bool inherit, std::uint32_t process_id) {
  (void)access;   // every handle may do everything
  (void)inherit;  // nothing inherits handles: started programs get no descriptors
  if (process_id == 0 || process_id > static_cast<std::uint32_t>(INT_MAX)) {
    SetLastErrorCode(kErrorInvalidParameter);
    return 0;
  }
  pid_t pid = static_cast<pid_t>(process_id);
  int pidfd = PidfdOpen(pid);  // always close-on-exec
  if (pidfd < 0) {
    SetLastErrorCode(errno == ESRCH ? kErrorInvalidParameter : kErrorAccessDenied);
    return 0;
  }
  // Only a child's exit status can be read; any other process is unknown here.
  bool ended = false;
  siginfo_t info;
  if (!PeekChild(pidfd, &ended, &info)) {
    ::close(pidfd);
    SetLastErrorCode(kErrorInvalidParameter);
    return 0;
  }
  ProcessHandle handle = next_handle;
  next_handle += 4;
  handles[handle] = {pidfd, pid};
  ++records[pid].open_handles;
  return handle;
}

bool GetProcessExitCode(ProcessHandle handle, std::uint32_t* exit_code) {
  HandleEntry* entry = Lookup(handle);
  if (entry == nullptr) return false;
  bool ended = false;
  siginfo_t info;
  if (!PeekChild(entry->pidfd, &ended, &info)) {
    SetLastErrorFromErrno(errno);
    return false;
  }
  if (!ended) {
    *exit_code = kStillActive;
    return true;
  }
  // A terminated process ends with the code it was terminated with, not with
  // the signal that ended it.
  const std::optional<std::uint32_t>& code = records[entry->pid].terminate_code;
  *exit_code = code ? *code : ExitCodeOf(info);
  return true;
}

std::uint32_t WaitForProcess(ProcessHandle handle, std::uint32_t milliseconds) {
  HandleEntry* entry = Lookup(handle);
  if (entry == nullptr) return kWaitFailed;
  auto capture = error_captures.find(entry->pid);
  const int outcome = WaitReadable(entry->pidfd, milliseconds,
                                   capture == error_captures.end() ? nullptr : &capture->second);
  if (outcome < 0) {
    SetLastErrorFromErrno(errno);
    return kWaitFailed;
  }
  return outcome == 1 ? kWaitObject0 : kWaitTimeout;
}

bool TerminateProcessHandle(ProcessHandle handle, std::uint32_t exit_code) {
  HandleEntry* entry = Lookup(handle);
  if (entry == nullptr) return false;
  bool ended = false;
  siginfo_t info;
  if (!PeekChild(entry->pidfd, &ended, &info)) {
    SetLastErrorFromErrno(errno);
    return false;
  }
  // Killing a process that has ended (a zombie) would succeed here; Windows
  // refuses, and callers rely on the refusal to tell "finished in time" from
  // "had to be killed".
  if (ended) {
    // What it left running (in its group or escaped from it) ends all the
    // same: nothing of a program outlives the end of its wait.
    EndTree(entry->pid);
    SetLastErrorCode(kErrorAccessDenied);
    return false;
  }
  records[entry->pid].terminate_code = exit_code;
  // The whole group first, so that what the process started cannot outlive
  // it; never our own group, should the process have joined it.
  pid_t group = ::getpgid(entry->pid);
  if (group > 0 && group != ::getpgrp()) ::kill(-group, SIGKILL);
  PidfdKill(entry->pidfd);
  // Then whatever left the group, and what the killed ones leave behind.
  EndTree(entry->pid);
  WaitReadable(entry->pidfd, kKillSettleMilliseconds);
  return true;
}

bool CloseProcessHandle(ProcessHandle handle) {
  HandleEntry* entry = Lookup(handle);
  if (entry == nullptr) return false;
  HandleEntry closing = *entry;
  handles.erase(handle);
  ProcessRecord& record = records[closing.pid];
  if (--record.open_handles <= 0) {
    // The last handle: an ended process is reaped now, one still running is
    // left to run on.
    siginfo_t info{};
    ::waitid(P_PIDFD, static_cast<id_t>(closing.pidfd), &info, WEXITED | WNOHANG);
    if (info.si_pid == closing.pid) own_children.erase(closing.pid);
    records.erase(closing.pid);
    DropErrorCapture(closing.pid);
  }
  ::close(closing.pidfd);
  return true;
}

std::string ProcessErrorLine(ProcessHandle handle) {
  HandleEntry* entry = Lookup(handle);
  if (entry == nullptr) return {};
  auto capture = error_captures.find(entry->pid);
  if (capture == error_captures.end()) return {};
  DrainErrorOutput(capture->second);
  return capture->second.first_line;
}

}  // namespace platform
