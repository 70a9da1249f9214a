#include "platform/run_lock.h"

#include <gtest/gtest.h>

#include <utility>

#include "platform/testing/test_support.h"

using platform::RunLock;
using platform::testing::ScratchFolder;

TEST(RunLock, ReleaseAndMoveHandTheLockOn) {
  ScratchFolder data;
  RunLock first = RunLock::Take(data.path(), 0);
  ASSERT_TRUE(first.held());
  // Within one process a second open of the file is a second claimant too.
  EXPECT_FALSE(RunLock::Take(data.path(), 0).held());
  RunLock moved = std::move(first);
  EXPECT_FALSE(first.held());
  EXPECT_FALSE(RunLock::Take(data.path(), 0).held());
  moved.Release();
  EXPECT_FALSE(moved.held());
  EXPECT_TRUE(RunLock::Take(data.path(), 0).held());
}
