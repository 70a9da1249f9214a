// The update of one feed: convert, compare, merge into its store, remember.
#pragma once

#include <cstdint>
#include <string>

// Size bounds of what a feed update reads from disk. A converted feed or a
// store over its bound is refused before it is read or loaded, with a log
// line naming the bound (the biggest real feeds are well under 1 MiB; a
// store grows by the new items of every run, so its bound is wider).
inline constexpr std::uint64_t kMaxConvertedBytes = 32ull << 20;  // 32 MiB
inline constexpr std::uint64_t kMaxStoreBytes = 128ull << 20;     // 128 MiB

void fncParseRSSSite(std::string feed_number, std::string url);

// A text made safe to stand in a file name inside the feed folder: path
// separators, "..", control characters and characters that file names cannot
// hold become "_". Ordinary values come back unchanged.
std::string SafeNamePart(const std::string& text);

// DataPath + "qLUX\Dovel\RSSLinks\Link_" + n + "_" + TemplateID + "_" +
// TemplateVersion + ".xml", name parts made safe.
std::string StorePath(const std::string& feed_number);

// True for the name of a temporary file that a replacement in the feed folder
// makes (".<name>.tmp-" and six characters) and that a killed run or
// converter can leave behind.
bool IsLeftoverTemporaryName(const std::string& name);

// Removes such leftovers from the feed folder, logging each. Only under the
// run lock: then no run, viewer or converter of this installation is saving.
void RemoveLeftoverTemporaryFiles();
