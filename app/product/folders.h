// Where the product is and who runs it: the facts that rssnotify and the
// product's other programs (the viewer, the converter) find alike. Nothing
// here logs or keeps state; rssnotify's routines log around it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/filesystem.h"
#include "platform/registry.h"

namespace product {

// One registry value as text; "" when the key or the value cannot be opened.
// Value type 1 is text, 4 a 32-bit number; any other type gives "" without a
// query. Throws platform::Failure when the registry fails otherwise.
std::string RegistryValue(const platform::RegRoot& hive, const std::string& key_path,
                          const std::string& value_name, std::int16_t value_type);

// The installation path as registered ("" when it is missing or unreadable).
std::string ReadInstallPath();
// True when the installation path is non-blank and an existing folder.
bool InstallPathUsable(const std::string& install_path);
// `install_path` with a backslash appended when its trimmed form does not end
// in one.
std::string WithTrailingBackslash(const std::string& install_path);
// The product data folder for an installation path (ending in a backslash)
// and the value of ALLUSERSPROFILE ("" when unset).
std::string ChooseDataPath(const std::string& install_path, const std::string& all_users_profile);
// InstallPath and DataPath as rssnotify finds them: false when the
// installation path is unusable.
bool FindProductFolders(std::string& install_path, std::string& data_path);

// Reads the logon name of the current user into `user_name` ("" when it
// cannot be found). Throws platform::Failure only when memory runs out.
void ReadUserName(std::string& user_name);

}  // namespace product
