#include "companions/feedpull/html_entities.h"

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
  while (i < text.size()) {
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
