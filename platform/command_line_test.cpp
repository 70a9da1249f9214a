#include "platform/command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/failure.h"
#include "platform/testing/test_support.h"

namespace platform {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::ScratchFolder;
using testing::SystemSeparators;
using testing::WriteFile;

long FailureNumber(const std::string& command_line) {
  try {
    SplitCommandLine(command_line);
  } catch (const Failure& failure) {
    return failure.number();
  }
  return 0;
}

TEST(ArgumentTextTest, SplitsByTheCRuntimeRules) {
  EXPECT_THAT(SplitArgumentText(""), IsEmpty());
  EXPECT_THAT(SplitArgumentText(" \t "), IsEmpty());
  EXPECT_THAT(SplitArgumentText("a  b\tc "), ElementsAre("a", "b", "c"));
  EXPECT_THAT(SplitArgumentText(R"("a b" c)"), ElementsAre("a b", "c"));
  EXPECT_THAT(SplitArgumentText(R"(x"a b"y)"), ElementsAre("xa by"));
  EXPECT_THAT(SplitArgumentText(R"("" x)"), ElementsAre("", "x"));
  EXPECT_THAT(SplitArgumentText(R"("open)"), ElementsAre("open"));
  // Backslashes are literal unless they precede a quote.
  EXPECT_THAT(SplitArgumentText(R"(a\b c\\d\\\e)"), ElementsAre(R"(a\b)", R"(c\\d\\\e)"));
  // 2n backslashes and a quote: n backslashes, the quote groups.
  EXPECT_THAT(SplitArgumentText(R"(a\\"b c" d)"), ElementsAre(R"(a\b c)", "d"));
  EXPECT_THAT(SplitArgumentText(R"(a\\\\"b" c)"), ElementsAre(R"(a\\b)", "c"));
  // 2n+1 backslashes and a quote: n backslashes and a literal quote.
  EXPECT_THAT(SplitArgumentText(R"(a\"b c)"), ElementsAre(R"(a"b)", "c"));
  EXPECT_THAT(SplitArgumentText(R"(a\\\"b c)"), ElementsAre(R"(a\"b)", "c"));
  EXPECT_THAT(SplitArgumentText(R"("a\"b c")"), ElementsAre(R"(a"b c)"));
  // Two quotes inside quotes stand for one literal quote.
  EXPECT_THAT(SplitArgumentText(R"("a""b" c)"), ElementsAre(R"(a"b)", "c"));
  // Backslashes at the end of a quoted path stay as they are.
  EXPECT_THAT(SplitArgumentText(R"("C:\dir\\" x)"), ElementsAre(R"(C:\dir\)", "x"));
}

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(folder_ / "dir with blanks");
    WriteFile(folder_ / "dir with blanks/prog.exe", "");
  }
  ScratchFolder folder_;
};

TEST_F(CommandLineTest, ProgramInFolderWithBlanks) {
  CommandLine split = SplitCommandLine(folder_ / "dir with blanks/prog.exe arg1 arg2");
  EXPECT_EQ(split.program, SystemSeparators(folder_ / "dir with blanks/prog.exe"));
  EXPECT_THAT(split.arguments, ElementsAre("arg1", "arg2"));
}

TEST_F(CommandLineTest, ShortestPrefixNamingAFileWins) {
  WriteFile(folder_ / "dir", "");
  CommandLine split = SplitCommandLine(folder_ / "dir with blanks/prog.exe arg1 arg2");
  EXPECT_EQ(split.program, SystemSeparators(folder_ / "dir"));
  EXPECT_THAT(split.arguments, ElementsAre("with", "blanks/prog.exe", "arg1", "arg2"));
}

TEST_F(CommandLineTest, ExeIsAddedToANameWithoutExtension) {
  WriteFile(folder_ / "dir with.exe", "");
  CommandLine split = SplitCommandLine(folder_ / "dir with blanks/prog.exe arg1");
  EXPECT_EQ(split.program, SystemSeparators(folder_ / "dir with.exe"));
  EXPECT_THAT(split.arguments, ElementsAre("blanks/prog.exe", "arg1"));

  split = SplitCommandLine(folder_ / "dir with blanks/prog arg1");
  EXPECT_EQ(split.program, SystemSeparators(folder_ / "dir with.exe"));
}

TEST_F(CommandLineTest, ExeIsNotAddedToANameWithExtension) {
  EXPECT_EQ(FailureNumber(folder_ / "dir with blanks/prog.bin arg1"), err::kFileNotFound);
}

TEST_F(CommandLineTest, EmptyArgumentTextGivesNoArguments) {
  EXPECT_THAT(SplitCommandLine(folder_ / "dir with blanks/prog.exe").arguments, IsEmpty());
  EXPECT_THAT(SplitCommandLine(folder_ / "dir with blanks/prog.exe ").arguments, IsEmpty());
}

TEST_F(CommandLineTest, FoldersAndMissingFilesAreNotPrograms) {
  EXPECT_EQ(FailureNumber(folder_ / "dir with blanks"), err::kFileNotFound);
  EXPECT_EQ(FailureNumber(folder_ / "dir with blanks/other.exe x"), err::kFileNotFound);
  EXPECT_EQ(FailureNumber(folder_ / "missing/prog.exe"), err::kFileNotFound);
  EXPECT_EQ(FailureNumber(""), err::kFileNotFound);
}

}  // namespace
}  // namespace platform
