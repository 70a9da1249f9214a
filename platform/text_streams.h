// Pieces of the file system that every system's implementation shares.
#pragma once

#include <memory>
#include <string>

#include "platform/failure.h"
#include "platform/filesystem.h"

namespace platform {

// A stream that reads the bytes of a whole file, read beforehand, as
// OpenTextFileForReading describes: UTF-16 LE after its byte-order mark,
// anything else as it is.
std::unique_ptr<TextStream> TextStreamOverBytes(std::string bytes);

// A file open for writing text, in UTF-16 LE or as UTF-8 in the system code
// page. Each Write goes to the file at once: a line logged is a line in the
// system's hands, even if the process is killed right after. The system's
// part writes the bytes and closes the file, throwing its failures.
class FileWriteStream : public TextStream {
 public:
  explicit FileWriteStream(bool unicode) : unicode_(unicode) {}
  void Write(const std::string& text) final;  // 52 once closed
  void WriteLine(const std::string& text) final { Write(text + "\r\n"); }
  bool AtEndOfStream() final { return true; }
  std::string ReadAll() final;  // 54: not open for reading
  void Close() final;           // 52 once closed

 protected:
  virtual bool IsOpen() const = 0;
  virtual void WriteBytes(const std::string& bytes) = 0;
  virtual void CloseFile() = 0;

 private:
  bool unicode_;
};

// The failures of an operation that found a symbolic link, or anything but a
// plain file, at the file's place.
Failure LinkInTheWay(const std::string& native);
Failure NotAFile(const std::string& native);

}  // namespace platform
