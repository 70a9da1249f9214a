// Text escaped for markup (HTML, or the notification service's body
// markup). Portable, and in this header alone, because the message box's
// module, which links nothing of the layer, needs it too.
#pragma once

#include <string>
#include <string_view>

namespace platform {

enum class Quotes { kKept, kEscaped };

// `text` with &, < and > replaced by character references, and " and ' as
// well when asked: text so escaped is safe in element content, and with the
// quotes escaped also in a quoted attribute value.
inline std::string EscapeMarkup(std::string_view text, Quotes quotes) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '"' && quotes == Quotes::kEscaped) {
      out += "&quot;";
    } else if (c == '\'' && quotes == Quotes::kEscaped) {
      out += "&#39;";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace platform
