// The run lock: one per data folder, shared by every user of the machine.
//
// A feed update reads, merges and replaces files that other runs and the
// viewer read and replace too (the stores, the converter's output, the
// update-state files). Two of them at work at once lose or mix items, so
// each takes this lock first and holds it until it has written what it read.
//
// The lock is an operating-system lock on the open lock file
// `kRunLockFileName` in the data folder, never a marker file: it goes with the
// process, so a run that crashes or is killed releases it as surely as one
// that ends normally, and nothing stale is ever left to clean up. The lock
// file itself stays in place and holds nothing.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

inline constexpr char kRunLockFileName[] = "rssnotify.lock";

class RunLock {
 public:
  // A lock that is not held.
  RunLock() = default;
  // Releases the lock if it is held.
  ~RunLock();
  RunLock(RunLock&& other) noexcept;
  RunLock& operator=(RunLock&& other) noexcept;
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  // Takes the lock of the data folder `data_path` (a path in the program's
  // form, as the file system takes it), waiting at most `wait_ms`
  // milliseconds for another holder to let go. The lock file is created when
  // missing (owner read-write, group read: any member of the folder's group
  // can then take the lock too). Returns a lock that is not held when the
  // wait ran out. Throws Failure when the lock file cannot be opened or
  // created, also when a symbolic link or anything but a plain file stands at
  // its place.
  static RunLock Take(const std::string& data_path, std::uint32_t wait_ms);

  bool held() const { return handle_ >= 0; }
  // Lets go of the lock; nothing happens when it is not held.
  void Release();

 private:
  explicit RunLock(std::intptr_t handle) : handle_(handle) {}
  // The system's part. Opens the lock file of `data_path`, creating it, and
  // gives its native path for messages; tries the lock once (false: another
  // holds it; throws on any other failure); closes the file, which lets go.
  static std::intptr_t OpenLockFile(const std::string& data_path, std::string& native);
  static bool TryLock(std::intptr_t handle, const std::string& native);
  static void CloseLockFile(std::intptr_t handle);

  // The open lock file (a descriptor on Linux); -1 when not held.
  std::intptr_t handle_ = -1;
};

}  // namespace platform
