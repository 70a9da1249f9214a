// An open file descriptor with one owner, which closes it when it goes: on
// every way out of a function, error paths and exceptions included, so that
// no path has to remember to close.
#pragma once

#include <unistd.h>

#include <utility>

namespace platform {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  bool valid() const { return fd_ >= 0; }
  int get() const { return fd_; }
  // Gives the descriptor up to the caller, who closes it.
  int release() { return std::exchange(fd_, -1); }
  // Closes what it holds, ignoring the close's own error, and holds `fd`.
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes now and says whether the close succeeded (errno tells why not):
  // for a file written to, where the close may be the first to report a
  // full disk or a lost network share.
  bool Close() {
    const int fd = release();
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_ = -1;
};

}  // namespace platform
