#include "platform/xml_encoding.h"

#include <gtest/gtest.h>

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
