#include "notify/viewer_launch.h"

#include "app/app_state.h"
#include "app/end_application.h"
#include "app/guard.h"
#include "app/log.h"
#include "notify/process_runner.h"
#include "platform/messagebox.h"

void fncExecuteRSSExe() {
  try {
    const std::string viewer = AppState.InstallPath + "qLUX\\qVMRSS.exe";
    if (FileSysObject().FileExists(viewer)) {
      // Started as the file just tested, not as whatever a prefix of its
      // path up to a blank might name.
      fncExecuteShell(viewer, 0, kTrue,
                      platform::CommandLine{FileSysObject().NativePath(viewer), {}});
      EndApplication();
    }
    WriteLog("ERR : " + viewer + " is missing");
    platform::ShowMessageBox("QVM Components for RSS Feed is missing. Please contact DeskAid365.",
                             AppState.AppTitle, platform::kMbOk | platform::kMbIconStop);
    EndApplication();
  } catch (...) {
    const platform::Failure failure = GuardedFailure();
    WriteLog("ERR : fncExecuteRSSExe. ErrDesc : " + FailureNumber(failure) + " " +
             failure.description());
  }
}
