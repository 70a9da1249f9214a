// The walk over the template's feeds and the decision about the popup.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

std::int16_t fncPopulateRSSLinks();

// The pieces of a feed list split at every "@#@" (any letter case), empty
// pieces included.
std::vector<std::string> SplitFeedList(const std::string& feed_list);
