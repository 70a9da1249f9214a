// The popup as a freedesktop desktop notification (Linux).
#include <algorithm>
#include <chrono>
#include <limits>

#include "companions/popup/backend.h"
#include "platform/desktop/notifications.h"
#include "platform/failure.h"

namespace flarebox {
namespace {

namespace n = platform::notifications;

class NotificationBackend final : public Backend {
 public:
  void Show(const PopupSettings& settings) override {
    auto session = n::Session::Open();
    n::Notification popup;
    popup.app_name = "Flarebox";
    popup.app_icon = n::IconNameForStyle(IconStyle(settings.icon));
    popup.summary = settings.header;
    popup.body = settings.body;
    popup.actions = {"default", "Open"};
    // Height, width and transparency are left to the notification service,
    // which places and draws its notifications itself.
    if (settings.display_time_seconds > 0) {
      const long long ms = 1000LL * settings.display_time_seconds;
      popup.expire_timeout_ms = static_cast<std::int32_t>(
          std::min<long long>(ms, std::numeric_limits<std::int32_t>::max()));
    } else {
      popup.expire_timeout_ms = 0;  // stays until the user closes it
    }
    id_ = session->Notify(popup);
    session_ = std::move(session);
  }

  Closing Wait(std::optional<std::chrono::milliseconds> limit) override {
    if (!session_) return Closing::kExit;
    const auto deadline =
        std::chrono::steady_clock::now() + limit.value_or(std::chrono::milliseconds(0));
    while (true) {
      const n::Event event = session_->Wait(id_, limit);
      switch (event.kind) {
        case n::Event::Kind::kActionInvoked:
          if (event.action_key == "default") return Closing::kClick;
          break;  // another action says nothing of the popup: wait on
        case n::Event::Kind::kClosed:
          return event.reason == n::kReasonExpired ? Closing::kAutoClose : Closing::kExit;
        case n::Event::Kind::kServiceGone:
          session_.reset();
          throw platform::Failure(platform::err::kAutomationError,
                                  "The notification service went away while the popup was shown");
        case n::Event::Kind::kTimedOut:
          return Closing::kStillUp;
      }
      if (limit) {
        limit = std::max(std::chrono::milliseconds(0),
                         std::chrono::duration_cast<std::chrono::milliseconds>(
                             deadline - std::chrono::steady_clock::now()));
      }
    }
  }

  void Close() override {
    if (session_) session_->Close(id_);
  }

 private:
  std::unique_ptr<n::Session> session_;
  std::uint32_t id_ = 0;
};

}  // namespace

std::unique_ptr<Backend> DesktopBackend() {
  return std::make_unique<NotificationBackend>();
}

}  // namespace flarebox
