// The file system's portable part: the instance in use, which a test may
// replace, and the folder-making helper.
#include "platform/filesystem.h"

namespace platform {
namespace {

FileSystem* override_fs = nullptr;

}  // namespace

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
