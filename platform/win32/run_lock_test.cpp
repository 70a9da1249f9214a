// The run lock between processes: the test program starts itself again as
// the other claimant (the helper test below, which does nothing unless the
// parent asks it to through the environment).
#include "platform/run_lock.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/failure.h"
#include "platform/filesystem.h"
#include "platform/win32/test_support.h"
#include "platform/win32/wide_text.h"

using platform::RunLock;
using platform::Widen;
using platform::testing::ReadFile;
using platform::testing::ScratchFolder;

namespace {

using Clock = std::chrono::steady_clock;

constexpr wchar_t kHoldVariable[] = L"RSSNOTIFY_TEST_HOLD_LOCK";
constexpr wchar_t kSleepVariable[] = L"RSSNOTIFY_TEST_SLEEP";

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// This test program, started again to run only the helper, with one
// variable set in its environment.
class Helper {
 public:
  Helper(const wchar_t* variable, const std::string& value, bool inherit_handles) {
    wchar_t program[MAX_PATH];
    ::GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring command = std::wstring(L"\"") + program +
                           L"\" --gtest_filter=RunLockHelper.ActsAsAskedInItsEnvironment";
    ::SetEnvironmentVariableW(variable, Widen(value).c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    const BOOL ok = ::CreateProcessW(program, command.data(), nullptr, nullptr, inherit_handles,
                                     CREATE_NO_WINDOW, nullptr, nullptr, &startup, &started);
    ::SetEnvironmentVariableW(variable, nullptr);
    EXPECT_TRUE(ok);
    if (ok) {
      ::CloseHandle(started.hThread);
      process_ = started.hProcess;
    }
  }
  // Ends the helper the hard way, as a crash would.
  void Kill() {
    if (process_ == nullptr) return;
    ::TerminateProcess(process_, 9);
    ::WaitForSingleObject(process_, INFINITE);
    ::CloseHandle(process_);
    process_ = nullptr;
  }
  ~Helper() { Kill(); }
  bool Running() const {
    return process_ != nullptr && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
  }

 private:
  HANDLE process_ = nullptr;
};

// Waits until the helper has written its answer to `file`.
std::string AnswerIn(const std::string& file) {
  for (int i = 0; i < 600; ++i) {
    const std::string answer = ReadFile(file);
    if (!answer.empty()) return answer;
    ::Sleep(50);
  }
  return "no answer";
}

}  // namespace

TEST(RunLockHelper, ActsAsAskedInItsEnvironment) {
  wchar_t value[1024];
  if (::GetEnvironmentVariableW(kSleepVariable, value, 1024) > 0) {
    ::Sleep(INFINITE);
  }
  if (::GetEnvironmentVariableW(kHoldVariable, value, 1024) == 0) {
    GTEST_SKIP() << "only run by the run-lock tests, as the other claimant";
  }
  const std::string folder = platform::Narrow(value);
  RunLock lock = RunLock::Take(folder, 10000);
  platform::testing::WriteFile(folder + "\\answer", lock.held() ? "held" : "not held");
  ::Sleep(INFINITE);
}

TEST(Win32RunLock, AnotherProcessWaitsItsBoundAndGetsTheLockWhenTheHolderIsKilled) {
  ScratchFolder data;
  Helper other(kHoldVariable, data.path(), false);
  ASSERT_EQ(AnswerIn(data / "answer"), "held");
  const Clock::time_point start = Clock::now();
  RunLock lock = RunLock::Take(data.path() + "\\", 400);
  EXPECT_FALSE(lock.held());
  const long long waited = MillisecondsSince(start);
  EXPECT_GE(waited, 400);
  EXPECT_LT(waited, 5000);
  // The lock file is a plain empty file that stays.
  EXPECT_TRUE(std::filesystem::is_regular_file(Widen(data / "rssnotify.lock")));
  EXPECT_EQ(std::filesystem::file_size(Widen(data / "rssnotify.lock")), 0u);

  other.Kill();
  const Clock::time_point again = Clock::now();
  lock = RunLock::Take(data.path(), 10000);
  EXPECT_TRUE(lock.held());
  EXPECT_LT(MillisecondsSince(again), 5000);
}

TEST(Win32RunLock, ASecondHandleInTheSameProcessIsASecondClaimant) {
  ScratchFolder data;
  RunLock first = RunLock::Take(data.path(), 0);
  ASSERT_TRUE(first.held());
  EXPECT_FALSE(RunLock::Take(data.path(), 0).held());
  RunLock moved = std::move(first);
  EXPECT_FALSE(first.held());
  EXPECT_FALSE(RunLock::Take(data.path(), 100).held());
  moved.Release();
  EXPECT_FALSE(moved.held());
  EXPECT_TRUE(RunLock::Take(data.path(), 0).held());
}

TEST(Win32RunLock, AProgramStartedWhileHoldingItDoesNotKeepIt) {
  ScratchFolder data;
  RunLock lock = RunLock::Take(data.path(), 0);
  ASSERT_TRUE(lock.held());
  // Started the way that hands a program every inheritable handle.
  Helper sleeper(kSleepVariable, "1", true);
  ASSERT_TRUE(sleeper.Running());
  lock.Release();
  EXPECT_TRUE(RunLock::Take(data.path(), 0).held());
  EXPECT_TRUE(sleeper.Running());
}

TEST(Win32RunLock, AFolderAtTheLockFileIsRefused) {
  ScratchFolder data;
  ASSERT_TRUE(::CreateDirectoryW(Widen(data / "rssnotify.lock").c_str(), nullptr));
  try {
    RunLock::Take(data.path(), 0);
    FAIL() << "a folder was taken for the lock file";
  } catch (const platform::Failure& failure) {
    EXPECT_EQ(failure.number(), 75);
    EXPECT_EQ(failure.description(),
              "Path/File access error: " + platform::Files().NativePath(data / "rssnotify.lock") +
                  " is not a file");
  }
  EXPECT_THROW(RunLock::Take(data / "missing", 0), platform::Failure);
}
