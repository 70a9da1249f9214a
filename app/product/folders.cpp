#include "app/product/folders.h"

#include <algorithm>

#include "platform/ascii.h"
#include "platform/last_error.h"
#include "platform/system.h"

namespace product {
std::string RegistryValue(const platform::RegRoot& hive, const std::string& key_path,
                          const std::string& value_name, std::int16_t value_type) {
  std::unique_ptr<platform::RegKey> key;
  if (platform::OpenRegKey(hive, key_path, 0, platform::kKeyQueryValue, key) !=
      platform::kErrorSuccess) {
    return {};
  }
  std::string result;
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
  return result;
}

std::string ReadInstallPath() {
  try {
    return RegistryValue(platform::kHkeyLocalMachine, "SOFTWARE\\KESTRA", "InstallationPath", 1);
  } catch (...) {
    return {};
  }
}

bool InstallPathUsable(const std::string& install_path) {
  return install_path.find_first_not_of(' ') != std::string::npos &&
         platform::Files().FolderExists(install_path);
}

std::string WithTrailingBackslash(const std::string& install_path) {
  const std::size_t last = install_path.find_last_not_of(' ');
  if (last != std::string::npos && install_path[last] == '\\') return install_path;
  return install_path + "\\";
}

std::string ChooseDataPath(const std::string& install_path, const std::string& all_users_profile) {
  std::string data_path = all_users_profile;
  if (data_path.empty() || data_path.back() != '\\') data_path += "\\";
  const std::string folded = platform::ascii::LowerCase(data_path);
  if (folded.find("programdata") != std::string::npos) return data_path + "KESTRA\\";
  if (folded.find("all users") != std::string::npos) {
    return data_path + "Application Data\\KESTRA\\";
  }
  return install_path;
}

bool FindProductFolders(std::string& install_path, std::string& data_path) {
  install_path = ReadInstallPath();
  if (!InstallPathUsable(install_path)) return false;
  install_path = WithTrailingBackslash(install_path);
  data_path =
      ChooseDataPath(install_path, platform::EnvironmentValue("ALLUSERSPROFILE").value_or(""));
  return true;
}

void ReadUserName(std::string& user_name) {
  user_name.assign(100, '\0');
  std::uint32_t size = 100;
  platform::QueryUserName(user_name.data(), &size);
  user_name.resize(std::min(user_name.find('\0'), user_name.size()));
}

}  // namespace product
