// HTML named character references in feed documents.
//
// Many feeds are written by HTML tools and use references such as "&nbsp;"
// or "&eacute;" that XML does not define. An XML parser either rejects them
// or keeps them as literal text; rewriting them as numeric references before
// the parse gives the characters the publisher meant.
#pragma once

#include <string>
#include <string_view>

namespace feedpull {

// The code point of an HTML 4 named reference that XML does not predefine
// ("nbsp" -> 160); 0 for any other name. Names match with letter case.
int HtmlEntityCodePoint(std::string_view name);

// `text` (an XML document) with every such reference replaced by the
// equivalent numeric one ("&nbsp;" -> "&#160;"). CDATA sections, comments
// and processing instructions are left alone, as are XML's own references.
std::string ReplaceHtmlEntities(std::string_view text);

}  // namespace feedpull
