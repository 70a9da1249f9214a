#include "platform/ascii.h"

namespace platform::ascii {

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = ToLower(c);
  return out;
}

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = ToUpper(c);
  return out;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ToLower(a[i]) != ToLower(b[i])) return false;
  }
  return true;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimLeft(std::string_view text, std::string_view blanks) {
  const std::size_t begin = text.find_first_not_of(blanks);
  return begin == std::string_view::npos ? std::string_view() : text.substr(begin);
}

std::string_view TrimRight(std::string_view text, std::string_view blanks) {
  const std::size_t last = text.find_last_not_of(blanks);
  return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

std::string_view Trim(std::string_view text, std::string_view blanks) {
  return TrimRight(TrimLeft(text, blanks), blanks);
}

bool IsBlank(std::string_view text, std::string_view blanks) {
  return text.find_first_not_of(blanks) == std::string_view::npos;
}

}  // namespace platform::ascii
