// Helpers for the Windows layer's tests: a scratch folder, whole-file reads
// and writes by wide path, and standard error caught in a file.
#pragma once

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/win32/wide_text.h"

namespace platform::testing {

// A fresh folder under the system's temporary folder, removed at the end.
// Paths are UTF-8, the program's form.
class ScratchFolder {
 public:
  ScratchFolder() {
    static int counter = 0;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (;;) {
      std::filesystem::path candidate =
          base / ("rssnotify-" + std::to_string(::GetCurrentProcessId()) + "-" +
                  std::to_string(++counter));
      if (::CreateDirectoryW(candidate.wstring().c_str(), nullptr)) {
        path_ = Narrow(candidate.wstring());
        return;
      }
    }
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(Widen(path_), ignored);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(std::filesystem::path(Widen(path)), std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(std::filesystem::path(Widen(path)), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Standard error goes to a file while the object lives; Text() is what was
// written to it.
class CapturedStderr {
 public:
  CapturedStderr() : file_(folder_ / "stderr.txt") {
    std::fflush(stderr);
    saved_ = ::_dup(2);
    const int fd = ::_wopen(Widen(file_).c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY,
                            _S_IREAD | _S_IWRITE);
    ::_dup2(fd, 2);
    ::_close(fd);
  }
  ~CapturedStderr() { Restore(); }
  std::string Text() {
    Restore();
    return ReadFile(file_);
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::_dup2(saved_, 2);
    ::_close(saved_);
    saved_ = -1;
  }
  ScratchFolder folder_;
  std::string file_;
  int saved_ = -1;
};

}  // namespace platform::testing
