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
