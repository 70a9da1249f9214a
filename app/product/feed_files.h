// The files of the product's feed folder, DataPath + "qLUX\Dovel\RSSLinks\",
// as rssnotify names and writes them and the viewer reads them: the per-feed
// stores and the per-user update-state file. Nothing here logs or keeps
// state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace product {

// The bound of a store's size: a store over it is refused before it is read
// or loaded (it grows by the new items of every run; the biggest real feeds
// are well under 1 MiB).
inline constexpr std::uint64_t kMaxStoreBytes = 128ull << 20;  // 128 MiB

// A user name as the names of that user's files carry it (the day's log, the
// update-state file, the converted feed's UTF-16 copy): path separators,
// control characters and characters that file names cannot hold become "_",
// so that a domain account such as CORP\alice has one file of each,
// LastUpdates_CORP_alice.ini. A name without any of them (every Windows logon
// name) comes back unchanged, ".." included: the name never stands alone as
// a part of a path.
std::string UserNamePart(const std::string& user_name);

// True for the name of a temporary file that a replacement in the feed folder
// makes (".<name>.tmp-" and six characters) and that a killed run or
// converter can leave behind.
bool IsLeftoverTemporaryName(const std::string& name);

// A text made safe to stand in a file name inside the feed folder: what
// UserNamePart replaces, and "..", become "_". Ordinary values come back
// unchanged.
std::string SafeNamePart(const std::string& text);

// "Link_" + n + "_" + template id + "_" + template version, name parts made
// safe: a feed's section in the update-state file and its store's name.
std::string FeedSection(const std::string& feed_number, const std::string& template_id,
                        const std::string& template_version);

// data_path + "qLUX\Dovel\RSSLinks\" + FeedSection(...) + ".xml"
std::string StorePath(const std::string& data_path, const std::string& feed_number,
                      const std::string& template_id, const std::string& template_version);

// data_path + "qLUX\Dovel\RSSLinks\LastUpdates_" + UserNamePart(user_name) + ".ini"
std::string UpdateStatePath(const std::string& data_path, const std::string& user_name);

// One value of the update-state file at `path` ("" when missing), at most
// 4999 characters, as rssnotify reads its values.
std::string ReadStateValue(const std::string& section, const std::string& key,
                           const std::string& path);
// The same, whatever the value's length: a value is never longer than the
// file that holds it.
std::string ReadWholeStateValue(const std::string& section, const std::string& key,
                                const std::string& path);

// The pieces of a feed list split at every "@#@" (any letter case), empty
// pieces included.
std::vector<std::string> SplitFeedList(const std::string& feed_list);

}  // namespace product
