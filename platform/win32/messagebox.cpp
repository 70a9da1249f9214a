// The message box on Windows: the system's own modal box. Where no user can
// see it, the message goes to standard error instead, so that an unattended
// run neither loses it nor waits for nobody:
// - a process in a window station that is not visible (a service's, or a
//   scheduled task's that runs whether the user is logged on or not) would
//   wait for ever on a box nobody sees, so it does not show one;
// - a system without a display answers the box with 0 (Wine: -1, error
//   1400 "invalid window handle").
#include "platform/messagebox.h"

#include <windows.h>

#include <cstdio>

#include "platform/win32/wide_text.h"

namespace platform {
namespace {

bool VisibleWindowStation() {
  HWINSTA station = ::GetProcessWindowStation();
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  if (station == nullptr ||
      !::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed)) {
    return true;  // unknown: the box is tried, and its own answer decides
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace

int ShowMessageBox(const std::string& text, const std::string& caption, std::uint32_t style) {
  if (VisibleWindowStation()) {
    // In front of the user's work: the program has no window of its own to
    // bring it there.
    const int answer = ::MessageBoxW(nullptr, Widen(text).c_str(), Widen(caption).c_str(),
                                     style | MB_SETFOREGROUND | MB_TOPMOST);
    if (answer > 0) return answer;
  }
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  std::fflush(stderr);
  return kIdOk;
}

}  // namespace platform
