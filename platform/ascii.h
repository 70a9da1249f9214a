// ASCII text routines: character classes, letter case and trimming, the same
// whatever locale the process runs in. Portable code; every layer may use it.
//
// Only the 26 ASCII letters change case and only ASCII bytes are classed;
// every other byte (UTF-8 sequences included) passes through unchanged.
// Which bytes count as blanks differs by format on purpose (the program's
// texts trim spaces only, XML and HTTP trim white space, the profile files
// also Ctrl-Z), so each caller names its set.
#pragma once

#include <string>
#include <string_view>

namespace platform::ascii {

// The blank sets callers share; white space unless a caller names another.
inline constexpr std::string_view kSpace = " ";
inline constexpr std::string_view kWhiteSpace = " \t\r\n";

constexpr bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
constexpr bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
constexpr bool IsLetterOrDigit(char c) {
  return IsLetter(c) || IsDigit(c);
}
// The value of a hexadecimal digit (either case); -1 for any other byte.
constexpr int HexDigitValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr char ToLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char ToUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
std::string LowerCase(std::string_view text);
std::string UpperCase(std::string_view text);
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix);

// `text` without the bytes of `blanks` at its start, its end, or both; the
// view is into `text`.
std::string_view TrimLeft(std::string_view text, std::string_view blanks = kWhiteSpace);
std::string_view TrimRight(std::string_view text, std::string_view blanks = kWhiteSpace);
std::string_view Trim(std::string_view text, std::string_view blanks = kWhiteSpace);
// True when `text` holds nothing but bytes of `blanks` (or nothing at all).
bool IsBlank(std::string_view text, std::string_view blanks = kWhiteSpace);

}  // namespace platform::ascii
