// Files named the way the system names them, and shared libraries loaded at
// run time, for the parts of a program that only some runs need.
//
// Unlike FileSystem (see filesystem.h), a native path is taken as it is: no
// separator translation, no letter-case matching, and symbolic links are
// followed, as any other reader of a user-given file path would.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// The bytes of the file at `native_path`, read up to `max_bytes`. A file
// holding more sets `*too_large` and returns what was read so far. A folder
// reads as empty. Throws Failure: 53 / 70 / 76 when the file cannot be opened
// (not there, not allowed, a path component is not a folder), 75 when it
// cannot be read.
std::string ReadNativeFile(const std::string& native_path, std::size_t max_bytes, bool* too_large);

// The native path of the file that the decoded path of a file URL names, as
// libcurl opens it on the system. On Linux that is the path itself. On
// Windows a drive letter after the first slash starts the path, its colon
// also written as "|" by some browsers ("/C:/feeds/a.xml" and
// "/C|/feeds/a.xml" are "C:\feeds\a.xml"), a path without one lies on the
// current drive ("/feeds/a.xml" is "\feeds\a.xml"), and every "/" becomes
// "\".
std::string FileUrlNativePath(const std::string& url_path);

// Loads the shared library `name` (searched for the way the system searches
// for a program's own libraries) and keeps it loaded for the rest of the run.
// Throws Failure 53 with the loader's own reason when it cannot be loaded.
void* LoadSharedLibrary(const std::string& name);

// The address of `symbol` in a library from LoadSharedLibrary; nullptr when
// the library has no such symbol.
void* SharedLibrarySymbol(void* library, const char* symbol);

}  // namespace platform
