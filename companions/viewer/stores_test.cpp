#include "companions/viewer/stores.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "app/product/feed_files.h"
#include "platform/filesystem.h"
#include "platform/testing/test_support.h"

namespace viewer {

void PrintTo(const ItemView& item, std::ostream* out) {
  *out << "{title=" << item.title << " description=" << item.description << " link=" << item.link
       << " pubDate=" << item.pub_date << " author=" << item.author << " guid=" << item.guid
       << (item.unread ? " unread}" : " read}");
}

void PrintTo(const FeedView& feed, std::ostream* out) {
  *out << "{number=" << feed.number << " url=" << feed.url << " store=" << feed.store_path
       << " state=" << static_cast<int>(feed.state) << " problem=" << feed.problem
       << " title=" << feed.title << " link=" << feed.link << " description=" << feed.description
       << " items=[";
  for (const ItemView& item : feed.items) PrintTo(item, out);
  *out << "]}";
}

namespace {

using platform::testing::ReadFile;
using platform::testing::ScratchFolder;
using platform::testing::SystemSeparators;
using platform::testing::WriteFile;

// A store as the feed update leaves it after two runs: the second run's item
// above the header, the first run's below it.
const char kStore[] =
    "<rootrss>"
    "<item><title>Second &lt;script&gt;</title><description>&lt;b&gt;B&lt;/b&gt;</description>"
    "<link>https://example.com/2</link><pubDate>Tue, 02 Jan 2024</pubDate><author>Bob</author>"
    "<GUID>g2</GUID><Status>Unread</Status></item>"
    "<maintitle>Example News</maintitle><mainlink>https://example.com/</mainlink>"
    "<maindescription>All the news</maindescription>"
    "<item><title>First</title><description>One</description><link>https://example.com/1</link>"
    "<pubDate>Mon, 01 Jan 2024</pubDate><author>Ann</author><GUID>g1</GUID>"
    "<Status>Unread</Status></item>"
    "<item><title>Zero</title><description/><link>https://example.com/0</link><pubDate/>"
    "<author/><GUID/><Status>Read</Status></item>"
    "</rootrss>";

ItemView Item(const char* title, const char* description, const char* link, const char* date,
              const char* author, const char* guid, bool unread) {
  return ItemView{title, description, link, date, author, guid, unread};
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// Saves `xml` as the feed update saves its stores.
void SaveStore(const std::string& path, const std::string& xml) {
  platform::XmlDocument document;
  ASSERT_TRUE(document.LoadXml(xml));
  document.Save(path);
}

TEST(ReadStoreDocument, HeaderAndItemsInStoreOrder) {
  platform::XmlDocument document;
  ASSERT_TRUE(document.LoadXml(kStore));
  FeedView feed;
  feed.number = "1";
  ASSERT_TRUE(ReadStoreDocument(document, feed));
  FeedView expected;
  expected.number = "1";
  expected.title = "Example News";
  expected.link = "https://example.com/";
  expected.description = "All the news";
  expected.items = {
      Item("Second <script>", "<b>B</b>", "https://example.com/2", "Tue, 02 Jan 2024", "Bob", "g2",
           true),
      Item("First", "One", "https://example.com/1", "Mon, 01 Jan 2024", "Ann", "g1", true),
      Item("Zero", "", "https://example.com/0", "", "", "", false)};
  EXPECT_EQ(feed, expected);
}

// A store of a year: 5,000 items, newest first, unread ones among the newest
// 600. `statuses` gives each item's status; `kept` leaves items out.
bool GrownUnread(int i) {
  return i < 600 && i % 3 == 0;
}
std::string GrownStore(const std::vector<const char*>& statuses, const std::vector<bool>& kept) {
  std::string xml =
      "<rootrss><maintitle>Grown</maintitle><mainlink>https://example.com/</mainlink>"
      "<maindescription>A year</maindescription>";
  for (std::size_t i = 0; i < statuses.size(); ++i) {
    if (!kept[i]) continue;
    const std::string n = std::to_string(i);
    xml += "<item><title>T" + n + "</title><description>D" + n +
           "</description><link>https://example.com/" + n + "</link><pubDate>P" + n +
           "</pubDate><author>A</author><GUID>g" + n + "</GUID><Status>" + statuses[i] +
           "</Status></item>";
  }
  return xml + "</rootrss>";
}

TEST(ReadStoreDocument, ShowsTheNewestOfEachKindAndCountsTheRest) {
  std::vector<const char*> statuses;
  for (int i = 0; i < 5000; ++i) statuses.push_back(GrownUnread(i) ? "Unread" : "Read");
  platform::XmlDocument document;
  ASSERT_TRUE(document.LoadXml(GrownStore(statuses, std::vector<bool>(5000, true))));
  FeedView feed;
  ASSERT_TRUE(ReadStoreDocument(document, feed));
  std::vector<ItemView> expected;
  std::size_t unread = 0, read = 0;
  for (int i = 0; i < 5000; ++i) {
    std::size_t& shown = GrownUnread(i) ? unread : read;
    if (++shown > (GrownUnread(i) ? 100u : 50u)) continue;
    const std::string n = std::to_string(i);
    expected.push_back(ItemView{"T" + n, "D" + n, "https://example.com/" + n, "P" + n, "A", "g" + n,
                                GrownUnread(i)});
  }
  EXPECT_EQ(feed.items, expected);
  EXPECT_EQ(feed.unread_left_out, 100u);
  EXPECT_EQ(feed.read_left_out, 4750u);
}

TEST(ReadStoreDocument, OnlyRootrssIsAStore) {
  platform::XmlDocument document;
  ASSERT_TRUE(document.LoadXml("<rss><item><title>x</title></item></rss>"));
  FeedView feed;
  EXPECT_FALSE(ReadStoreDocument(document, feed));
  EXPECT_EQ(feed, FeedView{});
}

TEST(IsUnreadStatus, UnreadInAnyCaseAndSpacing) {
  EXPECT_TRUE(IsUnreadStatus("Unread"));
  EXPECT_TRUE(IsUnreadStatus(" UNREAD\r\n"));
  EXPECT_FALSE(IsUnreadStatus("Read"));
  EXPECT_FALSE(IsUnreadStatus(""));
  EXPECT_FALSE(IsUnreadStatus("Un read"));
}

TEST(LoadStore, MissingAndUnreadableStoresSayWhy) {
  ScratchFolder scratch;
  FeedView missing = LoadStore("2", "https://b", scratch / "Link_2_T_1.xml");
  FeedView expected;
  expected.number = "2";
  expected.url = "https://b";
  expected.store_path = SystemSeparators(scratch / "Link_2_T_1.xml");
  expected.state = FeedView::State::kMissing;
  EXPECT_EQ(missing, expected);

  WriteFile(scratch / "broken.xml", "this is <not xml");
  platform::XmlDocument probe;
  ASSERT_FALSE(probe.LoadBytes("this is <not xml"));
  expected.store_path = SystemSeparators(scratch / "broken.xml");
  expected.state = FeedView::State::kUnreadable;
  expected.problem = probe.LoadError();
  EXPECT_FALSE(expected.problem.empty());
  EXPECT_EQ(LoadStore("2", "https://b", scratch / "broken.xml"), expected);

  WriteFile(scratch / "empty.xml", "");
  expected.store_path = SystemSeparators(scratch / "empty.xml");
  ASSERT_FALSE(probe.LoadBytes(""));
  expected.problem = probe.LoadError().empty() ? "it is not XML" : probe.LoadError();
  EXPECT_EQ(LoadStore("2", "https://b", scratch / "empty.xml"), expected);

  WriteFile(scratch / "other.xml", "<rss/>");
  expected.store_path = SystemSeparators(scratch / "other.xml");
  expected.problem = "it is not a feed store (its root element is not \"rootrss\")";
  EXPECT_EQ(LoadStore("2", "https://b", scratch / "other.xml"), expected);

  // A store over the bound is not read at all (this one is sparse).
  SaveStore(scratch / "huge.xml", kStore);
  std::filesystem::resize_file(scratch / "huge.xml", product::kMaxStoreBytes + 1);
  expected.store_path = SystemSeparators(scratch / "huge.xml");
  expected.problem = "it holds 134217729 bytes, over the bound of 134217728 bytes";
  EXPECT_EQ(LoadStore("2", "https://b", scratch / "huge.xml"), expected);
}

TEST(MarkShownItemsRead, OnlyStatusTextsChange) {
  ScratchFolder scratch;
  const std::string path = scratch / "Link_1_T_1.xml";
  SaveStore(path, kStore);
  const std::string before = ReadFile(path);
  const FeedView shown = LoadStore("1", "u", path);
  ASSERT_EQ(shown.state, FeedView::State::kShown);

  EXPECT_EQ(MarkShownItemsRead(path, shown), 2u);
  EXPECT_EQ(ReadFile(path), Replaced(before, "<Status>Unread</Status>", "<Status>Read</Status>"));

  // Nothing left to mark: the store is not written again.
  const platform::FileStamp stamp = platform::Files().Stamp(path);
  EXPECT_EQ(MarkShownItemsRead(path, LoadStore("1", "u", path)), 0u);
  EXPECT_EQ(MarkShownItemsRead(path, shown), 0u);
  EXPECT_EQ(platform::Files().Stamp(path), stamp);
}

// The save that marks keeps every unread item (those the page left out
// too), the header and the newest 1,000 read items, in their order.
TEST(MarkShownItemsRead, KeepsUnreadItemsAndTheNewestReadOnes) {
  ScratchFolder scratch;
  const std::string path = scratch / "Link_1_T_1.xml";
  std::vector<const char*> statuses;
  for (int i = 0; i < 5000; ++i) statuses.push_back(GrownUnread(i) ? "Unread" : "Read");
  SaveStore(path, GrownStore(statuses, std::vector<bool>(5000, true)));
  const FeedView shown = LoadStore("1", "u", path);
  EXPECT_EQ(MarkShownItemsRead(path, shown), 100u);

  std::vector<bool> kept(5000, true);
  std::size_t unread_seen = 0, read_kept = 0;
  for (int i = 0; i < 5000; ++i) {
    if (GrownUnread(i) && ++unread_seen <= 100) statuses[i] = "Read";
    if (std::string(statuses[i]) == "Read") kept[i] = ++read_kept <= 1000;
  }
  ScratchFolder expected;
  SaveStore(expected / "expected.xml", GrownStore(statuses, kept));
  EXPECT_EQ(ReadFile(path), ReadFile(expected / "expected.xml"));
}

TEST(MarkShownItemsRead, ItemsAddedAfterThePageStayUnread) {
  ScratchFolder scratch;
  const std::string path = scratch / "Link_1_T_1.xml";
  SaveStore(path, kStore);
  const FeedView shown = LoadStore("1", "u", path);

  // A feed update adds an item while the page is being shown.
  const std::string newer =
      "<item><title>Third</title><description>3</description><link>https://example.com/3</link>"
      "<pubDate>Wed, 03 Jan 2024</pubDate><author>Cy</author><GUID>g3</GUID>"
      "<Status>Unread</Status></item>";
  SaveStore(path, Replaced(kStore, "<rootrss>", "<rootrss>" + newer));
  const std::string before = ReadFile(path);

  EXPECT_EQ(MarkShownItemsRead(path, shown), 2u);
  // The first unread status in the file is the new item's.
  const std::string unread = "<Status>Unread</Status>";
  const std::size_t split = before.find(unread) + unread.size();
  ASSERT_LT(before.find("g3"), split);
  EXPECT_EQ(ReadFile(path), before.substr(0, split) +
                                Replaced(before.substr(split), unread, "<Status>Read</Status>"));
}

TEST(MarkShownItemsRead, OfTwoIdenticalUnreadItemsOnlyAsManyAsShownAreMarked) {
  ScratchFolder scratch;
  const std::string path = scratch / "Link_1_T_1.xml";
  const std::string twin =
      "<item><title>Same</title><description>D</description><link>https://example.com/s</link>"
      "<pubDate>Thu, 04 Jan 2024</pubDate><author>Di</author><GUID>s</GUID>"
      "<Status>Unread</Status></item>";
  // The page was made while the store held one of them; a feed update then
  // stored the same item again.
  SaveStore(path, Replaced(kStore, "<rootrss>", "<rootrss>" + twin));
  const FeedView shown = LoadStore("1", "u", path);
  SaveStore(path, Replaced(kStore, "<rootrss>", "<rootrss>" + twin + twin));
  const std::string before = ReadFile(path);

  EXPECT_EQ(MarkShownItemsRead(path, shown), 3u);
  // The first twin in the file is marked, the second stays unread.
  const std::string unread = "<Status>Unread</Status>";
  const std::size_t first = before.find(unread);
  const std::size_t second = before.find(unread, first + 1);
  ASSERT_NE(second, std::string::npos);
  ASSERT_LT(second, before.find("Example News"));
  const std::string read = "<Status>Read</Status>";
  const std::string expected =
      before.substr(0, first) + read +
      before.substr(first + unread.size(), second - first - unread.size()) + unread +
      Replaced(before.substr(second + unread.size()), unread, read);
  EXPECT_EQ(ReadFile(path), expected);
  EXPECT_EQ(LoadStore("1", "u", path).items[1].unread, true);
  EXPECT_EQ(LoadStore("1", "u", path).items[0].unread, false);
}

TEST(MarkShownItemsRead, StoresNotShownAreLeftAlone) {
  ScratchFolder scratch;
  const std::string path = scratch / "Link_1_T_1.xml";
  FeedView missing;
  missing.state = FeedView::State::kMissing;
  EXPECT_EQ(MarkShownItemsRead(path, missing), 0u);
  EXPECT_FALSE(std::filesystem::exists(path));

  SaveStore(path, kStore);
  const FeedView shown = LoadStore("1", "u", path);
  WriteFile(path, "now <broken");
  EXPECT_EQ(MarkShownItemsRead(path, shown), 0u);
  EXPECT_EQ(ReadFile(path), "now <broken");
}

class RecordedFeedsTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directories(scratch_ / "qLUX/Dovel/RSSLinks"); }
  std::string DataPath() const { return scratch_.path() + "\\"; }
  RecordedFeeds Read() const { return ReadRecordedFeeds(DataPath(), "tester"); }
  std::string Folder() const { return scratch_ / "qLUX/Dovel/RSSLinks"; }
  void WriteState(const std::string& text) {
    WriteFile(Folder() + "/LastUpdates_tester.ini", text);
  }

