#include "platform/automation.h"

#include <gtest/gtest.h>

#include <chrono>

#include "platform/testing/automation_fixture.h"

namespace platform {
namespace {

using testing::Automation;
using testing::FailsAsTheRpcFailed;
using testing::FailsWith;

constexpr const char* kTimedOut = "This operation returned because the timeout period expired.";

TEST_F(Automation, ValuesAndTypesArriveAsSentAndComeBack) {
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
  EXPECT_EQ(object->CallMethod("Slow"), Variant::I4(12));
  object.reset();
  // The get of "icon" was of the member first put as "Icon".
  const std::string get_icon = "GET " + RecordedName("Icon", "icon") + "\n";
  EXPECT_EQ(Requests(),
            "PUT Icon I4 7\n"
            "PUT Level I2 -100\n"
            "PUT Modal BOOL -1\n"
            "PUT Off BOOL 0\n"
            "PUT Header BSTR New RSS Feed\n"
            "PUT Nothing BSTR \n"
            "PUT Tag EMPTY\n" +
                get_icon +
                "GET Level\n"
                "GET Modal\n"
                "GET Off\n"
                "GET Header\n"
                "GET Nothing\n"
                "GET Tag\n"
                "CALL Slow\n");
}

TEST_F(Automation, AnyTextCrossesIntactBothWays) {
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

TEST_F(Automation, FailuresComeBackWithTheirNumberAndText) {
  auto object = Start();
  EXPECT_TRUE(FailsWith([&] { object->CallMethod("UnknownMember"); }, 438,
                        "Object doesn't support this property or method"));
  EXPECT_TRUE(FailsWith([&] { object->GetProperty("NeverSet"); }, 438,
                        "Object doesn't support this property or method"));
  EXPECT_TRUE(
      FailsWith([&] { object->CallMethod("Fail"); }, 440,
                "Popup failed:\nsecond line \xc3\xa9t\xc3\xa9 \xe4\xb8\xad \xf0\x9f\x98\x80"));
  // The object stays usable after a failure the server reported.
  object->PutProperty("Icon", Variant::I4(1));
  EXPECT_EQ(object->GetProperty("Icon"), Variant::I4(1));
}

TEST_F(Automation, UnregisteredOrUnstartableServerCannotBeCreated) {
  EXPECT_TRUE(FailsWith([&] { AutomationObject::Create("RssNotifyTest.NotRegistered"); }, 429,
                        "ActiveX component can't create object"));
  RegisterMissingProgram();
  EXPECT_TRUE(FailsWith([&] { Start(); }, 429, "ActiveX component can't create object"));
  RegisterWithoutServer();
  EXPECT_TRUE(FailsWith([&] { Start(); }, 429, "ActiveX component can't create object"));
}

TEST_F(Automation, ServerThatExitsMidCallGivesTheRpcFailure) {
  auto object = Start();
  object->PutProperty("Icon", Variant::I4(7));
  EXPECT_TRUE(FailsAsTheRpcFailed([&] { object->CallMethod("Exit"); }));
  // Later calls fail the same way at once (on Windows, not as COM reports
  // them then).
  EXPECT_TRUE(FailsAsTheRpcFailed([&] { object->PutProperty("Icon", Variant::I4(8)); }));
  EXPECT_TRUE(FailsAsTheRpcFailed([&] { object->GetProperty("Icon"); }));
}

TEST_F(Automation, CallingAServerThatHasEndedGivesTheRpcFailure) {
  auto object = Start();
  EXPECT_EQ(object->CallMethod("Quit"), Variant{});
  ASSERT_TRUE(ServerEndsWithin(std::chrono::seconds(10)));
  // The request meets a closed connection, which must not end this process
  // (on Linux, a write to a closed pipe raises SIGPIPE).
  EXPECT_TRUE(FailsAsTheRpcFailed([&] { object->PutProperty("Icon", Variant::I4(8)); }));
}

TEST_F(Automation, ReleaseEndsTheServer) {
  auto object = Start();
  EXPECT_EQ(object->Uncontained(), "");
  object->PutProperty("Icon", Variant::I4(7));
  object.reset();
  EXPECT_TRUE(ServerEndedAtRelease());
}

TEST_F(Automation, CallPastItsBoundTimesOutAndEndsTheServer) {
  auto object = Start();
  EXPECT_EQ(object->CallBound(), AutomationObject::kDefaultCallBoundMs);
  object->SetCallBound(500);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(
      FailsWith([&] { object->CallMethod("Hang"); }, AutomationObject::kCallTimedOut, kTimedOut));
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500));
  // The server, and what it started, are ended before the object is
  // released; later calls fail at once.
  EXPECT_TRUE(ServerEndedByTheClient());
  EXPECT_TRUE(FailsAsTheRpcFailed([&] { object->GetProperty("Icon"); }));
}

}  // namespace
}  // namespace platform
