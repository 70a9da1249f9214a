// Placeholder until the process functions land.
#include "platform/process.h"

#include "platform/failure.h"

namespace platform {
CommandLine SplitCommandLine(const std::string&) {
  throw Failure(err::kFileNotFound);
}
std::vector<std::string> SplitArgumentText(const std::string&) {
  return {};
}
std::uint32_t StartProcess(const std::string&, int) {
  throw Failure(err::kFileNotFound);
}
ProcessHandle OpenProcessHandle(std::uint32_t, bool, std::uint32_t) {
  return 0;
}
bool GetProcessExitCode(ProcessHandle, std::uint32_t*) {
  return false;
}
std::uint32_t WaitForProcess(ProcessHandle, std::uint32_t) {
  return kWaitFailed;
}
bool TerminateProcessHandle(ProcessHandle, std::uint32_t) {
  return false;
}
bool CloseProcessHandle(ProcessHandle) {
  return false;
}
}  // namespace platform
