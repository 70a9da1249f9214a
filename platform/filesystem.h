// The file-system object: folder and file tests, folder creation, text files.
//
// Paths are given in the form the program builds them, Windows-style: on
// Linux every "\" is a separator, runs of separators count as one, and a path
// component that does not exist with its exact spelling resolves to the
// existing entry whose name differs only in letter case ("QLUX" finds "qLUX").
//
// Every failing operation throws platform::Failure with a classic number
// (53 file not found, 58 file already exists, 61 disk full, 70 permission
// denied, 75 path/file access error, 76 path not found).
//
// The data folder may be shared by several users of the machine (see the
// README), so no operation that writes, replaces or reads a file follows a
// symbolic link that stands at the file's own place: such an operation fails
// with 75 and a description that names the path, and the link's target is
// never opened. Files are created with owner read-write and group read (0640),
// whatever the umask, so that the other users of a shared folder can read
// them; folders with owner and group full access (0770), keeping the
// set-group-ID bit that a folder inherits from its parent. Nothing is ever
// made writable for users outside the group.
//
// The instance in use can be replaced for tests (see SetFileSystemForTesting),
// so that a full disk or a crash in the middle of a save can be simulated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// An open text file. Text is UTF-8 inside the program; a stream opened as
// Unicode stores it as UTF-16 little-endian with a byte-order mark, any other
// stream stores it in the system code page (UTF-8 on Linux).
class TextStream {
 public:
  virtual ~TextStream() = default;
  virtual void Write(const std::string& text) = 0;
  // `text` followed by CR LF.
  virtual void WriteLine(const std::string& text) = 0;
  virtual bool AtEndOfStream() = 0;
  // The rest of the file, decoded to UTF-8.
  virtual std::string ReadAll() = 0;
  // Flushes and closes; further calls fail. Destruction closes too, silently.
  virtual void Close() = 0;
};

// Takes a file's new content piece by piece (see
// ReplaceFileAtomicallyStreamed). Write throws Failure when the bytes cannot
// be written.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void Write(const char* data, std::size_t size) = 0;
};

// Identity of a file at one moment; two stamps differ when the file was
// created, replaced or written in between.
struct FileStamp {
  bool exists = false;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::int64_t modified_ns = 0;
  std::int64_t changed_ns = 0;
  bool operator==(const FileStamp&) const = default;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  virtual bool FolderExists(const std::string& path) = 0;
  virtual bool FileExists(const std::string& path) = 0;
  // Creates one folder; its parent must exist (76 otherwise), and nothing may
  // exist at the path yet (58).
  virtual void CreateFolder(const std::string& path) = 0;
  // Creates a text file for writing. With `overwrite` an existing file is
  // replaced (a new file is renamed over it, so the old one is never opened),
  // without it an existing file is failure 58.
  virtual std::unique_ptr<TextStream> CreateTextFile(const std::string& path, bool overwrite,
                                                     bool unicode) = 0;
  // Opens an existing file for reading in the system-default format: a file
  // starting with a UTF-16 LE byte-order mark is read as UTF-16, any other as
  // system code page text. A missing file is failure 53.
  // This default reads the whole file with ReadFileBytes (text_streams.cpp).
  virtual std::unique_ptr<TextStream> OpenTextFileForReading(const std::string& path);
  // Deletes a file; with `force` a read-only file too. Missing file: 53.
  virtual void RemoveFile(const std::string& path, bool force) = 0;
  // The bytes of a whole file.
  virtual std::string ReadFileBytes(const std::string& path) = 0;
  // Replaces the file at `path` with `bytes` atomically: the bytes go to a
  // temporary file in the same folder, which is flushed to disk and renamed
  // over the target. On failure the old file is left as it was and no
  // temporary file stays behind.
  // A file system overrides one of the two replacements at least; each one's
  // default calls the other. This one's hands the bytes over in one piece.
  virtual void ReplaceFileAtomically(const std::string& path, const std::string& bytes) {
    ReplaceFileAtomicallyStreamed(path,
                                  [&](ByteSink& sink) { sink.Write(bytes.data(), bytes.size()); });
  }
  // The same replacement, with the new content handed to the sink piece by
  // piece by `produce` as it is made, so that a large file is never held
  // whole in memory. When `produce` or a write throws, the old file stays as
  // it was, no temporary file stays behind, and the exception passes on.
  // This default collects the pieces and calls ReplaceFileAtomically, so a
  // file system made for a test sees every save there.
  virtual void ReplaceFileAtomicallyStreamed(const std::string& path,
                                             const std::function<void(ByteSink&)>& produce) {
    struct Collect : ByteSink {
      std::string bytes;
      void Write(const char* data, std::size_t size) override { bytes.append(data, size); }
    } sink;
    produce(sink);
    ReplaceFileAtomically(path, sink.bytes);
  }
  // The same replacement for a file whose loss in a crash costs only work
  // done again (what the next run finds anew, a file handed to another
  // program at once): it does not wait for the rename to reach the disk, so
  // a crash may undo it, and with `flush` kNone not for the bytes either.
  // This default is the durable replacement.
  enum class LazyFlush {
    // The new bytes are on disk before the new name points at them: a crash
    // finds the old file or the whole new one.
    kContent,
    // Nothing: for a file that another program reads at once and that a
    // crash, which ends that program too, makes worthless anyway; after a
    // crash it may be the old file, the new one or an empty one.
    kNone,
  };
  virtual void ReplaceFileAtomicallyLazily(const std::string& path, const std::string& bytes,
                                           LazyFlush flush) {
    (void)flush;
    ReplaceFileAtomically(path, bytes);
  }
  virtual FileStamp Stamp(const std::string& path) = 0;
  // The native path that a program-form path stands for (see above).
  virtual std::string NativePath(const std::string& path) = 0;

  // True when a symbolic link stands at the path (whatever it points to).
  virtual bool IsSymbolicLink(const std::string& path) = 0;
  // Opens a text file for appending in the system code page, creating it when
  // missing; existing content is never cut.
  virtual std::unique_ptr<TextStream> OpenTextFileForAppending(const std::string& path) = 0;
  // The names of the entries of a folder, without "." and "..", in no order.
  virtual std::vector<std::string> EntryNames(const std::string& folder) = 0;
};

// The file system in use: the real one unless a test replaced it.
FileSystem& Files();
// Replaces the file system in use; nullptr restores the real one. The caller
// keeps ownership.
void SetFileSystemForTesting(FileSystem* fs);
// The real file system of this platform.
FileSystem& RealFileSystem();

// Creates `path` and every missing folder above it, through `fs`. The first
// `existing` characters of `path` name a folder taken to exist: nothing above
// it is looked at. "\" and "/" both separate. Throws Failure as CreateFolder.
void CreateFolderWithParents(FileSystem& fs, const std::string& path, std::size_t existing = 0);

}  // namespace platform
