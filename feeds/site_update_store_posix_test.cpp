// Property: whatever a converter hands over, the store the feed update writes
// from it loads again, so that no feed's store is lost to a later run.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/test_support.h"
#include "feeds/site_update.h"
#include "platform/testing/test_support.h"
#include "platform/xml.h"

namespace {

using platform::testing::ScratchFolder;
using platform::testing::WriteFile;

// Pieces a hostile or broken feed might leave in the converted output, that
// still leave it well-formed for a lenient reader...
const std::vector<std::string> kPieces = {"\x1E",
                                          "\x01",
                                          "\x0B",
                                          "\x1F",
                                          "\xEF\xBF\xBE",
                                          "\xEF\xBF\xBF",
                                          "\xFF",
                                          "\xC3",
                                          "\xE9",
                                          "\xED\xA0\x80",
                                          "&amp;",
                                          "&#233;",
                                          "&#x1F600;",
                                          "<![CDATA[x\x1Fy]]>",
                                          "<b>in</b>",
                                          "<!--c-->",
                                          "\r\n",
                                          "\xC3\xA9",
                                          "\xF0\x9F\x98\x80",
                                          "--",
                                          "?>",
                                          "\t",
                                          "<?pi \x02?>",
                                          "\xEF\xBB\xBF",
                                          "\""};
// ... and pieces that do not.
const std::vector<std::string> kBreaking = {"&#30;", "&#x1;", "&nbsp;", "&", "<", "]]>", "<b>"};

std::string RandomText(std::mt19937& random) {
  std::string text;
  const int length = static_cast<int>(random() % 12);
  for (int i = 0; i < length; ++i) {
    if (random() % 150 == 0) {
      text += kBreaking[random() % kBreaking.size()];
    } else if (random() % 2 == 0) {
      text += kPieces[random() % kPieces.size()];
    } else {
      const char c = static_cast<char>(0x20 + random() % 0x5F);
      text += c == '<' || c == '&' ? 'x' : c;
    }
  }
  return text;
}

std::string RandomConvertedFeed(std::mt19937& random, int first_item) {
  std::string xml = random() % 4 == 0 ? "" : "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  xml += "<rootrss><maintitle>" + RandomText(random) + "</maintitle><mainlink>" +
         RandomText(random) + "</mainlink><maindescription>" + RandomText(random) +
         "</maindescription>\n";
  const int items = 1 + static_cast<int>(random() % 4);
  for (int n = first_item + items; n > first_item; --n) {
    xml += "<item><title>" + RandomText(random) + "</title><description>" + RandomText(random) +
           "</description><link>http://f/" + std::to_string(n) + RandomText(random) +
           "</link><pubDate>" + RandomText(random) + "</pubDate><author>" + RandomText(random) +
           "</author><guid>" + RandomText(random) + "</guid></item>\n";
  }
  xml += "</rootrss>\n";
  // Now and then a few bytes of the whole document go astray.
  if (random() % 8 == 0) {
    for (int k = 0; k < 3; ++k) xml[random() % xml.size()] = static_cast<char>(random() % 256);
  }
  return xml;
}

TEST(SiteUpdateStore, AStoreWrittenFromAnyConvertedFeedLoadsAgain) {
  ScratchFolder folder;
  CapturedLog log;
  const std::string rsslinks = folder / "qLUX/Dovel/RSSLinks";
  ::mkdir((folder / "qLUX").c_str(), 0777);
  ::mkdir((folder / "qLUX/Dovel").c_str(), 0777);
  ::mkdir(rsslinks.c_str(), 0777);
  // The converter stand-in puts the document named by its argument in place,
  // with the mark of the run's call after it.
  const std::string out = "\"" + rsslinks + "/Temp_RSS.xml\"";
  WriteFile(folder / "qLUX/FeedPull.exe",
            "#!/bin/sh\n{ cat \"$1\"; printf '<?FeedPull call=\"%s\" url=\"%s\"?>\\n' "
            "\"$RSSNOTIFY_CONVERTER_CALL\" \"$(printf '%s' \"$1\" | od -An -v -tx1 | tr -d ' "
            "\\n')\"; } > " +
                out + ".part && mv " + out + ".part " + out + "\n");
  ::chmod((folder / "qLUX/FeedPull.exe").c_str(), 0755);
  AppState.InstallPath = folder.path() + "\\";
  AppState.DataPath = AppState.InstallPath;
  AppState.UserName = "u";
  AppState.TemplateID = "T";
  AppState.TemplateVersion = "1";
  const std::string store = rsslinks + "/Link_1_T_1.xml";
  const std::string feed = folder / "feed.xml";

  std::mt19937 random(42);
  int stores_written = 0;
  for (int round = 0; round < 40; ++round) {
    ::unlink(store.c_str());
    ::unlink((rsslinks + "/LastUpdates_u.ini").c_str());
    // A first run creates the store, a second one adds to it.
    for (int run = 0; run < 2; ++run) {
      const std::string converted = RandomConvertedFeed(random, run * 10);
      SCOPED_TRACE(::testing::PrintToString(converted));
      WriteFile(feed, converted);
      fncParseRSSSite("1", feed);
      struct stat st {};
      if (::stat(store.c_str(), &st) != 0) continue;
      ++stores_written;
      platform::XmlDocument document;
      ASSERT_TRUE(document.Load(store)) << document.LoadError();
      EXPECT_EQ(document.DocumentElement().NodeName(), "rootrss");
    }
  }
  // Most rounds must have come as far as a store, or the test proves little.
  EXPECT_GT(stores_written, 40);
}

}  // namespace
