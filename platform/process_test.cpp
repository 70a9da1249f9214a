#include "platform/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/failure.h"
#include "platform/last_error.h"
#include "platform/testing/process_fixture.h"
#include "platform/testing/test_support.h"

namespace platform {
namespace {

using testing::ChildProgram;
using testing::PathOf;
using testing::ProcessLook;
using testing::ReadFile;
using testing::ScratchFolder;
using testing::WriteFile;

// Every wait in these tests ends after this long, so a broken build fails
// instead of hanging.
constexpr std::uint32_t kBound = 10000;

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(PathOf(child_)))
        << child_ << " is missing: the build makes it beside the tests";
  }

  StartedProgram Start(const std::string& arguments, int show_state = kShowHidden) {
    return StartProcess(child_ + " " + arguments, show_state);
  }

  // Waits (bounded) for a file that a child writes, until it has content.
  std::string AwaitFile(const std::string& path) {
    for (std::uint32_t waited = 0; waited < kBound; waited += 20) {
      std::string content = ReadFile(path);
      if (!content.empty()) return content;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return {};
  }

  // Starts the child's "spawn" and returns it; `grandchild` becomes the id
  // of the program it started (0 when it told none in time).
  StartedProgram Spawn(std::uint32_t& grandchild) {
    const std::string pid_file = Path("grandchild");
    std::filesystem::remove(PathOf(pid_file));
    StartedProgram program = Start("spawn " + pid_file);
    const std::string pid = AwaitFile(pid_file);
    grandchild = pid.empty() ? 0 : static_cast<std::uint32_t>(std::stoul(pid));
    return program;
  }

  // A path in the scratch folder, with the system's separators.
  std::string Path(const std::string& name) const {
    return testing::SystemSeparators(folder_ / name);
  }

  ScratchFolder folder_;
  std::string child_ = ChildProgram();
};

TEST_F(ProcessTest, EndedProgramIsNotEndedAgain) {
  StartedProgram program = Start("exit 7");
  ASSERT_TRUE(program.watched());
  ProcessLook look(program.id());
  ASSERT_TRUE(look.valid());
  ASSERT_TRUE(program.Wait(kBound));
  // Looking does not end the watch: it can be asked again.
  EXPECT_TRUE(program.HasEnded());
  EXPECT_TRUE(program.HasEnded());

  // Windows refuses to terminate an ended process (Wine does not: the layer
  // asks first).
  SetLastErrorCode(0);
  EXPECT_FALSE(program.EndGroup());
  EXPECT_EQ(LastErrorCode(), 5u);
  EXPECT_EQ(look.ExitCode(), 7u);
}

