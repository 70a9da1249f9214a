// The process tests' child program and look at processes on Linux, and what
// only Linux has: zombies that wait to be reaped, sessions a helper can
// escape into, descriptors to look at, a file's execute bit.
#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/last_error.h"
#include "platform/posix/test_support.h"
#include "platform/testing/process_fixture.h"

namespace platform::testing {

namespace {

// The child program is a script, written once for the whole test program.
const char kChildScript[] =
    "#!/bin/sh\n"
    "what=$1\n"
    "shift\n"
    "whole() { cat > \"$1.part\" && mv \"$1.part\" \"$1\"; }\n"
    "case $what in\n"
    "exit) exit \"$1\" ;;\n"
    "sleep) exec sleep \"$(($1 / 1000)).$(printf %03d $(($1 % 1000)))\" ;;\n"
    "args) out=$1; shift; for a; do printf '[%s]\\n' \"$a\"; done | whole \"$out\" ;;\n"
    "spawn) sleep 60 & printf %s $! | whole \"$1\"; exec sleep 60 ;;\n"
    "stderr) printf %s \"$1\" >&2 ;;\n"
    "flood) printf '\\r\\nfirst line\\nsecond line\\n' >&2; head -c \"$1\" /dev/zero | tr '\\0' x "
    ">&2 "
    ";;\n"
    "input) if [ -z \"$(head -c 16)\" ]; then echo 'end of input'; else echo input; fi | tr -d "
    "'\\n' "
    "| whole \"$1\" ;;\n"
    "*) exit 98 ;;\n"
    "esac\n";

}  // namespace

std::string ChildProgram() {
  static ScratchFolder folder;
  static const std::string path = [] {
    const std::string script = folder / "child";
    WriteFile(script, kChildScript);
    ::chmod(script.c_str(), 0755);
    return script;
  }();
  return path;
}

void PlantDecoy(const std::string& path) {
  WriteFile(path, "#!/bin/sh\necho planted > \"$(dirname \"$0\")/out\"\n");
  MakeRunnable(path);
}

void MakeRunnable(const std::string& path) {
  ::chmod(path.c_str(), 0755);
}

// A process descriptor: it cannot come to name another process.
struct ProcessLook::Process {
  pid_t pid = 0;
  int fd = -1;
};

ProcessLook::ProcessLook(std::uint32_t id) : process_(std::make_unique<Process>()) {
  process_->pid = static_cast<pid_t>(id);
  process_->fd = static_cast<int>(::syscall(SYS_pidfd_open, process_->pid, 0));
}

ProcessLook::~ProcessLook() {
  if (process_->fd < 0) return;
  if (!EndsWithin(0)) Terminate();
  ::close(process_->fd);
}

bool ProcessLook::valid() const {
  return process_->fd >= 0;
}

bool ProcessLook::EndsWithin(std::uint32_t milliseconds) {
  pollfd entry{process_->fd, POLLIN, 0};
  return ::poll(&entry, 1, static_cast<int>(milliseconds)) == 1;
}

void ProcessLook::Terminate() {
  ::syscall(SYS_pidfd_send_signal, process_->fd, SIGKILL, nullptr, 0);
}

std::uint32_t ProcessLook::ExitCode() {
  siginfo_t info{};
  if (::waitid(P_PID, static_cast<id_t>(process_->pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
      info.si_pid != process_->pid || info.si_code != CLD_EXITED) {
    return 0xffffffffu;
  }
  return static_cast<std::uint32_t>(info.si_status);
}

}  // namespace platform::testing

namespace platform {
namespace {

using testing::ScratchFolder;
using testing::WriteFile;

constexpr std::uint32_t kBound = 10000;

// Runs real child processes: shell scripts written into a scratch folder.
// Whatever a test leaves running is killed at its end.
class PosixProcess : public ::testing::Test {
 protected:
  void TearDown() override {
    for (std::uint32_t pid : started_) {
      auto child = static_cast<pid_t>(pid);
      siginfo_t info{};
      // Only a child not yet reaped still owns its id and group.
      if (::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        continue;
      }
      ::kill(-child, SIGKILL);
      ::kill(child, SIGKILL);
      ::waitpid(child, nullptr, 0);
    }
  }

  // A script `name` in the scratch folder with `body` after its first line.
  std::string Script(const std::string& name, const std::string& body) {
    std::string path = folder_ / name;
    WriteFile(path, "#!/bin/sh\n" + body);
    ::chmod(path.c_str(), 0755);
    return path;
  }

  // A script that writes where its standard input, output and error lead to
  // the file named by its argument. The descriptors are read before the
  // output file is opened.
  std::string FdScript() {
    return Script("fds",
                  "fd() { readlink /proc/$$/fd/$1; }\n"
                  "printf '%s\\n' \"$(fd 0)\" \"$(fd 1)\" \"$(fd 2)\" > \"$1\"\n");
  }

  StartedProgram Start(const std::string& command_line, int show_state = kShowHidden) {
    StartedProgram program = StartProcess(command_line, show_state);
    started_.push_back(program.id());
    return program;
  }

  // Starts the script, waits for it to end and returns what it wrote to
  // "out" in the scratch folder.
  std::string RunToEnd(const std::string& command_line, int show_state = kShowHidden) {
    StartedProgram program = Start(command_line, show_state);
    EXPECT_TRUE(program.watched());
    EXPECT_TRUE(program.Wait(kBound));
    return testing::ReadFile(folder_ / "out");
  }

  ScratchFolder folder_;
  std::vector<std::uint32_t> started_;
};

// Reads one line from a FIFO that a child writes to, waiting at most kBound.
std::string ReadLineFromFifo(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {};
  std::string line;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBound);
  while (line.empty() || line.back() != '\n') {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    pollfd entry{fd, POLLIN, 0};
    if (left <= 0 || ::poll(&entry, 1, static_cast<int>(left)) <= 0) break;
    char c = 0;
    ssize_t n = ::read(fd, &c, 1);
    if (n == 0) break;
    if (n > 0) line += c;
  }
  ::close(fd);
  return line;
}

// An ended child stays a zombie, its id and group still its own, until the
// layer lets go of it.
TEST_F(PosixProcess, AnEndedProgramIsReapedWhenLetGoOf) {
  std::uint32_t pid = 0;
  {
    StartedProgram program = Start(Script("seven", "exit 7\n"));
    pid = program.id();
    ASSERT_TRUE(program.Wait(kBound));
    EXPECT_TRUE(program.HasEnded());
    EXPECT_FALSE(program.EndGroup());
    siginfo_t info{};
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT), 0);
    EXPECT_EQ(info.si_pid, static_cast<pid_t>(pid));
  }
  EXPECT_EQ(::waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

// One that has ended by itself may have left a helper in a session of its
// own: that ends with it all the same.
TEST_F(PosixProcess, WhatAnEndedProgramLeftInASessionOfItsOwnIsEnded) {
  std::string fifo = folder_ / "escapee";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  StartedProgram program = Start(
      Script("leaver", "setsid sh -c 'echo $$ > \"$0\"; exec sleep 30' \"$1\" &\n") + " " + fifo);
  std::string line = ReadLineFromFifo(fifo);
  ASSERT_FALSE(line.empty());
  int escapee = static_cast<int>(::syscall(SYS_pidfd_open, std::stoi(line), 0));
  ASSERT_GE(escapee, 0);
  ASSERT_TRUE(program.Wait(kBound));

  EXPECT_FALSE(program.EndGroup());
  pollfd entry{escapee, POLLIN, 0};
  int ended = ::poll(&entry, 1, 0);
  if (ended != 1) ::syscall(SYS_pidfd_send_signal, escapee, SIGKILL, nullptr, 0);
  ::close(escapee);
  EXPECT_EQ(ended, 1);
}

TEST_F(PosixProcess, HiddenProcessHasNoTerminal) {
  std::string script = FdScript();
  EXPECT_EQ(RunToEnd(script + " " + (folder_ / "out"), kShowHidden),
            "/dev/null\n/dev/null\n/dev/null\n");
}

TEST_F(PosixProcess, NormalProcessSharesOutputButNotInput) {
  std::string script = FdScript();
  auto own = [](int fd) {
    std::filesystem::path link = "/proc/self/fd/" + std::to_string(fd);
    return std::filesystem::read_symlink(link).string();
  };
  EXPECT_EQ(RunToEnd(script + " " + (folder_ / "out"), kShowNormal),
            "/dev/null\n" + own(1) + "\n" + own(2) + "\n");
}

// A script learns its own path from argument zero.
TEST_F(PosixProcess, ArgumentZeroIsTheNamedFile) {
  std::string script = Script("zero", "echo \"$0\" > \"$1\"\n");
  EXPECT_EQ(RunToEnd(script + " " + (folder_ / "out")), script + "\n");
}

// Without its execute bit a file may not be run.
TEST_F(PosixProcess, AFileThatMayNotBeRunIsRefused) {
  std::string plain = folder_ / "plain.exe";
  WriteFile(plain, "#!/bin/sh\n");
  ::chmod(plain.c_str(), 0644);
  long number = 0;
  SetLastErrorCode(0);
  try {
    Start(plain);
  } catch (const Failure& failure) {
    number = failure.number();
  }
  EXPECT_EQ(number, err::kPathFileAccess);
  EXPECT_EQ(LastErrorCode(), 5u);
}

}  // namespace
}  // namespace platform
