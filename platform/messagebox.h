// Modal message box.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

inline constexpr std::uint32_t kMbOk = 0x0;
inline constexpr std::uint32_t kMbIconStop = 0x10;
inline constexpr int kIdOk = 1;

// Shows `text` with `caption` and blocks until the user dismisses it. Returns
// the button pressed (kIdOk). On Linux: a desktop notification of critical
// urgency that stays until closed; without a desktop session the message is
// written to standard error and the call returns at once.
int ShowMessageBox(const std::string& text, const std::string& caption, std::uint32_t style);

}  // namespace platform
