#include "platform/text_encoding.h"

#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace platform {
namespace {

// Decodes one UTF-8 sequence at text[i]; advances i. Invalid input gives
// U+FFFD and consumes one byte.
char32_t NextCodePoint(const std::string& text, std::size_t& i) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(i);
  int length = lead < 0x80           ? 1
               : (lead >> 5) == 0x6  ? 2
               : (lead >> 4) == 0xE  ? 3
               : (lead >> 3) == 0x1E ? 4
                                     : 0;
  if (length == 0 || i + length > text.size()) {
    ++i;
    return 0xFFFD;
  }
  char32_t cp = length == 1 ? lead : lead & (0x7F >> length);
  for (int k = 1; k < length; ++k) {
    unsigned char next = byte(i + k);
    if ((next & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (next & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return 0xFFFD;
  }
  i += length;
  return cp;
}

// Whether `text` is valid UTF-8 throughout; ASCII is looked at eight bytes
// at a time.
bool AllValid(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    if (text.size() - i >= 8) {
      std::uint64_t word;
      std::memcpy(&word, text.data() + i, sizeof word);
      if ((word & 0x8080808080808080ULL) == 0) {
        i += 8;
        continue;
      }
    }
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    // An invalid sequence reads as U+FFFD of one byte, U+FFFD itself takes three.
    const std::size_t at = i;
    if (NextCodePoint(text, i) == 0xFFFD && i - at == 1) return false;
  }
  return true;
}

}  // namespace

char* PutUtf8(char* at, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    *at++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *at++ = static_cast<char>(0xC0 | (cp >> 6));
    *at++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *at++ = static_cast<char>(0xE0 | (cp >> 12));
    *at++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *at++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *at++ = static_cast<char>(0xF0 | (cp >> 18));
    *at++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *at++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *at++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return at;
}

void AppendUtf8(std::string& out, char32_t cp) {
  char bytes[4];
  out.append(bytes, static_cast<std::size_t>(PutUtf8(bytes, cp) - bytes));
}

std::string Utf16LeToUtf8(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char32_t unit = static_cast<unsigned char>(bytes[i]) |
                    (static_cast<char32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
      char32_t low = static_cast<unsigned char>(bytes[i + 2]) |
                     (static_cast<char32_t>(static_cast<unsigned char>(bytes[i + 3])) << 8);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    AppendUtf8(out, (unit >= 0xD800 && unit <= 0xDFFF) ? 0xFFFD : unit);
  }
  return out;
}

std::string Utf8ToUtf16Le(const std::string& text) {
  // No UTF-8 sequence, nor a byte read as U+FFFD, takes more than twice its
  // length in UTF-16: the room is made once and written in place, as a
  // whole converted feed goes through here.
  std::string out(text.size() * 2, '\0');
  std::size_t at = 0;
  auto unit = [&](char32_t u) {
    out[at++] = static_cast<char>(u & 0xFF);
    out[at++] = static_cast<char>((u >> 8) & 0xFF);
  };
  for (std::size_t i = 0; i < text.size();) {
#if defined(__SSE2__)
    // Sixteen ASCII bytes at a time, each widened to its unit.
    if (text.size() - i >= 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
      if (_mm_movemask_epi8(bytes) == 0) {
        const __m128i zero = _mm_setzero_si128();
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out.data() + at),
                         _mm_unpacklo_epi8(bytes, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out.data() + at + 16),
                         _mm_unpackhi_epi8(bytes, zero));
        i += 16;
        at += 32;
        continue;
      }
    }
#endif
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      out[at] = static_cast<char>(byte);
      at += 2;
      ++i;
      continue;
    }
    char32_t cp = NextCodePoint(text, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      unit(0xD800 + (cp >> 10));
      unit(0xDC00 + (cp & 0x3FF));
    } else {
      unit(cp);
    }
  }
  out.resize(at);
  return out;
}

std::string ValidUtf8(const std::string& text) {
  // Nearly every text is valid already, which one pass where it lies tells.
  if (AllValid(text)) return text;
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) AppendUtf8(out, NextCodePoint(text, i));
  return out;
}

}  // namespace platform
