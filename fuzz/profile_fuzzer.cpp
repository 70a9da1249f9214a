// The INI reader: an update-state file as a damaged disk or an earlier
// program left it.
//
// Every section and key it lists can be read within any buffer size, and a
// value written into the file reads back as written (a rewrite once changed
// a file's encoding, and the next read lost the whole state).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/profile.h"

namespace {

using fuzz::Fail;

// The NUL-separated names that a listing call returns.
std::vector<std::string> Names(const char* section, const std::string& path) {
  std::vector<char> buffer(4096);
  const std::uint32_t count = platform::ReadProfileValue(
      section, nullptr, "", buffer.data(), static_cast<std::uint32_t>(buffer.size()), path);
  if (count >= buffer.size()) Fail("a listing longer than its buffer");
  std::vector<std::string> names;
  for (std::size_t at = 0; at < count;) {
    const std::string name(buffer.data() + at);
    if (name.empty()) break;
    names.push_back(name);
    at += name.size() + 1;
  }
  return names;
}

void CheckRead(const std::string& section, const std::string& key, const std::string& path) {
  for (const std::uint32_t size : {1u, 2u, 7u, 300u}) {
    std::vector<char> buffer(size + 1, '#');
    const std::uint32_t count =
        platform::ReadProfileValue(section.c_str(), key.c_str(), "dflt", buffer.data(), size, path);
    if (count >= size) Fail("a value longer than its buffer", key);
    if (buffer[count] != '\0') Fail("a value without its NUL", key);
    if (buffer[size] != '#') Fail("a read past the buffer", key);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::ScratchFolder() + "/LastUpdates_fuzz.ini";
  fuzz::WriteFile(path, std::string(reinterpret_cast<const char*>(data), size));

  const std::vector<std::string> sections = Names(nullptr, path);
  for (std::size_t s = 0; s < sections.size() && s < 8; ++s) {
    const std::vector<std::string> keys = Names(sections[s].c_str(), path);
    for (std::size_t k = 0; k < keys.size() && k < 8; ++k) CheckRead(sections[s], keys[k], path);
  }

  const char* written = "https://example.com/2026/12/item";
  if (platform::WriteProfileValue("Link_1_T1_3", "LatestGUID", written, path) == 0) {
    Fail("a write into an existing file failed");
  }
  char buffer[128];
  platform::ReadProfileValue("Link_1_T1_3", "LatestGUID", "", buffer, sizeof buffer, path);
  if (std::strcmp(buffer, written) != 0) Fail("a written value does not read back", buffer);
  return 0;
}
