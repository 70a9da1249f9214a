// The feed stores the viewer shows: which ones (the template the last feed
// update processed, as the update-state file records it), what they hold,
// and marking their items read once shown.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "companions/viewer/page.h"
#include "platform/xml.h"

namespace viewer {

// The template the last feed update processed, from the "RSSLinks" section
// of the update-state file of `data_path` (ending in a backslash) and
// `user_name`.
struct RecordedFeeds {
  bool recorded = false;  // false until a feed update has recorded a feed list
  std::string template_id;
  std::string template_version;
  std::vector<std::string> urls;  // feed n is urls[n - 1]
};
RecordedFeeds ReadRecordedFeeds(const std::string& data_path, const std::string& user_name);

// The store of every recorded feed in `data_path`, in the template's order.
std::vector<FeedView> LoadRecordedFeeds(const std::string& data_path,
                                        const RecordedFeeds& recorded);

// The path of the store of feed `number` (see LoadStore).
std::string RecordedStorePath(const std::string& data_path, const RecordedFeeds& recorded,
                              const std::string& number);

// The store of feed `number` at `path` (as the program names paths). A
// missing or unreadable store gives a view in that state, never a failure.
FeedView LoadStore(const std::string& number, const std::string& url, const std::string& path);

// Fills the header and items of `feed` from a loaded store document: the
// newest kShownUnreadItems unread and kShownReadItems read items, in store
// order, and the counts of those left out. False (and `feed` untouched) when
// the document is not a feed store.
bool ReadStoreDocument(const platform::XmlDocument& document, FeedView& feed);

// True when a shown store has an item that MarkShownItemsRead would mark.
bool HasUnreadItems(const FeedView& shown);

// True when an item's "Status" text says it has not been shown yet.
bool IsUnreadStatus(const std::string& status);

// The read items a store keeps, newest first; older read items go when the
// viewer next saves it. The feed update only ever compares a feed's items
// with the store, and a feed carries far fewer items than this, all of them
// newer than what goes (see docs/viewer.md).
inline constexpr std::size_t kKeptReadItems = 1000;

// Marks read, in the store at `path`, the items that `shown` showed as
// unread: each of their unread "Status" elements becomes "Read" and the store
// is saved atomically. In that save the read items after the newest
// kKeptReadItems are dropped; every unread item, the header and the order
// stay as they were. The store is read afresh, so that an item a feed update
// has added since the page was made stays unread. A store without anything
// to mark is not written. Returns the number of items marked; throws
// platform::Failure when the store cannot be saved.
std::size_t MarkShownItemsRead(const std::string& path, const FeedView& shown);

}  // namespace viewer
