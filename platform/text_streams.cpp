#include "platform/text_streams.h"

#include "platform/failure.h"
#include "platform/text_encoding.h"

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

}  // namespace

std::unique_ptr<TextStream> TextStreamOverBytes(std::string bytes) {
  return std::make_unique<MemoryReadStream>(std::move(bytes));
}

std::unique_ptr<TextStream> FileSystem::OpenTextFileForReading(const std::string& path) {
  return TextStreamOverBytes(ReadFileBytes(path));
}

void FileWriteStream::Write(const std::string& text) {
  if (!IsOpen()) throw Failure(52);  // bad file name or number: the stream is closed
  WriteBytes(unicode_ ? Utf8ToUtf16Le(text) : ValidUtf8(text));
}

std::string FileWriteStream::ReadAll() {
  throw Failure(54, "Bad file mode");
}

void FileWriteStream::Close() {
  if (!IsOpen()) throw Failure(52);
  CloseFile();
}

Failure LinkInTheWay(const std::string& native) {
  return Failure(err::kPathFileAccess,
                 "Path/File access error: a symbolic link stands at " + native);
}

Failure NotAFile(const std::string& native) {
  return Failure(err::kPathFileAccess, "Path/File access error: " + native + " is not a file");
}

}  // namespace platform
