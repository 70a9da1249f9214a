// Checks of UTF-8 text for the XML layer. Portable code.
//
// Stores run to many megabytes and are checked on every load, so the check
// looks at the bytes where they lie and never builds a second copy: ASCII
// without control characters, the bulk of any store, passes eight bytes per
// step.
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/text_encoding.h"
#include "platform/xml_encoding.h"

namespace platform {
namespace {

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// True when one of the eight bytes has its high bit set or is below 0x20.
bool NeedsALook(std::uint64_t word) {
  return ((word | ((word - kOnes * 0x20) & ~word)) & kHighBits) != 0;
}

bool IsContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

}  // namespace

Utf8Scan ScanUtf8(std::string_view text) {
  Utf8Scan scan;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* const end = p + text.size();
  while (p < end) {
#if defined(__SSE2__)
    // Sixteen ASCII bytes at a time; tabs and line ends, which indented
    // documents hold on every line, do not leave this path.
    if (end - p >= 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      if (_mm_movemask_epi8(bytes) == 0) {
        if (HoldsNonXmlControl(bytes)) scan.non_xml_chars = true;
        p += 16;
        continue;
      }
    }
#endif
    if (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, sizeof word);
      if (!NeedsALook(word)) {
        p += 8;
        continue;
      }
    }
    const unsigned char lead = *p;
    if (lead < 0x80) {
      if (lead < 0x20 && lead != '\t' && lead != '\n' && lead != '\r') scan.non_xml_chars = true;
      ++p;
      continue;
    }
    // The second byte's range depends on the lead byte: this excludes
    // overlong forms, surrogates and code points past U+10FFFF.
    unsigned char low = 0x80, high = 0xBF;
    int length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      scan.valid = false;
      return scan;
    }
    if (end - p < length || p[1] < low || p[1] > high) {
      scan.valid = false;
      return scan;
    }
    for (int k = 2; k < length; ++k) {
      if (!IsContinuation(p[k])) {
        scan.valid = false;
        return scan;
      }
    }
    // U+FFFE and U+FFFF: EF BF BE, EF BF BF.
    if (lead == 0xEF && p[1] == 0xBF && p[2] >= 0xBE) scan.non_xml_chars = true;
    p += length;
  }
  return scan;
}

std::string XmlSafeText(std::string_view text) {
  const Utf8Scan scan = ScanUtf8(text);
  if (scan.valid && !scan.non_xml_chars) return std::string(text);
  const std::string valid = scan.valid ? std::string(text) : ValidUtf8(std::string(text));
  std::string out;
  out.reserve(valid.size());
  for (std::size_t i = 0; i < valid.size();) {
    const auto lead = static_cast<unsigned char>(valid[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      code = (code << 6) | (static_cast<unsigned char>(valid[i + k]) & 0x3F);
    }
    if (IsXmlChar(code)) {
      out.append(valid, i, length);
    } else {
      AppendUtf8(out, 0xFFFD);
    }
    i += length;
  }
  return out;
}

}  // namespace platform
