#include "companions/feedpull/validator_cache.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/filesystem.h"
#include "platform/testing/test_support.h"

namespace feedpull {
namespace {

using platform::testing::ReadFile;
using platform::testing::ScratchFolder;
using platform::testing::WriteFile;

CacheEntry Entry(const std::string& url, const std::string& document,
                 const std::string& etag = "\"v1\"") {
  return CacheEntry{url, etag, "Mon, 07 Dec 2026 09:00:00 GMT", document, 0};
}

TEST(ValidatorCache, FileBytesAndRoundTrip) {
  // Texts that look like the file's own framing must not confuse it.
  std::vector<CacheEntry> entries = {
      Entry("http://a.example/feed", "<rootrss>\nE 1 2 3\nend 0\n</rootrss>\n", "W/\"x y\""),
      CacheEntry{"https://b.example/rss", "", "Tue, 08 Dec 2026 10:00:00 GMT", "doc", 1765000000},
  };
  const std::string bytes = SerializeCache(entries);
  EXPECT_EQ(bytes,
            "FeedPull validator cache 1\n"
            "E 21 7 29 35 0 " +
                bytes.substr(bytes.find(" 0 ") + 3, 16) +
                "\n"
                "http://a.example/feedW/\"x y\"Mon, 07 Dec 2026 09:00:00 GMT"
                "<rootrss>\nE 1 2 3\nend 0\n</rootrss>\n\n"
                "E 21 0 29 3 1765000000 " +
                bytes.substr(bytes.find(" 1765000000 ") + 12, 16) +
                "\n"
                "https://b.example/rssTue, 08 Dec 2026 10:00:00 GMTdoc\n"
                "end 2\n");
  std::optional<std::vector<CacheEntry>> parsed = ParseCache(bytes);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(*parsed, entries);
  EXPECT_EQ(ParseCache(SerializeCache({})), std::vector<CacheEntry>{});
}

TEST(ValidatorCache, DamagedBytesAreNoCache) {
  const std::string bytes =
      SerializeCache({Entry("http://a.example/feed", "<rootrss>one</rootrss>\n"),
                      Entry("http://b.example/feed", "<rootrss>two</rootrss>\n")});
  // Cut anywhere: a file that a crash or a full disk left short.
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    EXPECT_FALSE(ParseCache(bytes.substr(0, size))) << size;
  }
  // Any one byte changed, a stored document's included.
  for (std::size_t at = 0; at < bytes.size(); ++at) {
    std::string flipped = bytes;
    flipped[at] = static_cast<char>(flipped[at] ^ 0x01);
    EXPECT_FALSE(ParseCache(flipped)) << at;
  }
  EXPECT_FALSE(ParseCache(bytes + "x"));
  EXPECT_FALSE(ParseCache("FeedPull validator cache 2\nend 0\n"));
  // The same URL twice, and a validator that could break a request header.
  CacheEntry a = Entry("http://a.example/feed", "x");
  EXPECT_FALSE(ParseCache(SerializeCache({a, a})));
  EXPECT_FALSE(ParseCache(SerializeCache({Entry("http://c.example/", "x", "\"a\"\r\nX: y")})));
}

TEST(ValidatorCache, BoundedInEntriesAndBytes) {
  const CacheLimits limits{3, 1000, 300};
  std::vector<CacheEntry> entries;
  for (int i = 1; i <= 5; ++i) {
    StoreEntry(entries, Entry("http://f" + std::to_string(i) + ".example/", "d"), limits);
  }
  // The most recently stored first; the oldest went.
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].url, "http://f5.example/");
  EXPECT_EQ(entries[2].url, "http://f3.example/");

  // Storing a URL again moves it to the front and keeps one entry for it.
  StoreEntry(entries, Entry("http://f3.example/", "new"), limits);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0], Entry("http://f3.example/", "new"));
  EXPECT_EQ(entries[1].url, "http://f5.example/");

  // Bytes: three entries of 250-byte documents do not fit in 1000 bytes.
  for (int i = 1; i <= 3; ++i) {
    StoreEntry(entries, Entry("http://g" + std::to_string(i) + ".example/", std::string(250, 'x')),
               limits);
  }
  EXPECT_EQ(entries.size(), 2u);
  EXPECT_LE(SerializeCache(entries).size(), limits.max_file_bytes);
  EXPECT_TRUE(ParseCache(SerializeCache(entries), limits));
  // Exactly at the byte bound still fits; one byte more is not a cache.
  std::vector<CacheEntry> one;
  // The file with an empty document; a document of three digits' length
  // adds two bytes to its size line.
  const std::string frame = SerializeCache({Entry("http://h.example/", "")});
  StoreEntry(one, Entry("http://h.example/", std::string(1000 - frame.size() - 2, 'y')),
             CacheLimits{3, 1000, 1000});
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(SerializeCache(one).size(), 1000u);
  EXPECT_TRUE(ParseCache(SerializeCache(one), CacheLimits{3, 1000, 1000}));
  EXPECT_FALSE(ParseCache(SerializeCache(one), CacheLimits{3, 999, 1000}));

  // A document over its own bound is not kept, and its URL's old entry goes.
  StoreEntry(entries, Entry("http://g3.example/", std::string(301, 'z')), limits);
  EXPECT_EQ(FindEntry(entries, "http://g3.example/"), nullptr);
  EXPECT_EQ(entries.size(), 1u);
}

