#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "app/test_support.h"
#include "notify/process_runner.h"
#include "platform/posix/test_support.h"

using platform::testing::ScratchFolder;
using platform::testing::WriteFile;
using ::testing::ElementsAre;

namespace {

std::string Script(const ScratchFolder& folder, const std::string& name, const std::string& body) {
  std::string path = folder / name;
  WriteFile(path, "#!/bin/sh\n" + body);
  ::chmod(path.c_str(), 0755);
  return path;
}

bool WaitForFile(const std::string& path, int seconds) {
  for (int i = 0; i < seconds * 20; ++i) {
    if (platform::testing::ReadFile(path).size() > 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// Whether the process `pid` is gone (ended; a zombie counts as ended) within
// `milliseconds`.
bool EndsWithin(int pid, int milliseconds) {
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0) return errno == ESRCH;
  pollfd entry{pidfd, POLLIN, 0};
  const int ready = ::poll(&entry, 1, milliseconds);
  ::close(pidfd);
  return ready > 0;
}

}  // namespace

TEST(ExecuteShell, ProgramEndingWithinTheWaitIsSeenThrough) {
  CapturedLog log;
  ScratchFolder folder;
  std::string program = Script(folder, "convert.exe", "sleep 0.5\necho done > \"$1\"\n");
  std::string line = program + " " + folder / "out.txt";
  EXPECT_EQ(fncExecuteShell(line, 20000, kTrue), kTrue);
  EXPECT_THAT(
      log.Lines(),
      ElementsAre("MSG : fncExecuteShell :: " + line, "ERR : Successfully Executed, " + line,
                  "MSG : Executing fncTerminateProcess", "MSG : Successfully Executed the script"));
  EXPECT_EQ(platform::testing::ReadFile(folder / "out.txt"), "done\n");
}

TEST(ExecuteShell, ProgramStillRunningAtTheTimeOutIsKilledWithItsChildren) {
  CapturedLog log;
  ScratchFolder folder;
  // The program and a child of its own would both write after ten minutes.
  std::string program = Script(folder, "hang.exe",
                               "(sleep 600; echo late > \"$1.child\") &\n"
                               "echo $! > \"$1.pid\"\nsleep 600\necho late > \"$1\"\n");
  std::string line = program + " " + folder / "out";
  // Long enough for a busy machine to start the script and its child.
  EXPECT_EQ(fncExecuteShell(line, 2000, kTrue), kTrue);
  EXPECT_THAT(
      log.Lines(),
      ElementsAre("MSG : fncExecuteShell :: " + line, "ERR : Successfully Executed, " + line,
                  "MSG : Executing fncTerminateProcess", "ERR : Terminating the script as, ",
                  "MSG : Successfully Terminated Process "));
  ASSERT_TRUE(WaitForFile(folder / "out.pid", 5));
  const std::string child = platform::testing::ReadFile(folder / "out.pid");
  // The kill has been sent; on a busy machine the child may take a moment to
  // go, so its end is waited for (with a bound far above any real delay).
  EXPECT_TRUE(EndsWithin(std::stoi(child), 20000)) << "child " << child << " still running";
}

TEST(ExecuteShell, DescendantsThatLeftTheGroupEndAtTheTimeOutToo) {
  CapturedLog log;
  ScratchFolder folder;
  // Two escapees: one in a session of its own whose parent stays, and one
  // whose parent ends at once (a daemon's double start), orphaned.
  const std::string escapee = Script(folder, "escape.sh", "echo $$ > \"$1\"\nexec sleep 600\n");
  std::string program = Script(folder, "hang.exe",
                               "setsid " + escapee +
                                   " \"$1.a\" &\n"
                                   "sh -c 'setsid \"$0\" \"$1\" &' " +
                                   escapee +
                                   " \"$1.b\" &\n"
                                   "sleep 600\n");
  std::string line = program + " " + folder / "out";
  EXPECT_EQ(fncExecuteShell(line, 2000, kTrue), kTrue);
  ASSERT_TRUE(WaitForFile(folder / "out.a", 5));
  ASSERT_TRUE(WaitForFile(folder / "out.b", 5));
  for (const char* name : {"out.a", "out.b"}) {
    const std::string pid = platform::testing::ReadFile(folder / name);
    EXPECT_TRUE(EndsWithin(std::stoi(pid), 20000)) << name << " " << pid << " still running";
  }
}

TEST(ExecuteShell, FirstLineOfErrorOutputIsKeptBounded) {
  CapturedLog log;
  ScratchFolder folder;
  ProgramOutcome outcome;
  std::string program = Script(folder, "fail.exe",
                               "printf '\\nfetch failed: 404\\r\\nsecond line\\n' >&2\n"
                               "head -c 300000 /dev/zero | tr '\\0' x >&2\nexit 3\n");
  EXPECT_EQ(fncExecuteShell(program + " x", 20000, kTrue, &outcome), kTrue);
  EXPECT_FALSE(outcome.killed);
  EXPECT_EQ(outcome.error_line, "fetch failed: 404");

  // A first line longer than the bound is cut; a program killed at its
  // time-out is told apart from one that finished.
  program = Script(folder, "long.exe", "head -c 5000 /dev/zero | tr '\\0' y >&2\nsleep 600\n");
  EXPECT_EQ(fncExecuteShell(program + " x", 1500, kTrue, &outcome), kTrue);
  EXPECT_TRUE(outcome.killed);
  EXPECT_EQ(outcome.error_line, std::string(platform::kErrorLineBytes, 'y'));
}

TEST(ExecuteShell, NoWaitLeavesTheProgramRunningAndAnswersFalse) {
  CapturedLog log;
  ScratchFolder folder;
  std::string program = Script(folder, "viewer.exe", "sleep 0.3\necho started > \"$1\"\n");
  std::string line = program + " " + folder / "mark";
  EXPECT_EQ(fncExecuteShell(line, 0, kTrue), kFalse);
  EXPECT_THAT(log.Lines(), ElementsAre("MSG : fncExecuteShell :: " + line,
                                       "ERR : Successfully Executed, " + line));
  EXPECT_TRUE(WaitForFile(folder / "mark", 10));
}

TEST(ExecuteShell, UnquotedLineUnderAFolderWithBlanks) {
  CapturedLog log;
  ScratchFolder folder;
  ::mkdir((folder / "Kestra Agent").c_str(), 0755);
  ::mkdir((folder / "Kestra Agent/qLUX").c_str(), 0755);
  Script(folder, "Kestra Agent/qLUX/FeedPull.exe", "printf '%s|' \"$@\" > \"${0%/*}/args\"\n");
  std::string line = folder.path() + "/Kestra Agent\\qLUX\\FeedPull.exe http://x/?a=1 b";
  EXPECT_EQ(fncExecuteShell(line, 10000, kTrue), kTrue);
  EXPECT_EQ(platform::testing::ReadFile(folder / "Kestra Agent/qLUX/args"), "http://x/?a=1|b|");
}

TEST(ExecuteShell, MissingProgramIsReportedByTheGuard) {
  CapturedLog log;
  ScratchFolder folder;
  std::string line = folder / "qLUX\\FeedPull.exe http://example.com/";
  EXPECT_EQ(fncExecuteShell(line, 30000, kTrue), kFalse);
  EXPECT_THAT(log.Lines(), ElementsAre("MSG : fncExecuteShell :: " + line,
                                       "ERR : fncExecuteShell, 53:File not found"));
}

TEST(FormatMessage, CodeHyphenSystemTextOrJustTheCode) {
  CapturedLog log;
  EXPECT_EQ(fncFormatMessage(2), "2-No such file or directory");
  EXPECT_EQ(fncFormatMessage(5), "5-Permission denied");
  EXPECT_EQ(fncFormatMessage(-1), "-1");
  EXPECT_EQ(fncFormatMessage(4242), "4242");
  EXPECT_TRUE(log.Lines().empty());
}
