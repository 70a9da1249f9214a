// Environment set-up: installation and data folders, log, agent identity.
#pragma once

#include <string>

// Sets up the run's environment; may end the process (see environment.cpp).
void InitEnvironment();

// The installation path as registered ("" when it is missing).
std::string ReadInstallPath();
// True when the installation path is non-blank and an existing folder.
bool InstallPathUsable(const std::string& install_path);
// `install_path` with a backslash appended when its trimmed form does not end
// in one.
std::string WithTrailingBackslash(const std::string& install_path);
// The product data folder for an installation path (ending in a backslash)
// and the value of ALLUSERSPROFILE ("" when unset).
std::string ChooseDataPath(const std::string& install_path, const std::string& all_users_profile);

// InstallPath and DataPath as the program finds them, for the product's other
// programs: false when the installation path is unusable.
bool FindProductFolders(std::string& install_path, std::string& data_path);
