// The notification popup.
#pragma once

#include <cstdint>
#include <string>

// How long the modal Popup call may take beyond the popup's display time
// before the component counts as hung: the time a user's click needs to
// arrive, and a loaded desktop's slowness.
inline constexpr int kPopupMarginSeconds = 15;

// The bound of the Popup call for a display time in seconds: the display
// time (none when it is 0 or less) plus the margin.
int PopupCallBoundMs(std::int32_t display_time_seconds);

std::int16_t CallPopup(std::int32_t& icon, std::string& header, std::string& body,
                       std::int32_t& display_time_seconds, std::int32_t& popup_height,
                       std::int32_t& popup_width, std::int16_t& transparency_level,
                       std::int32_t& modal_form, std::string& answer);
