// The conversion of a corpus of real-world feeds, checked against the
// corpus manifest (MANIFEST.tsv, whose values come from feedparser and from a
// strict XML parse of each document). The corpus lies outside the source
// tree: in $RSSNOTIFY_SHARED_DIR/feeds, else beside the source tree; the
// tests skip when it is absent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <pugixml.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "companions/feedpull/feed_convert.h"
#include "companions/feedpull/feed_dates.h"
#include "companions/feedpull/uri_reference.h"

namespace feedpull {
namespace {

// Documents of the corpus that are not well-formed feeds, and what the
// converter makes of each. Those a careful reader can repair convert; the
// rest fail, and the converter then writes nothing.
const std::map<std::string, bool> kMalformedConverts = {
    // Undefined HTML entity &nbsp;: read as the character it names.
    {"feedrs_rss_2.0_dbengines.xml", true},
    // Blank line before the XML declaration: dropped.
    {"fj_TechCrunch.xml", true},
    // ISO-8859-1 bytes without a declaration: read as windows-1252.
    {"rssp_uolNoticias.rss", true},
    // Declared UTF-16 but written in UTF-8 without a byte-order mark: the
    // ASCII "<?xml" at its start rules UTF-16 out, so it is read as UTF-8.
    {"ffp_9e0834333e854116.xml", true},
    // These fail: a zero-byte file, an HTML error page, and a document with a
    // broken XML declaration, unquoted attribute values and undeclared
    // prefixes (feedparser too recovers nothing from it).
    {"gofeed_empty_feed.xml", false},
    {"rome_2.rss", false},
    {"ffp_7ef13a42fa7e177a.xml", false},
};

// Rows whose manifest values (from feedparser) the converter does not give,
// on purpose; the value it gives instead.
struct Deviation {
  std::string item_count;  // "" when the manifest's holds
  std::string first_link;  // "-" when the manifest's holds (resolved against the feed URL)
  std::string reason;
};
const std::map<std::string, Deviation> kDeviations = {
    {"nfp_illegally-nested.xml",
     {"10", "-",
      "each of the channel's 10 items holds an empty <item/>; feedparser counts those as 10 "
      "more entries, but they are no items of the channel"}},
    {"feedrs_atom_example_7.xml",
     {"", "",
      "the entry has no link; feedparser takes its id, a tag: URI that no browser opens, as the "
      "link; only http(s) ids stand in for a link"}},
};

std::string CorpusFolder() {
  const char* shared = std::getenv("RSSNOTIFY_SHARED_DIR");
  return std::string(shared != nullptr && *shared != '\0' ? shared : FEEDPULL_DEFAULT_SHARED_DIR) +
         "/feeds";
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Unescaped(const std::string& value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    const char next = value[++i];
    out += next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
  }
  return out;
}

using Row = std::map<std::string, std::string>;

std::vector<Row> ReadManifest(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  std::vector<std::string> columns;
  std::vector<Row> rows;
  auto split = [](const std::string& text) {
    std::vector<std::string> fields;
    std::stringstream stream(text);
    std::string field;
    while (std::getline(stream, field, '\t')) fields.push_back(Unescaped(field));
    if (!text.empty() && text.back() == '\t') fields.emplace_back();
    return fields;
  };
  if (!std::getline(in, line)) return rows;
  columns = split(line);
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::vector<std::string> fields = split(line);
    Row row;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      row[columns[i]] = i < fields.size() ? fields[i] : std::string();
    }
    rows.push_back(row);
  }
  return rows;
}

std::string Trimmed(const std::string& text) {
  std::size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return {};
  return text.substr(start, text.find_last_not_of(" \t\r\n") - start + 1);
}

// The items of a converted document, read back as the program reads them.
std::vector<FeedItem> OutputItems(const std::string& document) {
  pugi::xml_document parsed;
  EXPECT_TRUE(parsed.load_buffer(document.data(), document.size(),
                                 pugi::parse_default | pugi::parse_ws_pcdata));
  std::vector<FeedItem> items;
  for (pugi::xml_node element : parsed.child("rootrss").children("item")) {
    items.push_back({element.child("title").text().get(), element.child("description").text().get(),
                     element.child("link").text().get(), element.child("pubdate").text().get(),
                     element.child("author").text().get(), element.child("guid").text().get()});
  }
  return items;
}

bool ByFields(const FeedItem& a, const FeedItem& b) {
  return std::tie(a.title, a.description, a.link, a.pubdate, a.author, a.guid) <
         std::tie(b.title, b.description, b.link, b.pubdate, b.author, b.guid);
}

