// Decoding of XML documents held as bytes into UTF-8 text.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace platform {

struct DecodedXml {
  std::string text;      // the document as UTF-8, without a byte-order mark
  std::string encoding;  // the encoding it was read in ("UTF-8", "UTF-16LE", "windows-1252", ...)
  // True when the text holds characters that XML 1.0 does not allow (see
  // ScanUtf8); a parser that takes them must not pass them on.
  bool non_xml_chars = false;
};

// What one pass over UTF-8 text finds.
struct Utf8Scan {
  // No malformed sequence: no stray continuation byte, no overlong form, no
  // surrogate, nothing past U+10FFFF, no sequence cut off at the end.
  bool valid = true;
  // Characters XML 1.0 does not allow: the C0 controls other than tab, line
  // feed and carriage return, U+FFFE and U+FFFF. Only looked for in valid text.
  bool non_xml_chars = false;
};

// Checks the text where it lies, without decoding it: runs of plain ASCII are
// taken eight bytes at a time.
Utf8Scan ScanUtf8(std::string_view text);

#if defined(__SSE2__)
// Whether sixteen ASCII bytes hold a control character XML does not allow:
// tabs and line ends, which indented documents hold on every line, pass.
inline bool HoldsNonXmlControl(__m128i bytes) {
  const int controls = _mm_movemask_epi8(_mm_cmplt_epi8(bytes, _mm_set1_epi8(0x20)));
  if (controls == 0) return false;
  const __m128i allowed = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\t')),
                                                    _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'))),
                                       _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')));
  return (controls & ~_mm_movemask_epi8(allowed)) != 0;
}
#endif

// True for the code points XML 1.0 allows in a document.
inline bool IsXmlChar(char32_t code) {
  return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
         (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
}

// `text` as valid UTF-8 that XML 1.0 can hold: every malformed sequence and
// every character XML does not allow becomes U+FFFD.
std::string XmlSafeText(std::string_view text);

// How strictly bytes that do not fit the encoding are treated.
enum class XmlDecoding {
  // As an XML parser must: a document whose bytes are not valid in its
  // encoding does not decode.
  kStrict,
  // For documents from the wild: a document that declares no encoding but is
  // not valid UTF-8 is read as windows-1252 (the usual cause), and white
  // space before the XML declaration is dropped.
  kLenient,
};

// The encoding is told by a byte-order mark (UTF-8, UTF-16 LE/BE, UTF-32
// LE/BE), else by the byte pattern of "<?xml" in UTF-16 or UTF-32 without a
// mark, else by the encoding of the XML declaration, else it is UTF-8. Every
// encoding the system's converter knows is understood (encoding_conversion.h:
// the C library's iconv on Linux, the code pages on Windows); ISO-8859-1 and
// US-ASCII are read as windows-1252, its superset, as browsers do.
// Returns nothing, with a reason in `error`, when the bytes cannot be
// decoded. The XML declaration stays in the text; its encoding label no
// longer describes the text, which is UTF-8.
// The bytes are taken by value: a caller that moves them in spares a copy of
// the document. The decoded text, when it is not made by a decoder that
// checks it on the way, is checked by `scan`, which a caller may give to
// learn more of the text in the same pass.
using Utf8Scanner = std::function<Utf8Scan(std::string_view)>;
std::optional<DecodedXml> DecodeXmlBytes(std::string bytes, XmlDecoding mode,
                                         std::string* error = nullptr,
                                         const Utf8Scanner& scan = ScanUtf8);

}  // namespace platform
