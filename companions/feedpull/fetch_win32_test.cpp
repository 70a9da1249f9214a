// File URLs of Windows paths ("file:///C:/feeds/a.xml"), read the way the
// Windows program reads them. Built on Windows only: on Linux such a path
// names nothing.
#include <gtest/gtest.h>

#include <string>

#include "companions/feedpull/fetch.h"
#include "platform/native_files.h"
#include "platform/testing/test_support.h"

namespace feedpull {
namespace {

using platform::FileUrlNativePath;

TEST(WindowsFileUrlTest, DriveLetterStartsThePathAndSlashesBecomeBackslashes) {
  EXPECT_EQ(FileUrlNativePath("/C:/feeds/one.xml"), "C:\\feeds\\one.xml");
  EXPECT_EQ(FileUrlNativePath("/c:/feeds/one.xml"), "c:\\feeds\\one.xml");
  EXPECT_EQ(FileUrlNativePath("/C|/feeds/one.xml"), "C:\\feeds\\one.xml");
  EXPECT_EQ(FileUrlNativePath("/D:/"), "D:\\");
  // Without a drive: the current drive's root.
  EXPECT_EQ(FileUrlNativePath("/feeds/one.xml"), "\\feeds\\one.xml");
  // A colon elsewhere is no drive.
  EXPECT_EQ(FileUrlNativePath("/feeds/a:b.xml"), "\\feeds\\a:b.xml");
  EXPECT_EQ(FileUrlNativePath("/1:/x.xml"), "\\1:\\x.xml");
}

TEST(WindowsFileUrlTest, UrlsOfDrivePaths) {
  for (const char* url : {"file:///C:/feeds/one.xml", "file://localhost/C:/feeds/one.xml",
                          "file:/C:/feeds/one.xml", "FILE:///C|/feeds/one.xml"}) {
    std::optional<FileUrl> file = ParseFileUrl(url);
    ASSERT_TRUE(file) << url;
    EXPECT_EQ(FileUrlNativePath(file->path), "C:\\feeds\\one.xml") << url;
  }
  EXPECT_EQ(FileUrlNativePath(ParseFileUrl("file:///C:/a%20b/f%C3%A9ed.xml")->path),
            "C:\\a b\\f\xC3\xA9"
            "ed.xml");
  EXPECT_EQ(ParseFileUrl("file:///C:/feeds/./x/../one.xml")->normalized,
            "file:///C:/feeds/one.xml");
}

// The scratch folder as a file URL: "file:///C:/users/.../rssnotify-123".
std::string UrlOf(const std::string& folder) {
  std::string url = "file:///";
  for (char c : folder) {
    if (c == '\\') {
      url += '/';
    } else if (c == ' ') {
      url += "%20";
    } else {
      url += c;
    }
  }
  return url;
}

TEST(WindowsFileUrlTest, FetchReadsTheFileOfADriveUrl) {
  platform::testing::ScratchFolder folder;
  const std::string native = platform::testing::SystemSeparators(folder.path());
  ASSERT_EQ(native[1], ':') << native;
  // A name outside the system's code page reaches the file whole.
  platform::testing::WriteFile(folder /
                                   "f\xC3\xA9"
                                   "ed \xE2\x82\xAC.xml",
                               "<rss/>");
  const std::string url = UrlOf(native) + "/f%C3%A9ed%20%E2%82%AC.xml";

  FetchResult result = Fetch(url);
  EXPECT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.body, "<rss/>");
  EXPECT_EQ(result.effective_url, url);

  // The drive letter as some browsers write it, and the unencoded UTF-8 name.
  std::string piped = UrlOf(native) +
                      "/f\xC3\xA9"
                      "ed%20\xE2\x82\xAC.xml";
  piped[9] = '|';
  result = Fetch(piped);
  EXPECT_TRUE(result.ok) << piped << ": " << result.error;
  EXPECT_EQ(result.body, "<rss/>");
}

TEST(WindowsFileUrlTest, AMissingFileIsNamedTheWindowsWay) {
  platform::testing::ScratchFolder folder;
  const std::string native = platform::testing::SystemSeparators(folder.path());
  FetchResult result = Fetch(UrlOf(native) + "/absent%2exml");
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.body, "");
  EXPECT_EQ(result.error, "Couldn't open file " + native + "\\absent.xml");
}

}  // namespace
}  // namespace feedpull
