#include "platform/process.h"

#include <fcntl.h>
#include <gmock/gmock.h>
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

namespace platform {
namespace {

using testing::ScratchFolder;
using testing::WriteFile;

// Every wait in these tests ends after this long, so a broken build fails
// instead of hanging.
constexpr std::uint32_t kBound = 10000;

// Runs real child processes: shell scripts written into a scratch folder.
// Whatever a test leaves running is killed at its end.
class ProcessTest : public ::testing::Test {
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

TEST_F(ProcessTest, EndedProgramIsNotEndedAgain) {
  std::uint32_t pid = 0;
  {
    StartedProgram program = Start(Script("seven", "exit 7\n"));
    pid = program.id();
    ASSERT_TRUE(program.watched());
    ASSERT_TRUE(program.Wait(kBound));
    // Looking does not reap the program: it can be asked again.
    EXPECT_TRUE(program.HasEnded());
    EXPECT_TRUE(program.HasEnded());

    SetLastErrorCode(0);
    EXPECT_FALSE(program.EndGroup());
    EXPECT_EQ(LastErrorCode(), 5u);
    siginfo_t info{};
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT), 0);
    EXPECT_EQ(info.si_pid, static_cast<pid_t>(pid));
  }
  // Letting go of an ended program reaps it.
  EXPECT_EQ(::waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST_F(ProcessTest, RunningProgramIsEnded) {
  StartedProgram program = Start(Script("sleeper", "sleep 30\n"));
  ASSERT_TRUE(program.watched());
  EXPECT_FALSE(program.HasEnded());
  EXPECT_FALSE(program.Wait(200));
  EXPECT_FALSE(program.HasEnded());

  EXPECT_TRUE(program.EndGroup());
  // It is gone when the call returns.
  EXPECT_TRUE(program.HasEnded());
  // Now that it has ended, a second end is refused.
  SetLastErrorCode(0);
  EXPECT_FALSE(program.EndGroup());
  EXPECT_EQ(LastErrorCode(), 5u);
}

TEST_F(ProcessTest, LettingGoOfARunningProgramLeavesItRunning) {
  std::uint32_t pid = 0;
  { pid = Start(Script("sleeper", "sleep 30\n")).id(); }
  siginfo_t info{};
  ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT), 0);
  EXPECT_EQ(info.si_pid, 0);
}

TEST_F(ProcessTest, TerminateEndsWhatTheProcessStarted) {
  std::string fifo = folder_ / "grandchild";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string script = Script("parent", "sleep 30 &\necho $! > \"$1\"\nwait\n");
  StartedProgram program = Start(script + " " + fifo);
  ASSERT_TRUE(program.watched());

  std::string line = ReadLineFromFifo(fifo);
  ASSERT_FALSE(line.empty());
  int grandchild = static_cast<int>(::syscall(SYS_pidfd_open, std::stoi(line), 0));
  ASSERT_GE(grandchild, 0);

  EXPECT_TRUE(program.EndGroup());
  pollfd entry{grandchild, POLLIN, 0};
  int ended = ::poll(&entry, 1, static_cast<int>(kBound));
  if (ended != 1) ::syscall(SYS_pidfd_send_signal, grandchild, SIGKILL, nullptr, 0);
  ::close(grandchild);
  EXPECT_EQ(ended, 1);
}

// One that has ended by itself may have left a helper in a session of its
// own: that ends with it all the same.
TEST_F(ProcessTest, WhatAnEndedProgramLeftRunningIsEnded) {
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

TEST_F(ProcessTest, HiddenProcessHasNoTerminal) {
  std::string script = FdScript();
  EXPECT_EQ(RunToEnd(script + " " + (folder_ / "out"), kShowHidden),
            "/dev/null\n/dev/null\n/dev/null\n");
}

TEST_F(ProcessTest, NormalProcessSharesOutputButNotInput) {
  std::string script = FdScript();
  auto own = [](int fd) {
    std::filesystem::path link = "/proc/self/fd/" + std::to_string(fd);
    return std::filesystem::read_symlink(link).string();
  };
  EXPECT_EQ(RunToEnd(script + " " + (folder_ / "out"), kShowNormal),
            "/dev/null\n" + own(1) + "\n" + own(2) + "\n");
}

TEST_F(ProcessTest, ArgumentsArriveAsSplit) {
  std::string script = Script(
      "args", "out=\"$1\"; shift; { echo \"$0\"; for a; do echo \"[$a]\"; done; } > \"$out\"\n");
  std::string out = folder_ / "out";
  EXPECT_EQ(RunToEnd(script + " " + out + R"( plain "two words" a\"b c:\x\ "")"),
            script + "\n[plain]\n[two words]\n[a\"b]\n[c:\\x\\]\n[]\n");
  EXPECT_EQ(RunToEnd(script + " " + out + " "), script + "\n");
}

TEST_F(ProcessTest, StartProgramRunsExactlyTheNamedFileWithWholeArguments) {
  // A program in a folder with a blank, and a planted one at the shorter
  // prefix that a split of the line would take.
  ::mkdir((folder_ / "dir with").c_str(), 0755);
  Script("dir", "echo planted > \"$(dirname \"$0\")/out\"\n");
  Script("dir.exe", "echo planted > \"$(dirname \"$0\")/out\"\n");
  std::string program = Script("dir with/prog.exe",
                               "out=\"$1\"; shift; { echo \"$0\"; for a; do echo \"[$a]\"; done; } "
                               "> \"$out\"\n");
  std::string out = folder_ / "out";
  StartedProgram started = StartProgram(
      CommandLine{program, {out, "http://x.example/a b?q=\"1\" \\", "", " lead"}}, kShowHidden);
  started_.push_back(started.id());
  ASSERT_TRUE(started.Wait(kBound));
  EXPECT_EQ(testing::ReadFile(out), program + "\n[http://x.example/a b?q=\"1\" \\]\n[]\n[ lead]\n");
}

TEST_F(ProcessTest, StartFailures) {
  SetLastErrorCode(0);
  EXPECT_THROW(
      {
        try {
          StartProcess(folder_ / "missing arg", kShowHidden);
        } catch (const Failure& failure) {
          EXPECT_EQ(failure.number(), err::kFileNotFound);
          throw;
        }
      },
      Failure);
  EXPECT_EQ(LastErrorCode(), 2u);

  // Executable, but neither a binary nor a script.
  std::string garbage = folder_ / "garbage.exe";
  WriteFile(garbage, "just text\n");
  ::chmod(garbage.c_str(), 0755);
  long number = 0;
  try {
    Start(garbage);
  } catch (const Failure& failure) {
    number = failure.number();
  }
  EXPECT_EQ(number, err::kPathFileAccess);
  EXPECT_EQ(LastErrorCode(), 193u);

  // Not executable at all.
  std::string plain = folder_ / "plain.exe";
  WriteFile(plain, "#!/bin/sh\n");
  ::chmod(plain.c_str(), 0644);
  number = 0;
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
