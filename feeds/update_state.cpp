#include "feeds/update_state.h"

#include "app/app_state.h"
#include "app/guard.h"
#include "app/log.h"
#include "app/product/feed_files.h"
#include "app/text.h"
#include "platform/profile.h"

std::string UpdateStatePath() {
  return product::UpdateStatePath(AppState.DataPath, AppState.UserName);
}

std::string FeedSection(const std::string& feed_number) {
  return product::FeedSection(feed_number, AppState.TemplateID, AppState.TemplateVersion);
}

namespace {

// A line break in a name or value would end its line in the file, and the
// rest would be read as lines of their own (a feed's date could plant a
// section); a NUL would cut the value short. Each becomes a blank.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  }
  return text;
}

}  // namespace

void fncwriteToINI(std::string section, std::string key, std::string value, std::string path) {
  section = OneLine(std::move(section));
  key = OneLine(std::move(key));
  value = OneLine(std::move(value));
  try {
    WriteLog("MSG : Writing [" + section + "] " + key + "=" + value + " to file " + path);
    if (!platform::WriteProfileValue(section, key, value, path)) {
      WriteLog("ERR : Failed to write to the INI");
    }
  } catch (...) {
    const platform::Failure failure = GuardedFailure();
    std::string description = Trimmed(failure.description());
    for (std::size_t at; (at = description.find("\r\n")) != std::string::npos;) {
      description.erase(at, 2);
    }
    WriteLog("ERR : fncwriteToINI, " + description + ", while writing to INI " + path);
  }
}

std::int32_t fncReadFromINI(std::string& value, std::string section, std::string key,
                            std::string path) {
  value = product::ReadStateValue(section, key, path);
  return static_cast<std::int32_t>(value.size());
}
