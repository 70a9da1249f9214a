#include "companions/feedpull/uri_reference.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace feedpull {
namespace {

using Cases = std::vector<std::pair<const char*, const char*>>;

// The examples of RFC 3986 section 5.4, against its base URI.
constexpr const char* kBase = "http://a/b/c/d;p?q";

TEST(UriReference, NormalExamples) {
  const Cases cases = {
      {"g:h", "g:h"},
      {"g", "http://a/b/c/g"},
      {"./g", "http://a/b/c/g"},
      {"g/", "http://a/b/c/g/"},
      {"/g", "http://a/g"},
      {"//g", "http://g"},
      {"?y", "http://a/b/c/d;p?y"},
      {"g?y", "http://a/b/c/g?y"},
      {"#s", "http://a/b/c/d;p?q#s"},
      {"g#s", "http://a/b/c/g#s"},
      {"g?y#s", "http://a/b/c/g?y#s"},
      {";x", "http://a/b/c/;x"},
      {"g;x", "http://a/b/c/g;x"},
      {"g;x?y#s", "http://a/b/c/g;x?y#s"},
      {"", "http://a/b/c/d;p?q"},
      {".", "http://a/b/c/"},
      {"./", "http://a/b/c/"},
      {"..", "http://a/b/"},
      {"../", "http://a/b/"},
      {"../g", "http://a/b/g"},
      {"../..", "http://a/"},
      {"../../", "http://a/"},
      {"../../g", "http://a/g"},
  };
  for (const auto& [reference, expected] : cases) {
    EXPECT_EQ(ResolveReference(kBase, reference), expected) << reference;
  }
}

TEST(UriReference, AbnormalExamples) {
  const Cases cases = {
      {"../../../g", "http://a/g"},
      {"../../../../g", "http://a/g"},
      {"/./g", "http://a/g"},
      {"/../g", "http://a/g"},
      {"g.", "http://a/b/c/g."},
      {".g", "http://a/b/c/.g"},
      {"g..", "http://a/b/c/g.."},
      {"..g", "http://a/b/c/..g"},
      {"./../g", "http://a/b/g"},
      {"./g/.", "http://a/b/c/g/"},
      {"g/./h", "http://a/b/c/g/h"},
      {"g/../h", "http://a/b/c/h"},
      {"g;x=1/./y", "http://a/b/c/g;x=1/y"},
      {"g;x=1/../y", "http://a/b/c/y"},
      {"g?y/./x", "http://a/b/c/g?y/./x"},
      {"g?y/../x", "http://a/b/c/g?y/../x"},
      {"g#s/./x", "http://a/b/c/g#s/./x"},
      {"g#s/../x", "http://a/b/c/g#s/../x"},
      {"http:g", "http:g"},  // strict parsers keep the scheme
  };
  for (const auto& [reference, expected] : cases) {
    EXPECT_EQ(ResolveReference(kBase, reference), expected) << reference;
  }
}

TEST(UriReference, FeedCases) {
  // A site-relative link against the feed's address, after a redirect.
  EXPECT_EQ(ResolveReference("https://example.org/blog/feed.xml", "/articles/one/"),
            "https://example.org/articles/one/");
  // A base without a path.
  EXPECT_EQ(ResolveReference("http://example.org", "item?id=1"), "http://example.org/item?id=1");
  // A feed read from a file.
  EXPECT_EQ(ResolveReference("file:///srv/feeds/news.xml", "items/1.html"),
            "file:///srv/feeds/items/1.html");
  // Without an absolute base the reference stays as it is.
  EXPECT_EQ(ResolveReference("", "/blog/1"), "/blog/1");
  EXPECT_EQ(ResolveReference("feeds/news.xml", "/blog/1"), "/blog/1");
  // An absolute link loses its dot segments, and only those.
  EXPECT_EQ(ResolveReference("http://a/b", "http://x.org/a/./b/../c.d?q=/../#/./"),
            "http://x.org/a/c.d?q=/../#/./");
  EXPECT_EQ(ResolveReference("http://a/b", "mailto:../x"), "mailto:x");
  EXPECT_EQ(ResolveReference("http://a/b", "HTTP://x.org/.."), "HTTP://x.org/");
  EXPECT_EQ(ResolveReference("http://a/b", "http://x.org/a.b/.c"), "http://x.org/a.b/.c");
}

TEST(UriReference, HttpUrls) {
  EXPECT_TRUE(IsHttpUrl("http://example.org/a"));
  EXPECT_TRUE(IsHttpUrl("HTTPS://example.org"));
  EXPECT_FALSE(IsHttpUrl("tag:blogger.com,1999:blog-1.post-2"));
  EXPECT_FALSE(IsHttpUrl("urn:uuid:1225c695-cfb8-4ebb-aaaa-80da344efa6a"));
  EXPECT_FALSE(IsHttpUrl("/articles/one/"));
  EXPECT_FALSE(IsHttpUrl("http:/example.org"));
  EXPECT_FALSE(IsHttpUrl("ftp://example.org/"));
  EXPECT_FALSE(IsHttpUrl("12345"));
}

}  // namespace
}  // namespace feedpull
