#include "companions/viewer/page.h"

#include <gtest/gtest.h>

#include <utility>

#include "companions/viewer/page_style.h"

namespace viewer {
namespace {

const std::string kHead = std::string(
                              "<!DOCTYPE html>\n"
                              "<html lang=\"en\">\n"
                              "<head>\n"
                              "<meta charset=\"utf-8\">\n"
                              "<meta http-equiv=\"Content-Security-Policy\" "
                              "content=\"default-src 'none'; style-src 'unsafe-inline'\">\n"
                              "<meta name=\"viewport\" content=\"width=device-width, "
                              "initial-scale=1\">\n"
                              "<title>RSS feeds</title>\n"
                              "<style>\n") +
                          kPageStyle + "</style>\n</head>\n<body>\n";

ItemView Item(std::string title, std::string description, std::string link, bool unread) {
  ItemView item;
  item.title = std::move(title);
  item.description = std::move(description);
  item.link = std::move(link);
  item.pub_date = "Mon, 01 Jan 2024 10:00:00 GMT";
  item.author = "Ann";
  item.unread = unread;
  return item;
}

FeedView Feed(std::vector<ItemView> items) {
  FeedView feed;
  feed.number = "1";
  feed.url = "https://example.com/rss";
  feed.store_path = "/data/qLUX/Dovel/RSSLinks/Link_1_T_1.xml";
  feed.title = "News & Notes";
  feed.link = "https://example.com/";
  feed.description = "<p>What&#39;s new</p>";
  feed.items = std::move(items);
  return feed;
}

TEST(EscapeHtml, ReplacesEveryMarkupCharacter) {
  EXPECT_EQ(EscapeHtml("<script>alert(\"x\") & 'y'</script>"),
            "&lt;script&gt;alert(&quot;x&quot;) &amp; &#39;y&#39;&lt;/script&gt;");
  EXPECT_EQ(EscapeHtml("plain text, caf\xC3\xA9"), "plain text, caf\xC3\xA9");
}

TEST(SafeHref, OnlyWebAndMailLinksAreClickable) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"http://example.com/a?b=1&c=2", "http://example.com/a?b=1&c=2"},
      {"HTTPS://Example.com/", "HTTPS://Example.com/"},
      {"  https://example.com/x  \n", "https://example.com/x"},
      {"mailto:news@example.com", "mailto:news@example.com"},
      {"javascript:alert(1)", std::nullopt},
      {" JavaScript:alert(1)", std::nullopt},
      {"\x01javascript:alert(1)", std::nullopt},
      {"java\tscript:alert(1)", std::nullopt},
      {"https://example.com/\nx", std::nullopt},
      {"data:text/html,<script>alert(1)</script>", std::nullopt},
      {"vbscript:msgbox", std::nullopt},
      {"file:///etc/passwd", std::nullopt},
      {"//example.com/", std::nullopt},
      {"/relative", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [link, href] : cases) EXPECT_EQ(SafeHref(link), href) << link;
}

TEST(RenderItem, UnreadItemStandsOutAndEveryTextIsEscaped) {
  ItemView item = Item("<script>alert('t')</script> & \"more\"",
                       "<b>Bold</b> &amp; <script>alert(1)</script>&lt;i&gt;",
                       "https://example.com/a?x=1&y=\"2\"", true);
  item.author = "Ann <ann@example.com>";
  EXPECT_EQ(
      RenderItem(item),
      "<li class=\"item unread\">\n"
      "<p class=\"headline\"><span class=\"new\">New</span> <a class=\"title\" "
      "href=\"https://example.com/a?x=1&amp;y=&quot;2&quot;\">&lt;script&gt;alert(&#39;t&#39;)"
      "&lt;/script&gt; &amp; &quot;more&quot;</a></p>\n"
      "<p class=\"meta\"><span class=\"date\">Mon, 01 Jan 2024 10:00:00 GMT</span> "
      "<span class=\"author\">by Ann &lt;ann@example.com&gt;</span></p>\n"
      "<p class=\"description\">Bold &amp; &lt;i&gt;</p>\n"
      "</li>\n");
}

