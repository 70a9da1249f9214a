// Desktop notifications through the freedesktop notification service
// (org.freedesktop.Notifications on the session bus), shared by the message
// box and the popup component.
//
// Every bus operation is bounded: connecting, and each call to the service,
// gives up after a few seconds with Failure 440, so that a missing or stuck
// desktop never holds the caller for long. Only Wait without a time limit
// blocks for as long as the notification stays up.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform::notifications {

// Why the service closed a notification (NotificationClosed).
inline constexpr std::uint32_t kReasonExpired = 1;
inline constexpr std::uint32_t kReasonDismissed = 2;
inline constexpr std::uint32_t kReasonClosedByCall = 3;
inline constexpr std::uint32_t kReasonUndefined = 4;

inline constexpr std::uint8_t kUrgencyCritical = 2;

struct Notification {
  std::string app_name;
  std::string app_icon;  // a themed icon name, or "" for none
  std::string summary;
  // Plain text; escaped for the service when it reads markup in bodies.
  std::string body;
  std::vector<std::string> actions;     // key, label, key, label, ...
  std::optional<std::uint8_t> urgency;  // the "urgency" hint when set
  std::int32_t expire_timeout_ms = -1;  // -1 the service decides, 0 never
};

struct Event {
  enum class Kind {
    kActionInvoked,  // action_key says which
    kClosed,         // reason says why
    kServiceGone,    // the service or the bus went away
    kTimedOut,       // the wait's time limit passed first
  };
  Kind kind = Kind::kTimedOut;
  std::string action_key;
  std::uint32_t reason = 0;
};

// The themed icon name for the icon bits of a message-box style (0x10 stop,
// 0x20 question, 0x30 exclamation, 0x40 information); "" for none.
std::string IconNameForStyle(std::uint32_t style);

class Session {
 public:
  // Connects to the bus named by DBUS_SESSION_BUS_ADDRESS. Throws Failure 440
  // when the variable is not set or the bus cannot be reached in time.
  static std::unique_ptr<Session> Open();

  virtual ~Session() = default;
  // Shows a notification and returns its id. Throws Failure 440 when no
  // notification service answers in time.
  virtual std::uint32_t Notify(const Notification& notification) = 0;
  // Waits for the first action on, or the closing of, notification `id`, or
  // for the service to leave the bus. Without `limit` it waits as long as it
  // takes; with a limit of zero it only looks at what has already arrived.
  virtual Event Wait(std::uint32_t id, std::optional<std::chrono::milliseconds> limit) = 0;
  // Asks the service to close notification `id`; failures are ignored.
  virtual void Close(std::uint32_t id) = 0;
};

}  // namespace platform::notifications
