#include "feeds/converted_reader.h"

#include "app/app_state.h"
#include "app/guard.h"
#include "app/log.h"
#include "app/text.h"
#include "platform/ascii.h"
#include "platform/xml.h"

namespace {

std::string FieldName(const platform::XmlNode& node) {
  return platform::ascii::LowerCase(Trimmed(node.NodeName()));
}

void ReadItem(const platform::XmlNode& item_element, RssItem& item) {
  static const std::pair<const char*, std::string RssItem::*> kFields[] = {
      {"title", &RssItem::Title},   {"description", &RssItem::Description},
      {"link", &RssItem::Link},     {"pubdate", &RssItem::PubDate},
      {"author", &RssItem::Author}, {"guid", &RssItem::Guid},
      {"status", &RssItem::Status}};
  for (const platform::XmlNode& child : item_element.ChildNodes()) {
    const std::string name = FieldName(child);
    for (const auto& [field_name, member] : kFields) {
      if (name == field_name) {
        item.*member = child.Text();
        break;
      }
    }
  }
}

}  // namespace

std::int16_t fncParseRSSTemp(std::string path) {
  try {
    AppState.HasRssItems = kFalse;
    AppState.RssItems.clear();
    platform::XmlDocument document;
    if (!document.Load(path)) {
      WriteLog("ERR : Failed to load " + path);
      return 0;
    }
    const platform::XmlNode feed = document.DocumentElement().SelectSingleNode("//rootrss");
    if (!feed) return 0;
    for (const platform::XmlNode& child : feed.ChildNodes()) {
      const std::string name = FieldName(child);
      if (name == "maintitle") {
        AppState.Channel.MainTitle = child.Text();
      } else if (name == "mainlink") {
        AppState.Channel.MainLink = child.Text();
      } else if (name == "maindescription") {
        AppState.Channel.MainDescription = child.Text();
      } else if (name == "item") {
        // The record counts as soon as its element is met, known fields or not.
        AppState.RssItems.emplace_back();
        AppState.HasRssItems = kTrue;
        ReadItem(child, AppState.RssItems.back());
      }
    }
  } catch (...) {
    const platform::Failure failure = GuardedFailure();
    WriteLog("ERR : fncParseRSSTemp, " + failure.description());
  }
  return 0;
}
