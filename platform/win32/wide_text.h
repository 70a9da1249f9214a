// UTF-8, the program's text, to and from UTF-16, the text of the system's
// wide ("W") functions. For the Windows implementation only.
//
// The program keeps its own code page: UTF-8 on every system. So the
// single-byte facilities of the layer (registry text, user name, system
// messages, text streams that are not Unicode) hand out UTF-8 on Windows as
// on Linux, and paths with any character reach the file system whole.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Invalid UTF-8 bytes become U+FFFD.
std::wstring Widen(const std::string& text);
// Unpaired surrogates become U+FFFD.
std::string Narrow(const wchar_t* text, std::size_t length);
inline std::string Narrow(const std::wstring& text) {
  return Narrow(text.data(), text.size());
}

}  // namespace platform
