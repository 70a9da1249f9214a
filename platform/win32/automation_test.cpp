#include "platform/automation.h"

#include <gtest/gtest.h>
// clang-format off
#include <windows.h>
#include <objbase.h>
// clang-format on

#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <utility>

#include "platform/failure.h"
#include "platform/win32/test_support.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

using testing::ReadFile;
using testing::ScratchFolder;

constexpr long kRpcFailed = -2147023170;

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

// The server registered under the user's classes with a ProgID and CLSID of
// its own (as /RegServer does it), removed again at the end.
class AutomationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GUID guid;
    ASSERT_EQ(::CoCreateGuid(&guid), S_OK);
    wchar_t text[64];
    ASSERT_GT(::StringFromGUID2(guid, text, 64), 0);
    clsid_ = text;
    static int counter = 0;
    prog_id_ = L"RssNotifyTest.S" + std::to_wstring(::GetCurrentProcessId()) + L"x" +
               std::to_wstring(++counter);
    record_ = folder_ / "record.txt";
    ASSERT_EQ(RunServerProgram(L"/RegServer " + prog_id_ + L" " + clsid_ + L" \"" + Widen(record_) +
                               L"\""),
              0u);
  }
  void TearDown() override {
    EXPECT_EQ(RunServerProgram(L"/UnregServer " + prog_id_ + L" " + clsid_), 0u);
  }

  std::unique_ptr<AutomationObject> Start() { return AutomationObject::Create(Narrow(prog_id_)); }

  // The recorded request lines (without the PID line).
  std::string Requests() {
    std::istringstream in(ReadFile(record_));
    std::string result;
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("PID ", 0) != 0) result += line + "\n";
    }
    return result;
  }

  // Registers `line` as the server's command line, where the registration
  // is: the user's classes, and under Wine the classes root too.
  void SetServerLine(const std::wstring& line) {
    const std::wstring key = L"CLSID\\" + clsid_ + L"\\LocalServer32";
    for (const auto& [root, name] : {std::pair{HKEY_CURRENT_USER, L"Software\\Classes\\" + key},
                                     std::pair{HKEY_CLASSES_ROOT, key}}) {
      HKEY opened = nullptr;
      if (::RegOpenKeyExW(root, name.c_str(), 0, KEY_SET_VALUE, &opened) != ERROR_SUCCESS) continue;
      EXPECT_EQ(
          ::RegSetValueExW(opened, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(line.c_str()),
                           static_cast<DWORD>((line.size() + 1) * sizeof(wchar_t))),
          ERROR_SUCCESS);
      ::RegCloseKey(opened);
    }
  }

  DWORD RecordedPid() {
    std::istringstream in(ReadFile(record_));
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("PID ", 0) == 0) return static_cast<DWORD>(std::stoul(line.substr(4)));
    }
    return 0;
  }

  ScratchFolder folder_;
  std::wstring clsid_;
  std::wstring prog_id_;
  std::string record_;
};

void ExpectFailureAt(int line, const std::function<void()>& call, long number,
                     const std::string& description) {
  SCOPED_TRACE(line);
  try {
    call();
    ADD_FAILURE() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number(), number);
    EXPECT_EQ(failure.description(), description);
  }
}

#define ExpectFailure(...) ExpectFailureAt(__LINE__, __VA_ARGS__)

