// Starting the product's external programs with a bounded wait.
#pragma once

#include <cstdint>
#include <string>

#include "platform/process.h"

std::int16_t fncExecuteShell(std::string command_line, std::int32_t timeout_ms,
                             std::int16_t hide_window);
std::int16_t fncTerminateProcess(platform::ProcessHandle& handle, std::string& reason);
std::string fncFormatMessage(std::int32_t error_code);
