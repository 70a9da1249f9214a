// The child program of the process tests and a look at processes apart from
// the layer. Each system's test file defines them
// (platform/posix/process_test.cpp, platform/win32/process_test.cpp), so
// that the contract of starting, waiting for and ending programs is written
// once, in platform/process_test.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform::testing {

// The native path of the child program, which does what its first argument
// names:
//   exit N          ends with exit code N
//   sleep MS        sleeps MS milliseconds, then ends with 0
//   args FILE ...   writes each later argument to FILE as "[argument]" lines
//   spawn FILE      starts a program that sleeps a minute, writes its
//                   process id to FILE, then sleeps a minute itself
//   stderr TEXT     writes TEXT to standard error
//   flood BYTES     writes "\r\nfirst line\nsecond line\n" and BYTES more
//                   bytes to standard error
//   input FILE      writes "end of input" to FILE when its standard input
//                   has nothing to read
// FILEs are written whole, under another name first, so that a reader never
// sees a part.
std::string ChildProgram();

// Puts at `path` a file that must not be run in the child's place: one that
// cannot start, or one that writes "planted" to "out" beside itself.
void PlantDecoy(const std::string& path);

// Makes the file at `path` one that this system would try to run.
void MakeRunnable(const std::string& path);

// A process of the system by its id, looked at without the layer. One still
// running when the object goes is ended.
class ProcessLook {
 public:
  explicit ProcessLook(std::uint32_t id);
  ~ProcessLook();
  ProcessLook(const ProcessLook&) = delete;
  ProcessLook& operator=(const ProcessLook&) = delete;
  // Whether the process could be found.
  bool valid() const;
  // True when the process has ended or ends within `milliseconds`.
  bool EndsWithin(std::uint32_t milliseconds);
  // Ends it the hard way.
  void Terminate();
  // The exit code of the ended process (a child of this one not yet let go
  // of, on Linux).
  std::uint32_t ExitCode();

 private:
  struct Process;
  std::unique_ptr<Process> process_;
};

}  // namespace platform::testing
