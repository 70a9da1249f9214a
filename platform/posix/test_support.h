// Helpers for the tests on POSIX systems, besides the portable ones.
#pragma once

#include <cstdlib>
#include <string>

#include "platform/testing/test_support.h"

namespace platform::testing {

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
