// The popup component "Flarebox.Display": its properties, its Popup method
// and the outcome it reports in ClosedBy. See README.md for the members.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/automation_protocol.h"
#include "platform/posix/notifications.h"

namespace flarebox {

// The themed icon shown for an Icon value.
std::string IconName(std::int32_t icon);

class Display {
 public:
  // Carries out one request and gives the answer to send back.
  platform::automation_protocol::Answer Handle(
      const platform::automation_protocol::Request& request);

 private:
  using Clock = std::chrono::steady_clock;

  void Put(const std::string& member, const platform::Variant& value);
  platform::Variant Get(const std::string& member);
  void Popup();
  // Turns what the service reported into the ClosedBy text; nothing when the
  // popup is still up.
  std::optional<std::string> Outcome(const platform::notifications::Event& event);
  // For a popup that is not waited for: takes in what has happened so far.
  void CatchUp();

  std::int32_t icon_ = 0;
  std::string header_;
  std::string body_;
  std::int32_t display_time_seconds_ = 10;
  std::int32_t popup_height_ = 0;
  std::int32_t popup_width_ = 0;
  std::int16_t transparency_level_ = 0;
  std::int32_t modal_form_ = 0;
  std::string closed_by_;

  // The popup shown last, while its outcome is not known.
  std::unique_ptr<platform::notifications::Session> session_;
  std::uint32_t shown_id_ = 0;
  std::optional<Clock::time_point> auto_close_at_;
};

}  // namespace flarebox
