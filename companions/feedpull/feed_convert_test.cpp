#include "companions/feedpull/feed_convert.h"

#include <gtest/gtest.h>

#include <ostream>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace feedpull {
namespace {

constexpr const char* kUrl = "http://example.org/news/feed.xml";

}  // namespace

void PrintTo(const FeedItem& item, std::ostream* out) {
  *out << "{title '" << item.title << "', description '" << item.description << "', link '"
       << item.link << "', pubdate '" << item.pubdate << "', author '" << item.author << "', guid '"
       << item.guid << "'}";
}

namespace {

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
  EXPECT_EQ(item.pubdate, "   2022-09-10 ");
  // Characters XML does not allow are left out of the output document only.
  std::optional<std::string> document =
      ConvertFeed(Rss("<description>&#1;ok&#xFFFE;</description>"), kUrl);
  ASSERT_TRUE(document);
  EXPECT_NE(document->find("<description>ok</description>"), std::string::npos) << *document;
}

TEST(FeedConvert, SingleLineFields) {
  // A line break in a date must not start a line of its own in rssnotify's
  // update-state file or log: every control character becomes a blank (CR LF
  // one blank), in the C1 range and the Unicode line separators too.
  FeedItem item =
      OnlyItem(Rss("<title>a\r\nb&#13;&#10;c\td&#x1E;e</title>"
                   "<link>http://example.org/x&#10;[Link_2_T_1]</link>"
                   "<pubDate>Mon, 07 Dec 2026\n[Link_2_T_1]\r\nLatestGUID=x</pubDate>"
                   "<author>Ann&#x2028;&#x85;&#x2029;&#x7F;&#x9F;Bee</author>"
                   "<guid isPermaLink='false'>g&#13;1</guid>"
                   "<description>keeps\nits\r\nlines&#x85;</description>"));
  EXPECT_EQ(item,
            (FeedItem{"a b c d e", "keeps\nits\nlines\u0085", "http://example.org/x [Link_2_T_1]",
                      "Mon, 07 Dec 2026 [Link_2_T_1] LatestGUID=x", "Ann     Bee", "g 1"}));
  Feed feed = Read(
      "<rss><channel><title>T&#10;itle</title><link>http://e.example/a\nb</link>"
      "<description>D\nD</description></channel></rss>");
  EXPECT_EQ(feed.title, "T itle");
  EXPECT_EQ(feed.description, "D\nD");
}

TEST(FeedConvert, OutputHoldsOnlyXmlCharacters) {
  // Character references to what XML 1.0 does not allow, a raw control byte
  // and bytes that are no UTF-8: the output leaves them out (or, for bad
  // bytes, shows U+FFFD) and is itself well-formed XML.
  std::optional<std::string> document = ConvertFeed(
      "<?xml version='1.0' encoding='UTF-8'?><rss><channel><title>T</title><item>"
      "<title>a&#1;b&#xFFFF;c\x1E"
      "d</title>"
      "<description>x&#x1E;y&#xFFFE;z&#8;\x01\xC3(\xED\xA0\x80!</description>"
      "</item></channel></rss>",
      kUrl);
  ASSERT_TRUE(document);
  EXPECT_EQ(*document,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<rootrss>\n"
            "  <maintitle>T</maintitle>\n"
            "  <mainlink />\n"
            "  <maindescription />\n"
            "  <item>\n"
            "    <title>a bc d</title>\n"
            "    <description>xyz\uFFFD(\uFFFD\uFFFD\uFFFD!</description>\n"
            "    <link />\n"
            "    <pubdate />\n"
            "    <author />\n"
            "    <guid />\n"
            "  </item>\n"
            "</rootrss>\n");
}

