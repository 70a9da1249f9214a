// The file system on Windows, through the wide functions: the program's
// UTF-8 paths reach the system whole, whatever their characters.
//
// Every handle is opened with all three share modes, as close to a Linux
// descriptor as the system comes: a file one process reads or appends to
// can still be opened, renamed or deleted by another.
#include "platform/filesystem.h"

#include <windows.h>

#include <atomic>
#include <climits>
#include <iterator>

#include "platform/failure.h"
#include "platform/file_replacement.h"
#include "platform/text_encoding.h"
#include "platform/text_streams.h"
#include "platform/win32/last_error_failure.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Closes a handle at the end of a scope unless it was handed on.
// Writes all of `size` bytes.
bool WriteAll(HANDLE file, const char* data, std::size_t size) {
  while (size > 0) {
    const DWORD piece = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(file, data, piece, &written, nullptr)) return false;
    data += written;
    size -= written;
  }
  return true;
}

bool WriteAll(HANDLE file, const std::string& bytes) {
  return WriteAll(file, bytes.data(), bytes.size());
}

class Win32WriteStream final : public FileWriteStream {
 public:
  Win32WriteStream(UniqueHandle file, bool unicode)
      : FileWriteStream(unicode), file_(std::move(file)) {}

 private:
  bool IsOpen() const override { return file_.valid(); }
  void WriteBytes(const std::string& bytes) override {
    if (!WriteAll(file_.get(), bytes)) throw FailureFromLastError(::GetLastError(), {});
  }
  void CloseFile() override {
    if (!file_.Close()) throw FailureFromLastError(::GetLastError(), {});
  }

  UniqueHandle file_;
};

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// A symbolic link or a junction (a folder link) stands at the path. Other
// reparse points (a deduplicated or cloud file) are the file itself.
bool IsLink(const std::string& native) {
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileExW(Widen(native).c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return false;
  ::FindClose(search);
  return (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
         (found.dwReserved0 == IO_REPARSE_TAG_SYMLINK ||
          found.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT);
}

// Checks that an open handle is a plain file, not a folder, a device or a
// link opened as itself.
void RequirePlainFile(HANDLE file, const std::string& native) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    throw NotAFile(native);
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsLink(native)) {
    throw LinkInTheWay(native);
  }
}

// Folder (with its trailing separator) and name of a native path.
void SplitPath(const std::string& native, std::string& folder, std::string& name) {
  const std::size_t slash = native.find_last_of("\\/:");
  folder = slash == std::string::npos ? "" : native.substr(0, slash + 1);
  name = slash == std::string::npos ? native : native.substr(slash + 1);
}

// Six characters that make a temporary name unlikely to be taken; creation
// is exclusive, so a taken one only costs another try.
std::string UniqueSuffix() {
  static std::atomic<std::uint64_t> counter{0};
  LARGE_INTEGER now{};
  ::QueryPerformanceCounter(&now);
  std::uint64_t mix = static_cast<std::uint64_t>(now.QuadPart) ^
                      (static_cast<std::uint64_t>(::GetCurrentProcessId()) << 32) ^
                      (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
  mix ^= mix >> 29;
  mix *= 0xBF58476D1CE4E5B9ull;
  mix ^= mix >> 32;
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix;
  for (int i = 0; i < 6; ++i) {
    suffix += kLetters[mix % 62];
    mix /= 62;
  }
  return suffix;
}

// A new, empty temporary file beside `native`, created exclusively (so no
// link or file someone put there is ever opened). Its name,
// ".<name>.tmp-XXXXXX", lets a later run recognise one that a killed run
// left behind. `access` FILE_APPEND_DATA makes every write an append: a
// line another process appends to the same file (a run that found the lock
// held) is never overwritten.
UniqueHandle CreateTemporaryBeside(const std::string& native, DWORD access, std::string& temp) {
  std::string folder, name;
  SplitPath(native, folder, name);
  for (int attempt = 0;; ++attempt) {
    temp = folder + "." + name + ".tmp-" + UniqueSuffix();
    UniqueHandle file(::CreateFileW(Widen(temp).c_str(), access, kShareAll, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.valid()) return file;
    const DWORD error = ::GetLastError();
    if ((error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) && attempt < 100) continue;
    if (error == ERROR_FILE_NOT_FOUND) throw Failure(err::kPathNotFound);
    throw FailureFromLastError(error, native);
  }
}

// Waits between the tries of a rename over a file that is held at that
// moment: a few tries within about a second (0.75 s of waits in all).
constexpr DWORD kHeldTargetWaitsMs[] = {25, 50, 100, 200, 375};

// Whether a refused rename over `target` may go through a moment later: the
// target is a plain, writable file that someone holds open just then. Another
// writer renaming its own new file over it holds it so for an instant (under
// Wine any open handle refuses the rename, a reader's too). A folder or a
// read-only file in its place refuses for good.
bool HeldAtTheMoment(DWORD error, const std::wstring& target) {
  if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION &&
      error != ERROR_LOCK_VIOLATION) {
    return false;
  }
  const DWORD attributes = ::GetFileAttributesW(target.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
}

// Renames `temp` over `native` (MoveFileExW with `flags`), trying again a few
// times while the target is held at the moment. ERROR_SUCCESS, or the system's
// error code of the last try.
DWORD RenameOver(const std::string& temp, const std::string& native, DWORD flags) {
  const std::wstring from = Widen(temp);
  const std::wstring to = Widen(native);
  for (std::size_t waited = 0;; ++waited) {
    if (::MoveFileExW(from.c_str(), to.c_str(), flags)) return ERROR_SUCCESS;
    const DWORD error = ::GetLastError();
    if (waited == std::size(kHeldTargetWaitsMs) || !HeldAtTheMoment(error, to)) return error;
    ::Sleep(kHeldTargetWaitsMs[waited]);
  }
}

// Nanoseconds since 1970 of a file time (100 ns steps since 1601).
std::int64_t Nanoseconds(std::int64_t file_time) {
  return (file_time - 116444736000000000LL) * 100;
}

std::int64_t FileTimeValue(const FILETIME& time) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                   time.dwLowDateTime);
}

