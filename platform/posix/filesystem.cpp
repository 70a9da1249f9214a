#include "platform/filesystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <vector>

#include "platform/failure.h"
#include "platform/file_replacement.h"
#include "platform/posix/errno_failure.h"
#include "platform/posix/fd_io.h"
#include "platform/posix/unique_fd.h"
#include "platform/text_encoding.h"
#include "platform/text_streams.h"

namespace platform {
namespace {

bool WriteAll(int fd, const char* data, std::size_t size) {
  return posix::WriteAll(fd, data, size) == posix::IoOutcome::kDone;
}

bool WriteAll(int fd, const std::string& bytes) {
  return WriteAll(fd, bytes.data(), bytes.size());
}

class PosixWriteStream final : public FileWriteStream {
 public:
  PosixWriteStream(UniqueFd fd, bool unicode) : FileWriteStream(unicode), fd_(std::move(fd)) {}

 private:
  bool IsOpen() const override { return fd_.valid(); }
  void WriteBytes(const std::string& bytes) override {
    if (!WriteAll(fd_.get(), bytes)) throw FailureFromErrno(errno, {});
  }
  void CloseFile() override {
    if (!fd_.Close()) throw FailureFromErrno(errno, {});
  }

  UniqueFd fd_;
};

std::vector<std::string> SplitComponents(const std::string& path) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : path) {
    if (c == '\\' || c == '/') {
      if (!current.empty()) parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) parts.push_back(current);
  return parts;
}

// New files: the owner writes, the group of a shared data folder reads.
constexpr mode_t kFileMode = 0640;
// New folders: owner and group may add and replace files.
constexpr mode_t kFolderMode = 0770;

bool IsLink(const std::string& native) {
  struct stat st {};
  return ::lstat(native.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Failure for an open that refused to follow a link, or any other errno.
Failure OpenFailure(int error_number, const std::string& native) {
  if (error_number == ELOOP && IsLink(native)) return LinkInTheWay(native);
  if (error_number == ENOENT) return Failure(err::kPathNotFound);
  return FailureFromErrno(error_number, native);
}

// Folder and name of a native path.
void SplitPath(const std::string& native, std::string& folder, std::string& name) {
  std::size_t slash = native.find_last_of('/');
  folder = slash == std::string::npos ? "." : native.substr(0, slash);
  if (folder.empty()) folder = "/";
  name = slash == std::string::npos ? native : native.substr(slash + 1);
}

// A new, empty temporary file beside `native`, created exclusively (so no
// link or file someone put there is ever opened), with the file mode `mode`.
// Its name, ".<name>.tmp-XXXXXX", lets a later run recognise one that a
// killed run left behind.
// Written in append mode: a line another process appends to the same file
// (a run that found the lock held) is never overwritten.
UniqueFd CreateTemporaryBeside(const std::string& native, mode_t mode, std::string& temp) {
  std::string folder, name;
  SplitPath(native, folder, name);
  temp = folder + "/." + name + ".tmp-XXXXXX";
  UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC | O_APPEND));
  if (!fd.valid()) {
    if (errno == ENOENT) throw Failure(err::kPathNotFound);
    throw FailureFromErrno(errno, native);
  }
  if (::fchmod(fd.get(), mode) != 0) {
    int saved = errno;
    ::unlink(temp.c_str());
    throw FailureFromErrno(saved, native);
  }
  return fd;
}

bool Exists(const std::string& native) {
  struct stat st {};
  return ::lstat(native.c_str(), &st) == 0;
}

// The one entry of `folder` whose name equals `name` but for letter case;
// when several do, the first in byte order, so the choice is stable.
std::string CaseMatch(const std::string& folder, const std::string& name) {
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return {};
  std::vector<std::string> matches;
  while (dirent* entry = ::readdir(dir)) {
    if (::strcasecmp(entry->d_name, name.c_str()) == 0) matches.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  if (matches.empty()) return {};
  return *std::min_element(matches.begin(), matches.end());
}

class PosixFileSystem : public ReplacingFileSystem {
  // The folder a path's folder, written in another letter case, was last
  // found to be. A run names the files of one folder hundreds of times in
  // the agent's spelling ("QLUX" for "qLUX"): the folder is looked for
  // entry by entry once, and afterwards taken as found for as long as it
  // stands there and the spelling as written does not.
  std::mutex found_lock_;
  std::string written_folder_;
  std::string found_folder_;

  std::string FolderFound(const std::string& written) {
    const std::lock_guard<std::mutex> hold(found_lock_);
    if (written != written_folder_) return {};
    struct stat st {};
    if (::lstat(found_folder_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
    return found_folder_;
  }

  void KeepFolderFound(const std::string& written, const std::string& found) {
    const std::lock_guard<std::mutex> hold(found_lock_);
    written_folder_ = written;
    found_folder_ = found;
  }

 public:
  bool FolderExists(const std::string& path) override {
    struct stat st {};
    return ::stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  bool FileExists(const std::string& path) override {
    struct stat st {};
    return ::stat(NativePath(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
  }

  void CreateFolder(const std::string& path) override {
    std::string native = NativePath(path);
    if (::mkdir(native.c_str(), kFolderMode) != 0) {
      if (errno == ENOENT) throw Failure(err::kPathNotFound);
      throw FailureFromErrno(errno, native);
    }
    // The umask must not take the group's access away; the set-group-ID bit
    // that a shared folder hands down to a new folder stays.
    struct stat st {};
    if (::lstat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      ::chmod(native.c_str(), kFolderMode | (st.st_mode & S_ISGID));
    }
  }

  std::unique_ptr<TextStream> CreateTextFile(const std::string& path, bool overwrite,
                                             bool unicode) override {
    std::string native = NativePath(path);
    UniqueFd fd;
    if (overwrite) {
      // Never open what stands there: another user of a shared folder may
      // have put a link or a hard link to a file of their choice in its
      // place. A new file is renamed over it instead.
      if (IsLink(native)) throw LinkInTheWay(native);
      std::string temp;
      fd = CreateTemporaryBeside(native, kFileMode, temp);
      if (::rename(temp.c_str(), native.c_str()) != 0) {
        int saved = errno;
        ::unlink(temp.c_str());
        throw FailureFromErrno(saved, native);
      }
    } else {
      fd.reset(::open(native.c_str(),
                      O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode));
      if (!fd.valid()) throw OpenFailure(errno, native);
      ::fchmod(fd.get(), kFileMode);
    }
    const int written = fd.get();
    auto stream = std::make_unique<PosixWriteStream>(std::move(fd), unicode);
    if (unicode) {
      if (!WriteAll(written, "\xFF\xFE")) throw FailureFromErrno(errno, native);
    }
    return stream;
  }

  void RemoveFile(const std::string& path, bool force) override {
    (void)force;  // the folder's permissions, not the file's, govern unlink here
    std::string native = NativePath(path);
    if (::unlink(native.c_str()) != 0) throw FailureFromErrno(errno, native);
  }

  std::string ReadFileBytes(const std::string& path) override {
    std::string native = NativePath(path);
    // Not through a link (it could make a run copy another user's private
    // file into a shared one), and never blocking on a FIFO.
    UniqueFd fd(::open(native.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) {
      if (errno == ELOOP && IsLink(native)) throw LinkInTheWay(native);
      throw FailureFromErrno(errno, native);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
      throw NotAFile(native);
    }
    // Read straight into a string of the file's size, so that a large file
    // is neither copied nor regrown; a file that grows meanwhile is read on
    // to its end all the same.
    const std::size_t expected = static_cast<std::size_t>(st.st_size);
    std::string bytes;
    bytes.resize(expected + 1);
    std::size_t used = 0;
    for (;;) {
      if (used == bytes.size()) bytes.resize(bytes.size() + 65536);
      ssize_t n = ::read(fd.get(), bytes.data() + used, bytes.size() - used);
      if (n < 0) {
        if (errno == EINTR) continue;
        throw FailureFromErrno(errno, native);
      }
      if (n == 0) break;
      used += static_cast<std::size_t>(n);
    }
    bytes.resize(used);
    return bytes;
  }

  void Replace(const std::string& path, const std::function<void(ByteSink&)>& produce,
               bool flush_content, bool durable) override {
    std::string native = NativePath(path);
    std::string folder, name;
    SplitPath(native, folder, name);
    // Keep the permissions the file had, but never writable for everyone;
    // a new file gets the usual ones.
    struct stat st {};
    mode_t mode = kFileMode;
    if (::lstat(native.c_str(), &st) == 0) {
      if (S_ISLNK(st.st_mode)) throw LinkInTheWay(native);
      if (S_ISREG(st.st_mode)) mode = st.st_mode & 0775;
    }
    std::string temp;
    UniqueFd fd = CreateTemporaryBeside(native, mode, temp);
    // Writes straight to the temporary file; the producer's own buffer sets
    // the size of each write.
    class FileSink : public ByteSink {
     public:
      FileSink(int fd, const std::string& native) : fd_(fd), native_(native) {}
      void Write(const char* data, std::size_t size) override {
        if (!WriteAll(fd_, data, size)) throw FailureFromErrno(errno, native_);
      }

     private:
      int fd_;
      const std::string& native_;
    } sink(fd.get(), native);
    try {
      produce(sink);
      if (flush_content && ::fsync(fd.get()) != 0) throw FailureFromErrno(errno, native);
      if (!fd.Close()) throw FailureFromErrno(errno, native);
      // rename() replaces a link rather than following it; the check is for
      // one put there while the bytes were written, which is refused as well.
      if (IsLink(native)) throw LinkInTheWay(native);
      if (::rename(temp.c_str(), native.c_str()) != 0) throw FailureFromErrno(errno, native);
    } catch (...) {
      fd.reset();
      ::unlink(temp.c_str());
      throw;
    }
    if (!durable) return;
    // Make the rename itself durable.
    const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) ::fsync(dir.get());
  }

  bool IsSymbolicLink(const std::string& path) override { return IsLink(NativePath(path)); }

  std::unique_ptr<TextStream> OpenTextFileForAppending(const std::string& path) override {
    std::string native = NativePath(path);
    UniqueFd fd(::open(native.c_str(),
                       O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                       kFileMode));
    if (!fd.valid()) throw OpenFailure(errno, native);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
      throw NotAFile(native);
    }
    return std::make_unique<PosixWriteStream>(std::move(fd), false);
  }

  std::vector<std::string> EntryNames(const std::string& folder) override {
    std::string native = NativePath(folder);
    DIR* dir = ::opendir(native.c_str());
    if (dir == nullptr) throw OpenFailure(errno, native);
    std::vector<std::string> names;
    while (dirent* entry = ::readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(std::move(name));
    }
    ::closedir(dir);
    return names;
  }

  FileStamp Stamp(const std::string& path) override {
    FileStamp stamp;
    struct stat st {};
    // The entry itself: a link put in place of a file is a change too.
    if (::lstat(NativePath(path).c_str(), &st) != 0) return stamp;
    stamp.exists = true;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = static_cast<std::uint64_t>(st.st_size);
    stamp.modified_ns = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
    stamp.changed_ns = st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec;
    return stamp;
  }

  std::string NativePath(const std::string& path) override {
    std::string folder;  // the path's folder as written, when it does not exist so
    bool absolute = !path.empty() && (path[0] == '/' || path[0] == '\\');
    std::vector<std::string> parts = SplitComponents(path);
    std::string native = absolute ? "" : ".";
    // Most paths exist as written, or their folder does (a file about to be
    // made): then every component before is what it is written as, and only
    // the rest needs looking at, one component at a time.
    std::size_t from = 0;
    std::string written = native;
    for (const std::string& part : parts) written += "/" + part;
    if (!parts.empty() && Exists(written)) {
      native = std::move(written);
      from = parts.size();
    } else if (parts.size() > 1) {
      folder = written.substr(0, written.size() - parts.back().size() - 1);
      if (Exists(folder)) {
        native = folder;
        from = parts.size() - 1;
      } else if (std::string found = FolderFound(folder); !found.empty()) {
        native = std::move(found);
        from = parts.size() - 1;
      }
    }
    bool resolving = true;  // once a component is missing, the rest is taken as written
    for (std::size_t i = from; i < parts.size(); ++i) {
      // The walk from the top has come to the file's name: its folder is found.
      if (i + 1 == parts.size() && resolving && from == 0 && !folder.empty()) {
        KeepFolderFound(folder, native);
      }
      const std::string& part = parts[i];
      std::string candidate = native + "/" + part;
      if (resolving && part != "." && part != ".." && !Exists(candidate)) {
        std::string match = CaseMatch(native.empty() ? "/" : native, part);
        if (match.empty()) {
          resolving = false;
        } else {
          candidate = native + "/" + match;
        }
      }
      native = candidate;
    }
    if (native.empty()) return "/";
    if (!absolute) native.erase(0, 2);  // drop the "./" used while resolving
    return native.empty() ? "." : native;
  }
};

}  // namespace

FileSystem& RealFileSystem() {
  static PosixFileSystem fs;
  return fs;
}

}  // namespace platform
