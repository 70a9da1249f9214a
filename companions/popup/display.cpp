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
using platform::Failure;
using platform::Variant;
using platform::VarType;

constexpr long kTypeMismatch = 13;
// The component closes the popup itself when the desktop has not closed it
// this long after its display time.
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

const char* const Display::kProperties[] = {"Icon",
                                            "Header",
                                            "Body",
                                            "DisplayTimeSeconds",
                                            "PopupHeight",
                                            "PopupWidth",
                                            "TransparencyLevel",
                                            "ModalForm",
                                            "ClosedBy",
                                            nullptr};
const char* const Display::kMethods[] = {"Popup", nullptr};

std::uint32_t IconStyle(std::int32_t icon) {
  constexpr std::int32_t kInformation = 0x40;
  if (icon == 7) icon = kInformation;
  switch (icon) {
    case 0x10:
    case 0x20:
    case 0x30:
    case 0x40:
      return static_cast<std::uint32_t>(icon);
    default:
      return 0;
  }
}

std::uint8_t Opacity(std::int16_t transparency_level) {
  if (transparency_level < 1 || transparency_level > 100) return 255;
  return static_cast<std::uint8_t>((transparency_level * 255 + 50) / 100);
}

PixelSize PopupPixels(std::int32_t width_twips, std::int32_t height_twips, int dpi, int area_width,
                      int area_height) {
  constexpr long long kTwipsPerInch = 1440;
  constexpr std::int32_t kDefaultWidth = 6000;
  constexpr std::int32_t kDefaultHeight = 1500;
  constexpr int kMinWidth = 200;
  constexpr int kMinHeight = 64;
  if (dpi <= 0) dpi = 96;
  const auto pixels = [&](std::int32_t twips, std::int32_t fallback, int least, int most) {
    if (twips <= 0) twips = fallback;
    const long long exact =
        (static_cast<long long>(twips) * dpi + kTwipsPerInch / 2) / kTwipsPerInch;
    long long result = std::max<long long>(exact, least);
    if (most > 0) result = std::min<long long>(result, most);
    return static_cast<int>(result);
  };
  return {pixels(width_twips, kDefaultWidth, kMinWidth, area_width),
          pixels(height_twips, kDefaultHeight, kMinHeight, area_height)};
}

Display::Display(BackendFactory backends) : backends_(std::move(backends)) {}

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
    settings_.icon = Narrow<std::int32_t>(NumberOf(value));
  } else if (member == "header") {
    settings_.header = value.ToText();
  } else if (member == "body") {
    settings_.body = value.ToText();
  } else if (member == "displaytimeseconds") {
    settings_.display_time_seconds = Narrow<std::int32_t>(NumberOf(value));
  } else if (member == "popupheight") {
    settings_.height = Narrow<std::int32_t>(NumberOf(value));
  } else if (member == "popupwidth") {
    settings_.width = Narrow<std::int32_t>(NumberOf(value));
  } else if (member == "transparencylevel") {
    settings_.transparency_level = Narrow<std::int16_t>(NumberOf(value));
  } else if (member == "modalform") {
    modal_form_ = Narrow<std::int32_t>(NumberOf(value));
  } else {
    throw NoSuchMember();
  }
}

Variant Display::Get(const std::string& member) {
  if (member == "icon") return Variant::I4(settings_.icon);
  if (member == "header") return Variant::Bstr(settings_.header);
  if (member == "body") return Variant::Bstr(settings_.body);
  if (member == "displaytimeseconds") return Variant::I4(settings_.display_time_seconds);
  if (member == "popupheight") return Variant::I4(settings_.height);
  if (member == "popupwidth") return Variant::I4(settings_.width);
  if (member == "transparencylevel") return Variant::I2(settings_.transparency_level);
  if (member == "modalform") return Variant::I4(modal_form_);
  if (member == "closedby") {
    CatchUp();
    return Variant::Bstr(closed_by_);
  }
  throw NoSuchMember();
}

void Display::Popup() {
  closed_by_.clear();
  shown_.reset();
  auto_close_at_.reset();

  auto backend = backends_();
  backend->Show(settings_);
  if (settings_.display_time_seconds > 0) {
    auto_close_at_ =
        Clock::now() + std::chrono::seconds(settings_.display_time_seconds) + kAutoCloseGrace;
  }
  shown_ = std::move(backend);
  if (modal_form_ == 0) return;

  while (true) {
    std::optional<std::chrono::milliseconds> limit;
    if (auto_close_at_) {
      limit = std::max(
          std::chrono::milliseconds(0),
          std::chrono::duration_cast<std::chrono::milliseconds>(*auto_close_at_ - Clock::now()));
    }
    Closing closing = Closing::kStillUp;
    try {
      closing = shown_->Wait(limit);
    } catch (...) {
      shown_.reset();
      throw;
    }
    if (auto outcome = Outcome(closing)) {
      closed_by_ = *outcome;
      shown_.reset();
      return;
    }
  }
}

std::optional<std::string> Display::Outcome(Closing closing) {
  switch (closing) {
    case Closing::kClick:
      // A click answers the popup; a desktop that keeps it up is told to close it.
      shown_->Close();
      return "CLICK";
    case Closing::kExit:
      return "EXIT";
    case Closing::kAutoClose:
      return "AUTOCLOSE";
    case Closing::kStillUp:
      if (!auto_close_at_ || Clock::now() < *auto_close_at_) return std::nullopt;
      shown_->Close();
      return "AUTOCLOSE";
  }
  return std::nullopt;
}

void Display::CatchUp() {
  if (!shown_) return;
  Closing closing = Closing::kStillUp;
  try {
    closing = shown_->Wait(std::chrono::milliseconds(0));
  } catch (...) {
    // Nobody will say how it ended.
    shown_.reset();
    return;
  }
  if (auto outcome = Outcome(closing)) {
    closed_by_ = *outcome;
    shown_.reset();
  }
}

}  // namespace flarebox