TEST_F(ProcessTest, RunningProgramIsEndedAndEndsOnce) {
  StartedProgram program = Start("sleep 30000");
  ASSERT_TRUE(program.watched());
  EXPECT_NE(program.id(), 0u);
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

TEST_F(ProcessTest, EndingAProgramEndsWhatItStarted) {
  std::uint32_t id = 0;
  StartedProgram program = Spawn(id);
  ProcessLook grandchild(id);
  ASSERT_TRUE(grandchild.valid());
  EXPECT_FALSE(grandchild.EndsWithin(0));

  EXPECT_FALSE(program.Wait(100));
  EXPECT_TRUE(program.EndGroup());
  EXPECT_TRUE(grandchild.EndsWithin(kBound));
}

TEST_F(ProcessTest, WhatAFinishedProgramLeftRunningEndsWithIt) {
  // The program ends by itself; the one it started would run on.
  std::uint32_t id = 0;
  StartedProgram program = Spawn(id);
  ProcessLook grandchild(id);
  ASSERT_TRUE(grandchild.valid());
  ProcessLook(program.id()).Terminate();
  ASSERT_TRUE(program.Wait(kBound));

  EXPECT_FALSE(program.EndGroup());
  EXPECT_EQ(LastErrorCode(), 5u);
  EXPECT_TRUE(grandchild.EndsWithin(kBound));
}

TEST_F(ProcessTest, LettingGoOfARunningProgramLeavesItRunning) {
  std::uint32_t pid = 0;
  { pid = Start("sleep 30000").id(); }
  ProcessLook left(pid);
  ASSERT_TRUE(left.valid());
  EXPECT_FALSE(left.EndsWithin(500));

  // Nor what an ended program left behind (a launcher's real program).
  std::uint32_t id = 0;
  {
    StartedProgram launcher = Spawn(id);
    ProcessLook(launcher.id()).Terminate();
    ASSERT_TRUE(launcher.Wait(kBound));
  }
  ProcessLook grandchild(id);
  ASSERT_TRUE(grandchild.valid());
  EXPECT_FALSE(grandchild.EndsWithin(500));
}

TEST_F(ProcessTest, ArgumentsArriveAsSplit) {
  const std::string out = Path("out");
  StartedProgram program = Start("args " + out + R"( plain "two words" a\"b c:\x\ "" "q\\")");
  ASSERT_TRUE(program.Wait(kBound));
  EXPECT_EQ(ReadFile(out), "[plain]\n[two words]\n[a\"b]\n[c:\\x\\]\n[]\n[q\\]\n");

  // A blank at the end is no argument.
  const std::string none = Path("none");
  StartedProgram blank = Start("args " + none + " ");
  ASSERT_TRUE(blank.Wait(kBound));
  EXPECT_TRUE(std::filesystem::exists(PathOf(none)));
  EXPECT_EQ(ReadFile(none), "");
}

TEST_F(ProcessTest, StartProgramRunsExactlyTheNamedFileWithWholeArguments) {
  // The program in a folder with a blank, and decoys at the shorter
  // prefixes that a split of the line would take.
  std::filesystem::create_directory(PathOf(Path("dir with")));
  const std::string program = Path("dir with/prog.exe");
  std::filesystem::copy_file(PathOf(child_), PathOf(program));
  testing::PlantDecoy(Path("dir"));
  testing::PlantDecoy(Path("dir.exe"));
  const std::string out = Path("out ü");
  StartedProgram started =
      StartProgram(CommandLine{program,
                               {"args", out, "http://x.example/a b?q=\"1\" \\", "", " lead",
                                "tail\\\\", R"(x\"y)", R"(a b\\)", "é€"}},
                   kShowHidden);
  ASSERT_TRUE(started.Wait(kBound));
  EXPECT_EQ(ReadFile(out),
            "[http://x.example/a b?q=\"1\" \\]\n[]\n[ lead]\n[tail\\\\]\n"
            "[x\\\"y]\n[a b\\\\]\n[é€]\n");
  EXPECT_EQ(ReadFile(Path("out")), "");
}

TEST_F(ProcessTest, StartFailuresCarryTheSystemsNumbers) {
  auto failure_of = [](auto start) {
    SetLastErrorCode(0);
    try {
      start();
    } catch (const Failure& failure) {
      return failure.number();
    }
    return 0L;
  };
  EXPECT_EQ(failure_of([&] { StartProcess(Path("missing arg"), kShowHidden); }),
            err::kFileNotFound);
  EXPECT_EQ(LastErrorCode(), 2u);
  EXPECT_EQ(failure_of([&] {
              StartProgram({Path("missing.exe"), {}}, kShowHidden);
            }),
            err::kFileNotFound);
  EXPECT_EQ(LastErrorCode(), 2u);
  EXPECT_EQ(failure_of([&] {
              StartProgram({Path("no folder/x.exe"), {}}, kShowHidden);
            }),
            err::kFileNotFound);
  EXPECT_EQ(LastErrorCode(), 2u);

  // A file that would be run, but is no program.
  WriteFile(Path("garbage.exe"), "just text\r\n");
  testing::MakeRunnable(Path("garbage.exe"));
  EXPECT_EQ(failure_of([&] { StartProcess(Path("garbage.exe"), kShowHidden); }),
            err::kPathFileAccess);
  EXPECT_EQ(LastErrorCode(), 193u);
}

TEST_F(ProcessTest, FirstLineOfErrorOutputIsKept) {
  StartedProgram program = StartProcess(child_ + " stderr \"\r\n  first\r\nsecond\"", kShowHidden,
                                        ErrorOutput::kKeepFirstLine);
  ASSERT_TRUE(program.Wait(kBound));
  EXPECT_EQ(program.ErrorLine(), "  first");

  // Much output does not hold the program: it is read while it is waited for.
  StartedProgram flood =
      StartProcess(child_ + " flood 2000000", kShowHidden, ErrorOutput::kKeepFirstLine);
  ASSERT_TRUE(flood.Wait(kBound));
  EXPECT_EQ(flood.ErrorLine(), "first line");

  StartedProgram quiet = StartProcess(child_ + " exit 0", kShowHidden, ErrorOutput::kKeepFirstLine);
  ASSERT_TRUE(quiet.Wait(kBound));
  EXPECT_EQ(quiet.ErrorLine(), "");
}

TEST_F(ProcessTest, InputNeverComesFromTheTerminal) {
  for (const int show : {kShowHidden, kShowNormal}) {
    const std::string out = Path("input" + std::to_string(show));
    StartedProgram program = Start("input " + out, show);
    ASSERT_TRUE(program.Wait(kBound));
    EXPECT_EQ(ReadFile(out), "end of input");
  }
}

}  // namespace
}  // namespace platform
