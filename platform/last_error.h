// The last error code of the calling thread, in Windows numbering on every
// system, and the system's text for a code.
#pragma once

#include <cstdint>

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
