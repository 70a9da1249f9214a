// qVMRSS, the product's feed viewer. The feed update starts it, with no
// arguments and without a window, when the user clicks the notification. It
// shows the stores of the template the last feed update processed as one
// HTML page in the desktop's browser, then marks the items it showed read.
#include <cstdint>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/product/folders.h"
#include "companions/viewer/desktop.h"
#include "companions/viewer/output.h"
#include "companions/viewer/page.h"
#include "companions/viewer/stores.h"
#include "platform/failure.h"
#include "platform/filesystem.h"
#include "platform/run_lock.h"

namespace {

constexpr char kProgram[] = "qVMRSS";
// How long the viewer waits for a feed update to let go of the run lock
// before it leaves the statuses of a store as they are. The page is already
// shown by then; a run started just before the viewer (the click that
// started it ends that run) is gone well within this.
constexpr std::uint32_t kRunLockWaitMs = 5000;

int Run() {
  std::string install_path;
  std::string data_path;
  if (!product::FindProductFolders(install_path, data_path) ||
      !platform::Files().FolderExists(data_path)) {
    std::cerr << kProgram
              << ": the product's data folder cannot be found (is the installation path "
                 "registered?)\n";
    return 1;
  }
  std::string user_name;
  try {
    product::ReadUserName(user_name);
  } catch (...) {
    // Out of memory: the name is what the reader left, as rssnotify's.
  }

  const viewer::RecordedFeeds recorded = viewer::ReadRecordedFeeds(data_path, user_name);
  std::vector<viewer::FeedView> feeds;
  std::string html;
  if (recorded.recorded) {
    feeds = viewer::LoadRecordedFeeds(data_path, recorded);
    html = viewer::RenderPage(feeds);
  } else {
    html = viewer::RenderNothingYetPage();
  }

  std::string why_not;
  const std::optional<viewer::PagePlace> place = viewer::UserPagePlace(&why_not);
  if (!place) {
    std::cerr << kProgram << ": " << why_not << "\n";
    return 1;
  }
  std::string page_path;
  try {
    page_path = viewer::WritePage(place->folder, html, place->separator);
  } catch (const platform::Failure& failure) {
    std::cerr << kProgram << ": cannot write the page in " << place->folder << ": "
              << failure.description() << "\n";
    return 1;
  }
  if (!viewer::ShowInBrowser(page_path)) std::cout << page_path << std::endl;

  // Only what the user has been shown counts as read. Each store is read,
  // marked and saved under the data folder's run lock, so that a feed update
  // cannot save new items in between and lose them to this save (nor this
  // one lose its marks to the update's). A feed update that holds the lock
  // longer than a few seconds wins: the statuses stay as they are, to be
  // marked the next time.
  int status = 0;
  bool lock_refused = false;
  for (const viewer::FeedView& feed : feeds) {
    if (!viewer::HasUnreadItems(feed)) continue;
    if (lock_refused) continue;
    const std::string store = viewer::RecordedStorePath(data_path, recorded, feed.number);
    try {
      platform::RunLock lock = platform::RunLock::Take(data_path, kRunLockWaitMs);
      if (!lock.held()) {
        std::cerr << kProgram
                  << ": a feed update is in progress; the items shown stay marked new until "
                     "the next time\n";
        lock_refused = true;
        status = 1;
        continue;
      }
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
