// A child process of this process, owned by one object: how it is started
// (posix_spawn, never a shell), the pipes to it, its pidfd, the bounded waits
// on it and its reaping. Used by the process facility, the Automation client
// and the tests' helper services.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/posix/fd_io.h"
#include "platform/posix/unique_fd.h"

namespace platform::posix {

// Where one of the child's standard streams leads.
enum class Stream { kInherit, kNull, kPipe };

struct ChildSetup {
  std::vector<std::string> argv;  // argv[0]: the program file, used as it is (no search)
  Stream input = Stream::kNull;
  Stream output = Stream::kInherit;
  Stream error = Stream::kInherit;
};

// The child runs in a process group of its own (its id is the child's), so
// that a group kill reaches what it starts, with no signal blocked and every
// signal at its default action, whatever this process has set up for itself.
// Descriptors of this process are never inherited (all are close-on-exec).
//
// Destroying the object closes this side's pipe ends and the pidfd and reaps
// the child if it has ended; a child still running is left to run on. The
// owners decide when a child is killed and reaped for good (KillGroup, Reap).
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;

  // Starts the child. Returns 0, or the error number of a failed start (the
  // object then holds no child).
  int Start(const ChildSetup& setup);

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // -1 when the system gave none; pidfd_error() then tells why. Without a
  // pidfd the waits below look at the child every 20 ms instead.
  int pidfd() const { return pidfd_.get(); }
  int pidfd_error() const { return pidfd_error_; }
  // This side's pipe ends (-1 for a stream that is no pipe). The end of the
  // child's input is non-blocking, the ends of its output and error are
  // blocking unless made otherwise.
  int input() const { return input_.get(); }
  int output() const { return output_.get(); }
  int error() const { return error_.get(); }

  // Closes this side of the child's input: the child reads end of input.
  void CloseInput();

  // Whether the child has ended, leaving it unreaped (so asking again gives
  // the same answer). A child that cannot be looked at counts as ended.
  bool Ended() const;

  // Blocks until the child ends, `watch` (a descriptor, or -1) has something
  // to read, or `deadline` passes; interruptions do not end the wait early.
  struct Wake {
    bool ended = false;
    bool readable = false;
    bool failed = false;  // poll() failed; errno tells why
    bool timed_out() const { return !ended && !readable && !failed; }
  };
  Wake WaitUntil(Clock::time_point deadline, int watch = -1) const;

  // Reads from the output pipe up to the next line feed (the line without
  // it). kFailed at end of output, when more than `max_bytes` come without a
  // line feed, and when the child has ended with nothing more to read (even
  // if a process it left behind still holds the pipe open); kTimedOut at
  // `deadline`.
  IoOutcome ReadLine(std::string& line, Clock::time_point deadline, std::size_t max_bytes);

  // SIGKILL to the group the child was started in. Call it before Reap: once
  // the child is reaped its id may name another group.
  void KillGroup() const;
  // Waits for the child to end and reaps it.
  void Reap();
  // Reaps the child if it has ended; true when it did.
  bool ReapIfEnded();

 private:
  void Release();

  pid_t pid_ = 0;
  UniqueFd pidfd_;
  int pidfd_error_ = 0;
  UniqueFd input_;
  UniqueFd output_;
  UniqueFd error_;
  std::string pending_;  // output read past the last line given out
};

}  // namespace platform::posix
