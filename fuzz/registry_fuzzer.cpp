// The registry file reader: /etc/rssnotify/registry.reg as an administrator
// or a damaged disk left it.
//
// A malformed value makes only that value unreadable: opening and querying
// never throws (a "hex(zz)" type once ended the program without a log
// line), and the two-step size query always agrees with the read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/last_error.h"
#include "platform/registry.h"

namespace {

using fuzz::Fail;

void QueryAll(platform::RegRoot root, const char* sub_key, const std::vector<std::string>& names) {
  std::unique_ptr<platform::RegKey> key;
  if (platform::OpenRegKey(root, sub_key, 0, platform::kKeyQueryValue, key) !=
      platform::kErrorSuccess) {
    return;
  }
  for (const std::string& name : names) {
    std::uint32_t type = 0;
    std::uint32_t needed = 0;
    if (key->QueryValue(name, &type, nullptr, &needed) != platform::kErrorSuccess) continue;
    std::vector<unsigned char> data(needed + 1, 0xA5);
    std::uint32_t size = needed;
    if (needed > 0) {
      std::uint32_t small = needed - 1;
      if (key->QueryValue(name, &type, data.data(), &small) != platform::kErrorMoreData) {
        Fail("a too-small buffer was accepted", name);
      }
    }
    if (key->QueryValue(name, &type, data.data(), &size) != platform::kErrorSuccess) {
      Fail("a value of the size asked for does not read", name);
    }
    if (size != needed) Fail("a read size differs from the size query", name);
    if (data[needed] != 0xA5) Fail("a read past the value's size", name);
  }
  std::string text;
  platform::RegReadText(root, sub_key, names.front(), text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = [] {
    std::string file = fuzz::ScratchFolder() + "/registry.reg";
    ::setenv("RSSNOTIFY_REGISTRY", file.c_str(), 1);
    return file;
  }();
  fuzz::WriteFile(path, std::string(reinterpret_cast<const char*>(data), size));
  QueryAll(platform::kHkeyLocalMachine, "SOFTWARE\\KESTRA",
           {"InstallationPath", "RegID", "siteid", "MemberID", "Type", "X", ""});
  QueryAll(platform::kHkeyClassesRoot, "Flarebox.Display\\LocalServer32", {"", "X"});
  return 0;
}
