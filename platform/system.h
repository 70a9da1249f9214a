// Small facts about the running process and its user.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The value of an environment variable, or nothing when it is not set.
std::optional<std::string> EnvironmentValue(const std::string& name);
// Sets an environment variable of this process, which the programs it starts
// from then on inherit. Throws Failure 5 when the system refuses.
void SetEnvironmentValue(const std::string& name, const std::string& value);

// The id of this process, as the programs it starts see it as their parent's.
std::uint32_t CurrentProcessId();

// Like GetUserNameA: copies the logon name of the current user and a
// terminating NUL into `buffer`. `size` holds the buffer's size on entry and,
// on success, the number of bytes stored including the NUL. Returns false
// (buffer untouched) when the name does not fit or cannot be found.
bool QueryUserName(char* buffer, std::uint32_t* size);

// Removes the process from the list of running applications shown to the
// user. Linux has no such list for a windowless program: a no-op there.
void HideFromTaskList();

// Memory a short-lived program frees stays with it for its next allocations:
// a run copies a whole feed document several times over, and the pages of
// each new copy would otherwise be handed back to the system and faulted in
// again. (The Windows heap keeps freed blocks for reuse as it is: a no-op
// there.)
void KeepFreedMemory();

// The running executable's file name without folder and extension.
std::string ExecutableBaseName();

// The program's arguments after its own name, in UTF-8. On Linux these are
// `argv` as given. On Windows they are read from the program's command line
// in UTF-16 and split by the C runtime's rules: `argv` holds them in the
// system's code page, which cannot hold every character of a URL or a path.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Local calendar time, to the second.
struct LocalTime {
  int year = 0;    // e.g. 2026
  int month = 0;   // 1..12
  int day = 0;     // 1..31
  int hour = 0;    // 0..23
  int minute = 0;  // 0..59
  int second = 0;  // 0..60
};
LocalTime Now();

// Ends the process at once with `status`: no destructors, no atexit
// handlers. Open files that were not closed are closed by the system.
[[noreturn]] void ExitProcess(int status);

}  // namespace platform
