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

namespace platform {
namespace {

using testing::ReadFile;
using testing::ScopedRegistry;
using testing::ScratchFolder;
using testing::WriteFile;

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
        answer = b'ERR 5 Invalid procedure call or argument'
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

constexpr long kRpcFailed = -2147023170;

class AutomationTest : public ::testing::Test {
 protected:
  // Registers the scripted server as Test.Server with `mode` and returns the
  // object made from it.
  std::unique_ptr<AutomationObject> Start(const std::string& mode = "normal") {
    const std::string dir = folder_ / "server dir";
    std::filesystem::create_directories(dir);
    script_ = dir + "/server.py";
    WriteFile(script_, kServerScript);
    ::chmod(script_.c_str(), 0755);
    record_ = folder_ / "record.txt";
    registry_ = std::make_unique<ScopedRegistry>(
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_CLASSES_ROOT\\Test.Server\\LocalServer32]\n"
        "@=\"" +
        script_ + " " + record_ + "  " + mode + "\"\n");
    return AutomationObject::Create("Test.Server");
  }

  // The recorded request lines (without the PID line).
  std::string Requests() {
    std::istringstream in(ReadFile(record_));
    std::string result;
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("PID ", 0) != 0 && line.rfind("CHILD ", 0) != 0) result += line + "\n";
    }
    return result;
  }

  pid_t RecordedPid(const std::string& label) {
    std::istringstream in(ReadFile(record_));
    for (std::string line; std::getline(in, line);) {
      if (line.rfind(label + " ", 0) == 0) return std::stoi(line.substr(label.size() + 1));
    }
    return 0;
  }

  ScratchFolder folder_;
  std::string script_;
  std::string record_;
  std::unique_ptr<ScopedRegistry> registry_;
};

void ExpectFailure(const std::function<void()>& call, long number, const std::string& description) {
  try {
    call();
    ADD_FAILURE() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number(), number);
    EXPECT_EQ(failure.description(), description);
  }
}

