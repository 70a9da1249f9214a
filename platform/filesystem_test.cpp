#include "platform/filesystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/testing/test_support.h"

using platform::testing::ReadFile;
using platform::testing::ScratchFolder;

namespace {

std::vector<std::string> Entries(const ScratchFolder& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(FileSystemFolders, FolderWithParentsCreatesEveryMissingLevel) {
  ScratchFolder root;
  platform::FileSystem& fs = platform::Files();
  // Both separators, doubled and trailing ones, a level that exists already.
  fs.CreateFolder(root / "a");
  platform::CreateFolderWithParents(fs, root.path() + "\\a\\\\b/c\\d\\");
  EXPECT_TRUE(fs.FolderExists(root / "a/b/c/d"));
  // Again: nothing is missing, nothing fails.
  platform::CreateFolderWithParents(fs, root / "a/b/c/d");

  // What lies within the first `existing` characters is taken to exist: a
  // missing folder there is not made, and the level below cannot be.
  const std::string base = root / "missing";
  try {
    platform::CreateFolderWithParents(fs, base + "\\x\\y", base.size());
    ADD_FAILURE() << "no failure";
  } catch (const platform::Failure& failure) {
    EXPECT_EQ(failure.number(), 76);
  }
  EXPECT_FALSE(fs.FolderExists(base));
  platform::CreateFolderWithParents(fs, base + "\\x\\y", root.path().size());
  EXPECT_TRUE(fs.FolderExists(root / "missing/x/y"));
}

TEST(FileSystemFolders, CreationFailuresCarryClassicNumbers) {
  ScratchFolder root;
  platform::FileSystem& fs = platform::Files();
  try {
    fs.CreateFolder(root / "missing/child");
    FAIL();
  } catch (const platform::Failure& f) {
    EXPECT_EQ(f.number(), 76);
    EXPECT_EQ(f.description(), "Path not found");
  }
  fs.CreateFolder(root / "made");
  try {
    fs.CreateFolder(root / "made");
    FAIL();
  } catch (const platform::Failure& f) {
    EXPECT_EQ(f.number(), 58);
  }
}

TEST(FileSystemText, SystemCodePageAndUnicodeStreams) {
  ScratchFolder root;
  platform::FileSystem& fs = platform::Files();
  auto log = fs.CreateTextFile(root / "log.txt", true, false);
  log->WriteLine("Café");
  log->Write("x");
  log->Close();
  EXPECT_EQ(ReadFile(root / "log.txt"), "Caf\xC3\xA9\r\nx");
  // Replacing starts the file afresh.
  fs.CreateTextFile(root / "log.txt", true, false)->Close();
  EXPECT_EQ(ReadFile(root / "log.txt"), "");

  auto wide = fs.CreateTextFile(root / "wide.xml", true, true);
  wide->Write("<a>é€</a>");
  wide->Close();
  EXPECT_EQ(ReadFile(root / "wide.xml"),
            std::string("\xFF\xFE<\0a\0>\0\xE9\0\xAC\x20<\0/\0a\0>\0", 20));
  // Beyond the first plane a pair of surrogates; a malformed byte, and each
  // byte of a cut sequence, one U+FFFD.
  auto odd = fs.CreateTextFile(root / "odd.xml", true, true);
  odd->Write(
      "\xF0\x9F\x98\x80\xFF"
      "a\xE2\x82");
  odd->Close();
  EXPECT_EQ(ReadFile(root / "odd.xml"), std::string("\xFF\xFE\x3D\xD8\x00\xDE\xFD\xFF"
                                                    "a\0\xFD\xFF\xFD\xFF",
                                                    14));
  auto back = fs.OpenTextFileForReading(root / "wide.xml");
  EXPECT_EQ(back->ReadAll(), "<a>é€</a>");
  EXPECT_TRUE(back->AtEndOfStream());

  EXPECT_THROW(fs.CreateTextFile(root / "wide.xml", false, false), platform::Failure);
  fs.RemoveFile(root / "wide.xml", true);
  EXPECT_FALSE(fs.FileExists(root / "wide.xml"));
  EXPECT_THROW(fs.OpenTextFileForReading(root / "wide.xml"), platform::Failure);
}

TEST(FileSystemAtomic, ReplacementLeavesNoTemporaryAndKeepsOldFileOnFailure) {
  platform::FileSystem& fs = platform::Files();
  // The durable replacement and the lazy ones.
  using Flush = platform::FileSystem::LazyFlush;
  const std::function<void(const std::string&, const std::string&)> replacements[] = {
      [&](const std::string& p, const std::string& b) { fs.ReplaceFileAtomically(p, b); },
      [&](const std::string& p, const std::string& b) {
        fs.ReplaceFileAtomicallyLazily(p, b, Flush::kContent);
      },
      [&](const std::string& p, const std::string& b) {
        fs.ReplaceFileAtomicallyLazily(p, b, Flush::kNone);
      }};
  for (const auto& replace : replacements) {
    SCOPED_TRACE(&replace - replacements);
    ScratchFolder root;
    replace(root / "state.ini", "one");
    auto before = fs.Stamp(root / "state.ini");
    replace(root / "state.ini", "two");
    EXPECT_EQ(ReadFile(root / "state.ini"), "two");
    auto after = fs.Stamp(root / "state.ini");
    EXPECT_TRUE(after.exists);
    EXPECT_NE(before, after);  // a replacement is a new file
    EXPECT_THROW(replace(root / "no/such/folder.ini", "x"), platform::Failure);
    int entries = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(root.path())) ++entries;
    EXPECT_EQ(entries, 1);
  }
  ScratchFolder root;
  EXPECT_FALSE(fs.Stamp(root / "absent").exists);
}

TEST(FileSystemAtomic, StreamedReplacementWritesThePiecesInOrder) {
  ScratchFolder root;
  platform::testing::WriteFile(root / "f.xml", "old");
  platform::Files().ReplaceFileAtomicallyStreamed(root / "f.xml", [](platform::ByteSink& sink) {
    sink.Write("new ", 4);
    sink.Write("", 0);
    sink.Write("content", 7);
  });
  EXPECT_EQ(ReadFile(root / "f.xml"), "new content");
  EXPECT_EQ(Entries(root), std::vector<std::string>{"f.xml"});
}

TEST(FileSystemAtomic, StreamedReplacementWhoseProducerFailsHalfWayKeepsTheOldFile) {
  ScratchFolder root;
  const std::string old(100000, 'o');
  platform::testing::WriteFile(root / "f.xml", old);
  // The producer gives up after some bytes reached the temporary file.
  EXPECT_THROW(platform::Files().ReplaceFileAtomicallyStreamed(
                   root / "f.xml",
                   [](platform::ByteSink& sink) {
                     sink.Write(std::string(70000, 'n').data(), 70000);
                     throw platform::Failure(platform::err::kOutOfMemory);
                   }),
               platform::Failure);
  EXPECT_EQ(ReadFile(root / "f.xml"), old);
  EXPECT_EQ(Entries(root), std::vector<std::string>{"f.xml"});
}
