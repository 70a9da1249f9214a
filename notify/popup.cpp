// Placeholder until the popup lands: no answer.
#include "notify/popup.h"

std::int16_t CallPopup(std::int32_t&, std::string&, std::string&, std::int32_t&, std::int32_t&,
                       std::int32_t&, std::int16_t&, std::int32_t&, std::string&) {
  return 0;
}
