// What the file system's tests need from the system beneath it. Each
// system's test file defines HoldOpen (platform/posix/filesystem_test.cpp,
// platform/win32/filesystem_test.cpp), so that the file system's contract is
// written once, in platform/filesystem_test.cpp.
#pragma once

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/testing/test_support.h"

namespace platform::testing {

// `path`, an existing file, held open by someone else, with as little sharing
// as the system lets a holder ask for (on Windows none at all), until the
// returned holder is released.
std::shared_ptr<void> HoldOpen(const std::string& path);

// The names in `folder`, sorted, as the system lists them.
inline std::vector<std::string> Entries(const ScratchFolder& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(PathOf(folder.path()))) {
    names.push_back(Utf8Of(entry.path().filename()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The number of the Failure that `operation` throws; 0 when it throws none.
inline long FailureNumber(const std::function<void()>& operation) {
  try {
    operation();
  } catch (const platform::Failure& failure) {
    return failure.number();
  }
  return 0;
}

}  // namespace platform::testing
