#include "platform/process.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/last_error.h"
#include "platform/testing/test_support.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

using testing::ScratchFolder;

// Whole-file reads and writes by wide path: the paths of these tests hold
// characters outside the ANSI code page.
void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(std::filesystem::path(Widen(path)), std::ios::binary) << bytes;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(std::filesystem::path(Widen(path)), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every wait in these tests ends after this long, so a broken build fails
// instead of hanging.
constexpr std::uint32_t kBound = 10000;

// The child program of these tests (tests/windows/process_child.cpp), built
// beside the test program.
std::string ChildProgram() {
  wchar_t self[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, n);
  path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"process_test_child.exe";
  return Narrow(path);
}

// A process of the system by its id, to look at it apart from the layer.
class ProcessHandle {
 public:
  explicit ProcessHandle(std::uint32_t pid)
      : handle_(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE,
                              FALSE, pid)) {}
  ~ProcessHandle() {
    if (handle_ == nullptr) return;
    ::TerminateProcess(handle_, 1);
    ::CloseHandle(handle_);
  }
  bool valid() const { return handle_ != nullptr; }
  // True when the process ends within `milliseconds`.
  bool EndsWithin(DWORD milliseconds) const {
    return ::WaitForSingleObject(handle_, milliseconds) == WAIT_OBJECT_0;
  }
  void Terminate(UINT code) const { ::TerminateProcess(handle_, code); }
  DWORD ExitCode() const {
    DWORD code = 0;
    ::GetExitCodeProcess(handle_, &code);
    return code;
  }

 private:
  HANDLE handle_;
};

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(::GetFileAttributesW(Widen(child_).c_str()), INVALID_FILE_ATTRIBUTES)
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
      ::Sleep(20);
    }
    return {};
  }

  // A path in the scratch folder, with Windows separators.
  std::string Path(const std::string& name) const { return folder_.path() + "\\" + name; }

  ScratchFolder folder_;
  std::string child_ = ChildProgram();
};

TEST_F(ProcessTest, EndedProgramIsNotEndedAgain) {
  StartedProgram program = Start("exit 7");
  ASSERT_TRUE(program.watched());
  ProcessHandle look(program.id());
  ASSERT_TRUE(look.valid());
  ASSERT_TRUE(program.Wait(kBound));
  EXPECT_TRUE(program.HasEnded());
  EXPECT_TRUE(program.HasEnded());

  // The real system refuses to terminate an ended process (Wine does not:
  // the layer asks first).
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
  EXPECT_TRUE(program.HasEnded());
  SetLastErrorCode(0);
  EXPECT_FALSE(program.EndGroup());
  EXPECT_EQ(LastErrorCode(), 5u);
}

TEST_F(ProcessTest, EndingAProgramEndsWhatItStarted) {
  const std::string pid_file = Path("grandchild");
  StartedProgram program = Start("spawn " + pid_file);
  const std::string pid = AwaitFile(pid_file);
  ASSERT_FALSE(pid.empty());
  ProcessHandle grandchild(static_cast<std::uint32_t>(std::stoul(pid)));
  ASSERT_TRUE(grandchild.valid());
  EXPECT_FALSE(grandchild.EndsWithin(0));

  EXPECT_FALSE(program.Wait(100));
  EXPECT_TRUE(program.EndGroup());
  EXPECT_TRUE(grandchild.EndsWithin(kBound));
}

TEST_F(ProcessTest, WhatAFinishedProgramLeftRunningEndsWithIt) {
  // The program ends by itself; the one it started would run on.
  const std::string pid_file = Path("grandchild");
  StartedProgram program = Start("spawn " + pid_file);
  const std::string pid = AwaitFile(pid_file);
  ASSERT_FALSE(pid.empty());
  ProcessHandle grandchild(static_cast<std::uint32_t>(std::stoul(pid)));
  ASSERT_TRUE(grandchild.valid());
  ProcessHandle(program.id()).Terminate(3);
  ASSERT_TRUE(program.Wait(kBound));

  EXPECT_FALSE(program.EndGroup());
  EXPECT_EQ(LastErrorCode(), 5u);
  EXPECT_TRUE(grandchild.EndsWithin(kBound));
}

TEST_F(ProcessTest, LettingGoOfARunningProgramLeavesItRunning) {
  std::uint32_t pid = 0;
  { pid = Start("sleep 30000").id(); }
  ProcessHandle left(pid);
  ASSERT_TRUE(left.valid());
  EXPECT_FALSE(left.EndsWithin(500));

  // Nor what an ended program left behind (a launcher's real program).
  const std::string pid_file = Path("grandchild");
  std::string grandchild_pid;
  {
    StartedProgram launcher = Start("spawn " + pid_file);
    grandchild_pid = AwaitFile(pid_file);
    ProcessHandle(launcher.id()).Terminate(0);
    ASSERT_TRUE(launcher.Wait(kBound));
  }
  ASSERT_FALSE(grandchild_pid.empty());
  ProcessHandle grandchild(static_cast<std::uint32_t>(std::stoul(grandchild_pid)));
  ASSERT_TRUE(grandchild.valid());
  EXPECT_FALSE(grandchild.EndsWithin(500));
}

TEST_F(ProcessTest, ArgumentsArriveAsSplit) {
  const std::string out = Path("out");
  StartedProgram program = Start("args " + out + R"( plain "two words" a\"b c:\x\ "" "q\\")");
  ASSERT_TRUE(program.Wait(kBound));
  EXPECT_EQ(ReadFile(out), "[plain]\n[two words]\n[a\"b]\n[c:\\x\\]\n[]\n[q\\]\n");
}

TEST_F(ProcessTest, StartProgramRunsExactlyTheNamedFileWithWholeArguments) {
  // The program in a folder with a blank, and a file at the shorter prefix
  // that a split of the line would take.
  ASSERT_TRUE(::CreateDirectoryW(Widen(Path("dir with")).c_str(), nullptr));
  const std::string program = Path("dir with\\prog.exe");
  ASSERT_TRUE(::CopyFileW(Widen(child_).c_str(), Widen(program).c_str(), FALSE));
  WriteFile(Path("dir.exe"), "not a program\r\n");
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
              StartProgram({Path("no folder\\x.exe"), {}}, kShowHidden);
            }),
            err::kFileNotFound);
  EXPECT_EQ(LastErrorCode(), 2u);

  // A file that is no program.
  WriteFile(Path("garbage.exe"), "just text\r\n");
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
