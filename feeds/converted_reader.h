// The converter's output document ("rootrss").
#pragma once

#include <cstdint>
#include <string>

struct RssChannel {
  std::string MainTitle;
  std::string MainLink;
  std::string MainDescription;
};

struct RssItem {
  std::string Title;
  std::string Description;
  std::string Link;
  std::string PubDate;
  std::string Author;
  std::string Guid;
  std::string Status;
};

// Loads the converted document at `path` into AppState's Channel, RssItems
// and HasRssItems. Never fails towards its caller.
std::int16_t fncParseRSSTemp(std::string path);
