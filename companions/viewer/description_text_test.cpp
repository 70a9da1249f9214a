#include "companions/viewer/description_text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace viewer {
namespace {

TEST(DescriptionText, ShowsHtmlAsPlainText) {
  const std::pair<const char*, const char*> cases[] = {
      {"<p>Hello &amp; <b>bold</b></p><p>next</p>", "Hello & bold next"},
      {"Before<script type=\"text/javascript\">alert('x<y')</script>After", "BeforeAfter"},
      {"<STYLE>p { color: red }</STYLE>styled", "styled"},
      {"<a href=\"x>y\" title='a>b'>link</a> text", "link text"},
      {"<!-- a <b>comment</b> -->visible", "visible"},
      {"line<br/>break<img src=\"http://tracker.example/p.gif\">end", "line break end"},
      {"&lt;script&gt;alert(1)&lt;/script&gt;", "<script>alert(1)</script>"},
      {"&#65;&#x42;&#X43; &quot;q&quot; &apos;a&apos; &nbsp;|", "ABC \"q\" 'a' \xC2\xA0|"},
      {"&eacute; &amp &unknown; &#xZZ; &#0;", "&eacute; &amp &unknown; &#xZZ; \xEF\xBF\xBD"},
      {"&copy;&reg;&trade;&hellip;&mdash;&ndash;&lsquo;&rsquo;&ldquo;&rdquo;&laquo;&raquo;&bull;"
       "&middot;&euro;&pound;&yen;&cent;&deg;&times;&divide;",
       "\xC2\xA9\xC2\xAE\xE2\x84\xA2\xE2\x80\xA6\xE2\x80\x94\xE2\x80\x93\xE2\x80\x98\xE2\x80\x99"
       "\xE2\x80\x9C\xE2\x80\x9D\xC2\xAB\xC2\xBB\xE2\x80\xA2\xC2\xB7\xE2\x82\xAC\xC2\xA3\xC2\xA5"
       "\xC2\xA2\xC2\xB0\xC3\x97\xC3\xB7"},
      // Eight digits at the most; a value past Unicode or a surrogate shows as U+FFFD.
      {"&#x0010FFFF;&#x00000041;&#000000065;&#xD800;&#x110000;&AMP;",
       "\xF4\x8F\xBF\xBF"
       "A&#000000065;\xEF\xBF\xBD\xEF\xBF\xBD&AMP;"},
      {"Fish & chips, 1 < 2 > 0, x<y", "Fish & chips, 1 < 2 > 0, x<y"},
      {"  many \t spaces\r\nand lines  ", "many spaces and lines"},
      {"<unclosed tag", "<unclosed tag"},
      {"", ""},
  };
  for (const auto& [html, text] : cases) EXPECT_EQ(DescriptionText(html), text) << html;
}

// A long text is cut at a blank, or within a word only where there is no
// blank in its second half, and never inside a character.
TEST(DescriptionText, CutsALongTextAfterTheLimit) {
  const std::string words = std::string(kDescriptionTextLimit - 3, 'w') + " next words";
  EXPECT_EQ(DescriptionText(words), std::string(kDescriptionTextLimit - 3, 'w') + "\xE2\x80\xA6");
  std::string signs = "a";
  while (signs.size() < kDescriptionTextLimit + 10) signs += "\xE2\x82\xAC";
  // 1 + 3 * 666 = 1999 bytes of whole characters fit.
  EXPECT_EQ(DescriptionText(signs), signs.substr(0, 1999) + "\xE2\x80\xA6");
  const std::string fits(kDescriptionTextLimit, 'z');
  EXPECT_EQ(DescriptionText(fits), fits);
}

// Shapes whose text took the square of their size; at 2 MB each ran for
// minutes. The test's own time-out is the bound.
TEST(DescriptionText, HostileShapesGoThroughWhole) {
  const auto repeated = [](const std::string& piece) {
    std::string html;
    while (html.size() < 2 * 1024 * 1024) html += piece;
    return html;
  };
  const std::string ellipsis = "\xE2\x80\xA6";
  EXPECT_EQ(DescriptionText(repeated("<a")), repeated("<a").substr(0, 2000) + ellipsis);
  EXPECT_EQ(DescriptionText(repeated("<a \"")), repeated("<a \"").substr(0, 1998) + ellipsis);
  EXPECT_EQ(DescriptionText(repeated("<script></script>")), "");
  EXPECT_EQ(DescriptionText(repeated("<STYLE>x</style ")), std::string(2000, 'x') + ellipsis);
  EXPECT_EQ(DescriptionText("t" + repeated("<script>")), "t");
}

}  // namespace
}  // namespace viewer
