// The run lock on Windows: LockFileEx on the lock file.
//
// The lock belongs to the open handle: closing it, or the end of the process
// in any way, lets go, and a second handle of the same file, in this process
// or another, is a second claimant. The handle is not inheritable, so a
// program the run starts never keeps the lock past the run.
#include "platform/run_lock.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/failure.h"
#include "platform/filesystem.h"
#include "platform/win32/last_error_failure.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

// How often a waiting run looks whether the holder has let go. Short against
// the length of a run, long enough to cost nothing while waiting.
constexpr std::chrono::milliseconds kRetryInterval{50};

HANDLE OpenLockFile(const std::string& native) {
  // The link itself is opened, never its target, and refused below. All
  // share modes: every run opens the file, only the lock tells them apart.
  // The file takes the permissions of the data folder, which every user of
  // the machine may write.
  HANDLE file = ::CreateFileW(
      Widen(native).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(Widen(native).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      throw Failure(err::kPathFileAccess, "Path/File access error: " + native + " is not a file");
    }
    throw FailureFromLastError(error, native);
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    ::CloseHandle(file);
    throw Failure(err::kPathFileAccess, "Path/File access error: " + native + " is not a file");
  }
  return file;
}

bool TryLock(HANDLE file) {
  OVERLAPPED at{};  // the first byte; a lock may lie past the end of a file
  if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    return true;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return false;
  throw FailureFromLastError(error, {});
}

}  // namespace

void RunLock::Release() {
  if (handle_ < 0) return;
  // Closing the only handle of the open file lets go of the lock.
  ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

RunLock RunLock::Take(const std::string& data_path, std::uint32_t wait_ms) {
  std::string native = Files().NativePath(data_path);
  if (native.empty() || native.back() != '\\') native += '\\';
  native += kRunLockFileName;
  HANDLE file = OpenLockFile(native);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  for (;;) {
    try {
      if (TryLock(file)) return RunLock(reinterpret_cast<std::intptr_t>(file));
    } catch (...) {
      ::CloseHandle(file);
      throw;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(kRetryInterval, deadline - now));
  }
  ::CloseHandle(file);
  return RunLock();
}

}  // namespace platform
