// Placeholder until the process runner lands.
#include "notify/process_runner.h"

std::int16_t fncExecuteShell(std::string, std::int32_t, std::int16_t) {
  return 0;
}
std::int16_t fncTerminateProcess(platform::ProcessHandle&, std::string& reason) {
  reason.clear();
  return 0;
}
std::string fncFormatMessage(std::int32_t error_code) {
  return std::to_string(error_code);
}
