// The look for the browser opener on Linux: a search path of the form
// "/usr/bin:/bin" and the execute permission. (The Windows program hands
// the page to the shell instead.)
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "companions/viewer/output.h"
#include "platform/testing/test_support.h"

namespace viewer {
namespace {

using platform::testing::ScratchFolder;
using platform::testing::WriteFile;

TEST(FindProgram, FirstExecutableFileOnTheList) {
  ScratchFolder scratch;
  std::filesystem::create_directories(scratch / "a/xdg-open");  // a folder, not a program
  std::filesystem::create_directories(scratch / "b");
  std::filesystem::create_directories(scratch / "c");
  std::filesystem::create_directories(scratch / "d");
  WriteFile(scratch / "b/xdg-open", "not executable");
  WriteFile(scratch / "c/xdg-open", "#!/bin/sh\n");
  WriteFile(scratch / "d/xdg-open", "#!/bin/sh\n");
  std::filesystem::permissions(scratch / "c/xdg-open", std::filesystem::perms::owner_all);
  std::filesystem::permissions(scratch / "d/xdg-open", std::filesystem::perms::owner_all);
  const std::string list = "relative:" + scratch.path() + "/a::" + scratch.path() +
                           "/b:" + scratch.path() + "/c/:" + scratch.path() + "/d";
  EXPECT_EQ(FindProgram("xdg-open", list), scratch / "c/xdg-open");
  EXPECT_EQ(FindProgram("xdg-open", scratch / "a:" + scratch.path() + "/b"), std::nullopt);
  EXPECT_EQ(FindProgram("xdg-open", ""), std::nullopt);
}

}  // namespace
}  // namespace viewer
