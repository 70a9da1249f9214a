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

namespace platform {

// Windows error codes, as LastErrorCode() and the registry functions give
// them on every system.
inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorWriteFault = 29;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorDiskFull = 112;
inline constexpr std::uint32_t kErrorBadExeFormat = 193;
inline constexpr std::uint32_t kErrorMoreData = 234;

// The calling thread's last error code, in Windows numbering (2 file not
// found, 5 access denied, 6 invalid handle, 87 invalid parameter, ...), set
// by the process and profile functions of this layer the way the Windows
// functions set theirs.
std::uint32_t LastErrorCode();
void SetLastErrorCode(std::uint32_t code);

// Like FormatMessageA with FORMAT_MESSAGE_FROM_SYSTEM and no inserts: stores
// the system's text for `code` followed by CR LF and a NUL in `buffer` and
// returns the number of characters stored before the NUL. Returns 0 (buffer
// untouched) when the system has no text for the code or `size` is less than
// the text's length + 1. On Linux the text is strerror() of the errno value
// that corresponds to the Windows code; codes without one have no text.
std::uint32_t FormatSystemMessage(std::uint32_t code, char* buffer, std::uint32_t size);

}  // namespace platform
