// Reference expansion. Documents are parsed without pugixml's own, unless
// every reference in them is one this file accepts (IsPlainMarkup): pugixml
// would leave an unknown reference such as "&nbsp;" as plain text, while a
// document that uses an entity it does not define is not well-formed. Only
// the five predefined entities and character references are expanded;
// anything else fails the load. DOCTYPE declarations are skipped by pugixml
// and nothing they name is ever fetched or expanded.
#include "platform/text_encoding.h"
#include "platform/xml_encoding.h"
#include "platform/xml_pugi.h"

namespace platform::xml_detail {

bool AppendReference(std::string_view name, std::string& out, std::string& error) {
  if (name == "amp") {
    out += '&';
  } else if (name == "lt") {
    out += '<';
  } else if (name == "gt") {
    out += '>';
  } else if (name == "quot") {
    out += '"';
  } else if (name == "apos") {
    out += '\'';
  } else if (!name.empty() && name[0] == '#') {
    bool hex = name.size() > 1 && name[1] == 'x';
    std::string_view digits = name.substr(hex ? 2 : 1);
    unsigned long code = 0;
    bool ok = !digits.empty() && digits.size() <= 8;
    for (char c : digits) {
      int value = -1;
      if (c >= '0' && c <= '9') {
        value = c - '0';
      } else if (hex && c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
      } else if (hex && c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
      }
      if (value < 0) {
        ok = false;
        break;
      }
      code = code * (hex ? 16 : 10) + static_cast<unsigned long>(value);
    }
    if (!ok || code > 0x10FFFF || !IsXmlChar(static_cast<char32_t>(code))) {
      error = "invalid character reference &" + std::string(name) + ";";
      return false;
    }
    AppendUtf8(out, static_cast<char32_t>(code));
  } else {
    error = "reference to undefined entity &" + std::string(name) + ";";
    return false;
  }
  return true;
}

bool ExpandReferences(std::string_view raw, std::string& out, std::string& error) {
  out.clear();
  out.reserve(raw.size());
  std::size_t i = 0;
  while (i < raw.size()) {
    std::size_t amp = raw.find('&', i);
    if (amp == std::string_view::npos) {
      out.append(raw.substr(i));
      break;
    }
    out.append(raw.substr(i, amp - i));
    std::size_t semi = raw.find(';', amp + 1);
    if (semi == std::string_view::npos || semi == amp + 1) {
      error = "'&' that does not start a reference";
      return false;
    }
    if (!AppendReference(raw.substr(amp + 1, semi - amp - 1), out, error)) return false;
    i = semi + 1;
  }
  return true;
}

}  // namespace platform::xml_detail
