// Processes: start a command line, then open, wait for, query, terminate and
// close it by process id, with the semantics of the Windows functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

inline constexpr std::uint32_t kStillActive = 259;
inline constexpr std::uint32_t kProcessAllAccess = 0x1F0FFF;
inline constexpr std::uint32_t kWaitObject0 = 0;
inline constexpr std::uint32_t kWaitTimeout = 258;
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;

// Show states.
inline constexpr int kShowHidden = 0;
inline constexpr int kShowNormal = 1;

// How an unquoted command line is split, as Windows splits one: the program
// is the shortest prefix that ends at a blank (or at the end of the line) and
// names an existing file, tried as written and, when the name has no
// extension, with ".exe" added. The text after that blank is the argument
// text, which the program receives split into words by the rules of the
// Windows C runtime (blanks separate, double quotes group, backslashes before
// a quote escape it).
struct CommandLine {
  std::string program;                 // native path of the program file
  std::vector<std::string> arguments;  // argv[1..]
};
// Throws Failure 53 "File not found" when no prefix names a file.
CommandLine SplitCommandLine(const std::string& command_line);
std::vector<std::string> SplitArgumentText(const std::string& text);

// Starts the command line as a new process and returns its id without
// waiting. The new process runs in a process group of its own. A hidden start
// (kShowHidden) gets no terminal: standard input, output and error are
// /dev/null. Never goes through a shell. Throws Failure (53 when no program
// file is found, 75 when it cannot be run).
//
// With kKeepFirstLine the program's standard error goes to a pipe instead,
// of which the layer keeps the first line (see ProcessErrorLine) and drops
// the rest; it is drained while the program is waited for, so a program that
// writes much cannot block on it.
enum class ErrorOutput { kDiscard, kKeepFirstLine };
std::uint32_t StartProcess(const std::string& command_line, int show_state,
                           ErrorOutput error_output = ErrorOutput::kDiscard);

// The longest first line of error output that is kept, in bytes.
inline constexpr std::size_t kErrorLineBytes = 1024;

// Starts exactly `command.program` (a native path, used as it is: no search,
// no extension added) with `command.arguments` as its arguments, each passed
// whole whatever blanks or quotes it holds. Otherwise as StartProcess.
std::uint32_t StartProgram(const CommandLine& command, int show_state,
                           ErrorOutput error_output = ErrorOutput::kDiscard);

// A process handle; 0 is the null handle.
using ProcessHandle = std::intptr_t;

// Opens a process started by StartProcess. Returns 0 and sets the last error
// (87 for id 0 or an unknown id) on failure.
ProcessHandle OpenProcessHandle(std::uint32_t access, bool inherit, std::uint32_t process_id);
// Stores the exit code, or kStillActive while the process runs. False with
// last error 6 for an invalid handle.
bool GetProcessExitCode(ProcessHandle handle, std::uint32_t* exit_code);
// Blocks until the process ends or `milliseconds` pass: kWaitObject0 or
// kWaitTimeout (kWaitFailed for an invalid handle). One wait, no polling.
std::uint32_t WaitForProcess(ProcessHandle handle, std::uint32_t milliseconds);
// Ends a running process and every process in its group with `exit_code`.
// Fails (false, last error 5) when the process has already ended, and (false,
// last error 6) for an invalid handle.
//
// Either way nothing the process started outlives the call: this process is
// the child subreaper of what it starts (from the first StartProcess on), and
// the call kills every descendant of the process, also those that left its
// group or session, and every orphan handed to this process, then reaps the
// orphans (bounded by two seconds for processes stuck in the kernel).
bool TerminateProcessHandle(ProcessHandle handle, std::uint32_t exit_code);
// Releases the handle (and reaps the process when it has ended).
bool CloseProcessHandle(ProcessHandle handle);

// The first line that a process started with ErrorOutput::kKeepFirstLine has
// written to its standard error so far: without its line end, cut to
// kErrorLineBytes bytes; "" when there is none (or for any other process).
std::string ProcessErrorLine(ProcessHandle handle);

}  // namespace platform