// Lets the real file system do everything, but a write of the file fails
// after `allowed` bytes, whichever way the file is written.
class WriteFailsHalfway : public platform::testing::ForwardingFileSystem {
 public:
  std::size_t allowed = 20;
  void ReplaceFileAtomically(const std::string& path, const std::string& bytes) override {
    if (bytes.size() <= allowed) return real.ReplaceFileAtomically(path, bytes);
    throw platform::Failure(platform::err::kDiskFull);
  }
  std::unique_ptr<platform::TextStream> CreateTextFile(const std::string& path, bool overwrite,
                                                       bool unicode) override {
    // An in-place write: the file is cut first, then half of it is written.
    auto stream = real.CreateTextFile(path, overwrite, unicode);
    stream->Write(std::string(allowed, '?'));
    stream->Close();
    throw platform::Failure(platform::err::kDiskFull);
  }
};

TEST(ValidatorCache, FileUpdates) {
  ScratchFolder folder;
  const std::string path = folder / "FeedPull_Cache.dat";
  bool damaged = true;
  EXPECT_TRUE(LoadCache(path, {}, &damaged).empty());
  EXPECT_FALSE(damaged);

  UpdateCache(path, [](auto& entries) { StoreEntry(entries, Entry("http://a.example/", "A")); });
  UpdateCache(path, [](auto& entries) { StoreEntry(entries, Entry("http://b.example/", "B")); });
  const std::string both = ReadFile(path);
  EXPECT_EQ(both,
            SerializeCache({Entry("http://b.example/", "B"), Entry("http://a.example/", "A")}));
  EXPECT_EQ(LoadCache(path, {}, &damaged).size(), 2u);
  EXPECT_FALSE(damaged);

  // A write that fails half-way leaves the file as it was.
  {
    WriteFailsHalfway failing;
    platform::testing::ScopedFileSystem in_use(failing);
    EXPECT_THROW(
        UpdateCache(path, [](auto& entries) { RemoveEntry(entries, "http://a.example/"); }),
        platform::Failure);
  }
  EXPECT_EQ(ReadFile(path), both);

  // A damaged file counts as empty and is written anew by the next update.
  WriteFile(path, both.substr(0, both.size() - 3));
  EXPECT_TRUE(LoadCache(path, {}, &damaged).empty());
  EXPECT_TRUE(damaged);
  UpdateCache(path, [](auto& entries) { StoreEntry(entries, Entry("http://c.example/", "C")); });
  EXPECT_EQ(ReadFile(path), SerializeCache({Entry("http://c.example/", "C")}));
  // So does a file far over the bound.
  WriteFile(path, std::string(CacheLimits{}.max_file_bytes + 1, 'x'));
  EXPECT_TRUE(LoadCache(path, {}, &damaged).empty());
  EXPECT_TRUE(damaged);
}

TEST(ValidatorCache, UsableValidators) {
  EXPECT_TRUE(UsableValidator("\"abc\""));
  EXPECT_TRUE(UsableValidator("W/\"a b\""));
  EXPECT_FALSE(UsableValidator(""));
  EXPECT_FALSE(UsableValidator("\"a\"\r\nSet-Cookie: x"));
  EXPECT_FALSE(UsableValidator("caf\xC3\xA9"));
  EXPECT_TRUE(UsableValidator(std::string(1024, 'a')));
  EXPECT_FALSE(UsableValidator(std::string(1025, 'a')));
}

}  // namespace
}  // namespace feedpull
