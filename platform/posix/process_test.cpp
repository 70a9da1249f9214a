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

#include <chrono>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/posix/test_support.h"
#include "platform/system.h"

namespace platform {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::ScratchFolder;
using testing::WriteFile;

// Every wait in these tests ends after this long, so a broken build fails
// instead of hanging.
constexpr std::uint32_t kBound = 10000;

long FailureNumber(const std::string& command_line) {
  try {
    SplitCommandLine(command_line);
  } catch (const Failure& failure) {
    return failure.number();
  }
  return 0;
}

TEST(ProcessArgumentTextTest, SplitsByTheCRuntimeRules) {
  EXPECT_THAT(SplitArgumentText(""), IsEmpty());
  EXPECT_THAT(SplitArgumentText(" \t "), IsEmpty());
  EXPECT_THAT(SplitArgumentText("a  b\tc "), ElementsAre("a", "b", "c"));
  EXPECT_THAT(SplitArgumentText(R"("a b" c)"), ElementsAre("a b", "c"));
  EXPECT_THAT(SplitArgumentText(R"(x"a b"y)"), ElementsAre("xa by"));
  EXPECT_THAT(SplitArgumentText(R"("" x)"), ElementsAre("", "x"));
  EXPECT_THAT(SplitArgumentText(R"("open)"), ElementsAre("open"));
  // Backslashes are literal unless they precede a quote.
  EXPECT_THAT(SplitArgumentText(R"(a\b c\\d\\\e)"), ElementsAre(R"(a\b)", R"(c\\d\\\e)"));
  // 2n backslashes and a quote: n backslashes, the quote groups.
  EXPECT_THAT(SplitArgumentText(R"(a\\"b c" d)"), ElementsAre(R"(a\b c)", "d"));
  EXPECT_THAT(SplitArgumentText(R"(a\\\\"b" c)"), ElementsAre(R"(a\\b)", "c"));
  // 2n+1 backslashes and a quote: n backslashes and a literal quote.
  EXPECT_THAT(SplitArgumentText(R"(a\"b c)"), ElementsAre(R"(a"b)", "c"));
  EXPECT_THAT(SplitArgumentText(R"(a\\\"b c)"), ElementsAre(R"(a\"b)", "c"));
  EXPECT_THAT(SplitArgumentText(R"("a\"b c")"), ElementsAre(R"(a"b c)"));
  // Two quotes inside quotes stand for one literal quote.
  EXPECT_THAT(SplitArgumentText(R"("a""b" c)"), ElementsAre(R"(a"b)", "c"));
  // Backslashes at the end of a quoted path stay as they are.
  EXPECT_THAT(SplitArgumentText(R"("C:\dir\\" x)"), ElementsAre(R"(C:\dir\)", "x"));
}

class ProcessCommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(folder_ / "dir with blanks");
    WriteFile(folder_ / "dir with blanks/prog.exe", "");
  }
  ScratchFolder folder_;
};

TEST_F(ProcessCommandLineTest, ProgramInFolderWithBlanks) {
  CommandLine split = SplitCommandLine(folder_ / "dir with blanks/prog.exe arg1 arg2");
  EXPECT_EQ(split.program, folder_ / "dir with blanks/prog.exe");
  EXPECT_THAT(split.arguments, ElementsAre("arg1", "arg2"));
}

TEST_F(ProcessCommandLineTest, ShortestPrefixNamingAFileWins) {
  WriteFile(folder_ / "dir", "");
  CommandLine split = SplitCommandLine(folder_ / "dir with blanks/prog.exe arg1 arg2");
  EXPECT_EQ(split.program, folder_ / "dir");
  EXPECT_THAT(split.arguments, ElementsAre("with", "blanks/prog.exe", "arg1", "arg2"));
}

TEST_F(ProcessCommandLineTest, ExeIsAddedToANameWithoutExtension) {
  WriteFile(folder_ / "dir with.exe", "");
  CommandLine split = SplitCommandLine(folder_ / "dir with blanks/prog.exe arg1");
  EXPECT_EQ(split.program, folder_ / "dir with.exe");
  EXPECT_THAT(split.arguments, ElementsAre("blanks/prog.exe", "arg1"));

  split = SplitCommandLine(folder_ / "dir with blanks/prog arg1");
  EXPECT_EQ(split.program, folder_ / "dir with.exe");
}

TEST_F(ProcessCommandLineTest, ExeIsNotAddedToANameWithExtension) {
  EXPECT_EQ(FailureNumber(folder_ / "dir with blanks/prog.bin arg1"), err::kFileNotFound);
}

TEST_F(ProcessCommandLineTest, WindowsPathsAreMapped) {
  std::string windows_form = folder_.path() + R"(\DIR WITH BLANKS\Prog "a b" c\"d)";
  CommandLine split = SplitCommandLine(windows_form);
  EXPECT_EQ(split.program, folder_ / "dir with blanks/prog.exe");
  EXPECT_THAT(split.arguments, ElementsAre("a b", R"(c"d)"));
}

TEST_F(ProcessCommandLineTest, EmptyArgumentTextGivesNoArguments) {
  EXPECT_THAT(SplitCommandLine(folder_ / "dir with blanks/prog.exe").arguments, IsEmpty());
  EXPECT_THAT(SplitCommandLine(folder_ / "dir with blanks/prog.exe ").arguments, IsEmpty());
}

TEST_F(ProcessCommandLineTest, FoldersAndMissingFilesAreNotPrograms) {
  EXPECT_EQ(FailureNumber(folder_ / "dir with blanks"), err::kFileNotFound);
  EXPECT_EQ(FailureNumber(folder_ / "dir with blanks/other.exe x"), err::kFileNotFound);
  EXPECT_EQ(FailureNumber(folder_ / "missing/prog.exe"), err::kFileNotFound);
  EXPECT_EQ(FailureNumber(""), err::kFileNotFound);
}

// Runs real child processes: shell scripts written into a scratch folder.
// Whatever a test leaves running is killed at its end.
class ProcessTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (ProcessHandle handle : handles_) CloseProcessHandle(handle);
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

  std::uint32_t Start(const std::string& command_line, int show_state = kShowHidden) {
    std::uint32_t pid = StartProcess(command_line, show_state);
    started_.push_back(pid);
    return pid;
  }

  ProcessHandle Open(std::uint32_t pid) {
    ProcessHandle handle = OpenProcessHandle(kProcessAllAccess, true, pid);
    if (handle != 0) handles_.push_back(handle);
    return handle;
  }

  void Close(ProcessHandle handle) {
    EXPECT_TRUE(CloseProcessHandle(handle));
    std::erase(handles_, handle);
  }

  // Starts the script, waits for it to end and returns what it wrote to
  // "out" in the scratch folder.
  std::string RunToEnd(const std::string& command_line, int show_state = kShowHidden) {
    ProcessHandle handle = Open(Start(command_line, show_state));
    EXPECT_EQ(WaitForProcess(handle, kBound), kWaitObject0);
    std::uint32_t code = 1;
    EXPECT_TRUE(GetProcessExitCode(handle, &code));
    EXPECT_EQ(code, 0u);
    Close(handle);
    return testing::ReadFile(folder_ / "out");
  }

  ScratchFolder folder_;
  std::vector<std::uint32_t> started_;
  std::vector<ProcessHandle> handles_;
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

TEST_F(ProcessTest, EndedProcessKeepsItsExitCodeAndCannotBeTerminated) {
  std::uint32_t pid = Start(Script("seven", "exit 7\n"));
  ProcessHandle handle = Open(pid);
  ASSERT_NE(handle, 0);
  ASSERT_EQ(WaitForProcess(handle, kBound), kWaitObject0);

  std::uint32_t code = 0;
  ASSERT_TRUE(GetProcessExitCode(handle, &code));
  EXPECT_EQ(code, 7u);
  // Reading the exit code does not reap the process: it can be read again.
  code = 0;
  ASSERT_TRUE(GetProcessExitCode(handle, &code));
  EXPECT_EQ(code, 7u);

  SetLastErrorCode(0);
  EXPECT_FALSE(TerminateProcessHandle(handle, 0));
  EXPECT_EQ(LastErrorCode(), 5u);
  code = 0;
  ASSERT_TRUE(GetProcessExitCode(handle, &code));
  EXPECT_EQ(code, 7u);

  // Closing the last handle reaps it.
  Close(handle);
  EXPECT_EQ(::waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST_F(ProcessTest, RunningProcessIsTerminatedWithTheRequestedCode) {
  ProcessHandle handle = Open(Start(Script("sleeper", "sleep 30\n")));
  ASSERT_NE(handle, 0);

  std::uint32_t code = 0;
  ASSERT_TRUE(GetProcessExitCode(handle, &code));
  EXPECT_EQ(code, kStillActive);
  EXPECT_EQ(WaitForProcess(handle, 200), kWaitTimeout);

  EXPECT_TRUE(TerminateProcessHandle(handle, 42));
  EXPECT_EQ(WaitForProcess(handle, kBound), kWaitObject0);
  ASSERT_TRUE(GetProcessExitCode(handle, &code));
  EXPECT_EQ(code, 42u);

  // Now that it has ended, a second terminate is refused.
  SetLastErrorCode(0);
  EXPECT_FALSE(TerminateProcessHandle(handle, 0));
  EXPECT_EQ(LastErrorCode(), 5u);
  ASSERT_TRUE(GetProcessExitCode(handle, &code));
  EXPECT_EQ(code, 42u);
}

TEST_F(ProcessTest, TerminateEndsWhatTheProcessStarted) {
  std::string fifo = folder_ / "grandchild";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string script = Script("parent", "sleep 30 &\necho $! > \"$1\"\nwait\n");
  ProcessHandle handle = Open(Start(script + " " + fifo));
  ASSERT_NE(handle, 0);

  std::string line = ReadLineFromFifo(fifo);
  ASSERT_FALSE(line.empty());
  int grandchild = static_cast<int>(::syscall(SYS_pidfd_open, std::stoi(line), 0));
  ASSERT_GE(grandchild, 0);

  EXPECT_TRUE(TerminateProcessHandle(handle, 0));
  pollfd entry{grandchild, POLLIN, 0};
  int ended = ::poll(&entry, 1, static_cast<int>(kBound));
  if (ended != 1) ::syscall(SYS_pidfd_send_signal, grandchild, SIGKILL, nullptr, 0);
  ::close(grandchild);
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
  const std::uint32_t pid = StartProgram(
      CommandLine{program, {out, "http://x.example/a b?q=\"1\" \\", "", " lead"}}, kShowHidden);
  started_.push_back(pid);
  ProcessHandle handle = Open(pid);
  ASSERT_EQ(WaitForProcess(handle, kBound), kWaitObject0);
  Close(handle);
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

TEST_F(ProcessTest, OpenRefusesUnknownProcesses) {
  SetLastErrorCode(0);
  EXPECT_EQ(OpenProcessHandle(kProcessAllAccess, true, 0), 0);
  EXPECT_EQ(LastErrorCode(), 87u);

  // A child that has ended and been reaped is gone.
  std::uint32_t pid = Start(Script("done", "exit 0\n"));
  ProcessHandle handle = Open(pid);
  ASSERT_EQ(WaitForProcess(handle, kBound), kWaitObject0);
  Close(handle);
  SetLastErrorCode(0);
  EXPECT_EQ(OpenProcessHandle(kProcessAllAccess, true, pid), 0);
  EXPECT_EQ(LastErrorCode(), 87u);

  // So is a process that is not ours.
  SetLastErrorCode(0);
  EXPECT_EQ(OpenProcessHandle(kProcessAllAccess, true, static_cast<std::uint32_t>(::getppid())), 0);
  EXPECT_EQ(LastErrorCode(), 87u);
}

TEST_F(ProcessTest, TwoHandlesToOneProcess) {
  std::uint32_t pid = Start(Script("three", "exit 3\n"));
  ProcessHandle first = Open(pid);
  ProcessHandle second = Open(pid);
  ASSERT_NE(first, 0);
  ASSERT_NE(second, 0);
  EXPECT_NE(first, second);
  ASSERT_EQ(WaitForProcess(first, kBound), kWaitObject0);
  // Closing one handle leaves the process readable through the other.
  Close(first);
  std::uint32_t code = 0;
  ASSERT_TRUE(GetProcessExitCode(second, &code));
  EXPECT_EQ(code, 3u);
  Close(second);
}

TEST_F(ProcessTest, InvalidHandles) {
  ProcessHandle closed = Open(Start(Script("done", "exit 0\n")));
  ASSERT_NE(closed, 0);
  ASSERT_EQ(WaitForProcess(closed, kBound), kWaitObject0);
  Close(closed);

  for (ProcessHandle handle : {ProcessHandle{0}, closed, ProcessHandle{12345}}) {
    SCOPED_TRACE(handle);
    std::uint32_t code = 99;
    SetLastErrorCode(0);
    EXPECT_FALSE(GetProcessExitCode(handle, &code));
    EXPECT_EQ(LastErrorCode(), 6u);
    EXPECT_EQ(code, 99u);
    SetLastErrorCode(0);
    EXPECT_EQ(WaitForProcess(handle, 0), kWaitFailed);
    EXPECT_EQ(LastErrorCode(), 6u);
    SetLastErrorCode(0);
    EXPECT_FALSE(TerminateProcessHandle(handle, 0));
    EXPECT_EQ(LastErrorCode(), 6u);
    SetLastErrorCode(0);
    EXPECT_FALSE(CloseProcessHandle(handle));
    EXPECT_EQ(LastErrorCode(), 6u);
  }
}

}  // namespace
}  // namespace platform
