#include "platform/markup.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(EscapeMarkup, MarkupCharactersAndQuotesWhenAsked) {
  const std::string text = "<script>alert(\"x\") & 'y'</script>";
  EXPECT_EQ(EscapeMarkup(text, Quotes::kEscaped),
            "&lt;script&gt;alert(&quot;x&quot;) &amp; &#39;y&#39;&lt;/script&gt;");
  EXPECT_EQ(EscapeMarkup(text, Quotes::kKept),
            "&lt;script&gt;alert(\"x\") &amp; 'y'&lt;/script&gt;");
  EXPECT_EQ(EscapeMarkup("plain text, caf\xC3\xA9", Quotes::kEscaped), "plain text, caf\xC3\xA9");
  EXPECT_EQ(EscapeMarkup("", Quotes::kKept), "");
}

}  // namespace
}  // namespace platform
