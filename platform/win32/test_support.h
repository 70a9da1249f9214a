// Helpers for the Windows layer's tests besides the portable ones: standard
// error caught in a file.
#pragma once

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/testing/test_support.h"
#include "platform/win32/wide_text.h"

namespace platform::testing {

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
