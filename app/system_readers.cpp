#include "app/system_readers.h"

#include "app/guard.h"
#include "app/log.h"
#include "app/product/folders.h"
#include "platform/failure.h"

std::string ReadReg(const platform::RegRoot& hive, const std::string& key_path,
                    const std::string& value_name, const std::int16_t& value_type) {
  try {
    return product::RegistryValue(hive, key_path, value_name, value_type);
  } catch (...) {
    const platform::Failure failure = GuardedFailure();
    WriteLog("ERR : in fnc ReadReg. Err : " + std::to_string(failure.number()) +
             "::" + failure.description());
    return {};
  }
}

void fncGetUserName(std::string variable_name, std::string& user_name, std::string& error_text) {
  try {
    product::ReadUserName(user_name);
  } catch (...) {
    const platform::Failure failure = GuardedFailure();
    error_text = "Error while expanding the environmental variable " + variable_name + ", " +
                 failure.description();
    WriteLog("ERR : fncGetUserName, " + error_text);
  }
}
