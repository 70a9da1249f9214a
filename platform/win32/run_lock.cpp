// The run lock on Windows: LockFileEx on the lock file.
//
// The lock belongs to the open handle: closing it, or the end of the process
// in any way, lets go, and a second handle of the same file, in this process
// or another, is a second claimant. The handle is not inheritable, so a
// program the run starts never keeps the lock past the run.
#include "platform/run_lock.h"

#include <windows.h>

#include "platform/failure.h"
#include "platform/filesystem.h"
#include "platform/text_streams.h"
#include "platform/win32/last_error_failure.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"

namespace platform {

std::intptr_t RunLock::OpenLockFile(const std::string& data_path, std::string& native) {
  native = Files().NativePath(data_path);
  if (native.empty() || native.back() != '\\') native += '\\';
  native += kRunLockFileName;
  // The link itself is opened, never its target, and refused below. All
  // share modes: every run opens the file, only the lock tells them apart.
  // The file takes the permissions of the data folder, which every user of
  // the machine may write.
  UniqueHandle file(::CreateFileW(
      Widen(native).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.valid()) {
    const DWORD error = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(Widen(native).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      throw NotAFile(native);
    }
    throw FailureFromLastError(error, native);
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(file.get()) != FILE_TYPE_DISK ||
      !::GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    throw NotAFile(native);
  }
  return reinterpret_cast<std::intptr_t>(file.release());
}

bool RunLock::TryLock(std::intptr_t handle, const std::string&) {
  OVERLAPPED at{};  // the first byte; a lock may lie past the end of a file
  if (::LockFileEx(reinterpret_cast<HANDLE>(handle),
                   LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    return true;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return false;
  throw FailureFromLastError(error, {});
}

void RunLock::CloseLockFile(std::intptr_t handle) {
  // Closing the only handle of the open file lets go of the lock.
  UniqueHandle(reinterpret_cast<HANDLE>(handle)).reset();
}

}  // namespace platform
