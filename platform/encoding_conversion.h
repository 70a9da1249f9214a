// Conversion of text in a named encoding to UTF-8 by the system's own
// converter, for the XML layer's decoding (xml_encoding.cpp).
#pragma once

#include <string>

namespace platform {

// Converts `bytes`, text in the encoding named `from` (in capitals, as a
// document declares it: "WINDOWS-1251", "SHIFT_JIS", "UTF-16BE", ...), to
// UTF-8 in `out`. Returns false, with "unknown encoding <from>" or "bytes
// not valid in <from>" in `error` (may be null), when the system does not
// know the encoding or the bytes are not valid in it.
bool ConvertToUtf8(const std::string& bytes, const std::string& from, std::string& out,
                   std::string* error);

}  // namespace platform
