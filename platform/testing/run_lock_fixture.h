// The other claimants in the run lock's tests. Each system's test file
// defines them (platform/posix/run_lock_test.cpp,
// platform/win32/run_lock_test.cpp), so that the lock's contract is written
// once, in platform/run_lock_test.cpp.
#pragma once

#include <memory>
#include <string>

namespace platform::testing {

// Another process that takes the run lock of `folder` and holds it until it
// is killed. The constructor returns once it holds the lock (and fails the
// test when it could not take it).
class OtherHolder {
 public:
  explicit OtherHolder(const std::string& folder);
  ~OtherHolder();
  OtherHolder(const OtherHolder&) = delete;
  OtherHolder& operator=(const OtherHolder&) = delete;
  // Ends it the hard way, as a crash would; it is gone when this returns.
  void Kill();

 private:
  struct Process;
  std::unique_ptr<Process> process_;
};

// A program that sleeps for a while, started the way that hands a program
// whatever this process lets its children inherit. It is ended with the
// object.
class Sleeper {
 public:
  explicit Sleeper(const std::string& scratch_folder);
  ~Sleeper();
  Sleeper(const Sleeper&) = delete;
  Sleeper& operator=(const Sleeper&) = delete;
  bool Running();

 private:
  struct Process;
  std::unique_ptr<Process> process_;
};

}  // namespace platform::testing
