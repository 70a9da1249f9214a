// The Linux desktop: the page in the user's cache folder, opened with
// xdg-open when a graphical session is there.
#include <iostream>

#include "companions/viewer/desktop.h"
#include "companions/viewer/output.h"
#include "platform/failure.h"
#include "platform/process.h"
#include "platform/system.h"

namespace viewer {
namespace {

constexpr char kDefaultSearchPath[] = "/usr/local/bin:/usr/bin:/bin";

}  // namespace

std::optional<PagePlace> UserPagePlace(std::string* why_not) {
  const std::optional<std::string> folder =
      PageFolder(platform::EnvironmentValue("XDG_CACHE_HOME"), platform::EnvironmentValue("HOME"));
  if (!folder) {
    *why_not = "neither XDG_CACHE_HOME nor HOME names a folder for the page";
    return std::nullopt;
  }
  return PagePlace{*folder, '/'};
}

bool ShowInBrowser(const std::string& page_path) {
  if (!DesktopPresent(platform::EnvironmentValue("DISPLAY"),
                      platform::EnvironmentValue("WAYLAND_DISPLAY"))) {
    return false;
  }
  const std::optional<std::string> opener =
      FindProgram("xdg-open", platform::EnvironmentValue("PATH").value_or(kDefaultSearchPath));
  if (!opener) return false;
  try {
    platform::StartProgram(platform::CommandLine{*opener, {page_path}}, platform::kShowHidden);
    return true;
  } catch (const platform::Failure& failure) {
    std::cerr << "qVMRSS: cannot start " << *opener << ": " << failure.description() << "\n";
    return false;
  }
}

}  // namespace viewer
