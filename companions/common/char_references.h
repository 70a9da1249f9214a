// Character references of HTML, read one at a time: the converter rewrites
// the named ones XML lacks before its parse, the viewer decodes them in
// descriptions it shows as plain text.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace companions {

// The code point of an HTML 4 named reference that XML does not predefine
// ("nbsp" -> 160); 0 for any other name. Names match with letter case.
int HtmlEntityCodePoint(std::string_view name);
// The code point of one of XML's five predefined entities (amp, lt, gt,
// quot, apos); 0 for any other name.
int XmlEntityCodePoint(std::string_view name);

// A reference in a text: what stands between its "&" and its ";", and its
// length from the "&" through the ";".
struct Reference {
  std::string_view body;
  std::size_t length = 0;
};
// The reference that starts at text[at] == '&': up to the first ";" when
// what lies between is made of letters, digits and "#" only, and is no longer
// than the longest body ("#x" and eight hex digits). Whether the body names
// anything is the caller's question.
std::optional<Reference> ReferenceAt(std::string_view text, std::size_t at);
// The code point of a numeric body ("#65", "#x41", "#X41": one to eight
// digits); none for anything else. The value is not checked.
std::optional<char32_t> NumericReferenceCodePoint(std::string_view body);

}  // namespace companions