// True when the process has ended within `limit` (or was gone already).
bool EndedWithin(DWORD pid, DWORD limit_ms) {
  HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (process == nullptr) return true;
  const bool ended = ::WaitForSingleObject(process, limit_ms) == WAIT_OBJECT_0;
  ::CloseHandle(process);
  return ended;
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

TEST_F(AutomationTest, ValuesAndTypesArriveAsSentAndComeBack) {
  auto object = Start();
  object->PutProperty("Icon", Variant::I4(7));
  object->PutProperty("Level", Variant::I2(-100));
  object->PutProperty("Modal", Variant::Bool(true));
  object->PutProperty("Off", Variant::Bool(false));
  object->PutProperty("Header", Variant::Bstr("New RSS Feed"));
  object->PutProperty("Nothing", Variant::Bstr(""));
  object->PutProperty("Tag", Variant{});
  EXPECT_EQ(object->GetProperty("icon"), Variant::I4(7));
  EXPECT_EQ(object->GetProperty("Level"), Variant::I2(-100));
  EXPECT_EQ(object->GetProperty("Modal"), Variant::Bool(true));
  EXPECT_EQ(object->GetProperty("Off"), Variant::Bool(false));
  EXPECT_EQ(object->GetProperty("Header"), Variant::Bstr("New RSS Feed"));
  EXPECT_EQ(object->GetProperty("Nothing"), Variant::Bstr(""));
  EXPECT_EQ(object->GetProperty("Tag"), Variant{});
  // Numbers of other types come as I4, changed as the run-time changes them.
  EXPECT_EQ(object->CallMethod("Byte"), Variant::I4(200));
  EXPECT_EQ(object->CallMethod("Double"), Variant::I4(2));
  EXPECT_EQ(object->CallMethod("Other"), Variant{});
  object.reset();
  // Invoke knows the member by its DISPID only: the server records the name
  // as it first came.
  EXPECT_EQ(Requests(),
            "PUT Icon I4 7\n"
            "PUT Level I2 -100\n"
            "PUT Modal BOOL -1\n"
            "PUT Off BOOL 0\n"
            "PUT Header BSTR New RSS Feed\n"
            "PUT Nothing BSTR \n"
            "PUT Tag EMPTY\n"
            "GET Icon\n"
            "GET Level\n"
            "GET Modal\n"
            "GET Off\n"
            "GET Header\n"
            "GET Nothing\n"
            "GET Tag\n"
            "CALL Byte\n"
            "CALL Double\n"
            "CALL Other\n");
}

TEST_F(AutomationTest, AnyTextCrossesIntactBothWays) {
  auto object = Start();
  const std::string body =
      "line one\nline two\r\n\ttabbed \\ back\\slash \\n literal "
      "\xc3\xa9 \xe4\xb8\xad \xf0\x9f\x98\x80 end ";
  object->PutProperty("Body", Variant::Bstr(body));
  EXPECT_EQ(object->GetProperty("Body"), Variant::Bstr(body));
  object.reset();
  EXPECT_EQ(Requests(),
            "PUT Body BSTR line one\\nline two\\r\\n\\ttabbed \\\\ back\\\\slash \\\\n literal "
            "\xc3\xa9 \xe4\xb8\xad \xf0\x9f\x98\x80 end \n"
            "GET Body\n");
}

TEST_F(AutomationTest, FailuresComeBackWithTheirNumberAndText) {
  auto object = Start();
  ExpectFailure([&] { object->CallMethod("UnknownMember"); }, 438,
                "Object doesn't support this property or method");
  ExpectFailure([&] { object->GetProperty("NeverSet"); }, 438,
                "Object doesn't support this property or method");
  ExpectFailure([&] { object->CallMethod("Fail"); }, 440,
                "Popup failed:\nsecond line \xc3\xa9t\xc3\xa9 \xe4\xb8\xad \xf0\x9f\x98\x80");
  // The server's own conversions, and the client's of the server's values.
  ExpectFailure([&] { object->PutProperty("Count", Variant::Bstr("many")); }, 13, "Type mismatch");
  ExpectFailure([&] { object->PutProperty("Count", Variant::Bstr("99999999999")); }, 6, "Overflow");
  ExpectFailure([&] { object->CallMethod("Big"); }, 6, "Overflow");
  ExpectFailure([&] { object->CallMethod("Null"); }, 13, "Type mismatch");
  // The object stays usable after a failure the server reported.
  object->PutProperty("Count", Variant::Bstr("12"));
  EXPECT_EQ(object->GetProperty("Count"), Variant::I4(12));
}

TEST_F(AutomationTest, UnregisteredOrUnstartableServerCannotBeCreated) {
  // Registered, but its program is missing.
  SetServerLine(L"\"C:\\nonexistent\\server.exe\" -x");
  for (const std::string& prog_id :
       {std::string("RssNotifyTest.NotRegistered"), Narrow(prog_id_)}) {
    ExpectFailure([&] { AutomationObject::Create(prog_id); }, 429,
                  "ActiveX component can't create object");
  }
}

TEST_F(AutomationTest, ServerThatExitsMidCallGivesTheRpcFailure) {
  auto object = Start();
  object->PutProperty("Icon", Variant::I4(7));
  ExpectFailure([&] { object->CallMethod("Exit"); }, kRpcFailed,
                "The remote procedure call failed.");
  // Later calls fail the same way, not as COM reports them then.
  ExpectFailure([&] { object->PutProperty("Icon", Variant::I4(8)); }, kRpcFailed,
                "The remote procedure call failed.");
  ExpectFailure([&] { object->GetProperty("Icon"); }, kRpcFailed,
                "The remote procedure call failed.");
}

TEST_F(AutomationTest, CallingAServerThatHasEndedGivesTheRpcFailure) {
  auto object = Start();
  EXPECT_EQ(object->CallMethod("Quit"), Variant{});
  ASSERT_TRUE(EndedWithin(RecordedPid(), 10000));
  ExpectFailure([&] { object->PutProperty("Icon", Variant::I4(8)); }, kRpcFailed,
                "The remote procedure call failed.");
}

TEST_F(AutomationTest, ReleaseEndsTheServer) {
  auto object = Start();
  EXPECT_EQ(object->Uncontained(), "");
  object->PutProperty("Icon", Variant::I4(7));
  ServerProcess server(RecordedPid());
  object.reset();
  // It ended by itself, not at the end of the grace time.
  EXPECT_EQ(server.ExitCodeWithin(10000), 0);
}

TEST_F(AutomationTest, CallPastItsBoundTimesOutAndEndsTheServer) {
  auto object = Start();
  ServerProcess server(RecordedPid());
  EXPECT_EQ(object->CallBound(), AutomationObject::kDefaultCallBoundMs);
  object->SetCallBound(500);
  const auto started = std::chrono::steady_clock::now();
  ExpectFailure([&] { object->CallMethod("Hang"); }, AutomationObject::kCallTimedOut,
                "This operation returned because the timeout period expired.");
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500));
  // The server is ended before the object is released; later calls fail at
  // once.
  EXPECT_EQ(server.ExitCodeWithin(10000), 1);
  ExpectFailure([&] { object->GetProperty("Icon"); }, kRpcFailed,
                "The remote procedure call failed.");
}

TEST_F(AutomationTest, AServerRegisteredUnderAShortPathIsFoundAndEndedAtTheBound) {
  // Older installers register 8.3 paths; the process list has the long name.
  wchar_t short_path[MAX_PATH];
  const DWORD length = ::GetShortPathNameW(ServerProgram().c_str(), short_path, MAX_PATH);
  ASSERT_GT(length, 0u);
  const std::wstring program(short_path, length);
  if (program == ServerProgram()) GTEST_SKIP() << "the file system has no short names";
  SetServerLine(L"\"" + program + L"\" " + prog_id_ + L" " + clsid_ + L" \"" + Widen(record_) +
                L"\"");
  auto object = Start();
  EXPECT_EQ(object->Uncontained(), "");
  ServerProcess server(RecordedPid());
  object->SetCallBound(500);
  ExpectFailure([&] { object->CallMethod("Hang"); }, AutomationObject::kCallTimedOut,
                "This operation returned because the timeout period expired.");
  EXPECT_EQ(server.ExitCodeWithin(10000), 1);
}

}  // namespace
}  // namespace platform
