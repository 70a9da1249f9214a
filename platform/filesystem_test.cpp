#include "platform/filesystem.h"

#include <gtest/gtest.h>

#include "platform/failure.h"
#include "platform/testing/test_support.h"

using platform::testing::ScratchFolder;

TEST(FileSystemFolders, FolderWithParentsCreatesEveryMissingLevel) {
  ScratchFolder root;
  platform::FileSystem& fs = platform::Files();
  // Both separators, doubled and trailing ones, a level that exists already.
  fs.CreateFolder(root / "a");
  platform::CreateFolderWithParents(fs, root.path() + "\\a\\\\b/c\\d\\");
  EXPECT_TRUE(fs.FolderExists(root / "a/b/c/d"));
  // Again: nothing is missing, nothing fails.
  platform::CreateFolderWithParents(fs, root / "a/b/c/d");

  // What lies within the first `existing` characters is taken to exist: a
  // missing folder there is not made, and the level below cannot be.
  const std::string base = root / "missing";
  try {
    platform::CreateFolderWithParents(fs, base + "\\x\\y", base.size());
    ADD_FAILURE() << "no failure";
  } catch (const platform::Failure& failure) {
    EXPECT_EQ(failure.number(), 76);
  }
  EXPECT_FALSE(fs.FolderExists(base));
  platform::CreateFolderWithParents(fs, base + "\\x\\y", root.path().size());
  EXPECT_TRUE(fs.FolderExists(root / "missing/x/y"));
}
