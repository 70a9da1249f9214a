// The message box on Linux: a desktop notification of critical urgency that
// stays until the user closes it. Without a desktop session (no bus, no
// notification service) the message goes to standard error instead, so that
// an unattended run neither loses it nor waits for nobody.
#include "platform/messagebox.h"

#include <cstdio>

#include "platform/failure.h"
#include "platform/posix/notifications.h"
#include "platform/system.h"

namespace platform {

int ShowMessageBox(const std::string& text, const std::string& caption, std::uint32_t style) {
  namespace n = notifications;
  try {
    const auto session = n::Session::Open();
    n::Notification box;
    box.app_name = ExecutableBaseName();
    box.app_icon = n::IconNameForStyle(style);
    box.summary = caption;
    box.body = text;
    box.actions = {"default", "OK"};
    box.urgency = n::kUrgencyCritical;
    box.expire_timeout_ms = 0;
    const std::uint32_t id = session->Notify(box);
    const n::Event event = session->Wait(id, std::nullopt);
    if (event.kind == n::Event::Kind::kActionInvoked) {
      // Some services leave a notification up after its action; the box is
      // answered, so it goes.
      session->Close(id);
      return kIdOk;
    }
    if (event.kind == n::Event::Kind::kClosed) return kIdOk;
    // The service went away with the box, perhaps before anyone saw it.
  } catch (const Failure&) {
  }
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  std::fflush(stderr);
  return kIdOk;
}

}  // namespace platform
