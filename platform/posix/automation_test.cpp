#include "platform/automation.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/desktop/posix/notifications_test_support.h"
#include "platform/failure.h"
#include "platform/posix/test_support.h"
#include "platform/testing/automation_fixture.h"

namespace platform {
namespace testing {

// A scripted server: it records every request line (and its pid) to the file
// named by its first argument, answers PUT with OK, GET with what was put,
// and a few CALLs with the misbehaviour their names say.
constexpr const char* kServerScript = R"(#!/usr/bin/python3
import os, signal, sys, time
record = open(sys.argv[1], 'ab', buffering=0)
record.write(b'PID %d\n' % os.getpid())
stubborn = len(sys.argv) > 2 and sys.argv[2] == 'stubborn'
signal.signal(signal.SIGTERM, signal.SIG_IGN)
props = {}
out = sys.stdout.buffer
while True:
    line = sys.stdin.buffer.readline()
    if not line:
        break
    record.write(line)
    words = line.rstrip(b'\n').split(b' ', 2)
    verb, key = words[0], words[1].lower()
    if verb == b'PUT':
        props[key] = words[2]
        answer = b'OK'
    elif verb == b'GET' and key in props:
        answer = b'OK ' + props[key]
    elif verb == b'CALL' and key == b'exit':
        os._exit(0)
    elif verb == b'CALL' and key == b'leave':
        child = os.fork()
        if child == 0:
            time.sleep(60)
            os._exit(0)
        record.write(b'CHILD %d\n' % child)
        os._exit(0)
    elif verb == b'CALL' and key == b'quit':
        out.write(b'OK\n')
        out.flush()
        os._exit(0)
    elif verb == b'CALL' and key == b'hang':
        child = os.fork()
        if child == 0:
            time.sleep(600)
            os._exit(0)
        record.write(b'CHILD %d\n' % child)
        time.sleep(600)
    elif verb == b'CALL' and key == b'deaf':
        out.write(b'OK\n')
        out.flush()
        time.sleep(600)
    elif verb == b'CALL' and key == b'fail':
        answer = (b'ERR 440 Popup failed:\\nsecond line '
                  b'\xc3\xa9t\xc3\xa9 \xe4\xb8\xad \xf0\x9f\x98\x80')
    elif verb == b'CALL' and key == b'garbage':
        answer = b'WHAT'
    elif verb == b'CALL' and key == b'slow':
        out.write(b'OK I4 ')
        out.flush()
        time.sleep(0.05)
        answer = b'12'
    else:
        answer = b"ERR 438 Object doesn't support this property or method"
    out.write(answer + b'\n')
    out.flush()
while stubborn:
    time.sleep(1)
)";

// The registry file that the test's ProgID is looked up in.
struct Automation::Server {
  // Makes `sections` (in the .reg form) the whole registry.
  void Register(const std::string& sections) {
    registry.reset();  // the old one's end unsets the variable that the new one sets
    registry =
        std::make_unique<ScopedRegistry>("Windows Registry Editor Version 5.00\n\n" + sections);
  }
  // Registers the script as the ProgID's server, run with `mode`.
  void RegisterScript(const std::string& prog_id, const std::string& mode) {
    Register("[HKEY_CLASSES_ROOT\\" + prog_id + "\\LocalServer32]\n@=\"" + command + mode + "\"\n");
  }
  // The script's command line without its mode: an unquoted path with a
  // space, and two spaces before the mode.
  std::string command;
  std::unique_ptr<ScopedRegistry> registry;
};

Automation::Automation() = default;
Automation::~Automation() = default;

void Automation::SetUp() {
  prog_id_ = "Test.Server";
  const std::string dir = folder_ / "server dir";
  std::filesystem::create_directories(dir);
  WriteFile(dir + "/server.py", kServerScript);
  ::chmod((dir + "/server.py").c_str(), 0755);
  server_ = std::make_unique<Server>();
  server_->command = dir + "/server.py " + record_ + "  ";
  server_->RegisterScript(prog_id_, "normal");
}

void Automation::TearDown() {}

std::unique_ptr<AutomationObject> Automation::Start() {
  return AutomationObject::Create(prog_id_);
}

void Automation::RegisterMissingProgram() {
  server_->Register("[HKEY_CLASSES_ROOT\\" + prog_id_ +
                    "\\LocalServer32]\n@=\"/nonexistent/server --flag\"\n");
}

void Automation::RegisterWithoutServer() {
  server_->Register("[HKEY_CLASSES_ROOT\\" + prog_id_ + "]\n@=\"" + prog_id_ + "\"\n");
}

std::string Automation::RecordedName(const std::string&, const std::string& named) const {
  return named;
}

namespace {

// The process id that the script recorded after `label`; 0 when none.
pid_t RecordedPid(const std::string& record, const std::string& label) {
  std::istringstream in(ReadFile(record));
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(label + " ", 0) == 0) return std::stoi(line.substr(label.size() + 1));
  }
  return 0;
}

