#include "feeds/converted_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/test_support.h"
#include "platform/testing/test_support.h"

using platform::testing::ScratchFolder;
using platform::testing::WriteFile;
using ::testing::ElementsAre;
using ::testing::FieldsAre;

class ConvertedReader : public ::testing::Test {
 protected:
  std::string Write(const std::string& xml) {
    std::string path = folder_ / "Temp_RSS_UniCode_u.xml";
    WriteFile(path, xml);
    return path;
  }
  CapturedLog log_;
  ScratchFolder folder_;
};

TEST_F(ConvertedReader, ReadsHeaderAndItemsInDocumentOrder) {
  std::string path = Write(
      "<wrap><rootrss><maintitle>Old</maintitle><maintitle>News</maintitle>"
      "<MainLink>http://n/</MainLink>"
      "<item><Title>A</Title><pubDate>d1</pubDate><link>l0</link><link>l1</link>"
      "<description>x <b>bold</b> y</description><x:guid xmlns:x=\"u\">no</x:guid></item>"
      "<maindescription>desc</maindescription>"
      "<item><unknown>?</unknown></item>"
      "<item><author>me</author><guid>g</guid><status>Unread</status></item>"
      "</rootrss></wrap>");
  AppState.Channel.MainDescription = "kept until replaced";
  fncParseRSSTemp(path);
  EXPECT_TRUE(log_.Lines().empty());
  EXPECT_EQ(AppState.HasRssItems, kTrue);
  EXPECT_THAT(AppState.Channel, FieldsAre("News", "http://n/", "desc"));
  EXPECT_THAT(AppState.RssItems, ElementsAre(FieldsAre("A", "x bold y", "l1", "d1", "", "", ""),
                                             FieldsAre("", "", "", "", "", "", ""),
                                             FieldsAre("", "", "", "", "me", "g", "Unread")));
}

TEST_F(ConvertedReader, NoFeedElementOrNoItemsLeavesNoItems) {
  AppState.Channel = {"T", "L", "D"};
  AppState.RssItems.resize(2);
  AppState.HasRssItems = kTrue;
  fncParseRSSTemp(Write("<ROOTRSS><maintitle>X</maintitle><item/></ROOTRSS>"));
  EXPECT_EQ(AppState.HasRssItems, kFalse);
  EXPECT_TRUE(AppState.RssItems.empty());
  EXPECT_THAT(AppState.Channel, FieldsAre("T", "L", "D"));

  fncParseRSSTemp(Write("<rootrss><maintitle>New</maintitle></rootrss>"));
  EXPECT_EQ(AppState.HasRssItems, kFalse);
  EXPECT_THAT(AppState.Channel, FieldsAre("New", "L", "D"));
  EXPECT_TRUE(log_.Lines().empty());
}

TEST_F(ConvertedReader, FailedLoadLogsOneLineAndClearsItemsButNotTheHeader) {
  AppState.Channel = {"T", "L", "D"};
  AppState.RssItems.resize(1);
  AppState.HasRssItems = kTrue;
  std::string path = Write("<rootrss><item>");
  fncParseRSSTemp(path);
  EXPECT_THAT(log_.Lines(), ElementsAre("ERR : Failed to load " + path));
  EXPECT_EQ(AppState.HasRssItems, kFalse);
  EXPECT_TRUE(AppState.RssItems.empty());
  EXPECT_THAT(AppState.Channel, FieldsAre("T", "L", "D"));
}

TEST_F(ConvertedReader, UnicodeCopyWithByteOrderMarkLoads) {
  // The feed update hands over a UTF-16 copy of the converter's output.
  std::string xml = "<rootrss><item><title>Café 中</title></item></rootrss>";
  std::string wide = "\xFF\xFE";
  for (char32_t c : std::u32string(U"<rootrss><item><title>Café 中</title></item></rootrss>")) {
    wide += static_cast<char>(c & 0xFF);
    wide += static_cast<char>((c >> 8) & 0xFF);
  }
  fncParseRSSTemp(Write(wide));
  ASSERT_EQ(AppState.RssItems.size(), 1u);
  EXPECT_EQ(AppState.RssItems[0].Title, "Café 中");
}

TEST_F(ConvertedReader, ReadsFeedsOfAnySize) {
  // More items than a 16-bit position could count.
  std::string xml = "<rootrss><maintitle>Big</maintitle>";
  for (int n = 0; n < 40000; ++n) xml += "<item><link>l" + std::to_string(n) + "</link></item>";
  fncParseRSSTemp(Write(xml + "</rootrss>"));
  ASSERT_EQ(AppState.RssItems.size(), 40000u);
  EXPECT_EQ(AppState.RssItems.back().Link, "l39999");
  EXPECT_TRUE(log_.Lines().empty());
}
