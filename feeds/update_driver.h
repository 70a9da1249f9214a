// The walk over the template's feeds and the decision about the popup.
#pragma once

#include <cstdint>
#include <string>

std::int16_t fncPopulateRSSLinks();

// The popup's body for the template's popup text and the run's total of new
// items: the text itself, or, when it is the default sentence (blanks and
// letter case aside), that sentence with the total counted in.
std::string PopupBody(const std::string& popup_message, const std::string& total);
