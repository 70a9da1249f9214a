// The converter's HTTP validator cache: per feed URL the ETag and
// Last-Modified of the last full fetch and the converted document made from
// it, so that the next run can ask the server "has it changed?" and, on
// "304 Not Modified", write the same document again without a transfer.
//
// One file in the feed folder, read whole and replaced atomically. Several
// converters may run at once (one per desktop session): each re-reads the
// file just before it writes and changes only its own URL's entry, so a race
// can at worst lose one entry, never leave a file that is half of each. A
// file that does not read back exactly (truncated, edited, of another
// version, over the bounds) counts as empty and is written anew.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace feedpull {

struct CacheEntry {
  std::string url;            // the URL as given on the command line
  std::string etag;           // as the server sent it, weak prefix included
  std::string last_modified;  // as the server sent it
  std::string document;       // the converted document written after that fetch
  // While the server's Retry-After holds (seconds since 1970, UTC; 0 for
  // none) the URL is not asked for at all.
  std::int64_t retry_not_before = 0;
  bool operator==(const CacheEntry&) const = default;
};

struct CacheLimits {
  std::size_t max_entries = 64;
  std::size_t max_file_bytes = 8 * 1024 * 1024;
  // One feed may take at most this share of the file, so that one big feed
  // cannot push out all the others.
  std::size_t max_document_bytes = 2 * 1024 * 1024;
};

// Validators are sent back as request headers: only printable ASCII of a
// sane length is kept, anything else counts as no validator.
bool UsableValidator(const std::string& value);

// The entries in the file's bytes, most recently stored first; nothing when
// the bytes are not a cache file within `limits`.
std::optional<std::vector<CacheEntry>> ParseCache(const std::string& bytes,
                                                  const CacheLimits& limits = {});
std::string SerializeCache(const std::vector<CacheEntry>& entries);

// The entry for `url`, or nullptr.
const CacheEntry* FindEntry(const std::vector<CacheEntry>& entries, const std::string& url);
// Puts `entry` first, in place of any older entry of its URL, then drops the
// least recently stored entries until the list fits `limits`. An entry that
// cannot fit at all is not stored (and its URL's old entry is gone).
void StoreEntry(std::vector<CacheEntry>& entries, CacheEntry entry, const CacheLimits& limits = {});
void RemoveEntry(std::vector<CacheEntry>& entries, const std::string& url);

// The file's entries; empty when it is missing or damaged (then `damaged`,
// when given, tells which).
std::vector<CacheEntry> LoadCache(const std::string& path, const CacheLimits& limits = {},
                                  bool* damaged = nullptr);
// Re-reads the file, lets `change` edit its entries and replaces the file
// atomically with the result. Throws platform::Failure when the file cannot
// be written.
void UpdateCache(const std::string& path,
                 const std::function<void(std::vector<CacheEntry>&)>& change,
                 const CacheLimits& limits = {});

}  // namespace feedpull
