// Profile (INI) files, with the behaviour of the Windows profile functions.
//
// Section and key names match without regard to letter case and to blanks
// around them. A write re-reads the whole file and writes it back normalised
// (every line ends CR LF, blank lines dropped, blanks around names, "=" and
// values removed), through Files().ReplaceFileAtomically, so that a crash
// never leaves a half-written file. Text is stored in the system code page
// (UTF-8 on Linux); a file that starts with a UTF-8 or UTF-16 LE byte-order
// mark is understood and written back in that form.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Like WritePrivateProfileStringA. `key` null deletes the whole section,
// `value` null deletes the key. Returns non-zero on success; 0 on failure with
// LastErrorCode() set (3 when the file's folder does not exist).
std::uint32_t WriteProfileValue(const char* section, const char* key, const char* value,
                                 const std::string& path);

// Like GetPrivateProfileStringA. Copies the value (blanks and tabs trimmed,
// one pair of equal outer quotes removed), or `default_value` when the file,
// section or key does not exist, into `buffer`, at most size - 1 characters
// followed by a NUL, and returns the number of characters copied. A null
// section (key) lists the section (key) names, NUL-separated, ending in an
// extra NUL.
std::uint32_t ReadProfileValue(const char* section, const char* key, const char* default_value,
                               char* buffer, std::uint32_t size, const std::string& path);

}  // namespace platform