// A process that is gone or only a zombie (one that is not ours to reap).
bool EndedWithin(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string content((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = content.rfind(')');
    if (content.empty() || (close != std::string::npos && content.substr(close + 2, 1) == "Z")) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

TEST_F(AutomationTest, ValuesAndTypesArriveAsSentAndComeBack) {
  auto object = Start();
  object->PutProperty("Icon", Variant::I4(7));
  object->PutProperty("Level", Variant::I2(-100));
  object->PutProperty("Modal", Variant::Bool(true));
  object->PutProperty("Header", Variant::Bstr("New RSS Feed"));
  object->PutProperty("Nothing", Variant::Bstr(""));
  object->PutProperty("Tag", Variant{});
  EXPECT_EQ(object->GetProperty("icon"), Variant::I4(7));
  EXPECT_EQ(object->GetProperty("Level"), Variant::I2(-100));
  EXPECT_EQ(object->GetProperty("Modal"), Variant::Bool(true));
  EXPECT_EQ(object->GetProperty("Header"), Variant::Bstr("New RSS Feed"));
  EXPECT_EQ(object->GetProperty("Nothing"), Variant::Bstr(""));
  EXPECT_EQ(object->GetProperty("Tag"), Variant{});
  EXPECT_EQ(object->CallMethod("Slow"), Variant::I4(12));
  object.reset();
  EXPECT_EQ(Requests(),
            "PUT Icon I4 7\n"
            "PUT Level I2 -100\n"
            "PUT Modal BOOL -1\n"
            "PUT Header BSTR New RSS Feed\n"
            "PUT Nothing BSTR \n"
            "PUT Tag EMPTY\n"
            "GET icon\n"
            "GET Level\n"
            "GET Modal\n"
            "GET Header\n"
            "GET Nothing\n"
            "GET Tag\n"
            "CALL Slow\n");
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

TEST_F(AutomationTest, ServerFailuresComeBackWithTheirNumberAndText) {
  auto object = Start();
  ExpectFailure([&] { object->CallMethod("Unknown"); }, 438,
                "Object doesn't support this property or method");
  ExpectFailure([&] { object->GetProperty("NeverSet"); }, 438,
                "Object doesn't support this property or method");
  ExpectFailure([&] { object->CallMethod("Fail"); }, 5, "Invalid procedure call or argument");
  // The object stays usable after a failure the server reported.
  object->PutProperty("Icon", Variant::I4(1));
  EXPECT_EQ(object->GetProperty("Icon"), Variant::I4(1));
}

TEST_F(AutomationTest, UnregisteredOrUnstartableServerCannotBeCreated) {
  ScopedRegistry registry(
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_CLASSES_ROOT\\Missing.Program\\LocalServer32]\n"
      "@=\"/nonexistent/server --flag\"\n"
      "[HKEY_CLASSES_ROOT\\No.Server]\n"
      "@=\"No.Server\"\n");
  for (const std::string prog_id : {"Not.Registered", "Missing.Program", "No.Server"}) {
    ExpectFailure([&] { AutomationObject::Create(prog_id); }, 429,
                  "ActiveX component can't create object");
  }
}

TEST_F(AutomationTest, ServerThatExitsMidCallGivesTheRpcFailure) {
  auto object = Start();
  object->PutProperty("Icon", Variant::I4(7));
  ExpectFailure([&] { object->CallMethod("Exit"); }, kRpcFailed,
                "The remote procedure call failed.");
  // Later calls fail the same way at once.
  ExpectFailure([&] { object->PutProperty("Icon", Variant::I4(8)); }, kRpcFailed,
                "The remote procedure call failed.");
}

TEST_F(AutomationTest, WritingToAServerThatHasEndedGivesTheRpcFailure) {
  auto object = Start();
  EXPECT_EQ(object->CallMethod("Quit"), Variant{});
  ASSERT_TRUE(EndedWithin(RecordedPid("PID"), std::chrono::seconds(5)));
  // The write meets a closed pipe; this process must not die of SIGPIPE.
  ExpectFailure([&] { object->PutProperty("Icon", Variant::I4(8)); }, kRpcFailed,
                "The remote procedure call failed.");
}

TEST_F(AutomationTest, ServerThatDiesLeavingItsOutputOpenDoesNotHang) {
  auto object = Start();
  ExpectFailure([&] { object->CallMethod("Leave"); }, kRpcFailed,
                "The remote procedure call failed.");
  const pid_t child = RecordedPid("CHILD");
  ASSERT_GT(child, 0);
  object.reset();
  // Releasing the object ends what the server left behind in its group.
  EXPECT_TRUE(EndedWithin(child, std::chrono::seconds(5)));
}

TEST_F(AutomationTest, MalformedAnswerGivesTheRpcFailure) {
  auto object = Start();
  ExpectFailure([&] { object->CallMethod("Garbage"); }, kRpcFailed,
                "The remote procedure call failed.");
}

TEST_F(AutomationTest, ReleaseReapsTheServer) {
  auto object = Start();
  object->PutProperty("Icon", Variant::I4(7));
  const pid_t pid = RecordedPid("PID");
  ASSERT_GT(pid, 0);
  object.reset();
  // Reaped: not even a zombie is left.
  EXPECT_EQ(::kill(pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
}

TEST_F(AutomationTest, ServerThatIgnoresTheEndOfItsInputIsKilled) {
  auto object = Start("stubborn");
  object->PutProperty("Icon", Variant::I4(7));
  const pid_t pid = RecordedPid("PID");
  ASSERT_GT(pid, 0);
  object.reset();
  EXPECT_EQ(::kill(pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
}

TEST_F(AutomationTest, CallPastItsBoundTimesOutAndKillsTheServerGroup) {
  auto object = Start();
  EXPECT_EQ(object->CallBound(), AutomationObject::kDefaultCallBoundMs);
  object->SetCallBound(500);
  const auto started = std::chrono::steady_clock::now();
  ExpectFailure([&] { object->CallMethod("Hang"); }, AutomationObject::kCallTimedOut,
                "This operation returned because the timeout period expired.");
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500));
  // The server and what it started in its group are gone before the object
  // is released; later calls fail at once.
  EXPECT_TRUE(EndedWithin(RecordedPid("PID"), std::chrono::seconds(10)));
  EXPECT_TRUE(EndedWithin(RecordedPid("CHILD"), std::chrono::seconds(10)));
  ExpectFailure([&] { object->GetProperty("Icon"); }, kRpcFailed,
                "The remote procedure call failed.");
}

TEST_F(AutomationTest, ServerThatStopsReadingCannotHoldAWritePastItsBound) {
  auto object = Start();
  EXPECT_EQ(object->CallMethod("Deaf"), Variant{});
  object->SetCallBound(500);
  ExpectFailure([&] { object->PutProperty("Body", Variant::Bstr(std::string(4 << 20, 'x'))); },
                AutomationObject::kCallTimedOut,
                "This operation returned because the timeout period expired.");
  EXPECT_TRUE(EndedWithin(RecordedPid("PID"), std::chrono::seconds(10)));
}

// The popup component as the program drives it: registered by its path,
// created by ProgID, set up, shown and asked how it was closed.
TEST(AutomationPopupTest, PopupComponentAnswersThroughTheAutomationLayer) {
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
    ExpectFailure([&] { popup->GetProperty("Colour"); }, 438,
                  "Object doesn't support this property or method");
  }
}

}  // namespace
}  // namespace platform
