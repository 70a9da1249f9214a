// The converter's feed reading: any bytes a feed server sends.
//
// Whatever is converted must be a document the program can store: it loads
// with the program's own XML reader, the single-line fields of its items hold
// no line break or other control character (a line break in a date once
// planted a section in the update-state file), and the store saved from it
// loads again.
#include <cstddef>
#include <cstdint>
#include <string>

#include "companions/feedpull/feed_convert.h"
#include "fuzz/fuzz_support.h"
#include "platform/xml.h"

namespace {

using fuzz::Fail;

void CheckSingleLine(const platform::XmlNode& item, const char* field) {
  const std::string text = item.SelectSingleNode(field).Text();
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) Fail(field, "control character in a converted item");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::string error;
  const auto converted =
      feedpull::ConvertFeed(bytes, "https://feeds.example.com/news/rss.xml", &error);
  if (!converted) {
    if (error.empty()) fuzz::Fail("a refused feed without a reason");
    return 0;
  }
  platform::XmlDocument document;
  if (!document.LoadBytes(*converted))
    fuzz::Fail("converted output does not load", document.LoadError());
  for (platform::XmlNode item = document.DocumentElement().FirstChild(); item;
       item = item.NextSibling()) {
    if (item.NodeName() != "item") continue;
    for (const char* field : {"title", "link", "pubdate", "author", "guid"})
      CheckSingleLine(item, field);
  }
  platform::XmlDocument stored;
  if (!stored.LoadXml(document.Xml())) fuzz::Fail("saved store does not load", stored.LoadError());
  return 0;
}
