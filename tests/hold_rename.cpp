// A library for LD_PRELOAD that holds a program at the moment it puts a
// replaced file in place, so that a test can act while the program is in
// the middle of its save, whatever the machine's speed:
//
//   HOLD_RENAME_NAME=NAME   a rename() onto a file of the base name NAME waits
//   HOLD_RENAME_DIR=DIR     creates DIR/held when it starts to wait, and goes
//                           on once DIR/go exists (at most 120 s)
//
// Every other rename() goes straight to the C library's.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int rename(const char* from, const char* to) noexcept {
  using Rename = int (*)(const char*, const char*);
  static const auto real = reinterpret_cast<Rename>(dlsym(RTLD_NEXT, "rename"));
  const char* name = std::getenv("HOLD_RENAME_NAME");
  const char* dir = std::getenv("HOLD_RENAME_DIR");
  if (name != nullptr && dir != nullptr && to != nullptr) {
    const char* slash = std::strrchr(to, '/');
    if (std::strcmp(slash != nullptr ? slash + 1 : to, name) == 0) {
      const std::string held = std::string(dir) + "/held";
      const std::string go = std::string(dir) + "/go";
      const int fd = ::open(held.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
      if (fd >= 0) ::close(fd);
      for (int i = 0; i < 12000 && ::access(go.c_str(), F_OK) != 0; ++i) ::usleep(10000);
    }
  }
  return real(from, to);
}
