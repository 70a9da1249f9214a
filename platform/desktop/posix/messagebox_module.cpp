// The desktop half of the message box, built as a module of its own
// (rssnotify-messagebox.so) that messagebox.cpp loads only when a box is to
// be shown. It alone links GIO and GLib, so that a run that shows no box,
// nearly every run, never loads them.
#include "platform/desktop/messagebox_module.h"

#include <cstdint>
#include <string>

#include "platform/desktop/notifications.h"
#include "platform/failure.h"

extern "C" __attribute__((visibility("default"))) int rssnotify_show_message_box(
    const char* app_name, const char* text, const char* caption, std::uint32_t style) {
  namespace n = platform::notifications;
  try {
    const auto session = n::Session::Open();
    n::Notification box;
    box.app_name = app_name;
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
      return 1;
    }
    if (event.kind == n::Event::Kind::kClosed) return 1;
    // The service went away with the box, perhaps before anyone saw it.
  } catch (...) {
  }
  return 0;
}
