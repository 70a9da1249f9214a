// The Windows desktop: the page in the user's local application data,
// opened by the shell with the default browser.
#include <iostream>

#include "companions/viewer/desktop.h"
#include "companions/viewer/output.h"
#include "platform/failure.h"
#include "platform/shell_open.h"
#include "platform/system.h"

namespace viewer {

std::optional<PagePlace> UserPagePlace(std::string* why_not) {
  const std::optional<std::string> folder =
      WindowsPageFolder(platform::EnvironmentValue("LOCALAPPDATA"));
  if (!folder) {
    *why_not = "LOCALAPPDATA names no folder for the page";
    return std::nullopt;
  }
  return PagePlace{*folder, '\\'};
}

bool ShowInBrowser(const std::string& page_path) {
  try {
    platform::OpenWithDefaultApplication(page_path);
    return true;
  } catch (const platform::Failure& failure) {
    std::cerr << "qVMRSS: " << failure.description() << "\n";
    return false;
  }
}

}  // namespace viewer
