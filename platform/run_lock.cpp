// The run lock's portable part: the lock as a value that lets go when it
// goes. Taking and releasing it is the system's.
#include "platform/run_lock.h"

#include <utility>

namespace platform {

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

}  // namespace platform
