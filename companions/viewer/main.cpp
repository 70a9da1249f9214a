// qVMRSS, the product's feed viewer. The feed update starts it, with no
// arguments and without a window, when the user clicks the notification. It
// shows the stores of the template the last feed update processed as one
// HTML page in the desktop's browser, then marks the items it showed read.
#include <iostream>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/environment.h"
#include "app/system_readers.h"
#include "companions/viewer/output.h"
#include "companions/viewer/page.h"
#include "companions/viewer/stores.h"
#include "feeds/site_update.h"
#include "platform/failure.h"
#include "platform/filesystem.h"
#include "platform/process.h"
#include "platform/system.h"

namespace {

constexpr char kProgram[] = "qVMRSS";
constexpr char kDefaultSearchPath[] = "/usr/local/bin:/usr/bin:/bin";

// Hands the page to the desktop's browser; false when there is no desktop or
// no way to reach its browser, so the caller names the page instead.
bool OpenInBrowser(const std::string& page_path) {
  if (!viewer::DesktopPresent(platform::EnvironmentValue("DISPLAY"),
                              platform::EnvironmentValue("WAYLAND_DISPLAY"))) {
    return false;
  }
  const std::optional<std::string> opener = viewer::FindProgram(
      "xdg-open", platform::EnvironmentValue("PATH").value_or(kDefaultSearchPath));
  if (!opener) return false;
  try {
    platform::StartProgram(platform::CommandLine{*opener, {page_path}}, platform::kShowHidden);
    return true;
  } catch (const platform::Failure& failure) {
    std::cerr << kProgram << ": cannot start " << *opener << ": " << failure.description() << "\n";
    return false;
  }
}

int Run() {
  std::string install_path;
  std::string data_path;
  if (!FindProductFolders(install_path, data_path) || !platform::Files().FolderExists(data_path)) {
    std::cerr << kProgram
              << ": the product's data folder cannot be found (is the installation path "
                 "registered?)\n";
    return 1;
  }
  AppState.InstallPath = install_path;
  AppState.DataPath = data_path;
  std::string user_error;
  fncGetUserName("USERNAME", AppState.UserName, user_error);

  const viewer::RecordedFeeds recorded = viewer::ReadRecordedFeeds();
  std::vector<viewer::FeedView> feeds;
  std::string html;
  if (recorded.recorded) {
    feeds = viewer::LoadRecordedFeeds(recorded);
    html = viewer::RenderPage(feeds);
  } else {
    html = viewer::RenderNothingYetPage();
  }

  const std::optional<std::string> folder = viewer::PageFolder(
      platform::EnvironmentValue("XDG_CACHE_HOME"), platform::EnvironmentValue("HOME"));
  if (!folder) {
    std::cerr << kProgram << ": neither XDG_CACHE_HOME nor HOME names a folder for the page\n";
    return 1;
  }
  std::string page_path;
  try {
    page_path = viewer::WritePage(*folder, html);
  } catch (const platform::Failure& failure) {
    std::cerr << kProgram << ": cannot write the page in " << *folder << ": "
              << failure.description() << "\n";
    return 1;
  }
  if (!OpenInBrowser(page_path)) std::cout << page_path << std::endl;

  // Only what the user has been shown counts as read.
  int status = 0;
  for (const viewer::FeedView& feed : feeds) {
    const std::string store = StorePath(feed.number);
    try {
      viewer::MarkShownItemsRead(store, feed);
    } catch (const platform::Failure& failure) {
      std::cerr << kProgram << ": cannot mark the items of " << feed.store_path
                << " read: " << failure.description() << "\n";
      status = 1;
    }
  }
  return status;
}

}  // namespace

int main() {
  try {
    return Run();
  } catch (...) {
    const platform::Failure failure = platform::CaughtFailure();
    std::cerr << kProgram << ": " << failure.description() << "\n";
    return 1;
  }
}