  ScratchFolder scratch_;
};

TEST_F(RecordedFeedsTest, NothingRecordedYet) {
  EXPECT_FALSE(Read().recorded);
  WriteState("[TotalNewRSS]\r\nNewRSSCount=0\r\n[RSSLinks]\r\nTemplateID=T\r\nUrls=  \r\n");
  EXPECT_FALSE(Read().recorded);
}

TEST_F(RecordedFeedsTest, EveryRecordedFeedInTemplateOrder) {
  WriteState(
      "[RSSLinks]\r\nTemplateID=T/1\r\nTemplateVersion=2\r\n"
      "Urls=https://a.example/rss@#@@#@https://c.example/rss\r\n");
  const RecordedFeeds recorded = Read();
  EXPECT_TRUE(recorded.recorded);
  EXPECT_EQ(recorded.template_id, "T/1");
  EXPECT_EQ(recorded.template_version, "2");
  EXPECT_EQ(recorded.urls,
            (std::vector<std::string>{"https://a.example/rss", "", "https://c.example/rss"}));

  // The feed update neutralises the "/" in the store's name.
  SaveStore(Folder() + "/Link_1_T_1_2.xml", kStore);
  WriteFile(Folder() + "/Link_3_T_1_2.xml", "<rootrss><maintitle>C</maintitle></rootrss>");
  const std::vector<FeedView> feeds = LoadRecordedFeeds(DataPath(), recorded);
  EXPECT_EQ(RecordedStorePath(DataPath(), recorded, "1"),
            DataPath() + "qLUX\\Dovel\\RSSLinks\\Link_1_T_1_2.xml");
  ASSERT_EQ(feeds.size(), 3u);
  EXPECT_EQ(feeds[0], LoadStore("1", "https://a.example/rss", Folder() + "/Link_1_T_1_2.xml"));
  EXPECT_EQ(feeds[0].items.size(), 3u);
  FeedView second;
  second.number = "2";
  second.store_path = SystemSeparators(Folder() + "/Link_2_T_1_2.xml");
  second.state = FeedView::State::kMissing;
  EXPECT_EQ(feeds[1], second);
  FeedView third;
  third.number = "3";
  third.url = "https://c.example/rss";
  third.store_path = SystemSeparators(Folder() + "/Link_3_T_1_2.xml");
  third.title = "C";
  EXPECT_EQ(feeds[2], third);
}

}  // namespace
}  // namespace viewer
