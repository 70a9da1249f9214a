// Placeholder until the feed update driver lands.
#include "feeds/update_driver.h"

std::int16_t fncPopulateRSSLinks() {
  return 0;
}

std::vector<std::string> SplitFeedList(const std::string& feed_list) {
  return {feed_list};
}
