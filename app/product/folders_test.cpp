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

// Records the folders looked at.
class RecordingFiles : public platform::testing::ForwardingFileSystem {
 public:
  std::vector<std::string> looked_at;
  bool FolderExists(const std::string& path) override {
    looked_at.push_back(path);
    return real.FolderExists(path);
  }
};

TEST(ProductFolders, FoldersAreMadeWithTheirParentsBelowAKnownOne) {
  platform::testing::ScratchFolder scratch;
  const std::string data = scratch.path() + "\\";
  RecordingFiles files;
  product::CreateFolderWithParents(files, data + "\\qLUX\\Dovel/RSSLinks", data.size());
  EXPECT_TRUE(std::filesystem::is_directory(scratch / "qLUX/Dovel/RSSLinks"));
  EXPECT_THAT(files.looked_at, ::testing::ElementsAre(data + "\\qLUX", data + "\\qLUX\\Dovel",
                                                      data + "\\qLUX\\Dovel/RSSLinks"));
  // Folders that are there already are left alone.
  product::CreateFolderWithParents(files, scratch / "qLUX/Dovel/more");
  EXPECT_TRUE(std::filesystem::is_directory(scratch / "qLUX/Dovel/more"));
  EXPECT_EQ(files.looked_at.back(), scratch / "qLUX/Dovel/more");
}

}  // namespace
