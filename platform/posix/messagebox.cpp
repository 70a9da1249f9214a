#include "platform/messagebox.h"

#include <cstdio>

namespace platform {
int ShowMessageBox(const std::string& text, const std::string& caption, std::uint32_t) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  return kIdOk;
}
}  // namespace platform
