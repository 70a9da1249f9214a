// Helpers for the tests of every system: a scratch folder, whole-file reads
// and writes, and stand-ins for the file system in use. Portable: nothing
// here includes an OS header (POSIX-only helpers are in
// platform/posix/test_support.h).
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/failure.h"
#include "platform/filesystem.h"

namespace platform::testing {

// The program's paths are UTF-8 on every system; std::filesystem's narrow
// strings are the ANSI code page on Windows, so paths cross over as UTF-8.
inline std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string Utf8Of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// A fresh folder under the system's temporary folder, removed at the end.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::random_device random;
    std::filesystem::path path;
    do {
      path = std::filesystem::temp_directory_path() / ("rssnotify-" + std::to_string(random()));
    } while (!std::filesystem::create_directory(path));
    // The owner's alone, as a private temporary folder is.
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    path_ = Utf8Of(path);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(PathOf(path_), ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// `path` with the system's separators: the form in which the file system
// names files ("/" on Linux, "\\" on Windows), for comparing with paths the
// code hands back.
inline std::string SystemSeparators(const std::string& path) {
  return Utf8Of(PathOf(path).make_preferred());
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(PathOf(path), std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(PathOf(path), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Passes every call to the real file system: a test's stand-in derives from
// it and overrides only what it changes. The streamed replacement keeps its
// default, which hands the whole content to ReplaceFileAtomically, so that a
// stand-in sees every save there.
class ForwardingFileSystem : public platform::FileSystem {
 public:
  platform::FileSystem& real = platform::RealFileSystem();
  bool FolderExists(const std::string& p) override { return real.FolderExists(p); }
  bool FileExists(const std::string& p) override { return real.FileExists(p); }
  void CreateFolder(const std::string& p) override { real.CreateFolder(p); }
  std::unique_ptr<platform::TextStream> CreateTextFile(const std::string& p, bool o,
                                                       bool u) override {
    return real.CreateTextFile(p, o, u);
  }
  std::unique_ptr<platform::TextStream> OpenTextFileForReading(const std::string& p) override {
    return real.OpenTextFileForReading(p);
  }
  void RemoveFile(const std::string& p, bool f) override { real.RemoveFile(p, f); }
  std::string ReadFileBytes(const std::string& p) override { return real.ReadFileBytes(p); }
  void ReplaceFileAtomically(const std::string& p, const std::string& bytes) override {
    real.ReplaceFileAtomically(p, bytes);
  }
  platform::FileStamp Stamp(const std::string& p) override { return real.Stamp(p); }
  std::string NativePath(const std::string& p) override { return real.NativePath(p); }
  bool IsSymbolicLink(const std::string& p) override { return real.IsSymbolicLink(p); }
  std::unique_ptr<platform::TextStream> OpenTextFileForAppending(const std::string& p) override {
    return real.OpenTextFileForAppending(p);
  }
  std::vector<std::string> EntryNames(const std::string& p) override { return real.EntryNames(p); }
};

// Fails every atomic replacement, as a full disk would.
class FullDisk : public ForwardingFileSystem {
 public:
  void ReplaceFileAtomically(const std::string&, const std::string&) override {
    throw platform::Failure(platform::err::kDiskFull);
  }
};

// Puts `fs` in the place of the file system in use (platform::Files()) for
// its own lifetime.
class ScopedFileSystem {
 public:
  explicit ScopedFileSystem(platform::FileSystem& fs) { platform::SetFileSystemForTesting(&fs); }
  ~ScopedFileSystem() { platform::SetFileSystemForTesting(nullptr); }
  ScopedFileSystem(const ScopedFileSystem&) = delete;
  ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;
};

}  // namespace platform::testing
