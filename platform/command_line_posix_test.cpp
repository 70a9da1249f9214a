// Command lines in Windows' form on Linux: the backslashes become slashes
// and each name is matched with the file system's names regardless of case.
// (Windows itself takes such a line as it is.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/command_line.h"
#include "platform/testing/test_support.h"

namespace platform {
namespace {

using ::testing::ElementsAre;
using testing::ScratchFolder;
using testing::WriteFile;

class WindowsFormCommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(folder_ / "dir with blanks");
    WriteFile(folder_ / "dir with blanks/prog.exe", "");
  }
  ScratchFolder folder_;
};

TEST_F(WindowsFormCommandLineTest, PathsAreMapped) {
  std::string windows_form = folder_.path() + R"(\DIR WITH BLANKS\Prog "a b" c\"d)";
  CommandLine split = SplitCommandLine(windows_form);
  EXPECT_EQ(split.program, folder_ / "dir with blanks/prog.exe");
  EXPECT_THAT(split.arguments, ElementsAre("a b", R"(c"d)"));
}

}  // namespace
}  // namespace platform
