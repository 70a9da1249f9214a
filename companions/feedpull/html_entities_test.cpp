#include "companions/feedpull/html_entities.h"

#include <gtest/gtest.h>

namespace feedpull {
namespace {

TEST(HtmlEntities, CodePoints) {
  EXPECT_EQ(HtmlEntityCodePoint("nbsp"), 160);
  EXPECT_EQ(HtmlEntityCodePoint("eacute"), 233);
  EXPECT_EQ(HtmlEntityCodePoint("Eacute"), 201);
  EXPECT_EQ(HtmlEntityCodePoint("AElig"), 198);
  EXPECT_EQ(HtmlEntityCodePoint("zwnj"), 8204);
  EXPECT_EQ(HtmlEntityCodePoint("euro"), 8364);
  EXPECT_EQ(HtmlEntityCodePoint("amp"), 0);  // XML's own
  EXPECT_EQ(HtmlEntityCodePoint("apos"), 0);
  EXPECT_EQ(HtmlEntityCodePoint("NBSP"), 0);
  EXPECT_EQ(HtmlEntityCodePoint("bogus"), 0);
}

TEST(HtmlEntities, ReplacedOutsideLiteralMarkup) {
  EXPECT_EQ(ReplaceHtmlEntities("<t a=\"x&nbsp;y\">caf&eacute; &amp;nbsp; &lt; &#160; &bogus; "
                                "&nbsp &</t>"),
            "<t a=\"x&#160;y\">caf&#233; &amp;nbsp; &lt; &#160; &bogus; &nbsp &</t>");
  EXPECT_EQ(ReplaceHtmlEntities("<t><![CDATA[&nbsp;]]>&copy;<!-- &nbsp; --><?pi &nbsp;?></t>"),
            "<t><![CDATA[&nbsp;]]>&#169;<!-- &nbsp; --><?pi &nbsp;?></t>");
  // Unterminated literal markup runs to the end and stays as it is.
  EXPECT_EQ(ReplaceHtmlEntities("<t>&hellip;<![CDATA[&nbsp;"), "<t>&#8230;<![CDATA[&nbsp;");
}

}  // namespace
}  // namespace feedpull
