// The update of one feed: convert, compare, merge into its store, remember.
#pragma once

#include <cstdint>
#include <string>

// The size bound of a converted feed. A converted feed, or a store over its
// own bound (product::kMaxStoreBytes), is refused before it is read or
// loaded, with a log line naming the bound (the biggest real feeds are well
// under 1 MiB).
inline constexpr std::uint64_t kMaxConvertedBytes = 32ull << 20;  // 32 MiB

void fncParseRSSSite(std::string feed_number, std::string url);

// DataPath + "qLUX\Dovel\RSSLinks\Link_" + n + "_" + TemplateID + "_" +
// TemplateVersion + ".xml", name parts made safe (see app/product/feed_files.h).
std::string StorePath(const std::string& feed_number);
