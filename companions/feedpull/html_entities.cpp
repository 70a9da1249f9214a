#include "companions/feedpull/html_entities.h"

#include <algorithm>
#include <string_view>

#include "companions/common/char_references.h"

namespace feedpull {
namespace {

// The position after `terminator`, looked for from `position`, or the end
// when it never comes.
std::size_t After(std::string_view text, std::size_t position, std::string_view terminator) {
  const std::size_t end = text.find(terminator, position);
  return end == std::string_view::npos ? text.size() : end + terminator.size();
}

// Whether `text` holds a reference that HtmlEntityCodePoint knows, in
// markup or out of it.
bool HoldsHtmlReference(std::string_view text) {
  for (std::size_t at = text.find('&'); at != std::string_view::npos; at = text.find('&', at + 1)) {
    const auto reference = companions::ReferenceAt(text, at);
    if (reference && companions::HtmlEntityCodePoint(reference->body) != 0) return true;
  }
  return false;
}

}  // namespace

void ReplaceHtmlEntities(std::string& document) {
  const std::string_view text = document;
  // Most feeds hold none of these references: without one, the markup need
  // not be followed at all.
  if (!HoldsHtmlReference(text)) return;
  // The text is rewritten from the first reference on.
  std::string out;
  std::size_t copied = 0;
  std::size_t i = 0;
  // Only markup and references are looked at. The next of each is found with
  // the library's search, and looked for again only once passed.
  std::size_t next_markup = std::min(text.find('<'), text.size());
  std::size_t next_reference = std::min(text.find('&'), text.size());
  auto next_of = [&](char c, std::size_t& at) {
    if (at < i) at = std::min(text.find(c, i), text.size());
  };
  while (i < text.size()) {
    next_of('<', next_markup);
    next_of('&', next_reference);
    i = std::min(next_markup, next_reference);
    if (i == text.size()) break;
    if (text[i] == '<') {
      // Markup whose content is not parsed for references stays as it is.
      const std::string_view rest = text.substr(i);
      if (rest.starts_with("<![CDATA[")) {
        i = After(text, i, "]]>");
      } else if (rest.starts_with("<!--")) {
        i = After(text, i, "-->");
      } else if (rest.starts_with("<?")) {
        i = After(text, i, "?>");
      } else {
        ++i;
      }
      continue;
    }
    if (const auto reference = companions::ReferenceAt(text, i)) {
      if (const int code_point = companions::HtmlEntityCodePoint(reference->body)) {
        out.append(text, copied, i - copied);
        out += "&#" + std::to_string(code_point) + ";";
        i += reference->length;
        copied = i;
        continue;
      }
    }
    ++i;
  }
  if (copied == 0) return;
  out.append(text, copied);
  document = std::move(out);
}

}  // namespace feedpull
