// The encodings feeds declare, decoded alike on every system: the Unicode
// ones by hand, the others by the system's converter (iconv on Linux, the
// code pages on Windows).
#include "platform/encoding_conversion.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/text_encoding.h"
#include "platform/xml_encoding.h"

namespace {

struct Case {
  const char* encoding;
  std::string bytes;
  std::string utf8;
};

TEST(EncodingConversion, NamedEncodingsDecodeAlikeEverywhere) {
  const Case cases[] = {
      {"WINDOWS-1251", "\xCF\xF0\xE8", "\xD0\x9F\xD1\x80\xD0\xB8"},   // При
      {"CP1250", "\x8A", "\xC5\xA0"},                                 // Š
      {"ISO-8859-2", "\xA9", "\xC5\xA0"},                             // Š
      {"ISO-8859-15", "\xA4", "\xE2\x82\xAC"},                        // €
      {"KOI8-R", "\xF0", "\xD0\x9F"},                                 // П
      {"SHIFT_JIS", "\x93\xFA\x96\x7B", "\xE6\x97\xA5\xE6\x9C\xAC"},  // 日本
      {"GBK", "\xD6\xD0\xCE\xC4", "\xE4\xB8\xAD\xE6\x96\x87"},        // 中文
      {"GB2312", "\xD6\xD0", "\xE4\xB8\xAD"},                         // 中
      {"BIG5", "\xA4\xA4\xA4\xE5", "\xE4\xB8\xAD\xE6\x96\x87"},       // 中文
      {"EUC-KR", "\xC7\xD1\xB1\xB9", "\xED\x95\x9C\xEA\xB5\xAD"},     // 한국
      {"UTF-16BE", std::string("\0A\x20\xAC", 4), "A\xE2\x82\xAC"},
      {"UTF-16LE", std::string("A\0\xAC\x20", 4), "A\xE2\x82\xAC"},
      {"UTF-32LE", std::string("\xAC\x20\0\0", 4), "\xE2\x82\xAC"},
      // A surrogate pair (U+1F600) and, without a byte order, a mark or else big-endian.
      {"UTF-16LE", std::string("\x3D\xD8\x00\xDE", 4), "\xF0\x9F\x98\x80"},
      {"UTF-16", std::string("\xFF\xFE\x41\0", 4), "A"},
      {"UTF-16", std::string("\0A\0\xE9", 4), "A\xC3\xA9"},
      {"UTF-32BE", std::string("\0\x01\xF6\x00", 4), "\xF0\x9F\x98\x80"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.encoding);
    std::string out, error;
    EXPECT_TRUE(platform::ConvertToUtf8(c.bytes, c.encoding, out, &error)) << error;
    EXPECT_EQ(out, c.utf8);
  }
}

TEST(EncodingConversion, LongTextsGoToUtf16AndBack) {
  // Runs of ASCII longer than the blocks the conversions take at a time,
  // broken at every offset by a character outside it.
  for (std::size_t at = 0; at <= 40; ++at) {
    SCOPED_TRACE(at);
    std::string text;
    for (std::size_t i = 0; i < 40; ++i) text += static_cast<char>('a' + i % 26);
    text.insert(at, "\xC3\xA9");  // é
    const std::string wide = platform::Utf8ToUtf16Le(text);
    ASSERT_EQ(wide.size(), 82u);
    EXPECT_EQ(wide.substr(2 * at, 2), std::string("\xE9\0", 2));
    EXPECT_EQ(wide.substr(at == 0 ? 2 : 0, 2), std::string("a\0", 2));
    EXPECT_EQ(wide.substr(80, 2), std::string(at == 40 ? "\xE9\0" : "n\0", 2));
    std::string back, error;
    ASSERT_TRUE(platform::ConvertToUtf8(wide, "UTF-16LE", back, &error)) << error;
    EXPECT_EQ(back, text);
  }
  // The characters XML does not allow are told on the way, within runs of
  // ASCII and outside them, as a look through the text would tell them.
  for (const char* odd : {"\t\r\n", "\x01", "\x1F", "\xEF\xBF\xBE", "\xEF\xBF\xBF", "\xC3\xA9"}) {
    for (std::size_t at : {0, 3, 20}) {
      std::string text(24, 'x');
      text.insert(at, odd);
      SCOPED_TRACE(text);
      std::string back, error;
      std::optional<bool> non_xml_chars;
      ASSERT_TRUE(platform::ConvertToUtf8(platform::Utf8ToUtf16Le(text), "UTF-16LE", back, &error,
                                          &non_xml_chars));
      ASSERT_TRUE(non_xml_chars.has_value());
      EXPECT_EQ(*non_xml_chars, platform::ScanUtf8(text).non_xml_chars);
    }
  }
}

TEST(EncodingConversion, InvalidBytesAndUnknownNames) {
  std::string out, error;
  // A lead byte cut off at the end of the text.
  EXPECT_FALSE(platform::ConvertToUtf8("a\x93", "SHIFT_JIS", out, &error));
  EXPECT_EQ(error, "bytes not valid in SHIFT_JIS");
  EXPECT_FALSE(platform::ConvertToUtf8("abc", "UTF-16LE", out, &error));
  EXPECT_EQ(error, "bytes not valid in UTF-16LE");
  // Lone surrogates, high and low, and a code point past U+10FFFF.
  for (const std::string& lone : {std::string("\x3D\xD8\x41\0", 4), std::string("\0\xDE", 2)}) {
    EXPECT_FALSE(platform::ConvertToUtf8(lone, "UTF-16LE", out, &error));
    EXPECT_EQ(error, "bytes not valid in UTF-16LE");
  }
  EXPECT_FALSE(platform::ConvertToUtf8(std::string("\0\x11\0\0", 4), "UTF-32BE", out, &error));
  EXPECT_EQ(error, "bytes not valid in UTF-32BE");
  EXPECT_FALSE(platform::ConvertToUtf8("abc", "NO-SUCH", out, &error));
  EXPECT_EQ(error, "unknown encoding NO-SUCH");
}

}  // namespace
