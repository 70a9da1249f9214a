// The run lock's other claimants on Linux, and what only Linux has: file
// modes, links and FIFOs where the lock file should be.
#include "platform/run_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/failure.h"
#include "platform/posix/test_support.h"
#include "platform/process.h"
#include "platform/testing/run_lock_fixture.h"

using platform::RunLock;
using platform::testing::ReadFile;
using platform::testing::ScratchFolder;
using platform::testing::WriteFile;

namespace platform::testing {

struct OtherHolder::Process {
  pid_t pid = -1;
};

// A child of this test program (a fork) that takes the lock and tells so
// through a pipe.
OtherHolder::OtherHolder(const std::string& folder) : process_(std::make_unique<Process>()) {
  int ready[2];
  EXPECT_EQ(::pipe(ready), 0);
  process_->pid = ::fork();
  if (process_->pid == 0) {
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

void OtherHolder::Kill() {
  if (process_->pid <= 0) return;
  ::kill(process_->pid, SIGKILL);
  ::waitpid(process_->pid, nullptr, 0);
  process_->pid = -1;
}

OtherHolder::~OtherHolder() {
  Kill();
}

// A script, started by the process layer (which passes on no descriptor of
// its own but the standard ones).
struct Sleeper::Process {
  platform::StartedProgram program;
};

Sleeper::Sleeper(const std::string& scratch_folder) {
  const std::string script = scratch_folder + "/sleeper";
  WriteFile(script, "#!/bin/sh\nsleep 30\n");
  ::chmod(script.c_str(), 0755);
  process_.reset(new Process{platform::StartProcess(script, platform::kShowHidden)});
}

Sleeper::~Sleeper() {
  process_->program.EndGroup();
}

bool Sleeper::Running() {
  return !process_->program.HasEnded();
}

}  // namespace platform::testing

// The users of one data folder share it by their group.
TEST(PosixRunLock, TheLockFileIsTheGroupsToRead) {
  ScratchFolder data;
  RunLock lock = RunLock::Take(data.path(), 0);
  ASSERT_TRUE(lock.held());
  struct stat st {};
  ASSERT_EQ(::lstat((data / "rssnotify.lock").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(PosixRunLock, ALinkOrAFifoAtTheLockFileIsRefusedAndItsTargetLeftAlone) {
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

  // A FIFO would block the open for ever.
  ScratchFolder third;
  ASSERT_EQ(::mkfifo((third / "rssnotify.lock").c_str(), 0600), 0);
  EXPECT_THROW(RunLock::Take(third.path(), 0), platform::Failure);
}
