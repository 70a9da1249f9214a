#include "notify/popup.h"

#include <memory>

#include "app/guard.h"
#include "app/log.h"
#include "platform/automation.h"

int PopupCallBoundMs(std::int32_t display_time_seconds) {
  const std::int64_t shown = display_time_seconds > 0 ? display_time_seconds : 0;
  const std::int64_t bound = (shown + kPopupMarginSeconds) * 1000;
  return bound > 24 * 3600 * 1000 ? 24 * 3600 * 1000 : static_cast<int>(bound);
}

std::int16_t CallPopup(std::int32_t& icon, std::string& header, std::string& body,
                       std::int32_t& display_time_seconds, std::int32_t& popup_height,
                       std::int32_t& popup_width, std::int16_t& transparency_level,
                       std::int32_t& modal_form, std::string& answer) {
  using platform::Variant;
  std::unique_ptr<platform::AutomationObject> popup;
  try {
    popup = platform::AutomationObject::Create("Flarebox.Display");
    if (const std::string why = popup->Uncontained(); !why.empty()) {
      WriteLog("MSG : CallPopup, what the popup component starts may outlive the run: " + why);
    }
    popup->PutProperty("Icon", Variant::I4(icon));
    popup->PutProperty("Header", Variant::Bstr(header));
    popup->PutProperty("Body", Variant::Bstr(body));
    popup->PutProperty("DisplayTimeSeconds", Variant::I4(display_time_seconds));
    popup->PutProperty("PopupHeight", Variant::I4(popup_height));
    popup->PutProperty("PopupWidth", Variant::I4(popup_width));
    popup->PutProperty("TransparencyLevel", Variant::I2(transparency_level));
    popup->PutProperty("ModalForm", Variant::I4(modal_form));
    // Modal: returns once the popup has closed, so ClosedBy is final. A
    // component that never answers must not hold the run: the popup gets its
    // display time and a margin, every other call the short default bound.
    popup->SetCallBound(PopupCallBoundMs(display_time_seconds));
    popup->CallMethod("Popup");
    popup->SetCallBound(platform::AutomationObject::kDefaultCallBoundMs);
    answer = popup->GetProperty("ClosedBy").ToText();
  } catch (...) {
    const platform::Failure failure = GuardedFailure();
    WriteLog("ERR : CallPopup, " + FailureNumber(failure) + ":" + failure.description());
  }
  popup.reset();
  return 0;
}
