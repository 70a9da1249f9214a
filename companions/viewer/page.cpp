#include "companions/viewer/page.h"

#include <array>
#include <cstdint>
#include <utility>

#include "platform/text_encoding.h"

namespace viewer {
namespace {

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsAsciiDigit(char c) {
  return c >= '0' && c <= '9';
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = LowerAscii(c);
  return lower;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// A character reference for NUL stands for nothing a page may hold.
void AppendCharacter(std::string& out, std::uint32_t code) {
  platform::AppendUtf8(out, code == 0 ? char32_t{0xFFFD} : static_cast<char32_t>(code));
}

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
  const std::string lower = Lower(html);
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
        c == '<' && (IsAsciiLetter(next) || next == '/' || next == '!' || next == '?');
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
    while (j < html.size() && (IsAsciiLetter(html[j]) || IsAsciiDigit(html[j]))) {
      name += LowerAscii(html[j]);
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

// The named character references that descriptions commonly use.
constexpr std::array<std::pair<std::string_view, std::uint32_t>, 27> kNamedReferences = {{
    {"amp", 0x26},     {"lt", 0x3C},      {"gt", 0x3E},      {"quot", 0x22},    {"apos", 0x27},
    {"nbsp", 0xA0},    {"copy", 0xA9},    {"reg", 0xAE},     {"trade", 0x2122}, {"hellip", 0x2026},
    {"mdash", 0x2014}, {"ndash", 0x2013}, {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"ldquo", 0x201C},
    {"rdquo", 0x201D}, {"laquo", 0xAB},   {"raquo", 0xBB},   {"bull", 0x2022},  {"middot", 0xB7},
    {"euro", 0x20AC},  {"pound", 0xA3},   {"yen", 0xA5},     {"cent", 0xA2},    {"deg", 0xB0},
    {"times", 0xD7},   {"divide", 0xF7},
}};

// Decodes the reference starting at html[at] == '&' into `out`; returns the
// length consumed, 0 when the text there is not a reference.
std::size_t DecodeReference(std::string_view html, std::size_t at, std::string& out) {
  const std::size_t semicolon = html.find(';', at + 1);
  if (semicolon == std::string_view::npos || semicolon - at > 12) return 0;
  const std::string_view body = html.substr(at + 1, semicolon - at - 1);
  if (body.size() >= 2 && body[0] == '#') {
    const bool hex = body[1] == 'x' || body[1] == 'X';
    const std::string_view digits = body.substr(hex ? 2 : 1);
    if (digits.empty() || digits.size() > 8) return 0;
    std::uint32_t code = 0;
    for (char d : digits) {
      std::uint32_t value;
      if (IsAsciiDigit(d)) {
        value = static_cast<std::uint32_t>(d - '0');
      } else if (hex && LowerAscii(d) >= 'a' && LowerAscii(d) <= 'f') {
        value = static_cast<std::uint32_t>(LowerAscii(d) - 'a' + 10);
      } else {
        return 0;
      }
      code = code * (hex ? 16 : 10) + value;
    }
    AppendCharacter(out, code);
    return semicolon - at + 1;
  }
  for (const auto& [name, code] : kNamedReferences) {
    if (body == name) {
      AppendCharacter(out, code);
      return semicolon - at + 1;
    }
  }
  return 0;
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

std::string CountText(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + (n == 1 ? one : many);
}

std::size_t UnreadItems(const FeedView& feed) {
  std::size_t unread = 0;
  for (const ItemView& item : feed.items) unread += item.unread ? 1 : 0;
  return unread;
}

// `text` as a link to `link` when the link may be clicked, else as plain text.
std::string LinkOrText(const std::string& link, const std::string& text,
                       const std::string& css_class) {
  const std::string class_attribute = css_class.empty() ? "" : " class=\"" + css_class + "\"";
  if (const std::optional<std::string> href = SafeHref(link)) {
    return "<a" + class_attribute + " href=\"" + EscapeHtml(*href) + "\">" + EscapeHtml(text) +
           "</a>";
  }
  if (css_class.empty()) return EscapeHtml(text);
  return "<span" + class_attribute + ">" + EscapeHtml(text) + "</span>";
}

std::string PageHead() {
  return std::string(
             "<!DOCTYPE html>\n"
             "<html lang=\"en\">\n"
             "<head>\n"
             "<meta charset=\"utf-8\">\n"
             "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
             "style-src 'unsafe-inline'\">\n"
             "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
             "<title>RSS feeds</title>\n"
             "<style>\n") +
         kPageStyle +
         "</style>\n"
         "</head>\n"
         "<body>\n";
}

}  // namespace

const char kPageStyle[] =
    "body { margin: 0; background: #f3f4f6; color: #1f2933; "
    "font: 15px/1.5 \"DejaVu Sans\", \"Segoe UI\", Arial, sans-serif; }\n"
    "header { background: #1e3a5f; color: #fff; padding: 16px 32px; }\n"
    "h1 { margin: 0; font-size: 22px; }\n"
    ".summary { margin: 4px 0 0; color: #cfe0f5; }\n"
    "main { max-width: 900px; margin: 0 auto; padding: 16px 24px 32px; }\n"
    ".feed { background: #fff; border-radius: 6px; margin: 16px 0; padding: 12px 20px; "
    "box-shadow: 0 1px 3px rgba(0, 0, 0, 0.12); }\n"
    ".feed h2 { margin: 4px 0; font-size: 19px; }\n"
    ".feed h2 a { color: #1e3a5f; }\n"
    ".count { font-size: 13px; font-weight: normal; color: #fff; background: #c2410c; "
    "border-radius: 10px; padding: 1px 8px; vertical-align: middle; }\n"
    ".feed-description { margin: 0 0 8px; color: #52606d; }\n"
    ".items { list-style: none; margin: 0; padding: 0; }\n"
    ".item { border-top: 1px solid #e4e7eb; padding: 8px 12px; }\n"
    ".item p { margin: 2px 0; }\n"
    ".item.unread { background: #fff7ed; border-left: 4px solid #c2410c; }\n"
    ".item.unread .title { font-weight: bold; }\n"
    ".new { display: inline-block; font-size: 11px; font-weight: bold; color: #fff; "
    "background: #c2410c; border-radius: 3px; padding: 0 5px; margin-right: 6px; "
    "text-transform: uppercase; }\n"
    ".title { color: #0b5cad; font-size: 16px; }\n"
    ".meta { font-size: 13px; color: #7b8794; }\n"
    ".description { color: #323f4b; }\n"
    ".problem { border-left: 4px solid #9aa5b1; }\n"
    ".message { color: #9b1c1c; }\n"
    ".empty { color: #7b8794; font-style: italic; }\n";

std::string EscapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string DescriptionText(std::string_view html) {
  return CollapseSpace(DecodeReferences(StripTags(html)));
}

std::optional<std::string> SafeHref(std::string_view link) {
  // Browsers drop leading and trailing blanks and controls, and the tabs and
  // line breaks inside a URL ("java\tscript:"), so none may slip past here.
  std::size_t begin = 0;
  std::size_t end = link.size();
  while (begin < end && static_cast<unsigned char>(link[begin]) <= 0x20) ++begin;
  while (end > begin && static_cast<unsigned char>(link[end - 1]) <= 0x20) --end;
  const std::string_view trimmed = link.substr(begin, end - begin);
  for (char c : trimmed) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return std::nullopt;
  }
  const std::string lower = Lower(trimmed.substr(0, 8));
  for (std::string_view scheme : {"http://", "https://", "mailto:"}) {
    if (lower.starts_with(scheme)) return std::string(trimmed);
  }
  return std::nullopt;
}

std::size_t UnreadCount(const std::vector<FeedView>& feeds) {
  std::size_t unread = 0;
  for (const FeedView& feed : feeds) unread += UnreadItems(feed);
  return unread;
}

std::string UnreadSummary(std::size_t unread) {
  if (unread == 0) return "No unread items";
  return CountText(unread, " unread item", " unread items");
}

std::string RenderItem(const ItemView& item) {
  std::string html = item.unread ? "<li class=\"item unread\">\n" : "<li class=\"item\">\n";
  html += "<p class=\"headline\">";
  if (item.unread) html += "<span class=\"new\">New</span> ";
  html += LinkOrText(item.link, item.title.empty() ? "(no title)" : item.title, "title");
  html += "</p>\n";
  if (!item.pub_date.empty() || !item.author.empty()) {
    html += "<p class=\"meta\">";
    if (!item.pub_date.empty())
      html += "<span class=\"date\">" + EscapeHtml(item.pub_date) + "</span>";
    if (!item.pub_date.empty() && !item.author.empty()) html += " ";
    if (!item.author.empty())
      html += "<span class=\"author\">by " + EscapeHtml(item.author) + "</span>";
    html += "</p>\n";
  }
  const std::string description = DescriptionText(item.description);
  if (!description.empty()) {
    html += "<p class=\"description\">" + EscapeHtml(description) + "</p>\n";
  }
  html += "</li>\n";
  return html;
}

std::string RenderFeed(const FeedView& feed) {
  const std::string fallback_title = "Feed " + feed.number;
  if (feed.state != FeedView::State::kShown) {
    std::string html =
        "<section class=\"feed problem\">\n<h2>" + EscapeHtml(fallback_title) + "</h2>\n";
    if (!feed.url.empty()) {
      html += "<p class=\"feed-description\">" + LinkOrText(feed.url, feed.url, "") + "</p>\n";
    }
    if (feed.state == FeedView::State::kMissing) {
      html += "<p class=\"message\">Nothing has been stored for this feed yet: its store file " +
              EscapeHtml(feed.store_path) + " does not exist.</p>\n";
    } else {
      html += "<p class=\"message\">The store file " + EscapeHtml(feed.store_path) +
              " of this feed could not be read: " + EscapeHtml(feed.problem) + "</p>\n";
    }
    html += "</section>\n";
    return html;
  }

  std::string html = "<section class=\"feed\">\n<h2>";
  html += LinkOrText(feed.link, feed.title.empty() ? fallback_title : feed.title, "");
  const std::size_t unread = UnreadItems(feed);
  if (unread > 0) html += " <span class=\"count\">" + CountText(unread, " new", " new") + "</span>";
  html += "</h2>\n";
  const std::string description = DescriptionText(feed.description);
  if (!description.empty()) {
    html += "<p class=\"feed-description\">" + EscapeHtml(description) + "</p>\n";
  }
  if (feed.items.empty()) {
    html += "<p class=\"empty\">No items yet.</p>\n";
  } else {
    html += "<ol class=\"items\">\n";
    for (const ItemView& item : feed.items) html += RenderItem(item);
    html += "</ol>\n";
  }
  html += "</section>\n";
  return html;
}

std::string RenderPage(const std::vector<FeedView>& feeds) {
  std::string html = PageHead();
  html += "<header>\n<h1>RSS feeds</h1>\n<p class=\"summary\">" +
          UnreadSummary(UnreadCount(feeds)) + "</p>\n</header>\n<main>\n";
  for (const FeedView& feed : feeds) html += RenderFeed(feed);
  html += "</main>\n</body>\n</html>\n";
  return html;
}

std::string RenderNothingYetPage() {
  return PageHead() +
         "<header>\n<h1>RSS feeds</h1>\n<p class=\"summary\">Nothing to show yet</p>\n"
         "</header>\n<main>\n<p class=\"empty\">There is nothing to show yet: no feed update "
         "has recorded any feeds for this user.</p>\n</main>\n</body>\n</html>\n";
}

}  // namespace viewer
