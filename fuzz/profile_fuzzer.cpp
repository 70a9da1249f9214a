// The INI reader: an update-state file as a damaged disk or an earlier
// program left it.
//
// Every section and key the file seems to hold can be read within any
// length, and a value written into the file reads back as written (a rewrite
// once changed a file's encoding, and the next read lost the whole state).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/profile.h"

namespace {

using fuzz::Fail;

std::string_view Trimmed(std::string_view text) {
  const std::size_t start = text.find_first_not_of(" \t");
  if (start == std::string_view::npos) return {};
  return text.substr(start, text.find_last_not_of(" \t") - start + 1);
}

// The (section, key) pairs the input's lines look like, in file order: a
// line "[name]" opens a section, a line "key=..." names a key in it. The
// reader decides what they really are; this only picks names to ask for.
std::vector<std::pair<std::string, std::string>> Names(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> names;
  std::string section;
  while (!text.empty()) {
    const std::size_t end = text.find_first_of("\r\n");
    const std::string_view line = Trimmed(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    const std::size_t close = line.rfind(']');
    if (!line.empty() && line.front() == '[' && close != std::string_view::npos) {
      section = std::string(Trimmed(line.substr(1, close - 1)));
    } else if (const std::size_t equals = line.find('='); equals != std::string_view::npos) {
      names.emplace_back(section, std::string(Trimmed(line.substr(0, equals))));
    }
  }
  return names;
}

void CheckRead(const std::string& section, const std::string& key, const std::string& path) {
  for (const std::size_t max_chars : {0u, 1u, 6u, 299u}) {
    const std::string value = platform::ReadProfileValue(section, key, max_chars, path);
    if (value.size() > max_chars) Fail("a value longer than asked for", key);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::ScratchFolder() + "/LastUpdates_fuzz.ini";
  const std::string input(reinterpret_cast<const char*>(data), size);
  fuzz::WriteFile(path, input);

  const auto names = Names(input);
  for (std::size_t i = 0; i < names.size() && i < 64; ++i) {
    CheckRead(names[i].first, names[i].second, path);
  }

  const std::string written = "https://example.com/2026/12/item";
  if (!platform::WriteProfileValue("Link_1_T1_3", "LatestGUID", written, path)) {
    Fail("a write into an existing file failed");
  }
  const std::string read = platform::ReadProfileValue("Link_1_T1_3", "LatestGUID", 127, path);
  if (read != written) Fail("a written value does not read back", read);
  return 0;
}
