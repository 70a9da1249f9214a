#include "companions/viewer/description_text.h"

#include <array>
#include <cstdint>
#include <optional>

#include "companions/common/char_references.h"
#include "platform/ascii.h"
#include "platform/text_encoding.h"

namespace viewer {
namespace {

namespace ascii = platform::ascii;

// Tags after which the words on both sides must not run together.
bool SeparatesWords(const std::string& tag) {
  static constexpr std::array<std::string_view, 29> kTags = {
      "br",     "p",          "div", "li",     "ul",        "ol",      "tr",      "td",
      "th",     "table",      "h1",  "h2",     "h3",        "h4",      "h5",      "h6",
      "hr",     "pre",        "dd",  "dt",     "dl",        "section", "article", "header",
      "footer", "blockquote", "img", "figure", "figcaption"};
  for (std::string_view known : kTags) {
    if (tag == known) return true;
  }
  return false;
}

// Position after the '>' that ends the tag starting at `start`; quoted
// attribute values may hold '>'. npos when the tag is never closed.
std::size_t TagEnd(std::string_view html, std::size_t start) {
  std::size_t i = start;
  while (i < html.size() && html[i] != '>') {
    if (html[i] == '"' || html[i] == '\'') {
      const std::size_t close = html.find(html[i], i + 1);
      if (close == std::string_view::npos) return std::string_view::npos;
      i = close;
    }
    ++i;
  }
  return i < html.size() ? i + 1 : std::string_view::npos;
}

// Position after the end tag of `name` found from `from`, ignoring case; the
// end of the text when there is none.
std::size_t AfterEndTag(std::string_view html, std::size_t from, const std::string& name) {
  const std::string lower = ascii::LowerCase(html);
  const std::size_t at = lower.find("</" + name, from);
  if (at == std::string::npos) return html.size();
  const std::size_t end = TagEnd(html, at + 2 + name.size());
  return end == std::string_view::npos ? html.size() : end;
}

std::string StripTags(std::string_view html) {
  std::string text;
  std::size_t i = 0;
  while (i < html.size()) {
    const char c = html[i];
    const char next = i + 1 < html.size() ? html[i + 1] : '\0';
    const bool tag_start =
        c == '<' && (ascii::IsLetter(next) || next == '/' || next == '!' || next == '?');
    if (!tag_start) {
      text += c;
      ++i;
      continue;
    }
    if (html.substr(i, 4) == "<!--") {
      const std::size_t close = html.find("-->", i + 4);
      i = close == std::string_view::npos ? html.size() : close + 3;
      continue;
    }
    std::size_t j = i + 1;
    const bool closing = html[j] == '/';
    if (closing) ++j;
    std::string name;
    while (j < html.size() && ascii::IsLetterOrDigit(html[j])) {
      name += ascii::ToLower(html[j]);
      ++j;
    }
    const std::size_t end = TagEnd(html, j);
    if (end == std::string_view::npos) {
      // Not a tag after all ("x<y" in plain text): the '<' is text.
      text += c;
      ++i;
      continue;
    }
    i = end;
    if (!closing && (name == "script" || name == "style")) i = AfterEndTag(html, i, name);
    if (SeparatesWords(name)) text += ' ';
  }
  return text;
}

// The named references decoded besides XML's own: those descriptions commonly
// use. Any other name stays as it is written.
constexpr std::array<std::string_view, 22> kCommonNames = {
    "nbsp",  "copy",  "reg",   "trade", "hellip", "mdash", "ndash",  "lsquo",
    "rsquo", "ldquo", "rdquo", "laquo", "raquo",  "bull",  "middot", "euro",
    "pound", "yen",   "cent",  "deg",   "times",  "divide"};

std::optional<char32_t> NamedCodePoint(std::string_view name) {
  if (const int code = companions::XmlEntityCodePoint(name)) return static_cast<char32_t>(code);
  for (std::string_view common : kCommonNames) {
    if (name == common) return static_cast<char32_t>(companions::HtmlEntityCodePoint(name));
  }
  return std::nullopt;
}

// Decodes the reference starting at html[at] == '&' into `out`; returns the
// length consumed, 0 when the text there is not a reference.
std::size_t DecodeReference(std::string_view html, std::size_t at, std::string& out) {
  const std::optional<companions::Reference> reference = companions::ReferenceAt(html, at);
  if (!reference) return 0;
  std::optional<char32_t> code = companions::NumericReferenceCodePoint(reference->body);
  if (!code) code = NamedCodePoint(reference->body);
  if (!code) return 0;
  // A character reference for NUL stands for nothing a page may hold.
  platform::AppendUtf8(out, *code == 0 ? char32_t{0xFFFD} : *code);
  return reference->length;
}

std::string DecodeReferences(std::string_view html) {
  std::string text;
  std::size_t i = 0;
  while (i < html.size()) {
    if (html[i] == '&') {
      const std::size_t used = DecodeReference(html, i, text);
      if (used != 0) {
        i += used;
        continue;
      }
    }
    text += html[i];
    ++i;
  }
  return text;
}

// White space within a description, the form feed and vertical tab with it.
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::string CollapseSpace(std::string_view text) {
  std::string out;
  bool pending = false;
  for (char c : text) {
    if (IsSpace(c)) {
      pending = true;
      continue;
    }
    if (pending && !out.empty()) out += ' ';
    pending = false;
    out += c;
  }
  return out;
}

}  // namespace

std::string DescriptionText(std::string_view html) {
  return CollapseSpace(DecodeReferences(StripTags(html)));
}

}  // namespace viewer