TEST(RenderItem, ReadItemWithScriptLinkIsNoLink) {
  ItemView item = Item("Old news", "Plain text", "javascript:alert(document.cookie)", false);
  EXPECT_EQ(RenderItem(item),
            "<li class=\"item\">\n"
            "<p class=\"headline\"><span class=\"title\">Old news</span></p>\n"
            "<p class=\"meta\"><span class=\"date\">Mon, 01 Jan 2024 10:00:00 GMT</span> "
            "<span class=\"author\">by Ann</span></p>\n"
            "<p class=\"description\">Plain text</p>\n"
            "</li>\n");
}

TEST(RenderItem, EmptyFieldsAreLeftOut) {
  ItemView only_date;
  only_date.pub_date = "2024-01-02";
  EXPECT_EQ(RenderItem(only_date),
            "<li class=\"item\">\n"
            "<p class=\"headline\"><span class=\"title\">(no title)</span></p>\n"
            "<p class=\"meta\"><span class=\"date\">2024-01-02</span></p>\n"
            "</li>\n");
  ItemView only_author;
  only_author.title = "T";
  only_author.author = "Bob";
  only_author.description = "<p> </p>";
  EXPECT_EQ(RenderItem(only_author),
            "<li class=\"item\">\n"
            "<p class=\"headline\"><span class=\"title\">T</span></p>\n"
            "<p class=\"meta\"><span class=\"author\">by Bob</span></p>\n"
            "</li>\n");
}

TEST(RenderFeed, HeaderThenItemsInStoreOrder) {
  const FeedView feed = Feed({Item("Second", "", "https://example.com/2", true),
                              Item("First", "", "https://example.com/1", false)});
  EXPECT_EQ(RenderFeed(feed),
            "<section class=\"feed\">\n"
            "<h2><a href=\"https://example.com/\">News &amp; Notes</a> "
            "<span class=\"count\">1 new</span></h2>\n"
            "<p class=\"feed-description\">What&#39;s new</p>\n"
            "<ol class=\"items\">\n" +
                RenderItem(feed.items[0]) + RenderItem(feed.items[1]) +
                "</ol>\n"
                "</section>\n");
}

TEST(RenderFeed, SaysHowManyOlderItemsOfEachKindItLeavesOut) {
  FeedView feed = Feed({Item("Second", "", "https://example.com/2", true)});
  feed.unread_left_out = 2779;
  feed.read_left_out = 1;
  EXPECT_EQ(RenderFeed(feed),
            "<section class=\"feed\">\n"
            "<h2><a href=\"https://example.com/\">News &amp; Notes</a> "
            "<span class=\"count\">2,780 new</span></h2>\n"
            "<p class=\"feed-description\">What&#39;s new</p>\n"
            "<ol class=\"items\">\n" +
                RenderItem(feed.items[0]) +
                "</ol>\n"
                "<p class=\"more\">and 2,779 older unread items, kept for the next time</p>\n"
                "<p class=\"more\">and 1 older read item</p>\n"
                "</section>\n");
  EXPECT_EQ(UnreadCount({feed}), 2780u);
  EXPECT_EQ(GroupedNumber(1234567), "1,234,567");
  EXPECT_EQ(GroupedNumber(999), "999");
}

TEST(RenderFeed, FeedWithoutItemsOrTitle) {
  FeedView feed = Feed({});
  feed.number = "3";
  feed.title = "";
  feed.link = "javascript:void(0)";
  feed.description = "";
  EXPECT_EQ(RenderFeed(feed),
            "<section class=\"feed\">\n"
            "<h2>Feed 3</h2>\n"
            "<p class=\"empty\">No items yet.</p>\n"
            "</section>\n");
}

