#include "companions/popup/display.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <string_view>

#include "platform/ascii.h"
#include "platform/failure.h"

namespace flarebox {
namespace {

namespace protocol = platform::automation_protocol;
namespace n = platform::notifications;
using platform::Failure;
using platform::Variant;
using platform::VarType;

constexpr long kTypeMismatch = 13;
// The popup closes itself when the service has not closed it this long after
// its display time.
constexpr auto kAutoCloseGrace = std::chrono::seconds(1);

Failure NoSuchMember() {
  return Failure(platform::err::kNoSuchMember);
}

// A value as a number, the way Automation coerces it: numbers as they are,
// text that holds a whole number, EMPTY as 0.
long long NumberOf(const Variant& value) {
  if (value.type != VarType::kBstr) return value.number;
  const std::string_view digits = platform::ascii::Trim(value.text, platform::ascii::kSpace);
  if (digits.empty()) throw Failure(kTypeMismatch, "Type mismatch");
  long long number = 0;
  const char* last = digits.data() + digits.size();
  const auto [stop, error] = std::from_chars(digits.data(), last, number);
  if (error == std::errc::result_out_of_range) throw Failure(platform::err::kOverflow);
  if (error != std::errc() || stop != last) throw Failure(kTypeMismatch, "Type mismatch");
  return number;
}

template <typename Int>
Int Narrow(long long number) {
  if (number < std::numeric_limits<Int>::min() || number > std::numeric_limits<Int>::max()) {
    throw Failure(platform::err::kOverflow);
  }
  return static_cast<Int>(number);
}

}  // namespace

std::string IconName(std::int32_t icon) {
  // The message box's icon codes, taken whole (17 is no icon, not 16 with a
  // flag), and 7 for information as well.
  constexpr std::int32_t kInformation = 64;
  if (icon == 7) icon = kInformation;
  if ((icon & ~0x70) != 0) return {};
  return n::IconNameForStyle(static_cast<std::uint32_t>(icon));
}

protocol::Answer Display::Handle(const protocol::Request& request) {
  protocol::Answer answer;
  try {
    const std::string member = platform::ascii::LowerCase(request.member);
    switch (request.kind) {
      case protocol::Request::Kind::kPut:
        Put(member, request.value);
        break;
      case protocol::Request::Kind::kGet:
        answer.value = Get(member);
        break;
      case protocol::Request::Kind::kCall:
        if (member != "popup") throw NoSuchMember();
        Popup();
        break;
    }
  } catch (...) {
    const Failure failure = platform::CaughtFailure();
    answer.ok = false;
    answer.value = {};
    answer.number = failure.number();
    answer.description = failure.description();
  }
  return answer;
}

void Display::Put(const std::string& member, const Variant& value) {
  if (member == "icon") {
    icon_ = Narrow<std::int32_t>(NumberOf(value));
  } else if (member == "header") {
    header_ = value.ToText();
  } else if (member == "body") {
    body_ = value.ToText();
  } else if (member == "displaytimeseconds") {
    display_time_seconds_ = Narrow<std::int32_t>(NumberOf(value));
  } else if (member == "popupheight") {
    popup_height_ = Narrow<std::int32_t>(NumberOf(value));
  } else if (member == "popupwidth") {
    popup_width_ = Narrow<std::int32_t>(NumberOf(value));
  } else if (member == "transparencylevel") {
    transparency_level_ = Narrow<std::int16_t>(NumberOf(value));
  } else if (member == "modalform") {
    modal_form_ = Narrow<std::int32_t>(NumberOf(value));
  } else {
    throw NoSuchMember();
  }
}

Variant Display::Get(const std::string& member) {
  if (member == "icon") return Variant::I4(icon_);
  if (member == "header") return Variant::Bstr(header_);
  if (member == "body") return Variant::Bstr(body_);
  if (member == "displaytimeseconds") return Variant::I4(display_time_seconds_);
  if (member == "popupheight") return Variant::I4(popup_height_);
  if (member == "popupwidth") return Variant::I4(popup_width_);
  if (member == "transparencylevel") return Variant::I2(transparency_level_);
  if (member == "modalform") return Variant::I4(modal_form_);
  if (member == "closedby") {
    CatchUp();
    return Variant::Bstr(closed_by_);
  }
  throw NoSuchMember();
}

void Display::Popup() {
  closed_by_.clear();
  session_.reset();
  auto_close_at_.reset();

  auto session = n::Session::Open();
  n::Notification popup;
  popup.app_name = "Flarebox";
  popup.app_icon = IconName(icon_);
  popup.summary = header_;
  popup.body = body_;
  popup.actions = {"default", "Open"};
  // Height, width and transparency are left to the notification service,
  // which places and draws its notifications itself.
  if (display_time_seconds_ > 0) {
    const long long ms = 1000LL * display_time_seconds_;
    popup.expire_timeout_ms = static_cast<std::int32_t>(
        std::min<long long>(ms, std::numeric_limits<std::int32_t>::max()));
  } else {
    popup.expire_timeout_ms = 0;  // stays until the user closes it
  }
  const std::uint32_t id = session->Notify(popup);
  if (display_time_seconds_ > 0) {
    auto_close_at_ = Clock::now() + std::chrono::seconds(display_time_seconds_) + kAutoCloseGrace;
  }
  session_ = std::move(session);
  shown_id_ = id;
  if (modal_form_ == 0) return;

  while (true) {
    std::optional<std::chrono::milliseconds> limit;
    if (auto_close_at_) {
      limit = std::max(
          std::chrono::milliseconds(0),
          std::chrono::duration_cast<std::chrono::milliseconds>(*auto_close_at_ - Clock::now()));
    }
    const n::Event event = session_->Wait(shown_id_, limit);
    if (event.kind == n::Event::Kind::kServiceGone) {
      session_.reset();
      throw Failure(platform::err::kAutomationError,
                    "The notification service went away while the popup was shown");
    }
    if (auto outcome = Outcome(event)) {
      closed_by_ = *outcome;
      session_.reset();
      return;
    }
  }
}

std::optional<std::string> Display::Outcome(const n::Event& event) {
  switch (event.kind) {
    case n::Event::Kind::kActionInvoked:
      if (event.action_key != "default") return std::nullopt;
      // A click answers the popup; services that keep it up are told to close it.
      session_->Close(shown_id_);
      return "CLICK";
    case n::Event::Kind::kClosed:
      return event.reason == n::kReasonExpired ? "AUTOCLOSE" : "EXIT";
    case n::Event::Kind::kTimedOut:
      if (!auto_close_at_ || Clock::now() < *auto_close_at_) return std::nullopt;
      session_->Close(shown_id_);
      return "AUTOCLOSE";
    case n::Event::Kind::kServiceGone:
      return std::nullopt;
  }
  return std::nullopt;
}

void Display::CatchUp() {
  if (!session_) return;
  while (true) {
    const n::Event event = session_->Wait(shown_id_, std::chrono::milliseconds(0));
    if (event.kind == n::Event::Kind::kServiceGone) {
      // Nobody will say how it ended.
      session_.reset();
      return;
    }
    if (auto outcome = Outcome(event)) {
      closed_by_ = *outcome;
      session_.reset();
      return;
    }
    if (event.kind == n::Event::Kind::kTimedOut) return;
  }
}

}  // namespace flarebox
