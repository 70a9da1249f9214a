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
  // The file's own name too, also in a folder spelled as it is.
  platform::testing::WriteFile(root / "qLUX/Dovel/x.xml", "");
  EXPECT_EQ(fs.NativePath(base + "qLUX\\Dovel\\X.XML"), root.path() + "/qLUX/Dovel/x.xml");
  EXPECT_EQ(fs.NativePath(base + "QLUX\\..\\qLUX\\Dovel\\x.xml"),
            root.path() + "/qLUX/../qLUX/Dovel/x.xml");
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

TEST(FileSystemAtomic, ReplacementKeepsTheFileMode) {
  ScratchFolder root;
  platform::FileSystem& fs = platform::Files();
  fs.ReplaceFileAtomically(root / "state.ini", "one");
  ::chmod((root / "state.ini").c_str(), 0640);
  fs.ReplaceFileAtomically(root / "state.ini", "two");
  EXPECT_EQ(ReadFile(root / "state.ini"), "two");
  struct stat st {};
  ::stat((root / "state.ini").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
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

TEST(FileSystemAtomic, StreamedReplacementRefusedHalfWayByTheSystemKeepsTheOldFile) {
  ScratchFolder root;
  const std::string old(100000, 'o');
  platform::testing::WriteFile(root / "f.xml", old);
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
