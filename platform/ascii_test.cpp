#include "platform/ascii.h"

#include <gtest/gtest.h>

#include <string>

namespace platform::ascii {
namespace {

using namespace std::string_view_literals;

TEST(Ascii, ClassesAndHexDigits) {
  std::string digits, letters, hex;
  for (int c = 0; c < 256; ++c) {
    const char byte = static_cast<char>(c);
    if (IsDigit(byte)) digits += byte;
    if (IsLetter(byte)) letters += byte;
    if (IsLetterOrDigit(byte) != (IsLetter(byte) || IsDigit(byte))) ADD_FAILURE() << c;
    if (HexDigitValue(byte) >= 0) hex += static_cast<char>('a' + HexDigitValue(byte));
  }
  EXPECT_EQ(digits, "0123456789");
  EXPECT_EQ(letters, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(hex, "abcdefghijklmnopklmnop");  // 0-9, A-F, a-f as 0..15
}

TEST(Ascii, OnlyAsciiLettersChangeCase) {
  const std::string mixed = "Link_1 \xC3\xA9\xC9\xE9 [Z]@`{";
  EXPECT_EQ(UpperCase(mixed), "LINK_1 \xC3\xA9\xC9\xE9 [Z]@`{");
  EXPECT_EQ(LowerCase(mixed), "link_1 \xC3\xA9\xC9\xE9 [z]@`{");
  EXPECT_TRUE(EqualsIgnoringCase("Content-Type", "content-TYPE"));
  EXPECT_FALSE(EqualsIgnoringCase("\xC9", "\xE9"));
  EXPECT_FALSE(EqualsIgnoringCase("ab", "abc"));
  EXPECT_FALSE(EqualsIgnoringCase("[", "{"));
  EXPECT_TRUE(StartsWithIgnoringCase("HTTPS://x", "https://"));
  EXPECT_FALSE(StartsWithIgnoringCase("http", "https://"));
}

TEST(Ascii, TrimsOnlyTheCallersBlanks) {
  EXPECT_EQ(Trim("  a b \t ", kSpace), "a b \t");
  EXPECT_EQ(Trim("\t\r\n a b \n", kWhiteSpace), "a b");
  EXPECT_EQ(Trim("\v a \f", kWhiteSpace), "\v a \f");
  EXPECT_EQ(Trim("\t a\r\n"), "a");  // white space unless told otherwise
  EXPECT_EQ(TrimLeft("  a  ", kSpace), "a  ");
  EXPECT_EQ(TrimRight("  a  ", kSpace), "  a");
  EXPECT_EQ(Trim("   ", kSpace), "");
  EXPECT_EQ(TrimLeft("   ", kSpace), "");
  EXPECT_EQ(TrimRight("   ", kSpace), "");
  EXPECT_EQ(Trim("", kSpace), "");
  // A NUL counts only when the set holds one.
  EXPECT_EQ(Trim("\0 x \0"sv, " \0"sv), "x");
  EXPECT_EQ(Trim("\0 x \0"sv, kSpace), "\0 x \0"sv);
  EXPECT_TRUE(IsBlank("", kWhiteSpace));
  EXPECT_TRUE(IsBlank(" \t\r\n", kWhiteSpace));
  EXPECT_FALSE(IsBlank(" \t.", kWhiteSpace));
  EXPECT_FALSE(IsBlank("\t", kSpace));
}

}  // namespace
}  // namespace platform::ascii
