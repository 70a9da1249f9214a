// Conversions between the text encodings the layer meets. Portable code.
#pragma once

#include <string>

namespace platform {

// Appends the UTF-8 form of a code point; a surrogate or a value past
// U+10FFFF is written as U+FFFD.
void AppendUtf8(std::string& out, char32_t code_point);
// The same written at `at`, which has room for four bytes; returns the
// position after it.
char* PutUtf8(char* at, char32_t code_point);
// UTF-16 LE bytes (no BOM) to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16LeToUtf8(const std::string& bytes);
// UTF-8 to UTF-16 LE bytes (no BOM); invalid UTF-8 bytes become U+FFFD.
std::string Utf8ToUtf16Le(const std::string& text);
// UTF-8 with every invalid sequence replaced by U+FFFD.
std::string ValidUtf8(const std::string& text);

}  // namespace platform
