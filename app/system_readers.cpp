#include "app/system_readers.h"

#include "app/log.h"
#include "platform/failure.h"
#include "platform/system.h"

std::string ReadReg(const platform::RegRoot& hive, const std::string& key_path,
                    const std::string& value_name, const std::int16_t& value_type) {
  std::string result;
  try {
    std::unique_ptr<platform::RegKey> key;
    if (platform::OpenRegKey(hive, key_path, 0, platform::kKeyQueryValue, key) !=
        platform::kErrorSuccess) {
      return {};
    }
    if (value_type == 1) {
      // Ask for the size first with an empty buffer, then read with a buffer
      // of that size; the stored type is not compared with the one asked for.
      std::uint32_t type = platform::kRegSz;
      std::uint32_t size = 0;
      unsigned char empty = 0;
      long answer = key->QueryValue(value_name, &type, &empty, &size);
      std::string buffer;
      if (answer == platform::kErrorMoreData) {
        buffer.assign(size, ' ');
        answer = key->QueryValue(value_name, &type, reinterpret_cast<unsigned char*>(buffer.data()),
                                 &size);
      }
      // A value with no data at all (size 0) reads as empty text.
      if (answer == platform::kErrorSuccess && size > 0) result = buffer.substr(0, size - 1);
    } else if (value_type == 4) {
      std::uint32_t type = platform::kRegDword;
      std::uint32_t number = 0;
      std::uint32_t size = sizeof number;
      if (key->QueryValue(value_name, &type, reinterpret_cast<unsigned char*>(&number), &size) ==
          platform::kErrorSuccess) {
        result = std::to_string(static_cast<std::int32_t>(number));
      }
    }
  } catch (...) {
    const platform::Failure failure = platform::CaughtFailure();
    WriteLog("ERR : in fnc ReadReg. Err : " + std::to_string(failure.number()) +
             "::" + failure.description());
    return {};
  }
  return result;
}

void fncGetUserName(std::string variable_name, std::string& user_name, std::string& error_text) {
  try {
    user_name.assign(100, '\0');
    std::uint32_t size = 100;
    platform::QueryUserName(user_name.data(), &size);
    user_name.resize(user_name.find('\0') == std::string::npos ? user_name.size()
                                                               : user_name.find('\0'));
  } catch (...) {
    const platform::Failure failure = platform::CaughtFailure();
    error_text = "Error while expanding the environmental variable " + variable_name + ", " +
                 failure.description();
    WriteLog("ERR : fncGetUserName, " + error_text);
  }
}
