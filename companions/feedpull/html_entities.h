// HTML named character references in feed documents.
//
// Many feeds are written by HTML tools and use references such as "&nbsp;"
// or "&eacute;" that XML does not define. An XML parser either rejects them
// or keeps them as literal text; rewriting them as numeric references before
// the parse gives the characters the publisher meant.
#pragma once

#include <string>

namespace feedpull {

// Replaces, in `document` (XML text), every named reference of HTML 4 that
// XML does not predefine by the equivalent numeric one ("&nbsp;" ->
// "&#160;"). CDATA sections, comments and processing instructions are left
// alone, as are XML's own references.
void ReplaceHtmlEntities(std::string& document);

}  // namespace feedpull