// The converted document is written as text; it must be what the XML
// library prints for the same tree, whatever the texts hold.
TEST(FeedConvert, OutputIsTheLibrarysPrintOfTheSameTree) {
  const std::string texts[] = {"a & b < c > d \" ' ]]> &amp;",
                               "\t line\r\nnext\n",
                               "",
                               "\x01\x02",
                               "caf\u00e9 \u2028 \U0001F600",
                               "   "};
  Feed feed{texts[0], texts[1], texts[4], {}};
  for (std::size_t i = 0; i < std::size(texts); ++i) {
    const auto text = [&](std::size_t k) { return texts[(i + k) % std::size(texts)]; };
    feed.items.push_back({text(0), text(1), text(2), text(3), text(4), text(5)});
  }
  pugi::xml_document tree;
  pugi::xml_node declaration = tree.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "UTF-8";
  pugi::xml_node root = tree.append_child("rootrss");
  const auto add = [](pugi::xml_node parent, const char* name, const std::string& text) {
    pugi::xml_node element = parent.append_child(name);
    const std::string safe = text == "\x01\x02" ? "" : text;  // controls are left out
    if (!safe.empty()) element.append_child(pugi::node_pcdata).set_value(safe.c_str());
  };
  add(root, "maintitle", feed.title);
  add(root, "mainlink", feed.link);
  add(root, "maindescription", feed.description);
  for (const FeedItem& item : feed.items) {
    pugi::xml_node element = root.append_child("item");
    for (const auto& [name, text] : {std::pair{"title", item.title},
                                     {"description", item.description},
                                     {"link", item.link},
                                     {"pubdate", item.pubdate},
                                     {"author", item.author},
                                     {"guid", item.guid}}) {
      add(element, name, text);
    }
  }
  std::ostringstream printed;
  tree.save(printed, "  ", pugi::format_indent, pugi::encoding_utf8);
  EXPECT_EQ(RootRssDocument(feed), printed.str());
}

TEST(FeedConvert, UndeclaredEightBitBytesAreWindows1252) {
  // Undeclared bytes that are no UTF-8 are windows-1252, as browsers read
  // them: 0x80 is the euro sign and 0x93/0x94 curly quotes, not the C1
  // controls Latin-1 would make of them.
  EXPECT_EQ(
      Read("<rss><channel><title>\x80 5, \x93quoted\x94, caf\xE9</title></channel></rss>").title,
      "\u20AC 5, \u201Cquoted\u201D, caf\u00E9");
  // A byte that windows-1252 leaves undefined does not turn the rest of the
  // document into Latin-1.
  EXPECT_EQ(
      Read("<rss><channel><description>\x80\x93\x81</description></channel></rss>").description,
      "\u20AC\u201C\u0081");
  // So does a document that says it is ISO-8859-1.
  EXPECT_EQ(Read("<?xml version='1.0' encoding='ISO-8859-1'?><rss><channel><title>\x80\x93"
                 "</title></channel></rss>")
                .title,
            "\u20AC\u201C");
}

