#include "platform/automation.h"

#include <gtest/gtest.h>
// clang-format off
#include <windows.h>
#include <objbase.h>
// clang-format on

#include <chrono>
#include <filesystem>
#include <sstream>
#include <utility>

#include "platform/testing/automation_fixture.h"
#include "platform/win32/test_support.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace testing {
namespace {

// The scripted server (tests/windows/com_test_server.cpp), beside this test.
std::wstring ServerProgram() {
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  return (std::filesystem::path(self).parent_path() / L"com-test-server.exe").wstring();
}

// Runs the server program with `arguments` and gives its exit code.
DWORD RunServerProgram(const std::wstring& arguments) {
  std::wstring line = L"\"" + ServerProgram() + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    return 9999;
  }
  ::WaitForSingleObject(process.hProcess, 60000);
  DWORD code = 9998;
  ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return code;
}

DWORD RecordedPid(const std::string& record) {
  std::istringstream in(ReadFile(record));
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("PID ", 0) == 0) return static_cast<DWORD>(std::stoul(line.substr(4)));
  }
  return 0;
}

// Opened while the server runs, so that its exit code can be read after.
// The server exits with 0 when it ends by itself (its last object
// released) and the client's ending of it gives 1. One that the client left
// running is ended at the end of the test.
class ServerProcess {
 public:
  explicit ServerProcess(DWORD pid)
      : handle_(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE,
                              FALSE, pid)) {}
  ~ServerProcess() {
    if (handle_ == nullptr) return;
    ::TerminateProcess(handle_, 99);
    ::CloseHandle(handle_);
  }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;
  // The exit code once it has ended within `limit_ms`; -1 when it has not.
  long ExitCodeWithin(DWORD limit_ms) {
    if (handle_ == nullptr || ::WaitForSingleObject(handle_, limit_ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    ::GetExitCodeProcess(handle_, &code);
    return static_cast<long>(code);
  }

 private:
  HANDLE handle_;
};

::testing::AssertionResult ExitedWith(ServerProcess* server, long expected) {
  if (server == nullptr) return ::testing::AssertionFailure() << "no server was started";
  const long code = server->ExitCodeWithin(10000);
  if (code == expected) return ::testing::AssertionSuccess();
  if (code == -1) return ::testing::AssertionFailure() << "the server still runs after 10 s";
  return ::testing::AssertionFailure() << "the server exited with " << code;
}

}  // namespace

// The server registered under the user's classes with a ProgID and CLSID of
// its own (as /RegServer does it), removed again at the end.
struct Automation::Server {
  // Registers `line` as the server's command line, where the registration
  // is: the user's classes, and under Wine the classes root too. An empty
  // line removes the command line's key.
  void SetServerLine(const std::wstring& line) {
    const std::wstring key = L"CLSID\\" + clsid + L"\\LocalServer32";
    for (const auto& [root, name] : {std::pair{HKEY_CURRENT_USER, L"Software\\Classes\\" + key},
                                     std::pair{HKEY_CLASSES_ROOT, key}}) {
      if (line.empty()) {
        ::RegDeleteKeyW(root, name.c_str());
        continue;
      }
      HKEY opened = nullptr;
      if (::RegOpenKeyExW(root, name.c_str(), 0, KEY_SET_VALUE, &opened) != ERROR_SUCCESS) continue;
      EXPECT_EQ(
          ::RegSetValueExW(opened, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(line.c_str()),
                           static_cast<DWORD>((line.size() + 1) * sizeof(wchar_t))),
          ERROR_SUCCESS);
      ::RegCloseKey(opened);
    }
  }
  std::wstring clsid;
  std::unique_ptr<ServerProcess> process;  // of the last object started
};

Automation::Automation() = default;
Automation::~Automation() = default;

void Automation::SetUp() {
  server_ = std::make_unique<Server>();
  GUID guid;
  ASSERT_EQ(::CoCreateGuid(&guid), S_OK);
  wchar_t text[64];
  ASSERT_GT(::StringFromGUID2(guid, text, 64), 0);
  server_->clsid = text;
  static int counter = 0;
  prog_id_ =
      "RssNotifyTest.S" + std::to_string(::GetCurrentProcessId()) + "x" + std::to_string(++counter);
  ASSERT_EQ(RunServerProgram(L"/RegServer " + Widen(prog_id_) + L" " + server_->clsid + L" \"" +
                             Widen(record_) + L"\""),
            0u);
}

