#include "companions/feedpull/html_entities.h"

#include <gtest/gtest.h>

namespace feedpull {
namespace {

std::string Replaced(std::string document) {
  ReplaceHtmlEntities(document);
  return document;
}

TEST(HtmlEntities, ReplacedOutsideLiteralMarkup) {
  EXPECT_EQ(Replaced("<t a=\"x&nbsp;y\">caf&eacute; &amp;nbsp; &lt; &#160; &bogus; "
                     "&nbsp &</t>"),
            "<t a=\"x&#160;y\">caf&#233; &amp;nbsp; &lt; &#160; &bogus; &nbsp &</t>");
  EXPECT_EQ(Replaced("<t><![CDATA[&nbsp;]]>&copy;<!-- &nbsp; --><?pi &nbsp;?></t>"),
            "<t><![CDATA[&nbsp;]]>&#169;<!-- &nbsp; --><?pi &nbsp;?></t>");
  // Only whole names of the table count, the longest included.
  EXPECT_EQ(Replaced("&thetasym;&thetasyms;&NBSP;&nbsp ;&nbsp;&#x00010FFFF;&"),
            "&#977;&thetasyms;&NBSP;&nbsp ;&#160;&#x00010FFFF;&");
  EXPECT_EQ(Replaced("<t a='&amp;'>&lt;&#160;&<![CDATA[&]]></t>"),
            "<t a='&amp;'>&lt;&#160;&<![CDATA[&]]></t>");
  // Unterminated literal markup runs to the end and stays as it is.
  EXPECT_EQ(Replaced("<t>&hellip;<![CDATA[&nbsp;"), "<t>&#8230;<![CDATA[&nbsp;");
}

}  // namespace
}  // namespace feedpull