TEST(FeedConvert, FeedInsideAnotherDocument) {
  // An Atom feed inside an XHTML page, doctype and HTML entities included.
  const std::string page =
      "<?xml version='1.0' encoding='UTF-8'?>\n"
      "<!DOCTYPE html PUBLIC '-//W3C//DTD XHTML 1.0 Strict//EN' "
      "'http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd'>\n"
      "<html xmlns='http://www.w3.org/1999/xhtml' xml:lang='en'>\n"
      "<head><title>News&nbsp;page</title></head>\n"
      "<body><div class='feed'><p>Our news:</p>\n"
      "<feed xmlns='http://www.w3.org/2005/Atom'><title>Wrapped</title>"
      "<link href='/news/'/>"
      "<entry><title>One</title><link href='one.html'/><id>tag:w,1</id>"
      "<updated>2026-12-07T09:00:00Z</updated><summary>S&nbsp;1</summary></entry>"
      "<entry><title>Two</title><id>tag:w,2</id><updated>2026-12-08T09:00:00Z</updated>"
      "<content type='xhtml'><div xmlns='http://www.w3.org/1999/xhtml'><p>P</p></div>"
      "</content></entry></feed>\n"
      "</div></body></html>\n";
  std::string error;
  std::optional<std::string> document = ConvertFeed(page, kUrl, &error);
  ASSERT_TRUE(document) << error;
  EXPECT_EQ(*document,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<rootrss>\n"
            "  <maintitle>Wrapped</maintitle>\n"
            "  <mainlink>http://example.org/news/</mainlink>\n"
            "  <maindescription />\n"
            "  <item>\n"
            "    <title>Two</title>\n"
            "    <description>&lt;p&gt;P&lt;/p&gt;</description>\n"
            "    <link />\n"
            "    <pubdate>2026-12-08T09:00:00Z</pubdate>\n"
            "    <author />\n"
            "    <guid>tag:w,2</guid>\n"
            "  </item>\n"
            "  <item>\n"
            "    <title>One</title>\n"
            "    <description>S\u00A01</description>\n"
            "    <link>http://example.org/news/one.html</link>\n"
            "    <pubdate>2026-12-07T09:00:00Z</pubdate>\n"
            "    <author />\n"
            "    <guid>tag:w,1</guid>\n"
            "  </item>\n"
            "</rootrss>\n");

  // RSS deeper inside a document of another kind.
  Feed rss = Read(
      "<envelope><payload><rss version='2.0'><channel><title>Inner</title>"
      "<item><title>I</title></item></channel></rss></payload></envelope>");
  EXPECT_EQ(rss.title, "Inner");
  ASSERT_EQ(rss.items.size(), 1u);
  // A feed held inside the one feed of a page does not make two.
  EXPECT_EQ(Read("<html><body><feed xmlns='http://www.w3.org/2005/Atom'><title>Outer</title>"
                 "<entry><content type='xhtml'><feed><title>quoted</title></feed></content>"
                 "</entry></feed></body></html>")
                .title,
            "Outer");
  // A feed is looked for 64 levels deep, no deeper, so that a hostile
  // document nested very deep costs no more than its size.
  auto nested = [](int levels) {
    std::string open;
    std::string close;
    for (int i = 0; i < levels; ++i) open += "<div>", close += "</div>";
    return "<html>" + open + "<rss><channel><title>Deep</title></channel></rss>" + close +
           "</html>";
  };
  EXPECT_EQ(Read(nested(63)).title, "Deep");
  EXPECT_FALSE(ReadFeed(nested(64), kUrl));
  // Two feeds in one page: which one is meant cannot be told.
  error.clear();
  EXPECT_FALSE(
      ConvertFeed("<html><body><feed xmlns='http://www.w3.org/2005/Atom'><title>A</title></feed>"
                  "<rss><channel><title>B</title></channel></rss></body></html>",
                  kUrl, &error));
  EXPECT_EQ(error, "the document is not a feed (its root element is <html> and it holds 2 feeds)");
  error.clear();
  EXPECT_FALSE(ConvertFeed("<html><body><p>no feed</p></body></html>", kUrl, &error));
  EXPECT_EQ(error, "the document is not a feed (its root element is <html>)");
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

// Longer than any real feed: refused whole, with the bound as the reason.
TEST(FeedConvert, FeedsPastTheBounds) {
  const auto rss = [](std::size_t items, const std::string& item) {
    std::string document = "<rss version='2.0'><channel><title>Long</title>";
    for (std::size_t i = 0; i < items; ++i) document += item;
    return document + "</channel></rss>";
  };
  std::string error;
  std::optional<std::string> at_bound = ConvertFeed(rss(kMaxFeedItems, "<item/>"), kUrl, &error);
  ASSERT_TRUE(at_bound) << error;
  EXPECT_FALSE(ConvertFeed(rss(kMaxFeedItems + 1, "<item/>"), kUrl, &error));
  EXPECT_EQ(error, "the feed has more than 10000 items");
  std::string atom = "<feed xmlns='http://www.w3.org/2005/Atom'>";
  for (std::size_t i = 0; i <= kMaxFeedItems; ++i) atom += "<entry/>";
  error.clear();
  EXPECT_FALSE(ConvertFeed(atom + "</feed>", kUrl, &error));
  EXPECT_EQ(error, "the feed has more than 10000 items");
  const std::string long_text =
      "<description>" + std::string(2 * 1024 * 1024, 'x') + "</description>";
  ASSERT_TRUE(ConvertFeed(rss(7, "<item>" + long_text + "</item>"), kUrl, &error)) << error;
  EXPECT_FALSE(ConvertFeed(rss(8, "<item>" + long_text + "</item>"), kUrl, &error));
  EXPECT_EQ(error, "the converted document would be larger than 16777216 bytes");
}

}  // namespace
}  // namespace feedpull
