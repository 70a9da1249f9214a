// The run lock's other claimants on Windows: this test program started
// again to run only the helper case below, which does nothing unless its
// starter asks it to through the environment.
#include "platform/run_lock.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/testing/run_lock_fixture.h"
#include "platform/win32/test_support.h"
#include "platform/win32/wide_text.h"

using platform::RunLock;
using platform::Widen;
using platform::testing::ReadFile;

namespace {

constexpr wchar_t kHoldVariable[] = L"RSSNOTIFY_TEST_HOLD_LOCK";
constexpr wchar_t kSleepVariable[] = L"RSSNOTIFY_TEST_SLEEP";

// Starts this test program, with one variable set in its environment.
HANDLE StartHelper(const wchar_t* variable, const std::string& value, bool inherit_handles) {
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
  if (!ok) return nullptr;
  ::CloseHandle(started.hThread);
  return started.hProcess;
}

// Ends the helper the hard way, as a crash would.
void KillHelper(HANDLE& process) {
  if (process == nullptr) return;
  ::TerminateProcess(process, 9);
  ::WaitForSingleObject(process, INFINITE);
  ::CloseHandle(process);
  process = nullptr;
}

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

namespace platform::testing {

struct OtherHolder::Process {
  HANDLE handle = nullptr;
};

OtherHolder::OtherHolder(const std::string& folder) : process_(std::make_unique<Process>()) {
  process_->handle = StartHelper(kHoldVariable, folder, false);
  EXPECT_EQ(AnswerIn(folder + "\\answer"), "held");
}

void OtherHolder::Kill() {
  KillHelper(process_->handle);
}

OtherHolder::~OtherHolder() {
  Kill();
}

// Started the way that hands a program every inheritable handle.
struct Sleeper::Process {
  HANDLE handle = nullptr;
};

Sleeper::Sleeper(const std::string&) : process_(std::make_unique<Process>()) {
  process_->handle = StartHelper(kSleepVariable, "1", true);
}

Sleeper::~Sleeper() {
  KillHelper(process_->handle);
}

bool Sleeper::Running() {
  return process_->handle != nullptr && ::WaitForSingleObject(process_->handle, 0) == WAIT_TIMEOUT;
}

}  // namespace platform::testing

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
