// The encodings whose Windows code page differs from its name or is missing
// on some systems.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/xml_encoding.h"

namespace {

std::string Declared(const std::string& encoding, const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?><a>" + body + "</a>";
}

std::string Decoded(const std::string& encoding, const std::string& body, std::string* error) {
  auto decoded =
      platform::DecodeXmlBytes(Declared(encoding, body), platform::XmlDecoding::kStrict, error);
  if (!decoded) return "(not decoded)";
  return decoded->text.substr(decoded->text.find("<a>"));
}

TEST(Win32XmlEncoding, EucJpThroughItsDoubleByteTable) {
  std::string error;
  EXPECT_EQ(Decoded("EUC-JP", "\xC6\xFC\xCB\xDC", &error), "<a>\xE6\x97\xA5\xE6\x9C\xAC</a>");
  EXPECT_EQ(Decoded("EUC-JP", "\xC6", &error), "(not decoded)");
  EXPECT_EQ(error, "bytes not valid in EUC-JP");
}

TEST(Win32XmlEncoding, Gb18030AsGbkWhereTheSystemLacksIt) {
  std::string error;
  // A character GBK has: the same bytes in GB18030.
  EXPECT_EQ(Decoded("GB18030", "\xD6\xD0\xCE\xC4", &error), "<a>\xE4\xB8\xAD\xE6\x96\x87</a>");
  // A four-byte form (U+0080): decoded where the system has GB18030, refused
  // where it reads GBK, never decoded wrongly.
  const std::string four = Decoded("GB18030", "\x81\x30\x81\x30", &error);
  if (::IsValidCodePage(54936)) {
    EXPECT_EQ(four, "<a>\xC2\x80</a>");
  } else {
    EXPECT_EQ(four, "(not decoded)");
    EXPECT_EQ(error, "bytes not valid in GB18030");
  }
}

TEST(Win32XmlEncoding, Utf16AndUtf32ByHandAreStrict) {
  std::string error;
  // A lone high surrogate.
  EXPECT_FALSE(platform::DecodeXmlBytes(std::string("\xFF\xFE<\0a\0>\0\x00\xD8<\0", 12),
                                        platform::XmlDecoding::kStrict, &error));
  EXPECT_EQ(error, "bytes not valid in UTF-16LE");
  auto pair = platform::DecodeXmlBytes(std::string("\xFE\xFF\0<\0a\0>\xD8\x3D\xDE\x00", 12),
                                       platform::XmlDecoding::kStrict, &error);
  ASSERT_TRUE(pair);
  EXPECT_EQ(pair->text, "<a>\xF0\x9F\x98\x80");
  EXPECT_FALSE(platform::DecodeXmlBytes(std::string("\x00\x00\xFE\xFF\x00\x11\x00\x00", 8),
                                        platform::XmlDecoding::kStrict, &error));
  EXPECT_EQ(error, "bytes not valid in UTF-32BE");
}

}  // namespace
