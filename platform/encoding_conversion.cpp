// The Unicode encodings, decoded by hand: the same on every system, and a
// feed's UTF-16 copy (read back on every run) is decoded several times
// faster than the C library's iconv does it.
#include "platform/encoding_conversion.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/text_encoding.h"

namespace platform {
namespace {

bool Invalid(const std::string& from, std::string* error) {
  if (error) *error = "bytes not valid in " + from;
  return false;
}

bool IsNonXmlChar(char32_t code) {
  return (code < 0x20 && code != '\t' && code != '\n' && code != '\r') || code == 0xFFFE ||
         code == 0xFFFF;
}

// UTF-16 in either byte order; a lone surrogate or a cut unit is invalid.
// Whether the text holds a character XML does not allow is told on the way.
bool Utf16ToUtf8(std::string_view bytes, bool big_endian, const std::string& from, std::string& out,
                 std::string* error, bool& non_xml_chars) {
  if (bytes.size() % 2 != 0) return Invalid(from, error);
  auto unit = [&](std::size_t i) -> char32_t {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    return big_endian ? (char32_t{a} << 8) | b : (char32_t{b} << 8) | a;
  };
  // A unit takes at most three bytes in UTF-8, a surrogate pair four.
  out.resize(bytes.size() / 2 * 3);
  char* at = out.data();
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
#if defined(__SSE2__)
    // Eight ASCII units at a time, each narrowed to its byte.
    if (!big_endian && bytes.size() - i >= 16) {
      const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data() + i));
      const __m128i high = _mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xFF80)));
      if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) == 0xFFFF) {
        const int controls = _mm_movemask_epi8(_mm_cmplt_epi16(units, _mm_set1_epi16(0x20)));
        if (controls != 0) {
          const __m128i allowed =
              _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(units, _mm_set1_epi16('\t')),
                                        _mm_cmpeq_epi16(units, _mm_set1_epi16('\n'))),
                           _mm_cmpeq_epi16(units, _mm_set1_epi16('\r')));
          if ((controls & ~_mm_movemask_epi8(allowed)) != 0) non_xml_chars = true;
        }
        _mm_storel_epi64(reinterpret_cast<__m128i*>(at), _mm_packus_epi16(units, units));
        at += 8;
        i += 14;  // and the loop's 2
        continue;
      }
    }
#endif
    char32_t code = unit(i);
    if (IsNonXmlChar(code)) non_xml_chars = true;
    if (code < 0x80) {
      *at++ = static_cast<char>(code);
      continue;
    }
    if (code >= 0xDC00 && code <= 0xDFFF) return Invalid(from, error);
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (i + 2 >= bytes.size()) return Invalid(from, error);
      const char32_t low = unit(i + 2);
      if (low < 0xDC00 || low > 0xDFFF) return Invalid(from, error);
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    }
    at = PutUtf8(at, code);
  }
  out.resize(static_cast<std::size_t>(at - out.data()));
  return true;
}

bool Utf32ToUtf8(std::string_view bytes, bool big_endian, const std::string& from, std::string& out,
                 std::string* error, bool& non_xml_chars) {
  if (bytes.size() % 4 != 0) return Invalid(from, error);
  out.resize(bytes.size());
  char* at = out.data();
  for (std::size_t i = 0; i < bytes.size(); i += 4) {
    char32_t code = 0;
    for (int k = 0; k < 4; ++k) {
      const auto byte = static_cast<unsigned char>(bytes[i + (big_endian ? k : 3 - k)]);
      code = (code << 8) | byte;
    }
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return Invalid(from, error);
    if (IsNonXmlChar(code)) non_xml_chars = true;
    at = PutUtf8(at, code);
  }
  out.resize(static_cast<std::size_t>(at - out.data()));
  return true;
}

}  // namespace

bool ConvertToUtf8(std::string_view bytes, const std::string& from, std::string& out,
                   std::string* error, std::optional<bool>* non_xml_chars) {
  bool non_xml = false;
  const auto told = [&](bool ok) {
    if (ok && non_xml_chars != nullptr) *non_xml_chars = non_xml;
    return ok;
  };
  if (from == "UTF-16LE" || from == "UCS-2LE") {
    return told(Utf16ToUtf8(bytes, false, from, out, error, non_xml));
  }
  if (from == "UTF-16BE" || from == "UCS-2BE") {
    return told(Utf16ToUtf8(bytes, true, from, out, error, non_xml));
  }
  if (from == "UTF-32LE" || from == "UCS-4LE") {
    return told(Utf32ToUtf8(bytes, false, from, out, error, non_xml));
  }
  if (from == "UTF-32BE" || from == "UCS-4BE") {
    return told(Utf32ToUtf8(bytes, true, from, out, error, non_xml));
  }
  const bool le_mark = bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE';
  const bool be_mark = bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF';
  if (from == "UTF-16" || from == "UCS-2") {
    return told(Utf16ToUtf8(le_mark || be_mark ? bytes.substr(2) : bytes, !le_mark, from, out,
                            error, non_xml));
  }
  if (from == "UTF-32" || from == "UCS-4") {
    const bool le32 = bytes.size() >= 4 && std::memcmp(bytes.data(), "\xFF\xFE\0\0", 4) == 0;
    const bool be32 = bytes.size() >= 4 && std::memcmp(bytes.data(), "\0\0\xFE\xFF", 4) == 0;
    return told(
        Utf32ToUtf8(le32 || be32 ? bytes.substr(4) : bytes, !le32, from, out, error, non_xml));
  }
  return SystemConvertToUtf8(std::string(bytes), from, out, error);
}

}  // namespace platform