TEST(RenderFeed, MissingAndUnreadableStoresAreNamedWithAMessage) {
  FeedView missing = Feed({});
  missing.number = "2";
  missing.state = FeedView::State::kMissing;
  missing.store_path = "/data/RSSLinks/Link_2_<T>_1.xml";
  EXPECT_EQ(RenderFeed(missing),
            "<section class=\"feed problem\">\n"
            "<h2>Feed 2</h2>\n"
            "<p class=\"feed-description\"><a href=\"https://example.com/rss\">"
            "https://example.com/rss</a></p>\n"
            "<p class=\"message\">Nothing has been stored for this feed yet: its store file "
            "/data/RSSLinks/Link_2_&lt;T&gt;_1.xml does not exist.</p>\n"
            "</section>\n");

  FeedView unreadable = Feed({});
  unreadable.number = "4";
  unreadable.url = "javascript:alert(1)";
  unreadable.state = FeedView::State::kUnreadable;
  unreadable.problem = "unexpected <end> of data";
  EXPECT_EQ(RenderFeed(unreadable),
            "<section class=\"feed problem\">\n"
            "<h2>Feed 4</h2>\n"
            "<p class=\"feed-description\">javascript:alert(1)</p>\n"
            "<p class=\"message\">The store file /data/qLUX/Dovel/RSSLinks/Link_1_T_1.xml of this "
            "feed could not be read: unexpected &lt;end&gt; of data</p>\n"
            "</section>\n");

  FeedView no_url = missing;
  no_url.url = "";
  EXPECT_EQ(RenderFeed(no_url),
            "<section class=\"feed problem\">\n"
            "<h2>Feed 2</h2>\n"
            "<p class=\"message\">Nothing has been stored for this feed yet: its store file "
            "/data/RSSLinks/Link_2_&lt;T&gt;_1.xml does not exist.</p>\n"
            "</section>\n");
}

TEST(UnreadSummary, CountsOverAllFeeds) {
  FeedView missing = Feed({Item("x", "", "", true)});
  missing.state = FeedView::State::kMissing;
  missing.items.clear();
  const std::vector<FeedView> feeds = {
      Feed({Item("a", "", "", true), Item("b", "", "", false), Item("c", "", "", true)}), missing,
      Feed({Item("d", "", "", true)})};
  EXPECT_EQ(UnreadCount(feeds), 3u);
  EXPECT_EQ(UnreadSummary(0), "No unread items");
  EXPECT_EQ(UnreadSummary(1), "1 unread item");
  EXPECT_EQ(UnreadSummary(3), "3 unread items");
}

TEST(RenderPage, WholePage) {
  const std::vector<FeedView> feeds = {Feed({Item("Only", "Text", "mailto:a@example.com", true)})};
  EXPECT_EQ(RenderPage(feeds),
            kHead +
                "<header>\n<h1>RSS feeds</h1>\n<p class=\"summary\">1 unread item</p>\n"
                "</header>\n<main>\n"
                "<section class=\"feed\">\n"
                "<h2><a href=\"https://example.com/\">News &amp; Notes</a> "
                "<span class=\"count\">1 new</span></h2>\n"
                "<p class=\"feed-description\">What&#39;s new</p>\n"
                "<ol class=\"items\">\n"
                "<li class=\"item unread\">\n"
                "<p class=\"headline\"><span class=\"new\">New</span> <a class=\"title\" "
                "href=\"mailto:a@example.com\">Only</a></p>\n"
                "<p class=\"meta\"><span class=\"date\">Mon, 01 Jan 2024 10:00:00 GMT</span> "
                "<span class=\"author\">by Ann</span></p>\n"
                "<p class=\"description\">Text</p>\n"
                "</li>\n"
                "</ol>\n"
                "</section>\n"
                "</main>\n</body>\n</html>\n");
}

TEST(RenderPage, NothingToShowYet) {
  EXPECT_EQ(RenderNothingYetPage(),
            kHead +
                "<header>\n<h1>RSS feeds</h1>\n<p class=\"summary\">Nothing to show yet</p>\n"
                "</header>\n<main>\n<p class=\"empty\">There is nothing to show yet: no feed "
                "update has recorded any feeds for this user.</p>\n</main>\n</body>\n</html>\n");
}

}  // namespace
}  // namespace viewer