class FeedCorpus : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = CorpusFolder();
    if (!std::filesystem::exists(folder_ + "/MANIFEST.tsv")) {
      GTEST_SKIP() << "feed corpus not found at " << folder_;
    }
    rows_ = ReadManifest(folder_ + "/MANIFEST.tsv");
    ASSERT_FALSE(rows_.empty());
  }
  static std::string UrlOf(const std::string& file) {
    return "http://feeds.example.test/corpus/" + file;
  }

  std::string folder_;
  std::vector<Row> rows_;
};

TEST_F(FeedCorpus, FeedsConvertAsTheManifestSays) {
  int feeds = 0;
  for (const Row& row : rows_) {
    if (row.at("format") == "malformed") continue;
    ++feeds;
    const std::string& file = row.at("file");
    SCOPED_TRACE(file);
    const std::string bytes = ReadBytes(folder_ + "/" + file);
    std::string error;
    std::optional<Feed> feed = ReadFeed(bytes, UrlOf(file), &error);
    ASSERT_TRUE(feed) << error;
    std::optional<std::string> document = ConvertFeed(bytes, UrlOf(file), &error);
    ASSERT_TRUE(document) << error;
    std::vector<FeedItem> output = OutputItems(*document);

    auto deviation = kDeviations.find(file);
    std::string expected_count = row.at("item_count");
    // feedparser ran without the feed's URL: relative links stay relative there.
    std::string expected_link = row.at("first_item_link");
    if (!expected_link.empty()) expected_link = ResolveReference(UrlOf(file), expected_link);
    if (deviation != kDeviations.end()) {
      if (!deviation->second.item_count.empty()) expected_count = deviation->second.item_count;
      if (deviation->second.first_link != "-") expected_link = deviation->second.first_link;
    }
    ASSERT_EQ(std::to_string(output.size()), expected_count);
    ASSERT_EQ(feed->items.size(), output.size());
    if (output.empty()) continue;

    // The first item in document order is the manifest's first item.
    const FeedItem& first = feed->items.front();
    EXPECT_EQ(Trimmed(first.link), expected_link);
    // The date as the feed gives it, on one line.
    std::string date = row.at("first_item_date_raw");
    std::replace_if(
        date.begin(), date.end(), [](char c) { return c == '\n' || c == '\t'; }, ' ');
    EXPECT_EQ(first.pubdate, date);
    EXPECT_EQ(Trimmed(first.title), row.at("first_item_title"));
    // The output holds exactly the feed's items, that one among them.
    EXPECT_NE(std::find(output.begin(), output.end(), first), output.end());
    std::vector<FeedItem> sorted_output = output;
    std::vector<FeedItem> sorted_feed = feed->items;
    std::sort(sorted_output.begin(), sorted_output.end(), ByFields);
    std::sort(sorted_feed.begin(), sorted_feed.end(), ByFields);
    EXPECT_TRUE(sorted_output == sorted_feed);
  }
  EXPECT_EQ(feeds, 32);
}

// Items go out newest first when all their dates parse, else in document
// order.
TEST_F(FeedCorpus, ItemsGoOutNewestFirst) {
  std::set<std::string> reordered;
  for (const Row& row : rows_) {
    if (row.at("format") == "malformed") continue;
    const std::string& file = row.at("file");
    SCOPED_TRACE(file);
    const std::string bytes = ReadBytes(folder_ + "/" + file);
    std::optional<Feed> feed = ReadFeed(bytes, UrlOf(file));
    ASSERT_TRUE(feed);
    std::optional<std::string> document = ConvertFeed(bytes, UrlOf(file));
    ASSERT_TRUE(document);
    std::vector<FeedItem> output = OutputItems(*document);

    std::vector<std::int64_t> instants;
    for (const FeedItem& item : feed->items) {
      if (std::optional<std::int64_t> instant = ParseFeedDate(item.pubdate)) {
        instants.push_back(*instant);
      }
    }
    if (instants.size() != feed->items.size()) {
      EXPECT_TRUE(output == feed->items) << "an undated item: document order stays";
      continue;
    }
    if (output.empty()) continue;
    EXPECT_EQ(ParseFeedDate(output.front().pubdate),
              *std::max_element(instants.begin(), instants.end()));
    for (std::size_t i = 1; i < output.size(); ++i) {
      ASSERT_GE(*ParseFeedDate(output[i - 1].pubdate), *ParseFeedDate(output[i].pubdate)) << i;
    }
    if (!(output == feed->items)) reordered.insert(file);
    // Feeds whose first item is not their newest, as the manifest notes.
    if (row.at("notes").find("not newest-first") != std::string::npos) {
      EXPECT_FALSE(output.front() == feed->items.front());
    }
  }
  // The oldest-first feed, those whose first item is not their newest, and
  // two whose first item is the newest but whose later items are out of
  // date order.
  EXPECT_EQ(reordered,
            (std::set<std::string>{"ffp_2b2c3f5ac3d2e836.xml", "ffp_cc314ce5dfbb3adc.xml",
                                   "lam_h-online.com-atom10.xml", "lam_laut.de-rdf.xml",
                                   "nfp_wapowellness.xml", "rssp_encoding.rss", "rssp_guardian.rss",
                                   "rssp_reddit.rss"}));
}

