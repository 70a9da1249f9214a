#include "feeds/update_driver.h"

#include "app/app_state.h"
#include "app/end_application.h"
#include "app/guard.h"
#include "app/log.h"
#include "app/product/feed_files.h"
#include "app/text.h"
#include "feeds/site_update.h"
#include "feeds/update_state.h"
#include "notify/popup.h"
#include "notify/viewer_launch.h"
#include "platform/ascii.h"

namespace {

const char kDefaultSentence[] =
    "You have total new RSS feeds from your service provider for your reference. Click for view "
    "all messages.";

std::string CountedBody(const std::string& total) {
  return "You have total " + total +
         (NumericValue(total) > 1 ? " new RSS feeds" : " new RSS feed") +
         " from your service provider for your reference. Click for view all messages.";
}

// A stored count is decimal digits only and fits a 32-bit counter. Anything
// else (a damaged file, "9e999") would fail every later run if it were taken
// for a number, so it counts as 0 and is replaced by this run's values.
bool IsStoredCount(const std::string& text) {
  if (text.empty() || text.size() > 10) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return std::stoull(text) <= 2147483647ull;
}

}  // namespace

std::string PopupBody(const std::string& popup_message, const std::string& total) {
  return platform::ascii::EqualsIgnoringCase(Trimmed(popup_message), kDefaultSentence)
             ? CountedBody(total)
             : popup_message;
}

std::int16_t fncPopulateRSSLinks() {
  try {
    WriteLog("MSG : In fncPopulateRSSLinks");
    fncwriteToINI("RSSLinks", "TemplateID", AppState.TemplateID, UpdateStatePath());
    fncwriteToINI("RSSLinks", "TemplateVersion", AppState.TemplateVersion, UpdateStatePath());
    fncwriteToINI("RSSLinks", "Urls", AppState.RSSSites, UpdateStatePath());

    fncReadFromINI(AppState.strTotalNewRSS, "TotalNewRSS", "NewRSSCount", UpdateStatePath());
    if (!AppState.strTotalNewRSS.empty() && !IsStoredCount(AppState.strTotalNewRSS)) {
      WriteLog("ERR : in fncPopulateRSSLinks. Stored NewRSSCount is not a count, taken as 0 : " +
               AppState.strTotalNewRSS);
      AppState.strTotalNewRSS = "0";
    }
    WriteLog("MSG : Total New RSS before updates :: " +
             NumberText(NumericValue(AppState.strTotalNewRSS)));
    // The previous total stays in the file until this run has its own, so a
    // run that stops in the feed loop leaves the last known total behind.
    fncwriteToINI("TotalNewRSS", "NewRSSCount", AppState.strTotalNewRSS, UpdateStatePath());
    AppState.strTotalNewRSS = "0";
    WriteLog("MSG : Making the counter to zero");

    if (!Trimmed(AppState.RSSSites).empty()) {
      const std::vector<std::string> feeds = product::SplitFeedList(AppState.RSSSites);
      for (std::size_t i = 0; i < feeds.size(); ++i) {
        fncParseRSSSite(std::to_string(i + 1), feeds[i]);
      }
    }

    fncwriteToINI("TotalNewRSS", "NewRSSCount", AppState.strTotalNewRSS, UpdateStatePath());
    WriteLog("MSG : Total New RSS after updates :: " +
             NumberText(NumericValue(AppState.strTotalNewRSS)));
    if (NumericValue(AppState.strTotalNewRSS) <= 0) EndApplication();

    const std::string body = PopupBody(AppState.PopupMessage, AppState.strTotalNewRSS);
    AppState.strTotalNewRSS = body;
    if (Trimmed(body).empty()) {
      WriteLog("MSg : Popup will not be shown, as popup msg is not selected.");
      EndApplication();
    }

    std::int32_t icon = 7;
    std::string header = "New RSS Feed";
    std::int32_t display_time_seconds = 10;
    std::int32_t popup_height = 1300;
    std::int32_t popup_width = 6000;
    std::int16_t transparency_level = 100;
    std::int32_t modal_form = 1;
    std::string answer;
    CallPopup(icon, header, AppState.strTotalNewRSS, display_time_seconds, popup_height,
              popup_width, transparency_level, modal_form, answer);
    if (answer == "EXIT") {
      WriteLog("MSG : User clicked on the EXIT button of the popup");
      EndApplication();
    } else if (answer == "CLICK") {
      WriteLog("MSG : User clicked on the popup");
      fncExecuteRSSExe();
    } else if (answer == "AUTOCLOSE") {
      WriteLog("MSG : Popup timeout.");
      EndApplication();
    }
  } catch (...) {
    const platform::Failure failure = GuardedFailure();
    WriteLog("ERR : in fncPopulateRSSLinks. Err : " + FailureNumber(failure) +
             "::" + failure.description());
  }
  return 0;
}
