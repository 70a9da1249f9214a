// Profile (INI) files, with the behaviour of the Windows profile functions
// (WritePrivateProfileStringA, GetPrivateProfileStringA) for what this
// program asks of them: one value written, one value read.
//
// Section and key names match without regard to letter case and to blanks
// around them. A write re-reads the whole file and writes it back normalised
// (every line ends CR LF, blank lines dropped, blanks around names, "=" and
// values removed), through Files().ReplaceFileAtomicallyLazily, so that a
// crash never leaves a half-written file (it may undo the write); a file that would come out byte for byte
// as it is stays untouched. Text is stored in the system code page (UTF-8 on
// Linux); a file that starts with a UTF-8 or UTF-16 LE byte-order mark is
// understood and written back in that form.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Sets `key` in `section` to `value`: the first matching line of the first
// matching section is updated in place (keeping the file's spelling of the
// names), a new key goes to the end of its section, a new section to the end
// of the file. Leading blanks of the names and the value are dropped, trailing
// ones are written as given (the next write normalises them). False on
// failure, with LastErrorCode() set (3 when the file's folder does not exist,
// 112 for a full disk).
bool WriteProfileValue(const std::string& section, const std::string& key, const std::string& value,
                       const std::string& path);

// The value of `key` in the first `section` of that name: blanks and tabs
// trimmed, one pair of equal outer quotes (" or ') removed. Empty when the
// file, section or key does not exist (LastErrorCode() 2 for a missing file,
// 3 for a missing folder). At most `max_chars` characters, cut as Windows cuts
// for a buffer of max_chars + 1: the value is cut before its closing quote is
// dropped, so a quoted value whose closing quote does not fit loses one more
// character; a cut never splits a UTF-8 sequence.
std::string ReadProfileValue(const std::string& section, const std::string& key,
                             std::size_t max_chars, const std::string& path);

}  // namespace platform
