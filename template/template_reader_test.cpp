#include "template/template_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/test_support.h"
#include "platform/testing/test_support.h"

using platform::testing::ScratchFolder;
using platform::testing::WriteFile;
using ::testing::ElementsAre;

namespace {

class TemplateReader : public ::testing::Test {
 protected:
  std::string Write(const std::string& xml) {
    std::string path = folder_ / "qVMMenu.xml";
    WriteFile(path, xml);
    return path;
  }
  CapturedLog log_;
  ScratchFolder folder_;
};

std::string Summary(const std::string& id, const std::string& version, const std::string& rss,
                    const std::string& sites, const std::string& upd) {
  return "MSG : TemplateID=" + id + "<<>>TemplateVersion=" + version + "<<>>RSSEnabled=" + rss +
         "<<>>RSSSites=" + sites + "<<>>RSSUpd=" + upd;
}

}  // namespace

TEST_F(TemplateReader, ReadsEveryFieldWhateverTheCaseAndBlanksOfItsName) {
  std::string path = Write(
      "<?xml version=\"1.0\"?>\n<wrapper><vsrgetdoveltemplate>\n"
      "  <TEMPLATEID>T9</TEMPLATEID><TemplateVer>4</TemplateVer>\n"
      "  <!-- a comment --><Rss></Rss><RSSSites>http://a@#@http://b</RSSSites>\n"
      "  <rssupd>15</rssupd><other>x</other>\n"
      "  <qvmrssmsg>First</qvmrssmsg><QVMRSSMSG>Second &amp; last</QVMRSSMSG>\n"
      "</vsrgetdoveltemplate></wrapper>");
  EXPECT_EQ(fncParseLUXTemplateXML(path), kTrue);
  EXPECT_THAT(log_.Lines(),
              ElementsAre("MSG : in fncParseLUXTemplateXML", "MSG : Popup message :: First",
                          "MSG : Popup message :: Second & last",
                          Summary("T9", "4", "", "http://a@#@http://b", "15")));
  EXPECT_EQ(AppState.TemplateID, "T9");
  EXPECT_EQ(AppState.TemplateVersion, "4");
  EXPECT_EQ(AppState.RSSEnabled, "");
  EXPECT_EQ(AppState.RSSSites, "http://a@#@http://b");
  EXPECT_EQ(AppState.RSSUpd, "15");
  EXPECT_EQ(AppState.PopupMessage, "Second & last");
}

TEST_F(TemplateReader, TestToolFormAndPrecedence) {
  std::string path = Write(
      "<root><vsrtesttoolgetvmtmpmemb><templateid>tool</templateid><rsssites>u</rsssites>"
      "</vsrtesttoolgetvmtmpmemb></root>");
  EXPECT_EQ(fncParseLUXTemplateXML(path), kTrue);
  EXPECT_EQ(AppState.TemplateID, "tool");

  ResetAppStateForTesting();
  path = Write(
      "<root><vsrtesttoolgetvmtmpmemb><templateid>tool</templateid><rsssites>u</rsssites>"
      "</vsrtesttoolgetvmtmpmemb><vsrgetdoveltemplate><templateid>main</templateid>"
      "<rsssites>v</rsssites></vsrgetdoveltemplate></root>");
  EXPECT_EQ(fncParseLUXTemplateXML(path), kTrue);
  EXPECT_EQ(AppState.TemplateID, "main");
  EXPECT_EQ(AppState.RSSSites, "v");
}

TEST_F(TemplateReader, BlankOrMissingFeedListGivesFalseAfterTheSummary) {
  std::string path = Write(
      "<vsrgetdoveltemplate><templateid>T</templateid><rss>1</rss><rsssites>   </rsssites>"
      "</vsrgetdoveltemplate>");
  EXPECT_EQ(fncParseLUXTemplateXML(path), kFalse);
  // The XML library drops text that is only white space, as the agent's own does.
  EXPECT_THAT(log_.Lines(),
              ElementsAre("MSG : in fncParseLUXTemplateXML", Summary("T", "", "1", "", "")));
  log_.Clear();
  path = Write("<vsrgetdoveltemplate/>");
  EXPECT_EQ(fncParseLUXTemplateXML(path), kFalse);
  // Fields the template lacks keep what they held.
  EXPECT_THAT(log_.Lines(),
              ElementsAre("MSG : in fncParseLUXTemplateXML", Summary("T", "", "1", "", "")));
}

TEST_F(TemplateReader, UnreadableOrForeignDocuments) {
  std::string path = Write("this is not XML");
  EXPECT_EQ(fncParseLUXTemplateXML(path), kFalse);
  const std::string missing = folder_ / "missing.xml";
  EXPECT_EQ(fncParseLUXTemplateXML(missing), kFalse);
  path = Write("<Vsrgetdoveltemplate><rsssites>u</rsssites></Vsrgetdoveltemplate>");
  EXPECT_EQ(fncParseLUXTemplateXML(path), kFalse);
  EXPECT_THAT(log_.Lines(),
              ElementsAre("MSG : in fncParseLUXTemplateXML",
                          "ERR : Failed to load " + folder_ / "qVMMenu.xml",
                          "MSG : in fncParseLUXTemplateXML", "ERR : Failed to load " + missing,
                          "MSG : in fncParseLUXTemplateXML"));
}
