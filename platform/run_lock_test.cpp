#include "platform/run_lock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <utility>

#include "platform/failure.h"
#include "platform/filesystem.h"
#include "platform/testing/run_lock_fixture.h"
#include "platform/testing/test_support.h"

using platform::RunLock;
using platform::testing::OtherHolder;
using platform::testing::PathOf;
using platform::testing::ScratchFolder;
using platform::testing::Sleeper;

namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace

TEST(RunLock, AnotherHolderMakesAClaimantWaitItsBoundAndLetsGoWhenKilled) {
  ScratchFolder data;
  OtherHolder other(data.path());
  const Clock::time_point start = Clock::now();
  RunLock lock = RunLock::Take(data.path() + "\\", 400);
  EXPECT_FALSE(lock.held());
  const long long waited = MillisecondsSince(start);
  EXPECT_GE(waited, 400);
  EXPECT_LT(waited, 5000);
  // The lock file is a plain empty file that stays.
  const std::filesystem::path file = PathOf(data / "rssnotify.lock");
  EXPECT_EQ(std::filesystem::symlink_status(file).type(), std::filesystem::file_type::regular);
  EXPECT_EQ(std::filesystem::file_size(file), 0u);

  other.Kill();
  const Clock::time_point again = Clock::now();
  lock = RunLock::Take(data.path(), 10000);
  EXPECT_TRUE(lock.held());
  EXPECT_LT(MillisecondsSince(again), 5000);
}

TEST(RunLock, ReleaseAndMoveHandTheLockOn) {
  ScratchFolder data;
  RunLock first = RunLock::Take(data.path(), 0);
  ASSERT_TRUE(first.held());
  // Within one process a second open of the file is a second claimant too.
  EXPECT_FALSE(RunLock::Take(data.path(), 0).held());
  RunLock moved = std::move(first);
  EXPECT_FALSE(first.held());
  EXPECT_FALSE(RunLock::Take(data.path(), 100).held());
  moved.Release();
  EXPECT_FALSE(moved.held());
  EXPECT_TRUE(RunLock::Take(data.path(), 0).held());
}

TEST(RunLock, AProgramStartedWhileHoldingItDoesNotKeepIt) {
  ScratchFolder data;
  RunLock lock = RunLock::Take(data.path(), 0);
  ASSERT_TRUE(lock.held());
  Sleeper sleeper(data.path());
  ASSERT_TRUE(sleeper.Running());
  lock.Release();
  EXPECT_TRUE(RunLock::Take(data.path(), 0).held());
  EXPECT_TRUE(sleeper.Running());
}

TEST(RunLock, AFolderAtTheLockFileOrNoDataFolderIsRefused) {
  ScratchFolder data;
  std::filesystem::create_directory(PathOf(data / "rssnotify.lock"));
  try {
    RunLock::Take(data.path(), 0);
    FAIL() << "a folder was taken for the lock file";
  } catch (const platform::Failure& failure) {
    EXPECT_EQ(failure.number(), 75);
    EXPECT_EQ(failure.description(),
              "Path/File access error: " + platform::Files().NativePath(data / "rssnotify.lock") +
                  " is not a file");
  }
  EXPECT_THROW(RunLock::Take(data / "missing", 0), platform::Failure);
}
