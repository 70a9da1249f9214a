#include "app/product/folders.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "platform/testing/test_support.h"

namespace {

TEST(ProductFolders, DataFolderFollowsAllUsersProfileWhenItNamesAKnownPlace) {
  const std::string install = "C:\\Agent\\";
  EXPECT_EQ(product::ChooseDataPath(install, "C:\\ProgramData"), "C:\\ProgramData\\KESTRA\\");
  EXPECT_EQ(product::ChooseDataPath(install, "c:\\programdata\\"), "c:\\programdata\\KESTRA\\");
  EXPECT_EQ(product::ChooseDataPath(install, "C:\\Documents and Settings\\ALL USERS"),
            "C:\\Documents and Settings\\ALL USERS\\Application Data\\KESTRA\\");
  // "ProgramData" wins wherever it stands.
  EXPECT_EQ(product::ChooseDataPath(install, "D:\\All Users\\ProgramData"),
            "D:\\All Users\\ProgramData\\KESTRA\\");
  EXPECT_EQ(product::ChooseDataPath(install, ""), install);
  EXPECT_EQ(product::ChooseDataPath(install, "/var/lib/shared"), install);
  EXPECT_EQ(product::ChooseDataPath(install, "Program Data"), install);
}

TEST(ProductFolders, InstallPathGetsOneTrailingBackslash) {
  EXPECT_EQ(product::WithTrailingBackslash("C:\\Agent"), "C:\\Agent\\");
  EXPECT_EQ(product::WithTrailingBackslash("C:\\Agent\\"), "C:\\Agent\\");
  // Judged by the trimmed form, but handed back as it stands.
  EXPECT_EQ(product::WithTrailingBackslash("C:\\Agent\\  "), "C:\\Agent\\  ");
  EXPECT_EQ(product::WithTrailingBackslash("C:\\Agent  "), "C:\\Agent  \\");
  EXPECT_EQ(product::WithTrailingBackslash(""), "\\");
}

TEST(ProductFolders, InstallPathMustBeNonBlankAndAnExistingFolder) {
  platform::testing::ScratchFolder folder;
  platform::testing::WriteFile(folder / "file", "x");
  EXPECT_TRUE(product::InstallPathUsable(folder.path()));
  EXPECT_FALSE(product::InstallPathUsable(folder / "missing"));
  EXPECT_FALSE(product::InstallPathUsable(folder / "file"));
  EXPECT_FALSE(product::InstallPathUsable(""));
  EXPECT_FALSE(product::InstallPathUsable("   "));
}

}  // namespace
