#include "companions/feedpull/feed_convert.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace feedpull {
namespace {

constexpr const char* kUrl = "http://example.org/news/feed.xml";

Feed Read(const std::string& document, const std::string& url = kUrl) {
  std::string error;
  std::optional<Feed> feed = ReadFeed(document, url, &error);
  EXPECT_TRUE(feed) << error;
  return feed.value_or(Feed{});
}

FeedItem OnlyItem(const std::string& document) {
  Feed feed = Read(document);
  EXPECT_EQ(feed.items.size(), 1u);
  return feed.items.empty() ? FeedItem{} : feed.items.front();
}

std::string Rss(const std::string& item_xml) {
  return "<rss version='2.0'><channel><title>T</title><link>http://example.org/</link>"
         "<description>D</description><item>" +
         item_xml + "</item></channel></rss>";
}

TEST(FeedConvert, Rss2WholeDocument) {
  const std::string feed =
      "<?xml version='1.0' encoding='UTF-8'?>\n"
      "<rss version='2.0' xmlns:dc='http://purl.org/dc/elements/1.1/'>\n"
      " <channel>\n"
      "  <title>News &amp; Views</title>\n"
      "  <link> http://example.org/ </link>\n"
      "  <description>Caf&eacute; talk</description>\n"
      "  <item>\n"
      "   <title> First </title>\n"
      "   <description><![CDATA[<p>Hello&nbsp;world</p>]]></description>\n"
      "   <link>\n   /items/1\n  </link>\n"
      "   <pubDate>Tue, 03 Jun 2003 09:39:21 GMT</pubDate>\n"
      "   <dc:creator>Ann</dc:creator>\n"
      "   <guid isPermaLink='false'>id-1</guid>\n"
      "  </item>\n"
      "  <item>\n"
      "   <title>Second &#x2013; newer</title>\n"
      "   <description>&lt;b&gt;bold&lt;/b&gt;</description>\n"
      "   <pubDate>Wed, 04 Jun 2003 09:39:21 GMT</pubDate>\n"
      "   <author>bob@example.org (Bob)</author>\n"
      "   <guid>http://example.org/items/2</guid>\n"
      "  </item>\n"
      " </channel>\n"
      "</rss>\n";
  std::string error;
  std::optional<std::string> document = ConvertFeed(feed, kUrl, &error);
  ASSERT_TRUE(document) << error;
  EXPECT_EQ(*document,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<rootrss>\n"
            "  <maintitle>News &amp; Views</maintitle>\n"
            "  <mainlink>http://example.org/</mainlink>\n"
            "  <maindescription>Caf\u00e9 talk</maindescription>\n"
            "  <item>\n"
            "    <title>Second \u2013 newer</title>\n"
            "    <description>&lt;b&gt;bold&lt;/b&gt;</description>\n"
            "    <link>http://example.org/items/2</link>\n"
            "    <pubdate>Wed, 04 Jun 2003 09:39:21 GMT</pubdate>\n"
            "    <author>bob@example.org (Bob)</author>\n"
            "    <guid>http://example.org/items/2</guid>\n"
            "  </item>\n"
            "  <item>\n"
            "    <title> First </title>\n"
            "    <description>&lt;p&gt;Hello&amp;nbsp;world&lt;/p&gt;</description>\n"
            "    <link>http://example.org/items/1</link>\n"
            "    <pubdate>Tue, 03 Jun 2003 09:39:21 GMT</pubdate>\n"
            "    <author>Ann</author>\n"
            "    <guid>id-1</guid>\n"
            "  </item>\n"
            "</rootrss>\n");
}

TEST(FeedConvert, AtomWithPrefixedNamespace) {
  // The Atom namespace bound to "a", the default namespace to XHTML.
  const std::string feed =
      "<a:feed xmlns:a='http://www.w3.org/2005/Atom' xmlns='http://www.w3.org/1999/xhtml'>"
      "<a:title>Prefixed</a:title><a:subtitle type='html'>&lt;i&gt;sub&lt;/i&gt;</a:subtitle>"
      "<a:link rel='self' href='http://example.org/feed.atom'/>"
      "<a:link href='http://example.org/'/>"
      "<a:author><a:name>Feed Author</a:name></a:author>"
      "<a:entry><a:id>urn:uuid:1</a:id><a:title type='xhtml'><div>A <b>bold</b> title</div>"
      "</a:title><a:link href='http://example.org/1'/><a:updated>2006-01-18T12:26:54+01:00"
      "</a:updated><a:content type='xhtml'><div><p>Para &amp; more</p></div></a:content>"
      "</a:entry>"
      // Elements of the same local names in other namespaces are no entries.
      "<entry><title>not Atom</title></entry></a:feed>";
  std::optional<std::string> document = ConvertFeed(feed, kUrl);
  ASSERT_TRUE(document);
  EXPECT_EQ(*document,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<rootrss>\n"
            "  <maintitle>Prefixed</maintitle>\n"
            "  <mainlink>http://example.org/</mainlink>\n"
            "  <maindescription>&lt;i&gt;sub&lt;/i&gt;</maindescription>\n"
            "  <item>\n"
            "    <title>A bold title</title>\n"
            "    <description>&lt;p&gt;Para &amp;amp; more&lt;/p&gt;</description>\n"
            "    <link>http://example.org/1</link>\n"
            "    <pubdate>2006-01-18T12:26:54+01:00</pubdate>\n"
            "    <author>Feed Author</author>\n"
            "    <guid>urn:uuid:1</guid>\n"
            "  </item>\n"
            "</rootrss>\n");
}

TEST(FeedConvert, AtomEntryFields) {
  Feed feed = Read(
      "<feed xmlns='http://www.w3.org/2005/Atom' xml:base='http://other.example/base/'>"
      "<title>F</title>"
      "<entry><id>http://example.org/id/1</id><title>With id only</title>"
      "<published>2020-01-02T00:00:00Z</published><updated>2021-01-01T00:00:00Z</updated>"
      "<author><name>Entry Author</name></author>"
      "<summary>Short</summary><content type='html'>&lt;p&gt;Long&lt;/p&gt;</content></entry>"
      "<entry><id>tag:example.org,2020:2</id><title>Rels</title>"
      "<link rel='enclosure' href='/media.mp3'/><link rel='alternate' href='two.html'/>"
      "<updated>2021-01-01T00:00:00Z</updated><summary>Only a summary</summary></entry>"
      "<entry xml:base='/entries/'><id>urn:x</id><link rel='replies' href='3/comments'/>"
      "<content src='http://example.org/out-of-line'/><summary>S</summary></entry>"
      "</feed>");
  ASSERT_EQ(feed.items.size(), 3u);
  // No link: an http(s) id stands in; published before updated; content
  // before summary.
  EXPECT_EQ(feed.items[0],
            (FeedItem{"With id only", "<p>Long</p>", "http://example.org/id/1",
                      "2020-01-02T00:00:00Z", "Entry Author", "http://example.org/id/1"}));
  // The alternate link, resolved against xml:base; a tag: id is no link.
  EXPECT_EQ(feed.items[1], (FeedItem{"Rels", "Only a summary", "http://other.example/base/two.html",
                                     "2021-01-01T00:00:00Z", "", "tag:example.org,2020:2"}));
  // Only links of other relations: the first one, under nested bases.
  EXPECT_EQ(feed.items[2],
            (FeedItem{"", "S", "http://other.example/entries/3/comments", "", "", "urn:x"}));
}

TEST(FeedConvert, Atom03) {
  Feed feed = Read(
      "<feed version='0.3' xmlns='http://purl.org/atom/ns#'>"
      "<title>Old</title><tagline>Tag line</tagline>"
      "<link rel='alternate' type='text/html' href='http://example.org/'/>"
      "<entry><title>One</title><link rel='alternate' href='http://example.org/1'/>"
      "<modified>2003-12-13T18:30:02Z</modified><issued>2003-12-13T08:29:29-04:00</issued>"
      "<created>2003-12-13T01:00:00Z</created><id>tag:1</id>"
      "<author><name>Mark</name></author>"
      "<content type='application/xhtml+xml' mode='xml'>"
      "<div xmlns='http://www.w3.org/1999/xhtml'><p>X</p></div></content></entry>"
      "<entry><title>Two</title><created>2003-12-14T01:00:00Z</created>"
      "<content mode='base64'>SGk=</content><summary>Sum</summary></entry>"
      "</feed>");
  EXPECT_EQ(feed.title, "Old");
  EXPECT_EQ(feed.description, "Tag line");
  EXPECT_EQ(feed.link, "http://example.org/");
  ASSERT_EQ(feed.items.size(), 2u);
  EXPECT_EQ(feed.items[0], (FeedItem{"One", "<p>X</p>", "http://example.org/1",
                                     "2003-12-13T08:29:29-04:00", "Mark", "tag:1"}));
  EXPECT_EQ(feed.items[1].pubdate, "2003-12-14T01:00:00Z");
  EXPECT_EQ(feed.items[1].description, "Sum");
}

TEST(FeedConvert, Rss1) {
  Feed feed = Read(
      "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#' "
      "xmlns='http://purl.org/rss/1.0/' xmlns:dc='http://purl.org/dc/elements/1.1/'>"
      "<channel rdf:about='http://example.org/rss'><title>R</title>"
      "<link>http://example.org/</link><description>Desc</description></channel>"
      "<item rdf:about='http://example.org/a'><title>A</title><link>http://example.org/a</link>"
      "<description>about a</description><dc:date>2009-07-04T13:28:09+01:00</dc:date>"
      "<dc:creator>Ann</dc:creator></item>"
      "<item rdf:about='http://example.org/b'><title>B</title></item>"
      "</rdf:RDF>");
  EXPECT_EQ(feed.title, "R");
  EXPECT_EQ(feed.link, "http://example.org/");
  EXPECT_EQ(feed.description, "Desc");
  ASSERT_EQ(feed.items.size(), 2u);
  EXPECT_EQ(feed.items[0], (FeedItem{"A", "about a", "http://example.org/a",
                                     "2009-07-04T13:28:09+01:00", "Ann", "http://example.org/a"}));
  // Without a link the item's rdf:about, an http URL, is the link.
  EXPECT_EQ(feed.items[1],
            (FeedItem{"B", "", "http://example.org/b", "", "", "http://example.org/b"}));
}

TEST(FeedConvert, RssVariants) {
  // RSS 2.0 elements in the UserLand namespace.
  Feed userland = Read(
      "<rss version='2.0' xmlns='http://backend.userland.com/rss2'><channel><title>U</title>"
      "<item><title>I</title><link>http://example.org/i</link></item></channel></rss>");
  EXPECT_EQ(userland.title, "U");
  ASSERT_EQ(userland.items.size(), 1u);
  EXPECT_EQ(userland.items[0].link, "http://example.org/i");

  // RSS 0.91 and <rss> without a version; fallbacks of the item fields.
  EXPECT_EQ(OnlyItem(Rss("<title>x</title><dc:date xmlns:dc='http://purl.org/dc/elements/1.1/'>"
                         "2020-01-01</dc:date><dc:creator xmlns:dc='http://purl.org/dc/elements/"
                         "1.1/'>Dee</dc:creator><content:encoded xmlns:content='http://purl.org/"
                         "rss/1.0/modules/content/'>Full</content:encoded>")),
            (FeedItem{"x", "Full", "", "2020-01-01", "Dee", ""}));
  // pubDate and author win over their Dublin Core stand-ins; description over
  // content:encoded; element names in another letter case still count.
  EXPECT_EQ(
      OnlyItem(Rss("<dc:date xmlns:dc='http://purl.org/dc/elements/1.1/'>2020-01-01</dc:date>"
                   "<PubDate>Wed, 01 Jan 2020 00:00:00 GMT</PubDate><author>a@b (A)</author>"
                   "<content:encoded xmlns:content='http://purl.org/rss/1.0/modules/content/'>"
                   "Full</content:encoded><description>Short</description>")),
      (FeedItem{"", "Short", "", "Wed, 01 Jan 2020 00:00:00 GMT", "a@b (A)", ""}));
  // An atom:link stands in for a missing link.
  EXPECT_EQ(OnlyItem(Rss("<atom:link xmlns:atom='http://www.w3.org/2005/Atom' rel='alternate' "
                         "href='/x'/>"))
                .link,
            "http://example.org/x");
  // Items beside the channel, as in some very old feeds.
  Feed old = Read(
      "<rss version='0.91'><channel><title>C</title></channel>"
      "<item><title>Outside</title></item></rss>");
  ASSERT_EQ(old.items.size(), 1u);
  EXPECT_EQ(old.items[0].title, "Outside");
}

TEST(FeedConvert, GuidAsPermalink) {
  // isPermaLink absent or "true": the guid is the link, resolved like one.
  EXPECT_EQ(OnlyItem(Rss("<guid>http://example.org/p/1</guid>")).link, "http://example.org/p/1");
  EXPECT_EQ(OnlyItem(Rss("<guid isPermaLink='true'> /p/2 </guid>")).link, "http://example.org/p/2");
  EXPECT_EQ(OnlyItem(Rss("<guid>p/3</guid>")).link, "http://example.org/news/p/3");
  // "false": not a link, unless it is an http(s) URL anyway.
  EXPECT_EQ(OnlyItem(Rss("<guid isPermaLink='false'>rss-only-post-1</guid>")).link, "");
  EXPECT_EQ(OnlyItem(Rss("<guid isPermaLink=' FALSE '>p/4</guid>")).link, "");
  EXPECT_EQ(OnlyItem(Rss("<guid isPermaLink='false'>https://example.org/p/5</guid>")).link,
            "https://example.org/p/5");
  // A link of its own wins over any guid; the guid text stays as given.
  FeedItem both =
      OnlyItem(Rss("<link>http://example.org/l</link><guid> http://example.org/g "
                   "</guid>"));
  EXPECT_EQ(both.link, "http://example.org/l");
  EXPECT_EQ(both.guid, " http://example.org/g ");
  // A blank link counts as none.
  EXPECT_EQ(OnlyItem(Rss("<link>  </link><guid>http://example.org/g</guid>")).link,
            "http://example.org/g");
}

TEST(FeedConvert, TextsAsGiven) {
  FeedItem item =
      OnlyItem(Rss("<title>  <![CDATA[a <b> & c]]>  </title><pubDate>\n  2022-09-10\n</pubDate>"
                   "<description>&#1;ok&#xFFFE;</description>"));
  EXPECT_EQ(item.title, "  a <b> & c  ");
  EXPECT_EQ(item.pubdate, "\n  2022-09-10\n");
  // Characters XML does not allow are left out of the output document only.
  std::optional<std::string> document =
      ConvertFeed(Rss("<description>&#1;ok&#xFFFE;</description>"), kUrl);
  ASSERT_TRUE(document);
  EXPECT_NE(document->find("<description>ok</description>"), std::string::npos) << *document;
}

TEST(FeedConvert, OrderNewestFirst) {
  auto item = [](const std::string& title, const std::string& date) {
    FeedItem result;
    result.title = title;
    result.pubdate = date;
    return result;
  };
  std::vector<FeedItem> dated = {item("a", "Tue, 03 Jun 2003 09:39:21 GMT"),
                                 item("b", "2003-06-04T00:00:00Z"),
                                 item("c", "Tue, 03 Jun 2003 05:39:21 -0400"),  // same as a
                                 item("d", "2003-06-02")};
  OrderNewestFirst(dated);
  std::vector<std::string> titles;
  for (const FeedItem& one : dated) titles.push_back(one.title);
  EXPECT_EQ(titles, (std::vector<std::string>{"b", "a", "c", "d"}));

  std::vector<FeedItem> undated = {item("a", "2003-06-02"), item("b", ""), item("c", "2003-06-04")};
  OrderNewestFirst(undated);
  titles.clear();
  for (const FeedItem& one : undated) titles.push_back(one.title);
  EXPECT_EQ(titles, (std::vector<std::string>{"a", "b", "c"}));
}

TEST(FeedConvert, FeedWithoutItems) {
  std::optional<std::string> document =
      ConvertFeed("<rss version='2.0'><channel><title>Empty</title></channel></rss>", kUrl);
  ASSERT_TRUE(document);
  EXPECT_EQ(*document,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<rootrss>\n"
            "  <maintitle>Empty</maintitle>\n"
            "  <mainlink />\n"
            "  <maindescription />\n"
            "</rootrss>\n");
  EXPECT_TRUE(ConvertFeed("<feed xmlns='http://www.w3.org/2005/Atom'/>", kUrl));
}

TEST(FeedConvert, RepairableDocuments) {
  // White space before the XML declaration.
  EXPECT_EQ(Read("\n  <?xml version='1.0'?><rss><channel><title>W</title></channel></rss>").title,
            "W");
  // HTML entities.
  EXPECT_EQ(Read("<rss><channel><title>a&nbsp;b&eacute;&hellip;</title></channel></rss>").title,
            "a\u00a0b\u00e9\u2026");
  // Latin-1 bytes in a document that declares no encoding.
  EXPECT_EQ(Read("<rss><channel><title>Not\xED"
                 "cias</title></channel></rss>")
                .title,
            "Not\u00edcias");
  // A declared 16-bit encoding that the bytes cannot be in.
  EXPECT_EQ(Read("<?xml version='1.0' encoding='utf-16'?><rss><channel><title>Caf\xC3\xA9"
                 "</title></channel></rss>")
                .title,
            "Caf\u00e9");
  // A real UTF-16 document with its byte-order mark.
  const std::string utf16 = std::string("\xFF\xFE", 2) + std::string("<\0r\0s\0s\0/\0>\0", 12);
  EXPECT_TRUE(ReadFeed(utf16, kUrl));
}

TEST(FeedConvert, NotFeeds) {
  const std::vector<std::string> documents = {
      "",
      " \r\n ",
      "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\">\n<html><head><title>Sorry</title>"
      "<link rel=stylesheet href=x.css></head><body><p>Gone</body></html>",
      "<html><head><title>Sorry</title></head><body/></html>",
      "<rss version='2.0'><channel><title>Cut</title><item><title>Half",
      "<?xml version='1.0'?>",
      "<opml version='1.0'><body/></opml>",
      "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description/>"
      "</rdf:RDF>",
      "<rss xmlns='urn:something-else'><channel/></rss>",
      "<feed xmlns='urn:something-else'/>",
  };
  for (const std::string& document : documents) {
    std::string error;
    EXPECT_FALSE(ConvertFeed(document, kUrl, &error)) << document;
    EXPECT_FALSE(error.empty()) << document;
  }
}

}  // namespace
}  // namespace feedpull
