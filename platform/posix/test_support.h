// Helpers for the layer's tests: a scratch folder and a registry file.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/failure.h"
#include "platform/filesystem.h"

namespace platform::testing {

// A fresh folder under the system's temporary folder, removed at the end.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "rssnotify-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Points RSSNOTIFY_REGISTRY at a file with `content` for the test's lifetime.
class ScopedRegistry {
 public:
  explicit ScopedRegistry(const std::string& content) {
    WriteFile(folder_ / "registry.reg", content);
    ::setenv("RSSNOTIFY_REGISTRY", (folder_ / "registry.reg").c_str(), 1);
  }
  ~ScopedRegistry() { ::unsetenv("RSSNOTIFY_REGISTRY"); }

 private:
  ScratchFolder folder_;
};

// Passes everything to the real file system but fails every atomic
// replacement, as a full disk would.
class FullDisk : public platform::FileSystem {
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
  void ReplaceFileAtomically(const std::string&, const std::string&) override {
    throw platform::Failure(platform::err::kDiskFull);
  }
  platform::FileStamp Stamp(const std::string& p) override { return real.Stamp(p); }
  std::string NativePath(const std::string& p) override { return real.NativePath(p); }
};

}  // namespace platform::testing
