// A kernel handle with one owner, which closes it when it goes: on every way
// out of a function, error paths and exceptions included, so that no path
// has to remember to close. Either invalid value (nullptr, which most calls
// give on failure, and INVALID_HANDLE_VALUE, which CreateFileW gives) holds
// nothing.
#pragma once

#include <windows.h>

#include <utility>

namespace platform {

class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  // Gives the handle up to the caller, who closes it.
  HANDLE release() { return std::exchange(handle_, nullptr); }
  // Closes what it holds, ignoring the close's own error, and holds `handle`.
  void reset(HANDLE handle = nullptr) {
    if (valid()) ::CloseHandle(handle_);
    handle_ = handle;
  }
  // Closes now and says whether the close succeeded (GetLastError tells why
  // not): for a file written to, where the close may be the first to report
  // a full disk or a lost network share.
  bool Close() {
    const HANDLE handle = release();
    return handle == nullptr || handle == INVALID_HANDLE_VALUE || ::CloseHandle(handle);
  }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace platform
