// Starting programs with a bounded wait: start a program, wait up to a time
// for it to end, end it with everything it started, and tell whether that
// was needed. Never through a shell.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/command_line.h"

namespace platform {

// Show states.
inline constexpr int kShowHidden = 0;
inline constexpr int kShowNormal = 1;

// What becomes of the program's error output. With kKeepFirstLine the layer
// keeps its first line (see StartedProgram::ErrorLine) and drops the rest; it
// is drained while the program is waited for, so a program that writes much
// cannot block on it. With kDiscard it goes where this process's goes (for a
// hidden start: nowhere).
enum class ErrorOutput { kDiscard, kKeepFirstLine };

// The longest first line of error output that is kept, in bytes.
inline constexpr std::size_t kErrorLineBytes = 1024;

// A program started by StartProcess or StartProgram. Destroying the object
// leaves a program that still runs running: nothing waits for it or ends it.
class StartedProgram {
 public:
  struct State;
  explicit StartedProgram(std::unique_ptr<State> state);
  StartedProgram(StartedProgram&&) noexcept;
  StartedProgram& operator=(StartedProgram&&) noexcept;
  ~StartedProgram();

  // The process id; 0 when no process was started.
  std::uint32_t id() const;
  // Whether the program can be watched (waited for and ended). False when no
  // process was started, or when it started but could not be opened for
  // watching; LastErrorCode() then tells why (87 for a process that is gone,
  // 5 otherwise). Such a program runs on by itself. The calls below need a
  // watched program.
  bool watched() const;

  // Whether it has ended (by itself or ended by EndGroup).
  bool HasEnded();
  // Blocks until the program ends or `milliseconds` pass: one wait, no
  // polling. True when it ended.
  bool Wait(std::uint32_t milliseconds);
  // Ends the program and every process in its group. True when the program
  // was still running and had to be ended; false when it had ended by itself
  // (last error 5, as Windows refuses to terminate an ended process; callers
  // tell "finished in time" from "had to be killed" by this).
  //
  // Either way nothing the program started outlives the call: every process
  // it started, directly or not, also one that left its group or session or
  // whose parent has ended, is ended with it. The program itself is gone when
  // the call returns, within a bound of two seconds for processes the system
  // is slow to end. (Windows holds the program in a job and ends the job;
  // Linux makes this process the subreaper of what it starts and kills the
  // program's descendants and the orphans handed to it.)
  bool EndGroup();
  // The first line that a program started with ErrorOutput::kKeepFirstLine
  // has written to its standard error so far: without its line end (line ends
  // before any text are skipped), cut to kErrorLineBytes bytes; "" when there
  // is none (or for a program started with kDiscard).
  std::string ErrorLine();

 private:
  std::unique_ptr<State> state_;
};

// Starts the command line, split by SplitCommandLine, as a new process in a
// process group of its own, without waiting. Standard input never comes from
// the terminal; a hidden start (kShowHidden) gets no terminal output either.
// Throws Failure 53 (last error 2) when no program file is found and 75 when
// it cannot be run (last error 193 for a file that is no program, 5 for one
// that may not be run).
StartedProgram StartProcess(const std::string& command_line, int show_state,
                            ErrorOutput error_output = ErrorOutput::kDiscard);
// Starts exactly `command.program` (a native path, used as it is: no search,
// no extension added) with `command.arguments`, each passed whole. Otherwise
// as StartProcess.
StartedProgram StartProgram(const CommandLine& command, int show_state,
                            ErrorOutput error_output = ErrorOutput::kDiscard);

// For a program that a program of the product starts and waits for (the
// converter): makes this process end when its starter ends, however that
// ends, killed included, so that no call of an earlier run lives on beside a
// later one. `starter_id` is the starter's process id as the starter gave
// it. False when the starter has already ended or is not the one that
// started this process: the caller then ends at once. On Linux the system
// sends a kill when the parent ends; on Windows the starter's job does it.
bool EndWithStarter(std::uint32_t starter_id);

}  // namespace platform
