// The run lock's portable part: the lock as a value that lets go when it
// goes, and the bounded wait for it. Opening the file, trying the lock and
// closing the file are the system's.
#include "platform/run_lock.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

namespace platform {
namespace {

// How often a waiting run looks whether the holder has let go. Short against
// the length of a run, long enough to cost nothing while waiting.
constexpr std::chrono::milliseconds kRetryInterval{50};

}  // namespace

RunLock::~RunLock() {
  Release();
}

RunLock::RunLock(RunLock&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

RunLock& RunLock::operator=(RunLock&& other) noexcept {
  if (this != &other) {
    Release();
    handle_ = std::exchange(other.handle_, -1);
  }
  return *this;
}

void RunLock::Release() {
  if (handle_ >= 0) CloseLockFile(std::exchange(handle_, -1));
}

RunLock RunLock::Take(const std::string& data_path, std::uint32_t wait_ms) {
  std::string native;
  // Not held yet, but it closes the file on every way out but the one that
  // gives it back held.
  RunLock file(OpenLockFile(data_path, native));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  for (;;) {
    if (TryLock(file.handle_, native)) return file;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return RunLock();
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(kRetryInterval, deadline - now));
  }
}

}  // namespace platform
