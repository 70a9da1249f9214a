#include "companions/feedpull/html_entities.h"

#include <algorithm>

#include "companions/common/char_references.h"

namespace feedpull {
namespace {

// Copies `text` from `position` up to and including `terminator`, or to the
// end when it never comes; returns the position after the copied part.
std::size_t CopyThrough(std::string_view text, std::size_t position, std::string_view terminator,
                        std::string& out) {
  std::size_t end = text.find(terminator, position);
  end = end == std::string_view::npos ? text.size() : end + terminator.size();
  out.append(text.substr(position, end - position));
  return end;
}

}  // namespace

std::string ReplaceHtmlEntities(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  // Only markup and references are looked at; the text between them is
  // copied in one piece. The next of each is found with the library's
  // search, and looked for again only once passed.
  std::size_t next_markup = std::min(text.find('<'), text.size());
  std::size_t next_reference = std::min(text.find('&'), text.size());
  auto next_of = [&](char c, std::size_t& at) {
    if (at < i) at = std::min(text.find(c, i), text.size());
  };
  while (i < text.size()) {
    next_of('<', next_markup);
    next_of('&', next_reference);
    const std::size_t next = std::min(next_markup, next_reference);
    out.append(text.substr(i, next - i));
    i = next;
    if (i == text.size()) break;
    char c = text[i];
    if (c == '<') {
      // Markup whose content is not parsed for references stays as it is.
      std::string_view rest = text.substr(i);
      if (rest.starts_with("<![CDATA[")) {
        i = CopyThrough(text, i, "]]>", out);
        continue;
      }
      if (rest.starts_with("<!--")) {
        i = CopyThrough(text, i, "-->", out);
        continue;
      }
      if (rest.starts_with("<?")) {
        i = CopyThrough(text, i, "?>", out);
        continue;
      }
    } else if (c == '&') {
      if (const auto reference = companions::ReferenceAt(text, i)) {
        if (const int code_point = companions::HtmlEntityCodePoint(reference->body)) {
          out += "&#" + std::to_string(code_point) + ";";
          i += reference->length;
          continue;
        }
      }
    }
    out += c;
    ++i;
  }
  return out;
}

}  // namespace feedpull
