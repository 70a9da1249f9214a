// The file system's fixture on Windows, and what only Windows has: drive and
// network roots, names beyond the ANSI code page, share modes and read-only
// files.
#include "platform/filesystem.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/testing/filesystem_fixture.h"
#include "platform/win32/test_support.h"
#include "platform/win32/wide_text.h"

using platform::Widen;
using platform::testing::Entries;
using platform::testing::FailureNumber;
using platform::testing::ReadFile;
using platform::testing::ScratchFolder;
using platform::testing::WriteFile;

namespace platform::testing {

std::shared_ptr<void> HoldOpen(const std::string& path) {
  HANDLE held =
      ::CreateFileW(Widen(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(held, INVALID_HANDLE_VALUE) << path;
  return std::shared_ptr<void>(held, [](HANDLE h) {
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  });
}

}  // namespace platform::testing

// Drive letters and network shares are Windows paths; on Linux "C:" is a
// folder name like any other.
TEST(Win32FileSystem, SeparatorsAreFoldedAndRootsKept) {
  platform::FileSystem& fs = platform::Files();
  EXPECT_EQ(fs.NativePath("C:\\Agent\\\\qLUX/Dovel//x.xml"), "C:\\Agent\\qLUX\\Dovel\\x.xml");
  EXPECT_EQ(fs.NativePath("C:\\Data\\"), "C:\\Data");
  EXPECT_EQ(fs.NativePath("C:\\"), "C:\\");
  EXPECT_EQ(fs.NativePath("C:/"), "C:\\");
  EXPECT_EQ(fs.NativePath("\\\\server\\share\\\\dir\\"), "\\\\server\\share\\dir");
}

// Windows's narrow functions would pass names through the ANSI code page,
// and its names match whatever the case of non-ASCII letters; Linux takes
// the bytes as they are.
TEST(Win32FileSystem, NamesBeyondTheAnsiCodePageReachTheDiskWhole) {
  ScratchFolder root;
  platform::FileSystem& fs = platform::Files();
  const std::string folder = root / "Caf\xC3\xA9 \xE4\xB8\xAD";  // "Café 中"
  fs.CreateFolder(folder);
  const std::string file = folder + "\\\\\xE2\x82\xAC.xml";  // "€.xml", after a doubled separator
  fs.ReplaceFileAtomically(file, "bytes");
  EXPECT_TRUE(
      std::filesystem::is_regular_file(Widen(root.path()) + L"\\Caf\u00E9 \u4E2D\\\u20AC.xml"));
  EXPECT_TRUE(fs.FolderExists(folder));
  EXPECT_TRUE(fs.FileExists(file));
  EXPECT_EQ(fs.ReadFileBytes(file), "bytes");
  EXPECT_EQ(fs.EntryNames(folder), std::vector<std::string>{"\xE2\x82\xAC.xml"});
  // Letter case does not matter to the system.
  EXPECT_TRUE(fs.FileExists(root / "CAF\xC3\x89 \xE4\xB8\xAD\\\xE2\x82\xAC.XML"));
}

// Only Windows lets a holder refuse a file's replacement; on Linux the
// rename goes through whoever holds the file.
TEST(Win32FileSystem, ATargetHeldOpenWithoutShareDeleteKeepsItsContent) {
  // Another program (an editor, a virus scanner) holding the file open
  // without letting it be replaced for longer than the replacement tries
  // (about a second): the replacement fails as a whole.
  ScratchFolder root;
  WriteFile(root / "state.ini", "old");
  HANDLE held = ::CreateFileW(Widen(root / "state.ini").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const long number =
      FailureNumber([&] { platform::Files().ReplaceFileAtomically(root / "state.ini", "new"); });
  ::CloseHandle(held);
  EXPECT_EQ(number, 70);
  EXPECT_EQ(ReadFile(root / "state.ini"), "old");
  EXPECT_EQ(Entries(root), std::vector<std::string>{"state.ini"});
  // Let go within the second that the replacement tries for, it goes
  // through.
  held = ::CreateFileW(Widen(root / "state.ini").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                       OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::thread let_go([held] {
    ::Sleep(150);
    ::CloseHandle(held);
  });
  platform::Files().ReplaceFileAtomically(root / "state.ini", "new");
  let_go.join();
  EXPECT_EQ(ReadFile(root / "state.ini"), "new");
  EXPECT_EQ(Entries(root), std::vector<std::string>{"state.ini"});
}

// Linux has no read-only attribute (the folder's permissions decide whether
// a file may go), and its unlink tells no missing folder from a missing
// file (53).
TEST(Win32FileSystem, ReadOnlyFilesNeedForce) {
  ScratchFolder root;
  platform::FileSystem& fs = platform::Files();
  WriteFile(root / "ro.txt", "x");
  ASSERT_TRUE(::SetFileAttributesW(Widen(root / "ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(FailureNumber([&] { fs.RemoveFile(root / "ro.txt", false); }), 70);
  EXPECT_TRUE(fs.FileExists(root / "ro.txt"));
  fs.RemoveFile(root / "ro.txt", true);
  EXPECT_FALSE(fs.FileExists(root / "ro.txt"));
  EXPECT_EQ(FailureNumber([&] { fs.RemoveFile(root / "ro.txt", true); }), 53);
  EXPECT_EQ(FailureNumber([&] { fs.RemoveFile(root / "no\\ro.txt", true); }), 76);
}
