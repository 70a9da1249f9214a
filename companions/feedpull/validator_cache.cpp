#include "companions/feedpull/validator_cache.h"

#include <algorithm>
#include <cstdio>

#include "companions/feedpull/record_file.h"
#include "platform/failure.h"
#include "platform/filesystem.h"

namespace feedpull {
namespace {

// The file, all lengths in bytes:
//   FeedPull validator cache 1\n
//   per entry, most recently stored first:
//     E <url> <etag> <last-modified> <document> <retry-not-before> <checksum>\n
//     the four texts back to back, then \n
//   end <number of entries>\n
// The checksum (FNV-1a, 64 bits, in hex) covers the numbers and the texts,
// so that a flipped byte in a stored document is never written out as a
// feed.
constexpr std::string_view kMagic = "FeedPull validator cache 1\n";
constexpr std::size_t kMaxValidatorBytes = 1024;

std::uint64_t Checksum(const CacheEntry& entry) {
  std::uint64_t hash = kFnv1aStart;
  for (const std::string* text : {&entry.url, &entry.etag, &entry.last_modified, &entry.document}) {
    hash = Fnv1a(hash, std::to_string(text->size()) + " ");
    hash = Fnv1a(hash, *text);
  }
  return Fnv1a(hash, std::to_string(entry.retry_not_before));
}

std::string SerializeEntry(const CacheEntry& entry) {
  char checksum[17];
  std::snprintf(checksum, sizeof checksum, "%016llx",
                static_cast<unsigned long long>(Checksum(entry)));
  std::string out =
      "E " + std::to_string(entry.url.size()) + " " + std::to_string(entry.etag.size()) + " " +
      std::to_string(entry.last_modified.size()) + " " + std::to_string(entry.document.size()) +
      " " + std::to_string(entry.retry_not_before) + " " + checksum + "\n";
  out += entry.url;
  out += entry.etag;
  out += entry.last_modified;
  out += entry.document;
  out += '\n';
  return out;
}

std::size_t EntryBytes(const CacheEntry& entry) {
  return SerializeEntry(entry).size();
}

}  // namespace

bool UsableValidator(const std::string& value) {
  if (value.empty() || value.size() > kMaxValidatorBytes) return false;
  return std::all_of(value.begin(), value.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

std::optional<std::vector<CacheEntry>> ParseCache(const std::string& bytes,
                                                  const CacheLimits& limits) {
  if (bytes.size() > limits.max_file_bytes) return std::nullopt;
  RecordReader reader(bytes);
  if (!reader.Literal(kMagic)) return std::nullopt;
  std::vector<CacheEntry> entries;
  while (reader.Literal("E ")) {
    if (entries.size() >= limits.max_entries) return std::nullopt;
    std::size_t sizes[4];
    CacheEntry entry;
    std::uint64_t checksum = 0;
    for (std::size_t& size : sizes) {
      if (!reader.NumberThen(size, ' ')) return std::nullopt;
    }
    if (!reader.NumberThen(entry.retry_not_before, ' ') || !reader.NumberThen(checksum, '\n', 16) ||
        !reader.Text(sizes[0], entry.url) || !reader.Text(sizes[1], entry.etag) ||
        !reader.Text(sizes[2], entry.last_modified) || !reader.Text(sizes[3], entry.document) ||
        !reader.Literal("\n")) {
      return std::nullopt;
    }
    if (checksum != Checksum(entry) || entry.url.empty() ||
        entry.document.size() > limits.max_document_bytes ||
        (!entry.etag.empty() && !UsableValidator(entry.etag)) ||
        (!entry.last_modified.empty() && !UsableValidator(entry.last_modified)) ||
        FindEntry(entries, entry.url) != nullptr) {
      return std::nullopt;
    }
    entries.push_back(std::move(entry));
  }
  std::size_t count = 0;
  if (!reader.Literal("end ") || !reader.NumberThen(count, '\n') || count != entries.size() ||
      !reader.AtEnd()) {
    return std::nullopt;
  }
  return entries;
}

std::string SerializeCache(const std::vector<CacheEntry>& entries) {
  std::string out(kMagic);
  for (const CacheEntry& entry : entries) out += SerializeEntry(entry);
  out += "end " + std::to_string(entries.size()) + "\n";
  return out;
}

const CacheEntry* FindEntry(const std::vector<CacheEntry>& entries, const std::string& url) {
  auto it = std::find_if(entries.begin(), entries.end(),
                         [&](const CacheEntry& entry) { return entry.url == url; });
  return it == entries.end() ? nullptr : &*it;
}

void RemoveEntry(std::vector<CacheEntry>& entries, const std::string& url) {
  std::erase_if(entries, [&](const CacheEntry& entry) { return entry.url == url; });
}

void StoreEntry(std::vector<CacheEntry>& entries, CacheEntry entry, const CacheLimits& limits) {
  RemoveEntry(entries, entry.url);
  // What the file costs besides its entries: the magic line and the end
  // line, whose count has at most as many digits as the entry limit.
  const std::size_t frame = kMagic.size() + 5 + std::to_string(limits.max_entries).size();
  const std::size_t own = EntryBytes(entry);
  if (entry.url.empty() || entry.document.size() > limits.max_document_bytes ||
      frame + own > limits.max_file_bytes || limits.max_entries == 0) {
    return;
  }
  std::size_t total = frame + own;
  std::size_t kept = 0;
  while (kept < entries.size() && kept + 1 < limits.max_entries) {
    const std::size_t bytes = EntryBytes(entries[kept]);
    if (total + bytes > limits.max_file_bytes) break;
    total += bytes;
    ++kept;
  }
  entries.resize(kept);
  entries.insert(entries.begin(), std::move(entry));
}

std::vector<CacheEntry> LoadCache(const std::string& path, const CacheLimits& limits,
                                  bool* damaged) {
  if (damaged != nullptr) *damaged = false;
  platform::FileSystem& files = platform::Files();
  std::optional<std::vector<CacheEntry>> entries;
  try {
    if (!files.FileExists(path)) return {};
    // A file far over the bound is not even read into memory.
    if (files.Stamp(path).size <= limits.max_file_bytes) {
      entries = ParseCache(files.ReadFileBytes(path), limits);
    }
  } catch (const platform::Failure&) {
    entries.reset();
  }
  if (!entries) {
    if (damaged != nullptr) *damaged = true;
    return {};
  }
  return std::move(*entries);
}

void UpdateCache(const std::string& path,
                 const std::function<void(std::vector<CacheEntry>&)>& change,
                 const CacheLimits& limits) {
  std::vector<CacheEntry> entries = LoadCache(path, limits);
  change(entries);
  // A cache that a crash takes back to an older state only costs a full
  // fetch.
  platform::Files().ReplaceFileAtomicallyLazily(path, SerializeCache(entries),
                                                platform::FileSystem::LazyFlush::kContent);
}

}  // namespace feedpull
