// Helpers for the layer's tests: a scratch folder and a registry file.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

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

}  // namespace platform::testing