// Whether the process recorded after `label` is gone or only a zombie (one
// that is not ours to reap) within `limit`.
::testing::AssertionResult EndedWithin(const std::string& record, const std::string& label,
                                       std::chrono::milliseconds limit) {
  const pid_t pid = RecordedPid(record, label);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (pid > 0 && std::chrono::steady_clock::now() < deadline) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string content((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = content.rfind(')');
    if (content.empty() || (close != std::string::npos && content.substr(close + 2, 1) == "Z")) {
      return ::testing::AssertionSuccess();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return ::testing::AssertionFailure() << label << " " << pid << " has not ended";
}

}  // namespace

::testing::AssertionResult Automation::ServerEndsWithin(std::chrono::milliseconds limit) {
  return EndedWithin(record_, "PID", limit);
}

::testing::AssertionResult Automation::ServerEndedAtRelease() {
  const pid_t pid = RecordedPid(record_, "PID");
  if (pid <= 0) return ::testing::AssertionFailure() << "no PID recorded";
  // Reaped: not even a zombie is left.
  if (::kill(pid, 0) == -1 && errno == ESRCH) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "process " << pid << " is still there";
}

::testing::AssertionResult Automation::ServerEndedByTheClient() {
  // The script records the processes it starts, in its group.
  if (RecordedPid(record_, "CHILD") == 0) return ServerEndsWithin(std::chrono::seconds(10));
  auto child = EndedWithin(record_, "CHILD", std::chrono::seconds(10));
  return child ? ServerEndsWithin(std::chrono::seconds(10)) : child;
}

}  // namespace testing

namespace {

using testing::FailsAsTheRpcFailed;
using testing::FailsWith;
using testing::ScopedRegistry;

// The cases of the line protocol over pipes: what a server can do to them.
class PosixAutomation : public testing::Automation {};

TEST_F(PosixAutomation, ServerThatDiesLeavingItsOutputOpenDoesNotHang) {
  auto object = Start();
  EXPECT_TRUE(FailsAsTheRpcFailed([&] { object->CallMethod("Leave"); }));
  ASSERT_GT(testing::RecordedPid(record_, "CHILD"), 0);
  object.reset();
  // Releasing the object ends what the server left behind in its group.
  EXPECT_TRUE(testing::EndedWithin(record_, "CHILD", std::chrono::seconds(5)));
}

TEST_F(PosixAutomation, MalformedAnswerGivesTheRpcFailure) {
  auto object = Start();
  EXPECT_TRUE(FailsAsTheRpcFailed([&] { object->CallMethod("Garbage"); }));
}

TEST_F(PosixAutomation, ServerThatIgnoresTheEndOfItsInputIsKilled) {
  server_->RegisterScript(prog_id_, "stubborn");
  auto object = Start();
  object->PutProperty("Icon", Variant::I4(7));
  object.reset();
  EXPECT_TRUE(ServerEndedAtRelease());
}

TEST_F(PosixAutomation, ServerThatStopsReadingCannotHoldAWritePastItsBound) {
  auto object = Start();
  EXPECT_EQ(object->CallMethod("Deaf"), Variant{});
  object->SetCallBound(500);
  EXPECT_TRUE(
      FailsWith([&] { object->PutProperty("Body", Variant::Bstr(std::string(4 << 20, 'x'))); },
                AutomationObject::kCallTimedOut,
                "This operation returned because the timeout period expired."));
  EXPECT_TRUE(ServerEndsWithin(std::chrono::seconds(10)));
}

// The popup component as the program drives it: registered by its path,
// created by ProgID, set up, shown and asked how it was closed. The
// component is the Linux build's own.
TEST(PosixAutomationPopup, PopupComponentAnswersThroughTheAutomationLayer) {
  const auto build = std::filesystem::read_symlink("/proc/self/exe").parent_path();
  const std::string component = (build / "companions" / "popup" / "flarebox-display").string();
  if (!std::filesystem::exists(component) ||
      !std::filesystem::exists(testing::FakeNotifications::Program())) {
    GTEST_SKIP() << "the popup component is not built";
  }
  testing::PrivateBus bus;
  ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
  testing::ScopedEnvironment environment("DBUS_SESSION_BUS_ADDRESS", bus.address());
  ScopedRegistry registry(
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_CLASSES_ROOT\\Flarebox.Display\\LocalServer32]\n"
      "@=\"" +
      component + "\"\n");
  for (const auto& [mode, answer] : std::vector<std::pair<std::string, std::string>>{
           {"click", "CLICK"}, {"dismiss", "EXIT"}, {"expire", "AUTOCLOSE"}}) {
    testing::FakeNotifications service(bus, mode);
    ASSERT_TRUE(service.ready());
    auto popup = AutomationObject::Create("Flarebox.Display");
    popup->PutProperty("Icon", Variant::I4(7));
    popup->PutProperty("Header", Variant::Bstr("New RSS Feed"));
    popup->PutProperty("Body", Variant::Bstr("You have 3 new RSS feeds"));
    popup->PutProperty("DisplayTimeSeconds", Variant::I4(10));
    popup->PutProperty("PopupHeight", Variant::I4(1300));
    popup->PutProperty("PopupWidth", Variant::I4(6000));
    popup->PutProperty("TransparencyLevel", Variant::I2(100));
    popup->PutProperty("ModalForm", Variant::I4(1));
    EXPECT_EQ(popup->CallMethod("Popup"), Variant{});
    EXPECT_EQ(popup->GetProperty("ClosedBy").ToText(), answer);
    EXPECT_TRUE(FailsWith([&] { popup->GetProperty("Colour"); }, 438,
                          "Object doesn't support this property or method"));
  }
}

}  // namespace
}  // namespace platform