void Automation::TearDown() {
  EXPECT_EQ(RunServerProgram(L"/UnregServer " + Widen(prog_id_) + L" " + server_->clsid), 0u);
}

std::unique_ptr<AutomationObject> Automation::Start() {
  auto object = AutomationObject::Create(prog_id_);
  server_->process = std::make_unique<ServerProcess>(RecordedPid(record_));
  return object;
}

void Automation::RegisterMissingProgram() {
  server_->SetServerLine(L"\"C:\\nonexistent\\server.exe\" -x");
}

void Automation::RegisterWithoutServer() {
  server_->SetServerLine(L"");
}

std::string Automation::RecordedName(const std::string& first, const std::string&) const {
  return first;
}

::testing::AssertionResult Automation::ServerEndsWithin(std::chrono::milliseconds limit) {
  if (server_->process == nullptr) return ::testing::AssertionFailure() << "no server was started";
  if (server_->process->ExitCodeWithin(static_cast<DWORD>(limit.count())) != -1) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "the server still runs";
}

// It ended by itself, not at the end of the grace time.
::testing::AssertionResult Automation::ServerEndedAtRelease() {
  return ExitedWith(server_->process.get(), 0);
}

::testing::AssertionResult Automation::ServerEndedByTheClient() {
  return ExitedWith(server_->process.get(), 1);
}

}  // namespace testing

namespace {

using testing::FailsWith;

// COM's own cases: values of types that the line protocol does not have, and
// the registration of the server's program.
class Win32Automation : public testing::Automation {};

TEST_F(Win32Automation, ValuesOfOtherTypesAreChangedAsTheRunTimeChangesThem) {
  auto object = Start();
  // Numbers of other types come as I4, changed as the run-time changes them.
  EXPECT_EQ(object->CallMethod("Byte"), Variant::I4(200));
  EXPECT_EQ(object->CallMethod("Double"), Variant::I4(2));
  EXPECT_EQ(object->CallMethod("Other"), Variant{});
  // The server's own conversions, and the client's of the server's values.
  EXPECT_TRUE(
      FailsWith([&] { object->PutProperty("Count", Variant::Bstr("many")); }, 13, "Type mismatch"));
  EXPECT_TRUE(FailsWith([&] { object->PutProperty("Count", Variant::Bstr("99999999999")); }, 6,
                        "Overflow"));
  EXPECT_TRUE(FailsWith([&] { object->CallMethod("Big"); }, 6, "Overflow"));
  EXPECT_TRUE(FailsWith([&] { object->CallMethod("Null"); }, 13, "Type mismatch"));
  // The object stays usable after a failure the server reported.
  object->PutProperty("Count", Variant::Bstr("12"));
  EXPECT_EQ(object->GetProperty("Count"), Variant::I4(12));
  object.reset();
  EXPECT_EQ(Requests(),
            "CALL Byte\n"
            "CALL Double\n"
            "CALL Other\n"
            "PUT Count BSTR many\n"
            "PUT Count BSTR 99999999999\n"
            "CALL Big\n"
            "CALL Null\n"
            "PUT Count BSTR 12\n"
            "GET Count\n");
}

TEST_F(Win32Automation, AServerRegisteredUnderAShortPathIsFoundAndEndedAtTheBound) {
  // Older installers register 8.3 paths; the process list has the long name.
  wchar_t short_path[MAX_PATH];
  const DWORD length = ::GetShortPathNameW(testing::ServerProgram().c_str(), short_path, MAX_PATH);
  ASSERT_GT(length, 0u);
  const std::wstring program(short_path, length);
  if (program == testing::ServerProgram()) GTEST_SKIP() << "the file system has no short names";
  server_->SetServerLine(L"\"" + program + L"\" " + Widen(prog_id_) + L" " + server_->clsid +
                         L" \"" + Widen(record_) + L"\"");
  auto object = Start();
  EXPECT_EQ(object->Uncontained(), "");
  object->SetCallBound(500);
  EXPECT_TRUE(FailsWith([&] { object->CallMethod("Hang"); }, AutomationObject::kCallTimedOut,
                        "This operation returned because the timeout period expired."));
  EXPECT_TRUE(ServerEndedByTheClient());
}

}  // namespace
}  // namespace platform
