#include "platform/win32/system_message.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace platform {

std::string SystemMessage(std::uint32_t code) {
  // Without FORMAT_MESSAGE_IGNORE_INSERTS a text with an insert (193 "%1 is
  // not a valid Win32 application.") fails with 87, since no arguments are
  // given.
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (length == 0 || text == nullptr) return {};
  std::string narrow;
  try {
    narrow = Narrow(text, length);
  } catch (...) {
    ::LocalFree(text);
    throw;
  }
  ::LocalFree(text);
  return narrow;
}

std::string SystemMessageLine(std::uint32_t code, const std::string& fallback) {
  std::string text = SystemMessage(code);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text.empty() ? fallback : text;
}

}  // namespace platform
