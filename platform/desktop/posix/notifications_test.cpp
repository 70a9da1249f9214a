#include "platform/desktop/notifications.h"

#include <gtest/gtest.h>

#include "platform/desktop/posix/notifications_test_support.h"
#include "platform/failure.h"

namespace platform::notifications {
namespace {

using testing::FakeNotifications;
using testing::PrivateBus;
using testing::ScopedEnvironment;
using Kind = Event::Kind;

class NotificationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(FakeNotifications::Program())) {
      GTEST_SKIP() << "the scripted notification service is not built";
    }
    ASSERT_FALSE(bus_.address().empty()) << "dbus-daemon did not start";
    environment_.emplace("DBUS_SESSION_BUS_ADDRESS", bus_.address());
  }

  static Notification Plain() {
    Notification notification;
    notification.app_name = "tests";
    notification.summary = "Summary";
    notification.body = "Body";
    return notification;
  }

  PrivateBus bus_;
  std::optional<ScopedEnvironment> environment_;
};

TEST_F(NotificationsTest, EachNotificationGetsItsOwnOutcome) {
  FakeNotifications service(bus_, "expire,dismiss,click");
  ASSERT_TRUE(service.ready());
  auto session = Session::Open();
  const std::uint32_t first = session->Notify(Plain());
  const std::uint32_t second = session->Notify(Plain());
  const std::uint32_t third = session->Notify(Plain());
  // Waited for out of order: what arrived for the others is not mixed in.
  const Event closed = session->Wait(second, std::chrono::seconds(10));
  EXPECT_EQ(closed.kind, Kind::kClosed);
  EXPECT_EQ(closed.reason, kReasonDismissed);
  const Event clicked = session->Wait(third, std::chrono::seconds(10));
  EXPECT_EQ(clicked.kind, Kind::kActionInvoked);
  EXPECT_EQ(clicked.action_key, "default");
  const Event expired = session->Wait(first, std::chrono::seconds(10));
  EXPECT_EQ(expired.kind, Kind::kClosed);
  EXPECT_EQ(expired.reason, kReasonExpired);
}

TEST_F(NotificationsTest, ActionsAndClosingArriveInOrder) {
  FakeNotifications service(bus_, "noise");
  ASSERT_TRUE(service.ready());
  auto session = Session::Open();
  const std::uint32_t id = session->Notify(Plain());
  const Event other = session->Wait(id, std::nullopt);
  EXPECT_EQ(other.kind, Kind::kActionInvoked);
  EXPECT_EQ(other.action_key, "other");
  const Event click = session->Wait(id, std::nullopt);
  EXPECT_EQ(click.kind, Kind::kActionInvoked);
  EXPECT_EQ(click.action_key, "default");
}

TEST_F(NotificationsTest, SilentServiceLetsTheWaitRunOutAndCloseEndsIt) {
  FakeNotifications service(bus_, "silent");
  ASSERT_TRUE(service.ready());
  auto session = Session::Open();
  Notification notification = Plain();
  notification.expire_timeout_ms = 1000;
  const std::uint32_t id = session->Notify(notification);
  EXPECT_EQ(session->Wait(id, std::chrono::milliseconds(0)).kind, Kind::kTimedOut);
  EXPECT_EQ(session->Wait(id, std::chrono::milliseconds(50)).kind, Kind::kTimedOut);
  session->Close(id);
  const Event closed = session->Wait(id, std::chrono::seconds(10));
  EXPECT_EQ(closed.kind, Kind::kClosed);
  EXPECT_EQ(closed.reason, kReasonClosedByCall);
  EXPECT_EQ(service.Record(),
            "{\"method\": \"Notify\", \"app_name\": \"tests\", \"replaces_id\": 0, "
            "\"app_icon\": \"\", \"summary\": \"Summary\", \"body\": \"Body\", \"actions\": [], "
            "\"hints\": {}, \"expire_timeout\": 1000}\n"
            "{\"method\": \"CloseNotification\", \"id\": 1}\n");
}

TEST_F(NotificationsTest, ServiceLeavingTheBusEndsTheWait) {
  FakeNotifications service(bus_, "vanish");
  ASSERT_TRUE(service.ready());
  auto session = Session::Open();
  const std::uint32_t id = session->Notify(Plain());
  EXPECT_EQ(session->Wait(id, std::nullopt).kind, Kind::kServiceGone);
}

TEST_F(NotificationsTest, NoServiceOnTheBusIsAFailure) {
  auto session = Session::Open();
  try {
    session->Notify(Plain());
    ADD_FAILURE() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number(), 440);
    EXPECT_EQ(failure.description().rfind("No notification service: ", 0), 0u)
        << failure.description();
    EXPECT_NE(failure.description().find("ServiceUnknown"), std::string::npos)
        << failure.description();
  }
}

TEST(NotificationsWithoutBusTest, OpeningFailsWithADescription) {
  {
    ScopedEnvironment environment("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
    try {
      Session::Open();
      ADD_FAILURE() << "no failure";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.number(), 440);
      EXPECT_EQ(failure.description(), "No session bus: DBUS_SESSION_BUS_ADDRESS is not set");
    }
  }
  testing::ScratchFolder folder;
  ScopedEnvironment environment("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (folder / "no-bus"));
  try {
    Session::Open();
    ADD_FAILURE() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number(), 440);
    EXPECT_EQ(failure.description(),
              "Cannot connect to the session bus: Could not connect: No such file or directory");
  }
}

TEST(NotificationsIconTest, StyleIconBitsNameThemedIcons) {
  EXPECT_EQ(IconNameForStyle(0x10), "dialog-error");
  EXPECT_EQ(IconNameForStyle(0x21), "dialog-question");
  EXPECT_EQ(IconNameForStyle(0x30), "dialog-warning");
  EXPECT_EQ(IconNameForStyle(0x40), "dialog-information");
  EXPECT_EQ(IconNameForStyle(0x0), "");
}

}  // namespace
}  // namespace platform::notifications
