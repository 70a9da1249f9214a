#include "platform/messagebox.h"

#include <gtest/gtest.h>

#include "platform/desktop/posix/notifications_test_support.h"
#include "platform/system.h"

namespace platform {
namespace {

using testing::CapturedStderr;
using testing::FakeNotifications;
using testing::PrivateBus;
using testing::ScopedEnvironment;

const char* const kText = "QVM Components for RSS Feed is missing. Please contact DeskAid365.";

std::string BoxRecord(const std::string& body) {
  return "{\"method\": \"Notify\", \"app_name\": \"" + ExecutableBaseName() +
         "\", \"replaces_id\": 0, \"app_icon\": \"dialog-error\", \"summary\": \"Caption\", "
         "\"body\": \"" +
         body +
         "\", \"actions\": [\"default\", \"OK\"], \"hints\": {\"urgency\": \"byte 0x02\"}, "
         "\"expire_timeout\": 0}\n";
}

class MessageBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(FakeNotifications::Program())) {
      GTEST_SKIP() << "the scripted notification service is not built";
    }
    ASSERT_FALSE(bus_.address().empty()) << "dbus-daemon did not start";
    environment_.emplace("DBUS_SESSION_BUS_ADDRESS", bus_.address());
  }

  PrivateBus bus_;
  std::optional<ScopedEnvironment> environment_;
};

TEST_F(MessageBoxTest, ShowsACriticalNotificationUntilTheUserClosesIt) {
  FakeNotifications service(bus_, "dismiss");
  ASSERT_TRUE(service.ready());
  CapturedStderr captured;
  EXPECT_EQ(ShowMessageBox(kText, "Caption", kMbOk | kMbIconStop), kIdOk);
  EXPECT_EQ(captured.Text(), "");
  EXPECT_EQ(service.Record(), BoxRecord(kText));
}

TEST_F(MessageBoxTest, AClickAnswersTheBoxAndClosesTheNotification) {
  FakeNotifications service(bus_, "click");
  ASSERT_TRUE(service.ready());
  EXPECT_EQ(ShowMessageBox("a & b <i>", "Caption", kMbIconStop), kIdOk);
  EXPECT_EQ(service.Record(),
            BoxRecord("a & b <i>") + "{\"method\": \"CloseNotification\", \"id\": 1}\n");
}

TEST_F(MessageBoxTest, BodyIsEscapedForAServiceThatReadsMarkup) {
  FakeNotifications service(bus_, "dismiss", "body,body-markup,actions");
  ASSERT_TRUE(service.ready());
  EXPECT_EQ(ShowMessageBox("a & b <i>", "Caption", kMbIconStop), kIdOk);
  EXPECT_EQ(service.Record(), BoxRecord("a &amp; b &lt;i&gt;"));
}

TEST_F(MessageBoxTest, ServiceThatLeavesMidWayStillGetsTheMessageOut) {
  FakeNotifications service(bus_, "vanish");
  ASSERT_TRUE(service.ready());
  CapturedStderr captured;
  EXPECT_EQ(ShowMessageBox(kText, "Caption", kMbIconStop), kIdOk);
  EXPECT_EQ(captured.Text(), std::string("Caption: ") + kText + "\n");
}

TEST_F(MessageBoxTest, BusWithoutNotificationServiceWritesToStandardError) {
  CapturedStderr captured;
  EXPECT_EQ(ShowMessageBox(kText, "Caption", kMbIconStop), kIdOk);
  EXPECT_EQ(captured.Text(), std::string("Caption: ") + kText + "\n");
}

TEST(MessageBoxWithoutBusTest, WritesToStandardErrorAtOnce) {
  testing::ScratchFolder folder;
  for (const std::optional<std::string>& address :
       {std::optional<std::string>(), std::optional<std::string>(""),
        std::optional<std::string>("unix:path=" + (folder / "no-bus")),
        std::optional<std::string>("nonsense")}) {
    ScopedEnvironment environment("DBUS_SESSION_BUS_ADDRESS", address);
    CapturedStderr captured;
    EXPECT_EQ(ShowMessageBox("Line one\nline two", "Caption", kMbOk), kIdOk);
    EXPECT_EQ(captured.Text(), "Caption: Line one\nline two\n") << address.value_or("(unset)");
  }
}

}  // namespace
}  // namespace platform
