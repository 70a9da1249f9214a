// Opening a document with the application that the user's desktop has for
// its type, as a double-click on it would.
//
// Windows only: the shell's "open" verb (ShellExecuteW), which finds the
// application through the file type's registration, the default browser for
// a page. No command line is built or split on the way. The Linux viewer
// reaches the desktop's opener (xdg-open) through the process facility
// itself, so there is no Linux implementation.
#pragma once

#include <string>

namespace platform {

// Hands the file at `native_path` to its application and returns without
// waiting for it. Throws Failure: 53 when the file or the application cannot
// be found, 75 when the type has no application or it cannot be started;
// the description holds the shell's reason.
void OpenWithDefaultApplication(const std::string& native_path);

}  // namespace platform
