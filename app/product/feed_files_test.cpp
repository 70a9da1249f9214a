#include "app/product/feed_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/testing/test_support.h"

namespace {

using ::testing::ElementsAre;

TEST(FeedFiles, NamePartsThatCouldLeaveTheFeedFolderAreMadeSafe) {
  EXPECT_EQ(product::SafeNamePart("T-12 v.3"), "T-12 v.3");
  EXPECT_EQ(product::SafeNamePart("a/b\\c:d*e?f\"g<h>i|j"), "a_b_c_d_e_f_g_h_i_j");
  EXPECT_EQ(product::SafeNamePart(".."), "__");
  EXPECT_EQ(product::SafeNamePart("..."), "__.");
  EXPECT_EQ(product::SafeNamePart("..\\..\\x"), "______x");
  EXPECT_EQ(product::SafeNamePart(std::string("t\0\r\n\x1f\x7f", 6)), "t_____");
  EXPECT_EQ(product::SafeNamePart("caf\xC3\xA9"), "caf\xC3\xA9");
}

TEST(FeedFiles, StoreAndStateNames) {
  EXPECT_EQ(product::FeedSection("3", "T", "2"), "Link_3_T_2");
  EXPECT_EQ(product::FeedSection("1", "a/b", ".."), "Link_1_a_b___");
  EXPECT_EQ(product::StorePath("C:\\Data\\", "1", "T/1", "2"),
            "C:\\Data\\qLUX\\Dovel\\RSSLinks\\Link_1_T_1_2.xml");
  EXPECT_EQ(product::UpdateStatePath("C:\\Data\\", "jdoe"),
            "C:\\Data\\qLUX\\Dovel\\RSSLinks\\LastUpdates_jdoe.ini");
  EXPECT_EQ(product::UpdateStatePath("C:\\Data\\", "CORP\\alice"),
            "C:\\Data\\qLUX\\Dovel\\RSSLinks\\LastUpdates_CORP_alice.ini");
}

TEST(FeedFiles, UserNamesKeepWhatFileNamesCanHold) {
  EXPECT_EQ(product::UserNamePart("CORP\\alice"), "CORP_alice");
  EXPECT_EQ(product::UserNamePart(std::string("a/b:c*d?e\"f<g>h|i\tj", 19)), "a_b_c_d_e_f_g_h_i_j");
  // Names that could always stand in a file name keep their files.
  EXPECT_EQ(product::UserNamePart("j..doe"), "j..doe");
  EXPECT_EQ(product::UserNamePart("alice@corp.example"), "alice@corp.example");
  EXPECT_EQ(product::UserNamePart("J\xC3\xBCrgen Smith"), "J\xC3\xBCrgen Smith");
}

TEST(FeedFiles, FeedListSplitsAtEverySeparatorKeepingEmptyPieces) {
  EXPECT_THAT(product::SplitFeedList("http://a"), ElementsAre("http://a"));
  EXPECT_THAT(product::SplitFeedList("http://a@#@http://b"), ElementsAre("http://a", "http://b"));
  EXPECT_THAT(product::SplitFeedList("a@#@@#@c"), ElementsAre("a", "", "c"));
  EXPECT_THAT(product::SplitFeedList("@#@"), ElementsAre("", ""));
  EXPECT_THAT(product::SplitFeedList(""), ElementsAre(""));
  EXPECT_THAT(product::SplitFeedList("a@#@#@b"), ElementsAre("a", "#@b"));
  EXPECT_THAT(product::SplitFeedList(" a @#@ b "), ElementsAre(" a ", " b "));
}

TEST(FeedFiles, StateValuesAreCutAsTheProgramReadsThemOrReadWhole) {
  platform::testing::ScratchFolder folder;
  const std::string path = folder / "LastUpdates_u.ini";
  const std::string long_list(6000, 'u');
  platform::testing::WriteFile(path, "[RSSLinks]\r\nTemplateID=T\r\nUrls=" + long_list + "\r\n");
  EXPECT_EQ(product::ReadStateValue("rsslinks", "TEMPLATEID", path), "T");
  EXPECT_EQ(product::ReadStateValue("RSSLinks", "Urls", path), std::string(4999, 'u'));
  EXPECT_EQ(product::ReadWholeStateValue("RSSLinks", "Urls", path), long_list);
  EXPECT_EQ(product::ReadStateValue("RSSLinks", "Missing", path), "");
  EXPECT_EQ(product::ReadWholeStateValue("RSSLinks", "Urls", folder / "missing.ini"), "");
}

}  // namespace
