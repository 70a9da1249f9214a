// Helpers shared by the libFuzzer harnesses.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

// Stops the run with a message: libFuzzer records the input as a crash.
[[noreturn]] inline void Fail(const char* what, const std::string& detail = {}) {
  std::fprintf(stderr, "fuzz check failed: %s%s%s\n", what, detail.empty() ? "" : ": ",
               detail.c_str());
  std::abort();
}

// A private folder for the harnesses whose readers take a file path; made on
// first use and removed when the process ends.
const std::string& ScratchFolder();

// Writes `bytes` to `path`, replacing what was there.
void WriteFile(const std::string& path, const std::string& bytes);

}  // namespace fuzz
