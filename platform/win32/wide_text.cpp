#include "platform/win32/wide_text.h"

#include <windows.h>

#include <climits>

#include "platform/failure.h"

namespace platform {

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  if (text.size() > INT_MAX) throw Failure(err::kOutOfMemory);
  const int length = static_cast<int>(text.size());
  // Without MB_ERR_INVALID_CHARS every invalid sequence becomes U+FFFD.
  const int needed = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), needed);
  return wide;
}

std::string Narrow(const wchar_t* text, std::size_t length) {
  if (length == 0) return {};
  if (length > INT_MAX / 3) throw Failure(err::kOutOfMemory);
  const int count = static_cast<int>(length);
  const int needed = ::WideCharToMultiByte(CP_UTF8, 0, text, count, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(needed), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, count, narrow.data(), needed, nullptr, nullptr);
  return narrow;
}

}  // namespace platform