TEST_F(FeedCorpus, OldestFirstFeedIsReversed) {
  const std::string file = "ffp_cc314ce5dfbb3adc.xml";
  std::optional<Feed> feed = ReadFeed(ReadBytes(folder_ + "/" + file), UrlOf(file));
  ASSERT_TRUE(feed);
  ASSERT_EQ(feed->items.size(), 1046u);
  // In the file, dates never decrease: the first item is the oldest.
  for (std::size_t i = 1; i < feed->items.size(); ++i) {
    ASSERT_LE(*ParseFeedDate(feed->items[i - 1].pubdate), *ParseFeedDate(feed->items[i].pubdate));
  }
  std::vector<FeedItem> output =
      OutputItems(*ConvertFeed(ReadBytes(folder_ + "/" + file), UrlOf(file)));
  ASSERT_EQ(output.size(), 1046u);
  EXPECT_EQ(output.front().title, feed->items.back().title);
  EXPECT_EQ(output.front().pubdate, "Mon, 18 Nov 2024 22:56:42 GMT");
  EXPECT_EQ(output.back().title, "Fresh Start");
}

TEST_F(FeedCorpus, MalformedDocuments) {
  std::set<std::string> seen;
  const std::regex recovered("recovers ([0-9]+) item");
  for (const Row& row : rows_) {
    if (row.at("format") != "malformed") continue;
    const std::string& file = row.at("file");
    SCOPED_TRACE(file);
    seen.insert(file);
    auto expected = kMalformedConverts.find(file);
    ASSERT_NE(expected, kMalformedConverts.end()) << "no decision for this document";
    std::string error;
    std::optional<std::string> document =
        ConvertFeed(ReadBytes(folder_ + "/" + file), UrlOf(file), &error);
    if (!expected->second) {
      EXPECT_FALSE(document);
      EXPECT_FALSE(error.empty());
      continue;
    }
    ASSERT_TRUE(document) << error;
    // As many items as lenient feedparser recovers.
    std::smatch match;
    ASSERT_TRUE(std::regex_search(row.at("notes"), match, recovered));
    EXPECT_EQ(std::to_string(OutputItems(*document).size()), match[1].str());
  }
  EXPECT_EQ(seen.size(), kMalformedConverts.size());
}

// What the repaired documents read as.
TEST_F(FeedCorpus, RepairedDocumentsReadRight) {
  auto first = [&](const std::string& file) {
    std::optional<Feed> feed = ReadFeed(ReadBytes(folder_ + "/" + file), UrlOf(file));
    EXPECT_TRUE(feed && !feed->items.empty()) << file;
    return feed && !feed->items.empty() ? std::make_pair(*feed, feed->items.front())
                                        : std::make_pair(Feed{}, FeedItem{});
  };
  auto [dbengines, dbengines_item] = first("feedrs_rss_2.0_dbengines.xml");
  EXPECT_EQ(
      dbengines_item.description,
      "Snowflake is the database management system that gained more popularity in "
      "our\u00a0DB-Engines Ranking\u00a0within the last year than any of the other 402 "
      "monitored systems. We thus declare Snowflake\u00a0as the\u00a0DBMS of the Year 2022. ");

  auto [uol, uol_item] = first("rssp_uolNoticias.rss");
  EXPECT_EQ(uol.description, "Últimas Notícias");
  EXPECT_EQ(uol_item.title,
            "Ibope: Bolsonaro perde de Haddad, Ciro e Alckmin em simulações de 2º turno");

  auto [techcrunch, techcrunch_item] = first("fj_TechCrunch.xml");
  EXPECT_EQ(techcrunch_item.title,
            "Angie’s List Sets Price Range IPO At $11 To $13 Per Share; Valued At Over $600M");
  EXPECT_EQ(techcrunch_item.pubdate, "Wed, 02 Nov 2011 17:25:27 +0000");

  auto [eliot, eliot_item] = first("ffp_9e0834333e854116.xml");
  EXPECT_EQ(eliot_item.title, "So you want to parse a PDF?");
  EXPECT_EQ(eliot_item.link, "https://eliot-jones.com/2025/8/pdf-parsing-xref");
}

}  // namespace
}  // namespace feedpull
