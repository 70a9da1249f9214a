#include "platform/run_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "platform/failure.h"
#include "platform/posix/test_support.h"
#include "platform/process.h"

using platform::RunLock;
using platform::testing::ReadFile;
using platform::testing::ScratchFolder;
using platform::testing::WriteFile;

namespace {

using Clock = std::chrono::steady_clock;

// Another process that takes the lock of `folder` and holds it until killed.
class OtherHolder {
 public:
  explicit OtherHolder(const std::string& folder) {
    int ready[2];
    EXPECT_EQ(::pipe(ready), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      RunLock lock = RunLock::Take(folder, 10000);
      char held = lock.held() ? '1' : '0';
      (void)!::write(ready[1], &held, 1);
      for (;;) ::pause();
    }
    ::close(ready[1]);
    char held = 0;
    EXPECT_EQ(::read(ready[0], &held, 1), 1);
    EXPECT_EQ(held, '1');
    ::close(ready[0]);
  }
  // Ends the holder the hard way, as a crash would.
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  ~OtherHolder() { Kill(); }

 private:
  pid_t pid_ = -1;
};

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace

TEST(RunLock, OneHolderAtATimeAndTheOtherGivesUpAtItsBound) {
  ScratchFolder data;
  OtherHolder other(data.path());
  const Clock::time_point start = Clock::now();
  RunLock lock = RunLock::Take(data.path() + "\\", 400);
  EXPECT_FALSE(lock.held());
  const long long waited = MillisecondsSince(start);
  EXPECT_GE(waited, 400);
  EXPECT_LT(waited, 5000);
  // The lock file is a plain empty file that stays.
  struct stat st {};
  ASSERT_EQ(::lstat((data / "rssnotify.lock").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(st.st_size, 0);
}

TEST(RunLock, AKilledHolderLetsGoAndAWaiterGetsItWithinItsWait) {
  ScratchFolder data;
  OtherHolder other(data.path());
  other.Kill();
  const Clock::time_point start = Clock::now();
  RunLock lock = RunLock::Take(data.path(), 10000);
  EXPECT_TRUE(lock.held());
  EXPECT_LT(MillisecondsSince(start), 5000);
}

TEST(RunLock, AProgramStartedWhileHoldingItDoesNotKeepIt) {
  ScratchFolder data;
  WriteFile(data / "sleeper", "#!/bin/sh\nsleep 30\n");
  ::chmod((data / "sleeper").c_str(), 0755);
  RunLock lock = RunLock::Take(data.path(), 0);
  ASSERT_TRUE(lock.held());
  platform::StartedProgram program =
      platform::StartProcess(data / "sleeper", platform::kShowHidden);
  lock.Release();
  EXPECT_TRUE(RunLock::Take(data.path(), 0).held());
  program.EndGroup();
}

TEST(RunLock, ALinkOrAFolderAtTheLockFileIsRefusedAndItsTargetLeftAlone) {
  ScratchFolder data;
  ScratchFolder elsewhere;
  WriteFile(elsewhere / "private", "keep");
  ::chmod((elsewhere / "private").c_str(), 0600);
  ASSERT_EQ(::symlink((elsewhere / "private").c_str(), (data / "rssnotify.lock").c_str()), 0);
  EXPECT_THROW(RunLock::Take(data.path(), 0), platform::Failure);
  EXPECT_EQ(ReadFile(elsewhere / "private"), "keep");
  struct stat st {};
  ASSERT_EQ(::stat((elsewhere / "private").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  ScratchFolder other;
  ::mkdir((other / "rssnotify.lock").c_str(), 0700);
  EXPECT_THROW(RunLock::Take(other.path(), 0), platform::Failure);

  // A FIFO would block the open for ever.
  ScratchFolder third;
  ASSERT_EQ(::mkfifo((third / "rssnotify.lock").c_str(), 0600), 0);
  EXPECT_THROW(RunLock::Take(third.path(), 0), platform::Failure);
}
