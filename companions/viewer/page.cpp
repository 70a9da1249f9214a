#include "companions/viewer/page.h"

#include "companions/viewer/description_text.h"
#include "companions/viewer/page_style.h"
#include "platform/ascii.h"
#include "platform/markup.h"

namespace viewer {
namespace {

std::string CountText(std::size_t n, const char* one, const char* many) {
  return GroupedNumber(n) + (n == 1 ? one : many);
}

std::size_t UnreadItems(const FeedView& feed) {
  std::size_t unread = feed.unread_left_out;
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

std::string EscapeHtml(std::string_view text) {
  return platform::EscapeMarkup(text, platform::Quotes::kEscaped);
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
  for (std::string_view scheme : {"http://", "https://", "mailto:"}) {
    if (platform::ascii::StartsWithIgnoringCase(trimmed, scheme)) return std::string(trimmed);
  }
  return std::nullopt;
}

std::string GroupedNumber(std::size_t n) {
  std::string digits = std::to_string(n);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
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
  if (feed.unread_left_out > 0) {
    html += "<p class=\"more\">and " +
            CountText(feed.unread_left_out, " older unread item", " older unread items") +
            ", kept for the next time</p>\n";
  }
  if (feed.read_left_out > 0) {
    html += "<p class=\"more\">and " +
            CountText(feed.read_left_out, " older read item", " older read items") + "</p>\n";
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
