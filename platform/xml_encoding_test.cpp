#include "platform/xml_encoding.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/text_encoding.h"

using platform::DecodeXmlBytes;
using platform::XmlDecoding;

TEST(XmlEncoding, ByteOrderMarksAndDeclarationsDecideTheEncoding) {
  auto utf8 = DecodeXmlBytes("\xEF\xBB\xBF<a>\xC3\xA9</a>", XmlDecoding::kStrict);
  ASSERT_TRUE(utf8);
  EXPECT_EQ(utf8->text, "<a>é</a>");
  EXPECT_EQ(utf8->encoding, "UTF-8");

  auto utf16 =
      DecodeXmlBytes(std::string("\xFF\xFE<\0a\0>\0\xE9\0<\0/\0a\0>\0", 18), XmlDecoding::kStrict);
  ASSERT_TRUE(utf16);
  EXPECT_EQ(utf16->text, "<a>é</a>");
  EXPECT_EQ(utf16->encoding, "UTF-16LE");

  auto latin1 = DecodeXmlBytes("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xE9\x80</a>",
                               XmlDecoding::kStrict);
  ASSERT_TRUE(latin1);
  EXPECT_EQ(latin1->text, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>é€</a>");

  auto cp1251 = DecodeXmlBytes("<?xml version='1.0' encoding='windows-1251'?><a>\xCF</a>",
                               XmlDecoding::kStrict);
  ASSERT_TRUE(cp1251);
  EXPECT_EQ(cp1251->text, "<?xml version='1.0' encoding='windows-1251'?><a>П</a>");
}

TEST(XmlEncoding, InvalidBytesFailStrictlyAndAreRecoveredLeniently) {
  std::string error;
  EXPECT_FALSE(DecodeXmlBytes("<a>caf\xE9</a>", XmlDecoding::kStrict, &error));
  EXPECT_EQ(error, "bytes not valid in UTF-8");
  auto lenient = DecodeXmlBytes("  \n<?xml version=\"1.0\"?><a>caf\xE9</a>", XmlDecoding::kLenient);
  ASSERT_TRUE(lenient);
  EXPECT_EQ(lenient->text, "<?xml version=\"1.0\"?><a>café</a>");
  EXPECT_EQ(lenient->encoding, "windows-1252");
  EXPECT_FALSE(DecodeXmlBytes("<?xml version=\"1.0\" encoding=\"no-such\"?><a/>",
                              XmlDecoding::kStrict, &error));
  EXPECT_EQ(error, "unknown encoding NO-SUCH");
}

namespace {

// `text` (ASCII and Latin-1 only) as UTF-32 code units.
std::string Utf32(const std::string& latin1, bool little_endian) {
  std::string out;
  for (char c : latin1) {
    const char unit[4] = {static_cast<char>(c), 0, 0, 0};
    if (little_endian) {
      out.append(unit, 4);
    } else {
      out += std::string(3, '\0') + c;
    }
  }
  return out;
}

}  // namespace

TEST(XmlEncoding, Utf32WithItsByteOrderMarkIsNotTakenForUtf16) {
  // FF FE 00 00 starts a UTF-16 LE mark too: the longer mark must win.
  auto le = DecodeXmlBytes(std::string("\xFF\xFE\x00\x00", 4) + Utf32("<a>\xE9</a>", true),
                           XmlDecoding::kStrict);
  ASSERT_TRUE(le);
  EXPECT_EQ(le->text, "<a>é</a>");
  EXPECT_EQ(le->encoding, "UTF-32LE");
  auto be = DecodeXmlBytes(std::string("\x00\x00\xFE\xFF", 4) + Utf32("<a>\xE9</a>", false),
                           XmlDecoding::kStrict);
  ASSERT_TRUE(be);
  EXPECT_EQ(be->text, "<a>é</a>");
  EXPECT_EQ(be->encoding, "UTF-32BE");
}

TEST(XmlEncoding, ScanFindsMalformedUtf8AndCharactersXmlCannotHold) {
  using platform::ScanUtf8;
  struct Case {
    std::string text;
    bool valid, non_xml;
  };
  const Case cases[] = {
      {"", true, false},
      {"plain ASCII, long enough for whole words", true, false},
      {"tab\tline\nreturn\r", true, false},
      {"eight b\x1E", true, true},
      {"tab\there\x1E"
       "and sixteen more bytes",
       true, true},
      {"\t\t\t\t\n\n\n\n\r\r\r\r\t\n\r\t and after", true, false},
      {std::string("0123456789abcdef\0", 17), true, true},
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", true, false},
      {"\xEF\xBF\xBD", true, false},  // U+FFFD itself
      {"\xEF\xBF\xBE", true, true},
      {"\xEF\xBF\xBF", true, true},
      {"\xC0\xAF", false, false},          // overlong
      {"\xE0\x9F\xBF", false, false},      // overlong
      {"\xF0\x8F\xBF\xBF", false, false},  // overlong
      {"\xED\xA0\x80", false, false},      // surrogate
      {"\xF4\x90\x80\x80", false, false},  // past U+10FFFF
      {"\xF5\x80\x80\x80", false, false},
      {"ok \x80", false, false},           // stray continuation
      {"01234567\xE2\x82", false, false},  // cut off at the end
      {"\xE2\x28\xA1 and more text", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(ScanUtf8(c.text).valid, c.valid);
    if (c.valid) {
      EXPECT_EQ(ScanUtf8(c.text).non_xml_chars, c.non_xml);
    }
  }
  // Against the decoding check it replaces, over random text that is mostly
  // ASCII, so that the eight-byte steps meet every alignment.
  std::mt19937 random(7);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 40);
    for (int i = 0; i < length; ++i) {
      const unsigned pick = random() % 16;
      text += pick == 0   ? static_cast<char>(random() % 256)
              : pick == 1 ? static_cast<char>(random() % 0x20)
              : pick == 2 ? '\t'
                          : static_cast<char>(0x20 + random() % 0x5F);
    }
    SCOPED_TRACE(testing::PrintToString(text));
    const bool valid = platform::ValidUtf8(text) == text;
    ASSERT_EQ(ScanUtf8(text).valid, valid);
    if (!valid) continue;
    bool non_xml = text.find("\xEF\xBF\xBE") != std::string::npos ||
                   text.find("\xEF\xBF\xBF") != std::string::npos;
    for (char c : text) {
      if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
        non_xml = true;
      }
    }
    ASSERT_EQ(ScanUtf8(text).non_xml_chars, non_xml);
  }
}
