#include "companions/viewer/description_text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

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

// Finds where the tags of one description end. A '<' whose tag is never
// closed is text, and the search for its end must not be made again from
// every such '<' (a description of "<a<a<a..." would cost the square of its
// size): where a search has run out, each position it passed outside quotes
// is remembered as one from which no end is found.
class TagEnds {
 public:
  explicit TagEnds(std::string_view html) : html_(html), dead_end_(html.size(), false) {}

  // Position after the '>' that ends the tag whose name ends before `start`;
  // quoted attribute values may hold '>'. npos when the tag is never closed.
  std::size_t From(std::size_t start) {
    passed_.clear();
    std::size_t i = start;
    while (i < html_.size() && html_[i] != '>') {
      if (dead_end_[i]) break;
      passed_.push_back(i);
      if (html_[i] == '"' || html_[i] == '\'') {
        const std::size_t close = html_.find(html_[i], i + 1);
        if (close == std::string_view::npos) break;
        i = close;
      }
      ++i;
    }
    if (i < html_.size() && html_[i] == '>') return i + 1;
    for (std::size_t at : passed_) dead_end_[at] = true;
    return std::string_view::npos;
  }

 private:
  std::string_view html_;
  std::vector<bool> dead_end_;
  std::vector<std::size_t> passed_;
};

// Position of the end tag "</name" (any letter case) from `from`; npos when
// there is none.
std::size_t FindEndTag(std::string_view html, std::size_t from, std::string_view name) {
  for (std::size_t at = html.find("</", from); at != std::string_view::npos;
       at = html.find("</", at + 2)) {
    const std::string_view candidate = html.substr(at + 2, name.size());
    if (candidate.size() == name.size() &&
        std::equal(candidate.begin(), candidate.end(), name.begin(),
                   [](char a, char b) { return ascii::ToLower(a) == b; })) {
      return at;
    }
  }
  return std::string_view::npos;
}

// Position after the end tag of `name` found from `from`, ignoring case; the
// end of the text when there is none.
std::size_t AfterEndTag(std::string_view html, std::size_t from, std::string_view name,
                        TagEnds& tag_ends) {
  const std::size_t at = FindEndTag(html, from, name);
  if (at == std::string_view::npos) return html.size();
  const std::size_t end = tag_ends.From(at + 2 + name.size());
  return end == std::string_view::npos ? html.size() : end;
}

std::string StripTags(std::string_view html) {
  std::string text;
  TagEnds tag_ends(html);
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
    const std::size_t end = tag_ends.From(j);
    if (end == std::string_view::npos) {
      // Not a tag after all ("x<y" in plain text): the '<' is text.
      text += c;
      ++i;
      continue;
    }
    i = end;
    if (!closing && (name == "script" || name == "style")) {
      i = AfterEndTag(html, i, name, tag_ends);
    }
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

// The text cut to at most kDescriptionTextLimit bytes and an ellipsis: at the
// last blank of the allowed part when that keeps most of it, otherwise after
// the last whole character.
std::string Shortened(std::string text) {
  if (text.size() <= kDescriptionTextLimit) return text;
  std::size_t cut = kDescriptionTextLimit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  const std::size_t blank = text.rfind(' ', cut);
  if (blank != std::string::npos && blank >= kDescriptionTextLimit / 2) cut = blank;
  text.resize(cut);
  text += "\xE2\x80\xA6";
  return text;
}

}  // namespace

std::string DescriptionText(std::string_view html) {
  return Shortened(CollapseSpace(DecodeReferences(StripTags(html))));
}

}  // namespace viewer
