// Starting the product's external programs with a bounded wait.
#pragma once

#include <cstdint>
#include <string>

#include "platform/process.h"

// What a caller that waits for a program may want to know beyond the result.
struct ProgramOutcome {
  bool killed = false;     // still running at the end of the wait, and ended then
  std::string error_line;  // first line of its error output (bounded), "" when none
};

// With `outcome`, the program's error output is kept (its first line) and
// `outcome` is filled when the wait is seen through.
std::int16_t fncExecuteShell(std::string command_line, std::int32_t timeout_ms,
                             std::int16_t hide_window, ProgramOutcome* outcome = nullptr);
// The same, but starts exactly `program` rather than what a split of the
// command line would find (a shorter prefix of a path with blanks can name
// another program, and a blank in an argument would cut it). The log still
// shows `command_line`, the text the line stands for.
std::int16_t fncExecuteShell(std::string command_line, std::int32_t timeout_ms,
                             std::int16_t hide_window, const platform::CommandLine& program,
                             ProgramOutcome* outcome = nullptr);
// Ends `program` with everything it started; the log tells whether it was
// still running.
std::int16_t fncTerminateProcess(platform::StartedProgram& program, std::string& reason);
std::string fncFormatMessage(std::int32_t error_code);
