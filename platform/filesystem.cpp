// The file system's portable part: the instance in use, the members with a
// default, and the stream that reads a file's bytes.
#include "platform/filesystem.h"

#include "platform/failure.h"
#include "platform/text_encoding.h"
#include "platform/text_streams.h"

namespace platform {
namespace {

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

FileSystem* override_fs = nullptr;

}  // namespace

std::unique_ptr<TextStream> TextStreamOverBytes(std::string bytes) {
  return std::make_unique<MemoryReadStream>(std::move(bytes));
}

bool FileSystem::IsSymbolicLink(const std::string& path) {
  return RealFileSystem().IsSymbolicLink(path);
}

std::unique_ptr<TextStream> FileSystem::OpenTextFileForAppending(const std::string& path) {
  return RealFileSystem().OpenTextFileForAppending(path);
}

std::vector<std::string> FileSystem::EntryNames(const std::string& folder) {
  return RealFileSystem().EntryNames(folder);
}

FileSystem& Files() {
  return override_fs != nullptr ? *override_fs : RealFileSystem();
}

void SetFileSystemForTesting(FileSystem* fs) {
  override_fs = fs;
}

void CreateFolderWithParents(FileSystem& fs, const std::string& path, std::size_t existing) {
  std::size_t next = path.find_first_not_of("\\/", existing);
  while (next != std::string::npos) {
    const std::size_t end = path.find_first_of("\\/", next);
    const std::string folder = path.substr(0, end);
    if (!fs.FolderExists(folder)) fs.CreateFolder(folder);
    if (end == std::string::npos) break;
    next = path.find_first_not_of("\\/", end);
  }
}

}  // namespace platform
