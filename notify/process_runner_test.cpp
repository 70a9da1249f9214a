#include "notify/process_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "app/log_capture_test_support.h"
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
  // The child is gone (or a zombie waiting for its new parent to reap it).
  const std::string status =
      platform::testing::ReadFile("/proc/" + child.substr(0, child.size() - 1) + "/stat");
  EXPECT_TRUE(status.empty() || status.find(") Z ") != std::string::npos) << status;
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
