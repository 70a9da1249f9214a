#include "feeds/update_state.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/test_support.h"
#include "platform/testing/test_support.h"

using platform::testing::ReadFile;
using platform::testing::ScratchFolder;
using ::testing::ElementsAre;

class UpdateState : public ::testing::Test {
 protected:
  void SetUp() override { UseAsDataFolder(folder_); }
  CapturedLog log_;
  ScratchFolder folder_;
};

TEST_F(UpdateState, PathAndSectionNames) {
  EXPECT_EQ(UpdateStatePath(), folder_.path() + "\\qLUX\\Dovel\\RSSLinks\\LastUpdates_jdoe.ini");
  EXPECT_EQ(FeedSection("3"), "Link_3_T_2");
  AppState.TemplateID = "a/b\\..";
  EXPECT_EQ(FeedSection("1"), "Link_1_a_b____2");
}

TEST_F(UpdateState, FirstWriteCreatesTheFileAndLogsTheWholeValue) {
  const std::string path = UpdateStatePath();
  std::string value;
  EXPECT_EQ(fncReadFromINI(value, "TotalNewRSS", "NewRSSCount", path), 0);
  EXPECT_EQ(value, "");

  fncwriteToINI("RSSLinks", "Urls", "http://a@#@http://b", path);
  fncwriteToINI("TotalNewRSS", "NewRSSCount", "", path);
  fncwriteToINI("rsslinks", "TEMPLATEID", "T", path);
  EXPECT_THAT(log_.Lines(),
              ElementsAre("MSG : Writing [RSSLinks] Urls=http://a@#@http://b to file " + path,
                          "MSG : Writing [TotalNewRSS] NewRSSCount= to file " + path,
                          "MSG : Writing [rsslinks] TEMPLATEID=T to file " + path));
  EXPECT_EQ(ReadFile(folder_ / "qLUX/Dovel/RSSLinks/LastUpdates_jdoe.ini"),
            "[RSSLinks]\r\nUrls=http://a@#@http://b\r\nTEMPLATEID=T\r\n"
            "[TotalNewRSS]\r\nNewRSSCount=\r\n");
  EXPECT_EQ(fncReadFromINI(value, "RSSLINKS", "urls", path), 19);
  EXPECT_EQ(value, "http://a@#@http://b");
}

TEST_F(UpdateState, LongValuesReadBackCutTo4999Characters) {
  const std::string path = UpdateStatePath();
  const std::string long_value(5000, 'x');
  fncwriteToINI("RSSLinks", "Urls", long_value, path);
  std::string value;
  EXPECT_EQ(fncReadFromINI(value, "RSSLinks", "Urls", path), 4999);
  EXPECT_EQ(value, std::string(4999, 'x'));
}

TEST_F(UpdateState, FailedWriteIsLoggedAfterItsLine) {
  const std::string path = folder_.path() + "\\missing\\LastUpdates_jdoe.ini";
  fncwriteToINI("Link_1_T_2", "NewRSSCount", "4", path);
  EXPECT_THAT(log_.Lines(), ElementsAre("MSG : Writing [Link_1_T_2] NewRSSCount=4 to file " + path,
                                        "ERR : Failed to write to the INI"));
  EXPECT_FALSE(platform::Files().FolderExists(folder_ / "missing"));
}

TEST_F(UpdateState, LineBreaksAndNulNeverReachTheFile) {
  const std::string path = UpdateStatePath();
  // A feed's date that would plant a section for another feed.
  fncwriteToINI("Link_1_T_2", "LatestPubDate", "Mon\r\n[Link_2_T_2]\nLatestGUID=x", path);
  fncwriteToINI("Link_1_T_2", std::string("a\rb", 3), std::string("nul\0cut", 7), path);
  EXPECT_THAT(log_.Lines(),
              ElementsAre("MSG : Writing [Link_1_T_2] LatestPubDate=Mon  [Link_2_T_2] LatestGUID=x "
                          "to file " +
                              path,
                          "MSG : Writing [Link_1_T_2] a b=nul cut to file " + path));
  EXPECT_EQ(ReadFile(folder_ / "qLUX/Dovel/RSSLinks/LastUpdates_jdoe.ini"),
            "[Link_1_T_2]\r\nLatestPubDate=Mon  [Link_2_T_2] LatestGUID=x\r\na b=nul cut\r\n");
  std::string value;
  EXPECT_EQ(fncReadFromINI(value, "Link_2_T_2", "LatestGUID", path), 0);
}
