// The notification popup.
#pragma once

#include <cstdint>
#include <string>

std::int16_t CallPopup(std::int32_t& icon, std::string& header, std::string& body,
                       std::int32_t& display_time_seconds, std::int32_t& popup_height,
                       std::int32_t& popup_width, std::int16_t& transparency_level,
                       std::int32_t& modal_form, std::string& answer);
