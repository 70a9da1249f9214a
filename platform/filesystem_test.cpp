#include "platform/filesystem.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/failure.h"
#include "platform/testing/filesystem_fixture.h"
#include "platform/testing/test_support.h"

using platform::testing::Entries;
using platform::testing::FailureNumber;
using platform::testing::ReadFile;
using platform::testing::ScratchFolder;
using platform::testing::SystemSeparators;
using platform::testing::WriteFile;

TEST(FileSystem, EitherSeparatorBecomesTheSystemsOwnAndRunsCountAsOne) {
  ScratchFolder root;
  platform::FileSystem& fs = platform::Files();
  EXPECT_EQ(fs.NativePath(root.path() + "\\\\qLUX/Dovel//x.xml\\"),
            SystemSeparators(root / "qLUX/Dovel/x.xml"));
  EXPECT_EQ(fs.NativePath("relative\\name"), SystemSeparators("relative/name"));
  EXPECT_EQ(fs.NativePath("relative\\\\name"), SystemSeparators("relative/name"));
  EXPECT_EQ(fs.NativePath("/"), SystemSeparators("/"));
  EXPECT_EQ(fs.NativePath("\\"), SystemSeparators("/"));
  EXPECT_EQ(fs.NativePath(""), ".");
}

TEST(FileSystem, FolderWithParentsCreatesEveryMissingLevel) {
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

TEST(FileSystem, CreationFailuresCarryClassicNumbers) {
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

TEST(FileSystem, SystemCodePageAndUnicodeStreams) {
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

TEST(FileSystem, ReplacementLeavesNoTemporaryAndKeepsOldFileOnFailure) {
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

TEST(FileSystem, StreamedReplacementWritesThePiecesInOrder) {
  ScratchFolder root;
  WriteFile(root / "f.xml", "old");
  platform::Files().ReplaceFileAtomicallyStreamed(root / "f.xml", [](platform::ByteSink& sink) {
    sink.Write("new ", 4);
    sink.Write("", 0);
    sink.Write("content", 7);
  });
  EXPECT_EQ(ReadFile(root / "f.xml"), "new content");
  EXPECT_EQ(Entries(root), std::vector<std::string>{"f.xml"});
}

TEST(FileSystem, StreamedReplacementWhoseProducerFailsHalfWayKeepsTheOldFile) {
  ScratchFolder root;
  const std::string old(100000, 'o');
  WriteFile(root / "f.xml", old);
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

TEST(FileSystem, TheTemporaryFileSitsBesideTheTargetUnderTheLeftoverName) {
  ScratchFolder root;
  WriteFile(root / "Link_1.xml", "old");
  std::vector<std::string> during;
  platform::Files().ReplaceFileAtomicallyStreamed(root / "Link_1.xml",
                                                  [&](platform::ByteSink& sink) {
                                                    sink.Write("new", 3);
                                                    during = Entries(root);
                                                  });
  ASSERT_EQ(during.size(), 2u);
  EXPECT_EQ(during[1], "Link_1.xml");
  // ".<name>.tmp-" and six characters: the name a later run recognises as
  // left behind by a killed one.
  const std::string& temp = during[0];
  ASSERT_EQ(temp.size(), std::string(".Link_1.xml.tmp-XXXXXX").size()) << temp;
  EXPECT_EQ(temp.substr(0, 16), ".Link_1.xml.tmp-") << temp;
  EXPECT_EQ(ReadFile(root / "Link_1.xml"), "new");
  EXPECT_EQ(Entries(root), std::vector<std::string>{"Link_1.xml"});
}

TEST(FileSystem, TwoWritersReplacingOneFileAtOnceBothSucceed) {
  // Converters run on their own meet at their one output file (on Windows
  // the rename of one is refused while the other's rename, or a reader,
  // holds the target, and goes through a moment later). A reader finds one
  // whole version or the other, never a mix.
  ScratchFolder root;
  const std::string path = root / "Temp_RSS.xml";
  const std::string versions[] = {std::string(20000, 'a'), std::string(20000, 'b')};
  WriteFile(path, versions[0]);
  std::atomic<int> writing{2};
  std::atomic<int> failed{0};
  std::string first_failure;  // written by the writer that counted the first
  auto writer = [&](const std::string& bytes) {
    for (int i = 0; i < 100; ++i) {
      try {
        platform::Files().ReplaceFileAtomically(path, bytes);
      } catch (const platform::Failure& failure) {
        if (failed++ == 0) {
          first_failure = std::to_string(failure.number()) + " " + failure.description();
        }
      }
    }
    --writing;
  };
  std::thread first(writer, std::cref(versions[0]));
  std::thread second(writer, std::cref(versions[1]));
  int reads = 0;
  int torn = 0;
  while (writing > 0) {
    const std::string now = platform::Files().ReadFileBytes(path);
    if (now != versions[0] && now != versions[1]) ++torn;
    ++reads;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  first.join();
  second.join();
  EXPECT_EQ(failed, 0) << first_failure;
  EXPECT_EQ(torn, 0) << "of " << reads << " reads";
  const std::string last = ReadFile(path);
  EXPECT_TRUE(last == versions[0] || last == versions[1]);
  EXPECT_EQ(Entries(root), std::vector<std::string>{"Temp_RSS.xml"});
}

TEST(FileSystem, FoldersAreNoFilesAndWhatIsMissingCarriesItsNumber) {
  ScratchFolder root;
  platform::FileSystem& fs = platform::Files();
  fs.CreateFolder(root / "folder");
  try {
    fs.ReadFileBytes(root / "folder");
    FAIL() << "a folder was read";
  } catch (const platform::Failure& failure) {
    EXPECT_EQ(failure.number(), 75);
    EXPECT_EQ(failure.description(),
              "Path/File access error: " + fs.NativePath(root / "folder") + " is not a file");
  }
  EXPECT_EQ(FailureNumber([&] { fs.OpenTextFileForAppending(root / "folder"); }), 75);
  EXPECT_EQ(FailureNumber([&] { fs.OpenTextFileForAppending(root / "no\\log.txt"); }), 76);
  EXPECT_EQ(FailureNumber([&] { fs.ReadFileBytes(root / "absent.txt"); }), 53);
  EXPECT_EQ(FailureNumber([&] { fs.RemoveFile(root / "absent.txt", true); }), 53);
  EXPECT_EQ(FailureNumber([&] { fs.EntryNames(root / "absent"); }), 76);
}

TEST(FileSystem, StampsTellReplacementsAndWritesApart) {
  ScratchFolder root;
  platform::FileSystem& fs = platform::Files();
  EXPECT_FALSE(fs.Stamp(root / "f.xml").exists);
  fs.ReplaceFileAtomically(root / "f.xml", "one");
  const platform::FileStamp first = fs.Stamp(root / "f.xml");
  EXPECT_TRUE(first.exists);
  EXPECT_EQ(first.size, 3u);
  EXPECT_EQ(fs.Stamp(root / "f.xml"), first);
  // Same size, a new file.
  fs.ReplaceFileAtomically(root / "f.xml", "two");
  const platform::FileStamp second = fs.Stamp(root / "f.xml");
  EXPECT_NE(second, first);
  EXPECT_NE(second.inode, first.inode);
  // A file held open elsewhere, even without any sharing, has a stamp.
  const auto held = platform::testing::HoldOpen(root / "f.xml");
  EXPECT_EQ(fs.Stamp(root / "f.xml"), second);
}
