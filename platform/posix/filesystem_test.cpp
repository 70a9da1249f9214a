#include "platform/filesystem.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/posix/test_support.h"

using platform::testing::ReadFile;
using platform::testing::ScratchFolder;

TEST(FileSystemPaths, WindowsFormMapsToTheExistingFolderWhateverItsCase) {
  ScratchFolder root;
  platform::FileSystem& fs = platform::Files();
  ::mkdir((root / "qLUX").c_str(), 0777);
  ::mkdir((root / "qLUX/Dovel").c_str(), 0777);
  std::string base = root.path() + "\\";
  EXPECT_EQ(fs.NativePath(base + "\\QLUX\\Dovel\\RSSLinks"), root.path() + "/qLUX/Dovel/RSSLinks");
  EXPECT_EQ(fs.NativePath(base + "qlux\\\\dovel\\x.xml"), root.path() + "/qLUX/Dovel/x.xml");
  EXPECT_TRUE(fs.FolderExists(base + "QLUX\\DOVEL\\"));
  EXPECT_FALSE(fs.FileExists(base + "QLUX\\DOVEL"));
  // A folder created through the other spelling lands in the one folder.
  fs.CreateFolder(base + "\\QLUX\\Dovel\\RSSLinks");
  EXPECT_TRUE(fs.FolderExists(root / "qLUX/Dovel/RSSLinks"));
  EXPECT_EQ(fs.NativePath("relative\\name"), "relative/name");
  EXPECT_EQ(fs.NativePath("/"), "/");
}

TEST(FileSystemPaths, OfTwoFoldersDifferingOnlyInCaseTheFirstInByteOrderIsTaken) {
  ScratchFolder root;
  platform::FileSystem& fs = platform::Files();
  // Every spelling of "dovel" but the one asked for, so that the order in
  // which the folder lists its entries cannot pick the right one by chance.
  for (int mask = 0; mask < 32; ++mask) {
    std::string name = "dovel";
    for (int i = 0; i < 5; ++i) {
      if ((mask >> i) & 1) name[i] = static_cast<char>(name[i] - 'a' + 'A');
    }
    if (name != "dovEl") ::mkdir((root / name).c_str(), 0777);
  }
  const std::string base = root.path() + "\\";
  EXPECT_EQ(fs.NativePath(base + "dovEl\\x.xml"), root.path() + "/DOVEL/x.xml");
  // An exact spelling is taken as it stands.
  EXPECT_EQ(fs.NativePath(base + "doVel\\x.xml"), root.path() + "/doVel/x.xml");
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
  ScratchFolder root;
  platform::FileSystem& fs = platform::Files();
  fs.ReplaceFileAtomically(root / "state.ini", "one");
  ::chmod((root / "state.ini").c_str(), 0640);
  auto before = fs.Stamp(root / "state.ini");
  fs.ReplaceFileAtomically(root / "state.ini", "two");
  EXPECT_EQ(ReadFile(root / "state.ini"), "two");
  struct stat st {};
  ::stat((root / "state.ini").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  auto after = fs.Stamp(root / "state.ini");
  EXPECT_TRUE(after.exists);
  EXPECT_NE(before, after);  // a replacement is a new file
  EXPECT_THROW(fs.ReplaceFileAtomically(root / "no/such/folder.ini", "x"), platform::Failure);
  int entries = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(root.path())) ++entries;
  EXPECT_EQ(entries, 1);
  EXPECT_FALSE(fs.Stamp(root / "absent").exists);
}

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

TEST(FileSystemAtomic, StreamedReplacementThatFailsHalfWayKeepsTheOldFile) {
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

  // A write that the system refuses half-way: a file-size limit below the
  // new content's size.
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit low = saved;
  low.rlim_cur = 50000;
  auto previous = ::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &low), 0);
  long number = 0;
  try {
    platform::Files().ReplaceFileAtomicallyStreamed(root / "f.xml", [](platform::ByteSink& sink) {
      const std::string piece(10000, 'n');
      for (int i = 0; i < 20; ++i) sink.Write(piece.data(), piece.size());
    });
  } catch (const platform::Failure& failure) {
    number = failure.number();
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, previous);
  EXPECT_NE(number, 0);
  EXPECT_EQ(ReadFile(root / "f.xml"), old);
  EXPECT_EQ(Entries(root), std::vector<std::string>{"f.xml"});
}
