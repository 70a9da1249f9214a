#include "companions/feedpull/fetch.h"

#include <gtest/gtest.h>

#include <string>

namespace feedpull {
namespace {

std::string PathOf(const std::string& url) {
  std::optional<FileUrl> file = ParseFileUrl(url);
  return file ? file->path : "<rejected>";
}

TEST(FileUrlTest, TakesTheUrlsLibcurlTakes) {
  EXPECT_EQ(PathOf("file:///etc/feed.xml"), "/etc/feed.xml");
  EXPECT_EQ(PathOf("FILE:///etc/feed.xml"), "/etc/feed.xml");
  EXPECT_EQ(PathOf("file:/etc/feed.xml"), "/etc/feed.xml");
  EXPECT_EQ(PathOf("file://localhost/etc/feed.xml"), "/etc/feed.xml");
  EXPECT_EQ(PathOf("file://LocalHost/etc/feed.xml"), "/etc/feed.xml");
  EXPECT_EQ(PathOf("file://127.0.0.1/etc/feed.xml"), "/etc/feed.xml");
  EXPECT_EQ(PathOf("file:///etc/feed.xml?a=1#top"), "/etc/feed.xml");
  EXPECT_EQ(PathOf("file:///a%20b/f%C3%A9ed%2Fx.xml"),
            "/a b/f\xC3\xA9"
            "ed/x.xml");
  EXPECT_EQ(PathOf("file:///a%zz%4/b%"), "/a%zz%4/b%");
  EXPECT_EQ(PathOf("file:///a/%3f%23.xml"), "/a/?#.xml");
}

TEST(FileUrlTest, RejectsWhatLibcurlRejects) {
  for (const char* url :
       {"file://otherhost/etc/feed.xml", "file://user@localhost/etc/feed.xml",
        "file://localhost:80/etc/feed.xml", "file:etc/feed.xml", "file:///etc/feed.xml%00",
        "file:///a b.xml", "file:///a\tb.xml", "http://localhost/feed.xml", "file:"}) {
    EXPECT_EQ(PathOf(url), "<rejected>") << url;
  }
}

TEST(FileUrlTest, NormalizedFormKeepsTheWrittenPathWithoutDotSegments) {
  EXPECT_EQ(ParseFileUrl("FILE://LocalHost/etc/./x/../feed%20a.xml?q#f")->normalized,
            "file:///etc/feed%20a.xml");
  EXPECT_EQ(ParseFileUrl("file:/etc/feed.xml")->normalized, "file:///etc/feed.xml");
}

}  // namespace
}  // namespace feedpull
