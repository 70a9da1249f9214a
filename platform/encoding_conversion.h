// Conversion of text in a named encoding to UTF-8, for the XML layer's
// decoding (xml_encoding.cpp). The Unicode encodings are decoded here, alike
// on every system; the others by the system's own converter.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Converts `bytes`, text in the encoding named `from` (in capitals, as a
// document declares it: "WINDOWS-1251", "SHIFT_JIS", "UTF-16BE", ...), to
// UTF-8 in `out`. Returns false, with "unknown encoding <from>" or "bytes
// not valid in <from>" in `error` (may be null), when the encoding is not
// known or the bytes are not valid in it. UTF-16 and UTF-32 (with or without
// a byte order in the name; without one a mark decides, else big-endian, the
// network order) are never handed to the system: a lone surrogate or a cut
// unit is invalid.
//
// For the Unicode encodings, which are decoded here, `non_xml_chars` (when
// given) is set to whether the text holds characters that XML 1.0 does not
// allow (C0 controls other than tab, line feed and carriage return; U+FFFE,
// U+FFFF); for the others it is left as it is.
bool ConvertToUtf8(std::string_view bytes, const std::string& from, std::string& out,
                   std::string* error, std::optional<bool>* non_xml_chars = nullptr);

// The system's converter, for every other encoding (posix/: iconv, win32/:
// the code pages); the same contract.
bool SystemConvertToUtf8(const std::string& bytes, const std::string& from, std::string& out,
                         std::string* error);

}  // namespace platform
