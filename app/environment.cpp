#include "app/environment.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/end_application.h"
#include "app/guard.h"
#include "app/log.h"
#include "app/product/feed_files.h"
#include "app/product/folders.h"
#include "app/system_readers.h"
#include "app/text.h"
#include "platform/failure.h"
#include "platform/run_lock.h"
#include "platform/system.h"

namespace {

const std::string kStars(85, '*');

// How long a run waits for the run in progress on the same data folder: two
// converter time-outs, so that a run started while another one is busy with
// a feed still gets its turn. One that holds the lock longer (many slow
// feeds, a popup nobody closes) is left to finish, and this run ends.
constexpr std::uint32_t kRunLockWaitMs = 2 * 30000;

// The day's log of this user, as InitEnvironment names it.
std::string DayLogPath(const std::string& user_name) {
  return AppState.DataPath + "ApplicationLog\\qLUXLog\\" +
         LogFileName(platform::ExecutableBaseName(), AppState.RegID, platform::Now(), user_name);
}

// Takes the data folder's run lock, or ends the run. A run that cannot have
// it touches nothing of the data folder but its day's log, where it appends
// one line: that log may be the one the run in progress is writing.
void TakeRunLockOrEnd(platform::FileSystem& fs) {
  std::string line;
  try {
    AppState.RunLock = platform::RunLock::Take(AppState.DataPath, kRunLockWaitMs);
    if (AppState.RunLock.held()) return;
    line = "MSG : Another run is in progress; this run ends without changing anything";
  } catch (...) {
    const platform::Failure failure = GuardedFailure();
    line = "ERR : InitEnvironment, cannot take the run lock: " + failure.description();
  }
  try {
    std::string user_name;
    std::string scratch;
    fncGetUserName("USERNAME", user_name, scratch);
    auto stream = fs.OpenTextFileForAppending(DayLogPath(user_name));
    stream->WriteLine(FormatLogLine(platform::Now(), line));
    stream->Close();
  } catch (...) {
    // No log folder yet, or a link in the way: the line is lost.
  }
  EndProcess();
}

// From the log banner on, a failing step is skipped and the next one runs:
// a folder that cannot be made must not cost the run its identity checks.
void ResumeNext(const std::function<void()>& step) {
  try {
    step();
  } catch (...) {
  }
}

std::string RegistryText(const std::string& value_name) {
  return ReadReg(platform::kHkeyLocalMachine, "SOFTWARE\\KESTRA", value_name, 1);
}

// A value too large to be a number (1e999) is no valid identity either.
bool NonZeroNumber(const std::string& text) {
  try {
    return NumericValue(text) != 0;
  } catch (...) {
    return false;
  }
}

// Reads one identity value; an invalid one ends the run.
void ReadIdentity(const std::string& line_before, const std::string& value_name, std::string& field,
                  const std::string& label, const std::string& invalid_line) {
  ResumeNext([&] { WriteLog(line_before); });
  ResumeNext([&] { field = RegistryText(value_name); });
  ResumeNext([&] { WriteLog(label + field); });
  if (!invalid_line.empty() && !NonZeroNumber(field)) {
    WriteLog(invalid_line);
    EndApplication();
  }
}

}  // namespace

void InitEnvironment() {
  platform::HideFromTaskList();
  platform::KeepFreedMemory();

  // Without an installation there is nowhere to log to: leave without a word.
  if (!product::FindProductFolders(AppState.InstallPath, AppState.DataPath)) EndProcess();

  platform::FileSystem& fs = FileSysObject();
  TakeRunLockOrEnd(fs);

  const std::string log_parent = AppState.DataPath + "ApplicationLog";
  if (!fs.FolderExists(log_parent)) fs.CreateFolder(log_parent);
  const std::string log_folder = AppState.DataPath + "ApplicationLog\\qLUXLog";
  if (!fs.FolderExists(log_folder)) {
    WriteLog("MSG : Creating Folder " + log_folder);  // lost: the log is not open yet
    fs.CreateFolder(log_folder);
  }

  std::string scratch;
  fncGetUserName("USERNAME", AppState.UserName, scratch);

  const std::string log_path = DayLogPath(AppState.UserName);
  // A link at the log's place (another user of a shared data folder may have
  // put one there) is removed, never written through; the run says so once
  // its log is open.
  const bool link_removed = fs.IsSymbolicLink(log_path);
  if (link_removed) fs.RemoveFile(log_path, true);
  AppState.LogStream = fs.CreateTextFile(log_path, true, false);

  WriteLog(kStars);
  WriteLog("MSG : Application started");
  WriteLog(kStars);
  if (link_removed) {
    WriteLog("ERR : InitEnvironment, a symbolic link stood at " + log_path +
             "; it was removed and the file it points to left untouched");
  }

  ResumeNext([] { WriteLog("MSG : NOVR installation path : " + AppState.InstallPath); });
  for (const char* literal : {"\\LUXPostLogs", "\\qLUX\\Dovel", "\\qLUX\\Dovel\\RSSLinks"}) {
    const std::string folder = AppState.DataPath + literal;
    ResumeNext([&] {
      if (!fs.FolderExists(folder)) {
        WriteLog("MSG : Creating Folder " + folder);
        // On a fresh data folder "qLUX" does not exist yet: without it the
        // feed folder would never be made and every later write would fail.
        platform::CreateFolderWithParents(fs, folder, AppState.DataPath.size());
      }
    });
  }

  ReadIdentity("MSG : Reading Regid ", "RegID", AppState.RegID,
               "MSG : RegId : ", "MSG : Invalid RegId");
  ReadIdentity("MSG : Reading SITEID ", "siteid", AppState.SiteID,
               "MSG : SiteID : ", "MSG : Invalid Siteid");
  ReadIdentity("MSG : Reading MEMBERID ", "MemberID", AppState.MemberID,
               "MSG : MemberID : ", "MSG : Invalid MemberID");
  ReadIdentity("MSG : Reading AGENTTYPE ", "Type", AppState.AgentType, "MSG : Type : ", "");
}

void RemoveLeftoverTemporaryFiles() {
  try {
    platform::FileSystem& fs = FileSysObject();
    const std::string folder = AppState.DataPath + "qLUX\\Dovel\\RSSLinks";
    if (!fs.FolderExists(folder)) return;
    std::vector<std::string> names = fs.EntryNames(folder);
    std::sort(names.begin(), names.end());  // the log lists them in a stable order
    for (const std::string& name : names) {
      if (!product::IsLeftoverTemporaryName(name)) continue;
      const std::string path = folder + "\\" + name;
      WriteLog("MSG : Removing leftover temporary file " + path);
      fs.RemoveFile(path, true);
    }
  } catch (...) {
    const platform::Failure failure = GuardedFailure();
    WriteLog("ERR : in RemoveLeftoverTemporaryFiles. Err : " + FailureNumber(failure) +
             "::" + failure.description());
  }
}
