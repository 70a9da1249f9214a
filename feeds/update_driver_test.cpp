#include "feeds/update_driver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/test_support.h"
#include "feeds/update_state.h"
#include "platform/testing/test_support.h"

namespace {

using platform::testing::ReadFile;
using platform::testing::ScratchFolder;
using platform::testing::WriteFile;
using ::testing::ElementsAre;

const char kDefault[] =
    "You have total new RSS feeds from your service provider for your reference. Click for view "
    "all messages.";

TEST(PopupBody, TheDefaultSentenceIsCountedAnyOtherTextStands) {
  EXPECT_EQ(PopupBody(kDefault, "1"),
            "You have total 1 new RSS feed from your service provider for your reference. Click "
            "for view all messages.");
  EXPECT_EQ(PopupBody(kDefault, "12"),
            "You have total 12 new RSS feeds from your service provider for your reference. Click "
            "for view all messages.");
  // Blanks around it and letter case do not matter.
  EXPECT_EQ(PopupBody("  YOU HAVE total new rss feeds from your service provider for your "
                      "reference. click for view all messages.  ",
                      "2"),
            "You have total 2 new RSS feeds from your service provider for your reference. Click "
            "for view all messages.");
  EXPECT_EQ(PopupBody("News from your provider", "5"), "News from your provider");
  // Other white space does: the sentence then stands as the template wrote it.
  const std::string tabbed = std::string("\t") + kDefault;
  EXPECT_EQ(PopupBody(tabbed, "5"), tabbed);
  EXPECT_EQ(PopupBody("", "5"), "");
}

class FeedUpdateDriver : public ::testing::Test {
 protected:
  void SetUp() override { UseAsDataFolder(folder_); }
  std::string Writing(const std::string& what) const {
    return "MSG : Writing " + what + " to file " + UpdateStatePath();
  }
  CapturedLog log_;
  ScratchFolder folder_;
};

TEST_F(FeedUpdateDriver, NoFeedsRecordsTheTemplateAndEndsTheRunWithoutAPopup) {
  AppState.RSSSites = "  ";
  EXPECT_THROW(fncPopulateRSSLinks(), EndedForTesting);
  EXPECT_THAT(
      log_.Lines(),
      ElementsAre("MSG : In fncPopulateRSSLinks", Writing("[RSSLinks] TemplateID=T"),
                  Writing("[RSSLinks] TemplateVersion=2"), Writing("[RSSLinks] Urls=  "),
                  "MSG : Total New RSS before updates :: 0", Writing("[TotalNewRSS] NewRSSCount="),
                  "MSG : Making the counter to zero", Writing("[TotalNewRSS] NewRSSCount=0"),
                  "MSG : Total New RSS after updates :: 0", "MSG : Application Ended"));
  EXPECT_EQ(ReadFile(folder_ / "qLUX/Dovel/RSSLinks/LastUpdates_jdoe.ini"),
            "[RSSLinks]\r\nTemplateID=T\r\nTemplateVersion=2\r\nUrls=\r\n"
            "[TotalNewRSS]\r\nNewRSSCount=0\r\n");
}

TEST_F(FeedUpdateDriver, AStoredTotalThatIsNoCountIsTakenAsZero) {
  WriteFile(folder_ / "qLUX/Dovel/RSSLinks/LastUpdates_jdoe.ini",
            "[TotalNewRSS]\r\nNewRSSCount=9e999\r\n");
  EXPECT_THROW(fncPopulateRSSLinks(), EndedForTesting);
  EXPECT_THAT(
      log_.Lines(),
      ElementsAre("MSG : In fncPopulateRSSLinks", Writing("[RSSLinks] TemplateID=T"),
                  Writing("[RSSLinks] TemplateVersion=2"), Writing("[RSSLinks] Urls="),
                  "ERR : in fncPopulateRSSLinks. Stored NewRSSCount is not a count, taken "
                  "as 0 : 9e999",
                  "MSG : Total New RSS before updates :: 0", Writing("[TotalNewRSS] NewRSSCount=0"),
                  "MSG : Making the counter to zero", Writing("[TotalNewRSS] NewRSSCount=0"),
                  "MSG : Total New RSS after updates :: 0", "MSG : Application Ended"));
}

}  // namespace
