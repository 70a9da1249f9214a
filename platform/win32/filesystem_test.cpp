// What the Windows file system adds to the layer's contract: wide paths,
// separators, the replacement's temporary file and its failures, share
// modes, read-only files and stamps.
#include "platform/filesystem.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/failure.h"
#include "platform/win32/test_support.h"
#include "platform/win32/wide_text.h"

using platform::Widen;
using platform::testing::ReadFile;
using platform::testing::ScratchFolder;
using platform::testing::WriteFile;

namespace {

std::vector<std::string> Entries(const ScratchFolder& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(Widen(folder.path()))) {
    names.push_back(platform::Narrow(entry.path().filename().wstring()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

long FailureNumber(const std::function<void()>& operation) {
  try {
    operation();
  } catch (const platform::Failure& failure) {
    return failure.number();
  }
  return 0;
}

}  // namespace

TEST(Win32FileSystemPaths, SeparatorsAreFoldedAndRootsKept) {
  platform::FileSystem& fs = platform::Files();
  EXPECT_EQ(fs.NativePath("C:\\Agent\\\\qLUX/Dovel//x.xml"), "C:\\Agent\\qLUX\\Dovel\\x.xml");
  EXPECT_EQ(fs.NativePath("C:\\Data\\"), "C:\\Data");
  EXPECT_EQ(fs.NativePath("C:\\"), "C:\\");
  EXPECT_EQ(fs.NativePath("C:/"), "C:\\");
  EXPECT_EQ(fs.NativePath("\\\\server\\share\\\\dir\\"), "\\\\server\\share\\dir");
  EXPECT_EQ(fs.NativePath("\\"), "\\");
  EXPECT_EQ(fs.NativePath("relative\\\\name"), "relative\\name");
  EXPECT_EQ(fs.NativePath(""), ".");
}

TEST(Win32FileSystemPaths, NamesBeyondTheAnsiCodePageReachTheDiskWhole) {
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

TEST(Win32FileSystemAtomic, TheTemporaryFileSitsBesideTheTargetUnderTheLeftoverName) {
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

TEST(Win32FileSystemAtomic, ATargetHeldOpenWithoutShareDeleteKeepsItsContent) {
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

TEST(Win32FileSystemAtomic, TwoWritersReplacingOneFileAtOnceBothSucceed) {
  // Converters run on their own meet at their one output file: the rename of
  // one is refused while the other's rename (or a reader) holds the target,
  // and goes through a moment later. A reader finds one whole version or the
  // other, never a mix.
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
    ::Sleep(20);
  }
  first.join();
  second.join();
  EXPECT_EQ(failed, 0) << first_failure;
  EXPECT_EQ(torn, 0) << "of " << reads << " reads";
  const std::string last = ReadFile(path);
  EXPECT_TRUE(last == versions[0] || last == versions[1]);
  EXPECT_EQ(Entries(root), std::vector<std::string>{"Temp_RSS.xml"});
}

TEST(Win32FileSystemFiles, ReadOnlyFilesNeedForceAndFoldersAreNoFiles) {
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
  EXPECT_EQ(FailureNumber([&] { fs.EntryNames(root / "absent"); }), 76);
}

TEST(Win32FileSystemFiles, StampsTellReplacementsAndWritesApart) {
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
  HANDLE held = ::CreateFileW(Widen(root / "f.xml").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(fs.Stamp(root / "f.xml"), second);
  ::CloseHandle(held);
}
