// The message box on Linux: a desktop notification of critical urgency that
// stays until the user closes it. Without a desktop session (no bus, no
// notification service) the message goes to standard error instead, so that
// an unattended run neither loses it nor waits for nobody.
//
// The notification needs GIO and GLib, which cost every start of the program
// several milliseconds to load. So the desktop half lives in a module beside
// the executable, loaded at the first box; a module that is missing or does
// not load counts as no desktop.
#include "platform/messagebox.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/desktop/messagebox_module.h"
#include "platform/system.h"

namespace platform {
namespace {

// The folder of the running executable, with a trailing "/"; "" when unknown.
std::string ExecutableFolder() {
  std::string path(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= path.size()) return {};
  path.resize(static_cast<std::size_t>(n));
  return path.substr(0, path.find_last_of('/') + 1);
}

ShowMessageBoxEntry DesktopEntry() {
  static ShowMessageBoxEntry entry = [] {
    const std::string folder = ExecutableFolder();
    if (folder.empty()) return ShowMessageBoxEntry{};
    void* module = ::dlopen((folder + kMessageBoxModule).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) return ShowMessageBoxEntry{};
    return reinterpret_cast<ShowMessageBoxEntry>(::dlsym(module, kMessageBoxEntry));
  }();
  return entry;
}

}  // namespace

int ShowMessageBox(const std::string& text, const std::string& caption, std::uint32_t style) {
  if (ShowMessageBoxEntry show = DesktopEntry()) {
    if (show(ExecutableBaseName().c_str(), text.c_str(), caption.c_str(), style) != 0) {
      return kIdOk;
    }
  }
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  std::fflush(stderr);
  return kIdOk;
}

}  // namespace platform
