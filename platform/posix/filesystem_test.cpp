// The file system's fixture on Linux, and what only Linux has: folders found
// whatever the case of their names, file modes and a file-size limit.
#include "platform/filesystem.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/test_support.h"
#include "platform/testing/filesystem_fixture.h"

using platform::testing::Entries;
using platform::testing::ReadFile;
using platform::testing::ScratchFolder;

namespace platform::testing {

// Linux has no share modes: a plain descriptor is all another holder has.
std::shared_ptr<void> HoldOpen(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_GE(fd, 0) << path;
  return std::shared_ptr<void>(nullptr, [fd](void*) { ::close(fd); });
}

}  // namespace platform::testing

// Only Linux tells names apart by letter case, so only there must a path find
// the entry that is spelled otherwise.
TEST(PosixFileSystem, WindowsFormMapsToTheExistingFolderWhateverItsCase) {
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
  // A folder found once is found again where it has gone since, and as
  // written once that spelling exists.
  EXPECT_EQ(fs.NativePath(base + "QLUX\\Dovel\\x.xml"), root.path() + "/qLUX/Dovel/x.xml");
  ::rename((root / "qLUX").c_str(), (root / "Qlux").c_str());
  EXPECT_EQ(fs.NativePath(base + "QLUX\\Dovel\\x.xml"), root.path() + "/Qlux/Dovel/x.xml");
  ::mkdir((root / "QLUX").c_str(), 0777);
  ::mkdir((root / "QLUX/Dovel").c_str(), 0777);
  EXPECT_EQ(fs.NativePath(base + "QLUX\\Dovel\\x.xml"), root.path() + "/QLUX/Dovel/x.xml");
}

// Only Linux can hold two names that differ only in letter case.
TEST(PosixFileSystem, OfTwoFoldersDifferingOnlyInCaseTheFirstInByteOrderIsTaken) {
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

// Windows files have no mode bits.
TEST(PosixFileSystem, ReplacementKeepsTheFileMode) {
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

// Windows has no file-size limit for a process, and Wine does not enforce
// the byte-range locks that would refuse a write there.
TEST(PosixFileSystem, StreamedReplacementRefusedHalfWayByTheSystemKeepsTheOldFile) {
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
