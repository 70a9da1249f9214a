#include "platform/filesystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/failure.h"
#include "platform/text_encoding.h"

namespace platform {
namespace {

// Writes all of `bytes`, retrying short writes and interruptions.
bool WriteAll(int fd, const char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const std::string& bytes) {
  return WriteAll(fd, bytes.data(), bytes.size());
}

class PosixWriteStream : public TextStream {
 public:
  PosixWriteStream(int fd, bool unicode) : fd_(fd), unicode_(unicode) {}
  ~PosixWriteStream() override {
    if (fd_ >= 0) ::close(fd_);
  }
  void Write(const std::string& text) override {
    if (fd_ < 0) throw Failure(52);  // bad file name or number: the stream is closed
    // Each call goes to the file at once: a line logged is a line on disk,
    // even if the process is killed right after.
    if (!WriteAll(fd_, unicode_ ? Utf8ToUtf16Le(text) : ValidUtf8(text))) {
      throw FailureFromErrno(errno, {});
    }
  }
  void WriteLine(const std::string& text) override { Write(text + "\r\n"); }
  bool AtEndOfStream() override { return true; }
  std::string ReadAll() override { throw Failure(54, "Bad file mode"); }
  void Close() override {
    if (fd_ < 0) throw Failure(52);
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) throw FailureFromErrno(errno, {});
  }

 private:
  int fd_;
  bool unicode_;
};

class MemoryReadStream : public TextStream {
 public:
  explicit MemoryReadStream(std::string bytes) : bytes_(std::move(bytes)) {
    if (bytes_.size() >= 2 && bytes_[0] == '\xFF' && bytes_[1] == '\xFE') {
      bytes_ = Utf16LeToUtf8(bytes_.substr(2));
    }
  }
  void Write(const std::string&) override { throw Failure(54, "Bad file mode"); }
  void WriteLine(const std::string&) override { throw Failure(54, "Bad file mode"); }
  bool AtEndOfStream() override { return closed_ || position_ >= bytes_.size(); }
  std::string ReadAll() override {
    if (closed_) throw Failure(52);
    if (position_ >= bytes_.size()) throw Failure(62);  // input past end of file
    std::string rest = bytes_.substr(position_);
    position_ = bytes_.size();
    return rest;
  }
  void Close() override { closed_ = true; }

 private:
  std::string bytes_;
  std::size_t position_ = 0;
  bool closed_ = false;
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

class PosixFileSystem : public FileSystem {
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
    if (::mkdir(native.c_str(), 0777) != 0) {
      if (errno == ENOENT) throw Failure(err::kPathNotFound);
      throw FailureFromErrno(errno, native);
    }
  }

  std::unique_ptr<TextStream> CreateTextFile(const std::string& path, bool overwrite,
                                             bool unicode) override {
    std::string native = NativePath(path);
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (overwrite ? O_TRUNC : O_EXCL);
    int fd = ::open(native.c_str(), flags, 0666);
    if (fd < 0) {
      if (errno == ENOENT) throw Failure(err::kPathNotFound);
      throw FailureFromErrno(errno, native);
    }
    auto stream = std::make_unique<PosixWriteStream>(fd, unicode);
    if (unicode) {
      if (!WriteAll(fd, "\xFF\xFE")) throw FailureFromErrno(errno, native);
    }
    return stream;
  }

  std::unique_ptr<TextStream> OpenTextFileForReading(const std::string& path) override {
    return std::make_unique<MemoryReadStream>(ReadFileBytes(path));
  }

  void DeleteFile(const std::string& path, bool force) override {
    (void)force;  // the folder's permissions, not the file's, govern unlink here
    std::string native = NativePath(path);
    if (::unlink(native.c_str()) != 0) throw FailureFromErrno(errno, native);
  }

  std::string ReadFileBytes(const std::string& path) override {
    std::string native = NativePath(path);
    int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw FailureFromErrno(errno, native);
    // Read straight into a string of the file's size, so that a large file
    // is neither copied nor regrown; a file that grows meanwhile is read on
    // to its end all the same.
    struct stat st {};
    std::size_t expected =
        ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? static_cast<std::size_t>(st.st_size) : 0;
    std::string bytes;
    bytes.resize(expected + 1);
    std::size_t used = 0;
    for (;;) {
      if (used == bytes.size()) bytes.resize(bytes.size() + 65536);
      ssize_t n = ::read(fd, bytes.data() + used, bytes.size() - used);
      if (n < 0) {
        if (errno == EINTR) continue;
        int saved = errno;
        ::close(fd);
        throw FailureFromErrno(saved, native);
      }
      if (n == 0) break;
      used += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(used);
    return bytes;
  }

  void ReplaceFileAtomically(const std::string& path, const std::string& bytes) override {
    ReplaceFileAtomicallyStreamed(path,
                                  [&](ByteSink& sink) { sink.Write(bytes.data(), bytes.size()); });
  }

  void ReplaceFileAtomicallyStreamed(const std::string& path,
                                     const std::function<void(ByteSink&)>& produce) override {
    std::string native = NativePath(path);
    std::size_t slash = native.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : native.substr(0, slash);
    if (folder.empty()) folder = "/";
    std::string name = slash == std::string::npos ? native : native.substr(slash + 1);
    std::string temp = folder + "/." + name + ".tmp-XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
      if (errno == ENOENT) throw Failure(err::kPathNotFound);
      throw FailureFromErrno(errno, native);
    }
    // Keep the permissions the file had; a new file gets the usual ones.
    struct stat st {};
    mode_t mode;
    if (::stat(native.c_str(), &st) == 0) {
      mode = st.st_mode & 07777;
    } else {
      mode_t mask = ::umask(0);
      ::umask(mask);
      mode = 0666 & ~mask;
    }
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
    } sink(fd, native);
    try {
      if (::fchmod(fd, mode) != 0) throw FailureFromErrno(errno, native);
      produce(sink);
      if (::fsync(fd) != 0) throw FailureFromErrno(errno, native);
      int descriptor = fd;
      fd = -1;
      if (::close(descriptor) != 0) throw FailureFromErrno(errno, native);
      if (::rename(temp.c_str(), native.c_str()) != 0) throw FailureFromErrno(errno, native);
    } catch (...) {
      if (fd >= 0) ::close(fd);
      ::unlink(temp.c_str());
      throw;
    }
    // Make the rename itself durable.
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      ::fsync(dir);
      ::close(dir);
    }
  }

  FileStamp Stamp(const std::string& path) override {
    FileStamp stamp;
    struct stat st {};
    if (::stat(NativePath(path).c_str(), &st) != 0) return stamp;
    stamp.exists = true;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = static_cast<std::uint64_t>(st.st_size);
    stamp.modified_ns = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
    stamp.changed_ns = st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec;
    return stamp;
  }

  std::string NativePath(const std::string& path) override {
    bool absolute = !path.empty() && (path[0] == '/' || path[0] == '\\');
    std::vector<std::string> parts = SplitComponents(path);
    std::string native = absolute ? "" : ".";
    bool resolving = true;  // once a component is missing, the rest is taken as written
    for (const std::string& part : parts) {
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

FileSystem* override_fs = nullptr;

}  // namespace

FileSystem& RealFileSystem() {
  static PosixFileSystem fs;
  return fs;
}

FileSystem& Files() {
  return override_fs != nullptr ? *override_fs : RealFileSystem();
}

void SetFileSystemForTesting(FileSystem* fs) {
  override_fs = fs;
}

}  // namespace platform
