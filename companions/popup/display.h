// The popup component "Flarebox.Display": its properties, its Popup method
// and the outcome it reports in ClosedBy. See README.md for the members.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "companions/popup/backend.h"
#include "platform/automation_protocol.h"

namespace flarebox {

class Display {
 public:
  using BackendFactory = std::function<std::unique_ptr<Backend>()>;
  // Each Popup shows its popup through a new back-end from `backends`.
  explicit Display(BackendFactory backends = DesktopBackend);

  // Carries out one request and gives the answer to send back.
  platform::automation_protocol::Answer Handle(
      const platform::automation_protocol::Request& request);

  // The members, as Automation clients name them.
  static const char* const kProperties[];
  static const char* const kMethods[];

 private:
  using Clock = std::chrono::steady_clock;

  void Put(const std::string& member, const platform::Variant& value);
  platform::Variant Get(const std::string& member);
  void Popup();
  // The ClosedBy text for what the back-end saw; nothing while the popup is
  // up.
  std::optional<std::string> Outcome(Closing closing);
  // For a popup that is not waited for: takes in what has happened so far.
  void CatchUp();

  BackendFactory backends_;
  PopupSettings settings_;
  std::int32_t modal_form_ = 0;
  std::string closed_by_;

  // The popup shown last, while its outcome is not known.
  std::unique_ptr<Backend> shown_;
  std::optional<Clock::time_point> auto_close_at_;
};

}  // namespace flarebox
