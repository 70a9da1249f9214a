// Small readers of system facts used at start-up.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry.h"

// One registry value as text; "" when anything fails. Value type 1 is text,
// 4 a 32-bit number; any other type gives "" without a query.
std::string ReadReg(const platform::RegRoot& hive, const std::string& key_path,
                    const std::string& value_name, const std::int16_t& value_type);

// Reads the logon name of the current user into `user_name`.
void fncGetUserName(std::string variable_name, std::string& user_name, std::string& error_text);
