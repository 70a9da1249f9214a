#include "companions/common/char_references.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace companions {
namespace {

TEST(CharReferences, NamedCodePoints) {
  const std::pair<const char*, int> cases[] = {{"nbsp", 160},
                                               {"eacute", 233},
                                               {"Eacute", 201},
                                               {"AElig", 198},
                                               {"thetasym", 977},
                                               {"zwnj", 8204},
                                               {"euro", 8364},
                                               // XML's own, other letter case, unknown names.
                                               {"amp", 0},
                                               {"apos", 0},
                                               {"NBSP", 0},
                                               {"bogus", 0},
                                               {"", 0}};
  for (const auto& [name, code_point] : cases) EXPECT_EQ(HtmlEntityCodePoint(name), code_point);

  std::u32string predefined;
  for (const char* name : {"amp", "lt", "gt", "quot", "apos"}) {
    predefined += static_cast<char32_t>(XmlEntityCodePoint(name));
  }
  EXPECT_EQ(predefined, U"&<>\"'");
  EXPECT_EQ(XmlEntityCodePoint("nbsp"), 0);
  EXPECT_EQ(XmlEntityCodePoint("AMP"), 0);
}

TEST(CharReferences, ReferenceRunsToTheFirstSemicolonNearBy) {
  const std::string text = "a&nbsp;b&#x0010FFFF;&#x00010FFFF;&;&amp";
  std::optional<Reference> found = ReferenceAt(text, 1);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->body, "nbsp");
  EXPECT_EQ(found->length, 6u);
  found = ReferenceAt(text, 8);  // the longest body, ten bytes
  ASSERT_TRUE(found);
  EXPECT_EQ(found->body, "#x0010FFFF");
  EXPECT_EQ(found->length, 12u);
  EXPECT_FALSE(ReferenceAt(text, 20));  // eleven bytes
  found = ReferenceAt(text, 33);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->body, "");
  EXPECT_EQ(found->length, 2u);
  EXPECT_FALSE(ReferenceAt(text, 35));  // no ";" at all
  // Nothing but a name or a number makes a body.
  for (const char* other : {"&a b;", "&a&b;", "&#-1;", "&<;"}) EXPECT_FALSE(ReferenceAt(other, 0));
}

TEST(CharReferences, NumericBodies) {
  EXPECT_EQ(NumericReferenceCodePoint("#65"), U'A');
  EXPECT_EQ(NumericReferenceCodePoint("#x42"), U'B');
  EXPECT_EQ(NumericReferenceCodePoint("#X4a"), U'J');
  EXPECT_EQ(NumericReferenceCodePoint("#xFFFFFFFF"), char32_t{0xFFFFFFFF});  // not checked
  EXPECT_EQ(NumericReferenceCodePoint("#99999999"), char32_t{99999999});
  EXPECT_EQ(NumericReferenceCodePoint("#0"), char32_t{0});
  for (const char* bad : {"#", "#x", "#123456789", "#x123456789", "#6a", "#xZZ", "#-1", "# 1", "65",
                          "x41", "nbsp", ""}) {
    EXPECT_FALSE(NumericReferenceCodePoint(bad)) << bad;
  }
}

}  // namespace
}  // namespace companions
