// A library for LD_PRELOAD that holds a program at the moment it puts a
// replaced file in place, so that a test can act while the program is in
// the middle of its save, whatever the machine's speed:
//
//   HOLD_RENAME_NAME=NAME   a rename() onto a file of the base name NAME waits
//   HOLD_RENAME_DIR=DIR     creates DIR/held when it starts to wait, and goes
//                           on once DIR/go exists (at most 120 s)
//
// Every other rename() goes straight to the C library's.
//
// It also tells what a program puts on disk, in the order it does it:
//
//   FLUSH_RECORD=FILE       every rename() and fsync() appends a line to FILE:
//                           "rename NAME" (the target's base name), "fsync
//                           NAME" for a file, "fsync NAME/" for a folder
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Record(const std::string& line) {
  const char* record = std::getenv("FLUSH_RECORD");
  if (record == nullptr) return;
  const int fd = ::open(record, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const std::string text = line + "\n";
  [[maybe_unused]] const ssize_t written = ::write(fd, text.data(), text.size());
  ::close(fd);
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

extern "C" int fsync(int fd) {
  using Fsync = int (*)(int);
  static const auto real = reinterpret_cast<Fsync>(dlsym(RTLD_NEXT, "fsync"));
  char path[4096];
  const ssize_t n =
      ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path - 1);
  struct stat st {};
  if (n > 0 && ::fstat(fd, &st) == 0) {
    const std::string name = BaseName(std::string(path, static_cast<std::size_t>(n)));
    Record("fsync " + name + (S_ISDIR(st.st_mode) ? "/" : ""));
  }
  return real(fd);
}

extern "C" int rename(const char* from, const char* to) noexcept {
  if (to != nullptr) Record(std::string("rename ") + BaseName(to));
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
