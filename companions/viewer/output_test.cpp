#include "companions/viewer/output.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/process.h"
#include "platform/testing/test_support.h"

namespace viewer {
namespace {

using platform::testing::ReadFile;
using platform::testing::ScratchFolder;
using platform::testing::WriteFile;

TEST(PageFolder, CacheHomeThenHome) {
  EXPECT_EQ(PageFolder("/var/cache/u", "/home/u"), "/var/cache/u/rssnotify");
  EXPECT_EQ(PageFolder("/var/cache/u//", "/home/u"), "/var/cache/u/rssnotify");
  EXPECT_EQ(PageFolder(std::nullopt, "/home/u/"), "/home/u/.cache/rssnotify");
  EXPECT_EQ(PageFolder("", "/home/u"), "/home/u/.cache/rssnotify");
  EXPECT_EQ(PageFolder("relative/cache", "/home/u"), "/home/u/.cache/rssnotify");
  EXPECT_EQ(PageFolder(std::nullopt, "/"), "/.cache/rssnotify");
  EXPECT_EQ(PageFolder(std::nullopt, std::nullopt), std::nullopt);
  EXPECT_EQ(PageFolder(std::nullopt, "home"), std::nullopt);
}

TEST(PageFolder, WindowsLocalApplicationData) {
  EXPECT_EQ(WindowsPageFolder("C:\\Users\\u\\AppData\\Local"),
            "C:\\Users\\u\\AppData\\Local\\rssnotify");
  EXPECT_EQ(WindowsPageFolder("C:\\Users\\u\\AppData\\Local\\\\"),
            "C:\\Users\\u\\AppData\\Local\\rssnotify");
  EXPECT_EQ(WindowsPageFolder("d:/profiles/u"), "d:/profiles/u\\rssnotify");
  EXPECT_EQ(WindowsPageFolder("E:\\"), "E:\\rssnotify");
  EXPECT_EQ(WindowsPageFolder("\\\\server\\profiles\\u"), "\\\\server\\profiles\\u\\rssnotify");
  // Relative, drive-relative or unset: no folder.
  EXPECT_EQ(WindowsPageFolder("AppData\\Local"), std::nullopt);
  EXPECT_EQ(WindowsPageFolder("C:AppData"), std::nullopt);
  EXPECT_EQ(WindowsPageFolder("\\Users\\u"), std::nullopt);
  EXPECT_EQ(WindowsPageFolder(""), std::nullopt);
  EXPECT_EQ(WindowsPageFolder(std::nullopt), std::nullopt);
}

TEST(WritePage, CreatesMissingFoldersAndReplacesThePage) {
  ScratchFolder scratch;
  const std::string folder = scratch / "cache/deeper/rssnotify";
  EXPECT_EQ(WritePage(folder, "<p>one</p>"), folder + "/feeds.html");
  EXPECT_EQ(WritePage(folder, "<p>two</p>"), folder + "/feeds.html");
  EXPECT_EQ(ReadFile(folder + "/feeds.html"), "<p>two</p>");
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"feeds.html"});
}

TEST(WritePage, JoinsWithTheGivenSeparator) {
  ScratchFolder scratch;
  const std::string folder = scratch / "local";
  EXPECT_EQ(WritePage(folder, "<p>page</p>", '\\'), folder + "\\feeds.html");
  EXPECT_EQ(ReadFile(folder + "/feeds.html"), "<p>page</p>");
}

TEST(QuoteArgument, SplitsBackAsOneArgument) {
  EXPECT_EQ(QuoteArgument("/root/.cache/rssnotify/feeds.html"),
            "/root/.cache/rssnotify/feeds.html");
  EXPECT_EQ(QuoteArgument("/home/a b/feeds.html"), "\"/home/a b/feeds.html\"");
  for (const std::string argument :
       {"/home/a b/x.html", "", "with \"quote\"", "back\\slash \\", "tab\there\\\\\"end"}) {
    EXPECT_EQ(platform::SplitArgumentText(QuoteArgument(argument)),
              std::vector<std::string>{argument})
        << argument;
  }
}

}  // namespace
}  // namespace viewer
