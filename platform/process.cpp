// Starting a command line: the split is the same on every system, the start
// is the system's (StartProgram).
#include "platform/process.h"

#include "platform/command_line.h"
#include "platform/failure.h"
#include "platform/last_error.h"

namespace platform {

StartedProgram StartProcess(const std::string& command_line, int show_state,
                            ErrorOutput error_output) {
  CommandLine split;
  try {
    split = SplitCommandLine(command_line);
  } catch (const Failure&) {
    // A line that names no program finds no file.
    SetLastErrorCode(kErrorFileNotFound);
    throw;
  }
  return StartProgram(split, show_state, error_output);
}

}  // namespace platform
