#include "platform/system.h"

#include <malloc.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/failure.h"
#include "platform/last_error.h"

namespace platform {

std::optional<std::string> EnvironmentValue(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

void SetEnvironmentValue(const std::string& name, const std::string& value) {
  if (::setenv(name.c_str(), value.c_str(), 1) != 0) throw Failure(err::kInvalidCall);
}

std::uint32_t CurrentProcessId() {
  return static_cast<std::uint32_t>(::getpid());
}

bool QueryUserName(char* buffer, std::uint32_t* size) {
  // The account of the effective user, as the logon name is on Windows; the
  // environment is not trusted for it.
  long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> scratch(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  std::string name;
  if (getpwuid_r(geteuid(), &entry, scratch.data(), scratch.size(), &found) == 0 &&
      found != nullptr) {
    name = found->pw_name;
  } else if (const char* user = std::getenv("USER")) {
    name = user;
  } else {
    SetLastErrorCode(1332);  // no mapping between account name and id
    return false;
  }
  if (size == nullptr) return false;
  if (name.size() + 1 > *size) {
    *size = static_cast<std::uint32_t>(name.size() + 1);
    SetLastErrorCode(122);  // insufficient buffer
    return false;
  }
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  *size = static_cast<std::uint32_t>(name.size() + 1);
  return true;
}

void HideFromTaskList() {
  // A windowless Linux process appears in no application list.
}

void KeepFreedMemory() {
  // Blocks up to 32 MiB from the heap rather than from mappings of their
  // own, which free would unmap; and no trimming of the heap's top.
  ::mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
  ::mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
}

std::string ExecutableBaseName() {
  std::string path;
  std::vector<char> buffer(4096);
  ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n > 0) path.assign(buffer.data(), static_cast<std::size_t>(n));
  std::string name = path.substr(path.find_last_of('/') + 1);
  std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return arguments;
}

LocalTime Now() {
  // The system clock itself: time() reads a copy that may lag it by a tick,
  // so that a line written just after a second began could carry the
  // second before, earlier than what another program had already read.
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
  localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
          local.tm_hour,        local.tm_min,     local.tm_sec};
}

void ExitProcess(int status) {
  std::_Exit(status);
}

}  // namespace platform
