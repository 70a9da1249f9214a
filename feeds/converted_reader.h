// The converter's output document ("rootrss").
#pragma once

#include <cstdint>
#include <string>

// Loads the converted document at `path` into AppState's Channel, RssItems
// and HasRssItems. Never fails towards its caller.
std::int16_t fncParseRSSTemp(std::string path);
