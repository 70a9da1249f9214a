#include "platform/native_files.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/failure.h"
#include "platform/posix/unique_fd.h"

namespace platform {
namespace {

long OpenFailureNumber(int error) {
  switch (error) {
    case ENOENT:
      return err::kFileNotFound;
    case EACCES:
    case EPERM:
      return err::kPermissionDenied;
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
      return err::kPathNotFound;
    default:
      return err::kPathFileAccess;
  }
}

}  // namespace

std::string ReadNativeFile(const std::string& native_path, std::size_t max_bytes, bool* too_large) {
  *too_large = false;
  UniqueFd file(::open(native_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (file.get() < 0) {
    const int error = errno;
    throw Failure(OpenFailureNumber(error), native_path + ": " + std::strerror(error));
  }
  struct stat info {};
  if (::fstat(file.get(), &info) == 0 && S_ISDIR(info.st_mode)) return {};
  std::string bytes;
  // A regular file says its size: read it in one go when it fits.
  if (::fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    const auto size = static_cast<std::size_t>(info.st_size);
    if (size > max_bytes) {
      *too_large = true;
      return {};
    }
    bytes.reserve(size + 1);
  }
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      throw Failure(err::kPathFileAccess, native_path + ": " + std::strerror(error));
    }
    if (n == 0) break;
    const auto length = static_cast<std::size_t>(n);
    // The file may grow while it is read: the bound holds on what was read.
    if (bytes.size() + length > max_bytes) {
      *too_large = true;
      return bytes;
    }
    bytes.append(buffer, length);
  }
  return bytes;
}

std::string FileUrlNativePath(const std::string& url_path) {
  return url_path;
}

void* LoadSharedLibrary(const std::string& name) {
  void* library = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* reason = ::dlerror();
    throw Failure(err::kFileNotFound, reason != nullptr ? reason : name + ": cannot be loaded");
  }
  return library;
}

void* SharedLibrarySymbol(void* library, const char* symbol) {
  return ::dlsym(library, symbol);
}

}  // namespace platform
