#include "platform/native_files.h"

#include <windows.h>

#include "platform/ascii.h"
#include "platform/failure.h"
#include "platform/win32/system_message.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

long OpenFailureNumber(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
      return err::kFileNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return err::kPermissionDenied;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY:
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return err::kPathNotFound;
    default:
      return err::kPathFileAccess;
  }
}

// The system's own text for an error, without its line end.
std::string Reason(DWORD error) {
  return SystemMessageLine(error, "error " + std::to_string(error));
}

}  // namespace

std::string ReadNativeFile(const std::string& native_path, std::size_t max_bytes, bool* too_large) {
  *too_large = false;
  // Backup semantics lets a folder be opened, so that it reads as empty.
  UniqueHandle file(::CreateFileW(Widen(native_path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) {
    const DWORD error = ::GetLastError();
    throw Failure(OpenFailureNumber(error), native_path + ": " + Reason(error));
  }
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = ::GetFileInformationByHandle(file.get(), &info) != 0;
  if (known && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return {};
  std::string bytes;
  // A disk file says its size: read it in one go when it fits.
  if (known && ::GetFileType(file.get()) == FILE_TYPE_DISK) {
    const std::uint64_t size =
        (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (size > max_bytes) {
      *too_large = true;
      return {};
    }
    bytes.reserve(static_cast<std::size_t>(size) + 1);
  }
  char buffer[65536];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_BROKEN_PIPE) break;  // a pipe's writer has gone: its end
      throw Failure(err::kPathFileAccess, native_path + ": " + Reason(error));
    }
    if (n == 0) break;
    // The file may grow while it is read: the bound holds on what was read.
    if (bytes.size() + n > max_bytes) {
      *too_large = true;
      return bytes;
    }
    bytes.append(buffer, n);
  }
  return bytes;
}

std::string FileUrlNativePath(const std::string& url_path) {
  std::string path = url_path;
  if (path.size() >= 3 && path[0] == '/' && ascii::IsLetter(path[1]) &&
      (path[2] == ':' || path[2] == '|')) {
    path.erase(0, 1);
    path[1] = ':';
  }
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

void* LoadSharedLibrary(const std::string& name) {
  // The program's own folder and the system's, never the current folder or
  // PATH, from which a stranger's library of the same name could come.
  HMODULE library =
      ::LoadLibraryExW(Widen(name).c_str(), nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  if (library == nullptr) {
    throw Failure(err::kFileNotFound, name + ": " + Reason(::GetLastError()));
  }
  return reinterpret_cast<void*>(library);
}

void* SharedLibrarySymbol(void* library, const char* symbol) {
  FARPROC address = ::GetProcAddress(static_cast<HMODULE>(library), symbol);
  return reinterpret_cast<void*>(address);
}

}  // namespace platform
