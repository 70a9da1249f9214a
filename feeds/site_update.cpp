// Placeholder until the feed site update lands: no feed yields new items.
#include "feeds/site_update.h"

void fncParseRSSSite(std::string feed_number, std::string url) {
  (void)feed_number;
  (void)url;
}
std::string SafeNamePart(const std::string& text) {
  return text;
}
std::string StorePath(const std::string& feed_number) {
  return feed_number;
}
