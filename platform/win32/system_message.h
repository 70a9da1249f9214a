// The system's own text for an error code or an HRESULT (FormatMessageW),
// in UTF-8. For the Windows implementation only: every part of it that
// prints a system error gets its text here.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The text as the system gives it, closing line break included; inserts
// ("%1") stay as they stand, since no arguments are given. "" when the
// system has no text for the code: its error code (317) is then the last
// error, as the failed call left it.
std::string SystemMessage(std::uint32_t code);

// The text as one line, without its closing line break and blanks; `fallback`
// when the system has none.
std::string SystemMessageLine(std::uint32_t code, const std::string& fallback);

}  // namespace platform