class Win32FileSystem : public ReplacingFileSystem {
 public:
  bool FolderExists(const std::string& path) override {
    const DWORD attributes = ::GetFileAttributesW(Widen(NativePath(path)).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }

  bool FileExists(const std::string& path) override {
    const DWORD attributes = ::GetFileAttributesW(Widen(NativePath(path)).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }

  void CreateFolder(const std::string& path) override {
    // The new folder takes the inheritable permissions of its parent, as
    // every file made in it does: a shared data folder stays shared.
    const std::string native = NativePath(path);
    if (!::CreateDirectoryW(Widen(native).c_str(), nullptr)) {
      throw FailureFromLastError(::GetLastError(), native);  // 183 -> 58, 3 -> 76
    }
  }

  std::unique_ptr<TextStream> CreateTextFile(const std::string& path, bool overwrite,
                                             bool unicode) override {
    const std::string native = NativePath(path);
    constexpr DWORD kAppend = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    UniqueHandle file;
    if (overwrite) {
      // Never open what stands there: another user of a shared folder may
      // have put a link to a file of their choice in its place. A new file
      // is renamed over it instead.
      if (IsLink(native)) throw LinkInTheWay(native);
      std::string temp;
      file = CreateTemporaryBeside(native, kAppend, temp);
      const DWORD error = RenameOver(temp, native, MOVEFILE_REPLACE_EXISTING);
      if (error != ERROR_SUCCESS) {
        file.reset();
        ::DeleteFileW(Widen(temp).c_str());
        throw FailureFromLastError(error, native);
      }
    } else {
      file.reset(::CreateFileW(Widen(native).c_str(), kAppend, kShareAll, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file.valid()) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) throw Failure(err::kPathNotFound);
        throw FailureFromLastError(error, native);  // 80 -> 58
      }
    }
    const HANDLE written = file.get();
    auto stream = std::make_unique<Win32WriteStream>(std::move(file), unicode);
    if (unicode && !WriteAll(written, "\xFF\xFE")) {
      throw FailureFromLastError(::GetLastError(), native);
    }
    return stream;
  }

  void RemoveFile(const std::string& path, bool force) override {
    const std::wstring native = Widen(NativePath(path));
    if (force) {
      const DWORD attributes = ::GetFileAttributesW(native.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        ::SetFileAttributesW(native.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
      }
    }
    // A link is removed itself, never its target.
    if (!::DeleteFileW(native.c_str()))
      throw FailureFromLastError(::GetLastError(), Narrow(native));
  }

  std::string ReadFileBytes(const std::string& path) override {
    const std::string native = NativePath(path);
    // Not through a link (it could make a run copy another user's private
    // file into a shared one): the link itself is opened and refused.
    UniqueHandle file(
        ::CreateFileW(Widen(native).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid()) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_ACCESS_DENIED && FolderExists(path)) throw NotAFile(native);
      throw FailureFromLastError(error, native);
    }
    RequirePlainFile(file.get(), native);
    LARGE_INTEGER size{};
    ::GetFileSizeEx(file.get(), &size);
    // Read straight into a string of the file's size; a file that grows
    // meanwhile is read on to its end all the same.
    std::string bytes;
    bytes.resize(static_cast<std::size_t>(size.QuadPart) + 1);
    std::size_t used = 0;
    for (;;) {
      if (used == bytes.size()) bytes.resize(bytes.size() + 65536);
      const std::size_t room = bytes.size() - used;
      DWORD got = 0;
      if (!::ReadFile(file.get(), bytes.data() + used,
                      room > 0x40000000 ? 0x40000000 : static_cast<DWORD>(room), &got, nullptr)) {
        throw FailureFromLastError(::GetLastError(), native);
      }
      if (got == 0) break;
      used += got;
    }
    bytes.resize(used);
    return bytes;
  }

  void Replace(const std::string& path, const std::function<void(ByteSink&)>& produce,
               bool flush_content, bool durable) override {
    const std::string native = NativePath(path);
    if (IsLink(native)) throw LinkInTheWay(native);
    // The new file takes the permissions its folder hands down, as every
    // file made there does.
    std::string temp;
    UniqueHandle file = CreateTemporaryBeside(native, GENERIC_WRITE, temp);
    class FileSink : public ByteSink {
     public:
      FileSink(HANDLE handle, const std::string& where) : file_(handle), native_(where) {}
      void Write(const char* data, std::size_t size) override {
        if (!WriteAll(file_, data, size)) throw FailureFromLastError(::GetLastError(), native_);
      }

     private:
      HANDLE file_;
      const std::string& native_;
    } sink(file.get(), native);
    try {
      produce(sink);
      // On disk before the name points at it: a crash after the rename
      // finds the whole new file, never an empty one.
      if (flush_content && !::FlushFileBuffers(file.get())) {
        throw FailureFromLastError(::GetLastError(), native);
      }
      if (!file.Close()) throw FailureFromLastError(::GetLastError(), native);
      // The rename replaces a link rather than following it; the check is
      // for one put there while the bytes were written, which is refused.
      if (IsLink(native)) throw LinkInTheWay(native);
      // Write-through: the rename itself is on disk when the call returns.
      const DWORD error = RenameOver(
          temp, native, MOVEFILE_REPLACE_EXISTING | (durable ? MOVEFILE_WRITE_THROUGH : 0));
      if (error != ERROR_SUCCESS) throw FailureFromLastError(error, native);
    } catch (...) {
      file.reset();
      ::DeleteFileW(Widen(temp).c_str());
      throw;
    }
  }

  bool IsSymbolicLink(const std::string& path) override { return IsLink(NativePath(path)); }

  std::unique_ptr<TextStream> OpenTextFileForAppending(const std::string& path) override {
    const std::string native = NativePath(path);
    UniqueHandle file(
        ::CreateFileW(Widen(native).c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                      kShareAll, nullptr, OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_ACCESS_DENIED && FolderExists(path)) throw NotAFile(native);
      if (error == ERROR_FILE_NOT_FOUND) throw Failure(err::kPathNotFound);
      throw FailureFromLastError(error, native);
    }
    RequirePlainFile(file.get(), native);
    return std::make_unique<Win32WriteStream>(std::move(file), false);
  }

  std::vector<std::string> EntryNames(const std::string& folder) override {
    const std::string native = NativePath(folder);
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileExW(Widen(native + "\\*").c_str(), FindExInfoBasic, &found,
                                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    std::vector<std::string> names;
    if (search == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_NOT_FOUND && FolderExists(folder)) return names;  // a bare root
      if (error == ERROR_FILE_NOT_FOUND) throw Failure(err::kPathNotFound);
      throw FailureFromLastError(error, native);
    }
    do {
      std::string name = Narrow(found.cFileName, wcslen(found.cFileName));
      if (name != "." && name != "..") names.push_back(std::move(name));
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
  }

  FileStamp Stamp(const std::string& path) override {
    FileStamp stamp;
    // The entry itself: a link put in place of a file is a change too.
    // Reading attributes needs no share mode, so a file open elsewhere has
    // a stamp as well.
    UniqueHandle file(::CreateFileW(
        Widen(NativePath(path)).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file.valid() || !::GetFileInformationByHandle(file.get(), &info)) return stamp;
    stamp.exists = true;
    stamp.device = info.dwVolumeSerialNumber;
    stamp.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    stamp.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    stamp.modified_ns = Nanoseconds(FileTimeValue(info.ftLastWriteTime));
    FILE_BASIC_INFO basic{};
    if (::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic)) {
      stamp.changed_ns = Nanoseconds(basic.ChangeTime.QuadPart);
    }
    return stamp;
  }

  // The system takes the program's paths as they are but for separators:
  // "/" becomes "\", runs of separators count as one (except the two that
  // open a network path "\\server\share"), and a trailing one goes unless it
  // ends a root ("C:\", "\"). Letter case needs no matching: the system's
  // names match without regard to it.
  std::string NativePath(const std::string& path) override {
    std::string native;
    native.reserve(path.size());
    std::size_t i = 0;
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
      native = "\\\\";
      i = 2;
    }
    for (; i < path.size(); ++i) {
      const char c = IsSeparator(path[i]) ? '\\' : path[i];
      if (c == '\\' && !native.empty() && native.back() == '\\') continue;
      native += c;
    }
    while (native.size() > 1 && native.back() == '\\' && native != "\\\\" &&
           !(native.size() == 3 && native[1] == ':')) {
      native.pop_back();
    }
    return native.empty() ? "." : native;
  }
};

}  // namespace

FileSystem& RealFileSystem() {
  static Win32FileSystem fs;
  return fs;
}

}  // namespace platform
