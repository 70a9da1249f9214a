#include "app/driver.h"

#include "app/app_state.h"
#include "app/environment.h"
#include "app/log.h"
#include "feeds/update_driver.h"
#include "platform/failure.h"
#include "platform/system.h"
#include "template/template_reader.h"

void Main() {
  try {
    InitEnvironment();
    AppState.AppTitle = "NOVR Relay Desk - RSS Feed";
    const std::string template_path = AppState.InstallPath + "qLUX\\Dovel\\qVMMenu.xml";
    if (!FileSysObject().FileExists(template_path)) {
      WriteLog("MSG :" + AppState.InstallPath + "qLUX\\Dovel\\qVMMenu.xml is missing. ");
      EndApplication();
    }
    if (fncParseLUXTemplateXML(template_path) != kFalse) {
      fncPopulateRSSLinks();
    } else {
      EndApplication();
    }
  } catch (...) {
    // Last resort: anything no routine caught. Before the log is open the
    // line is lost, and the run ends here.
    const platform::Failure failure = platform::CaughtFailure();
    WriteLog("ERR : In Main," + failure.description());
  }
}

void EndApplication() {
  try {
    WriteLog("MSG : Application Ended");
  } catch (...) {
  }
  try {
    if (AppState.LogStream) AppState.LogStream->Close();
  } catch (...) {
  }
  AppState.LogStream.reset();
  AppState.FileSys = nullptr;
  // Last: everything this run wrote is closed before the next run may start.
  AppState.RunLock.Release();
  platform::ExitProcess(0);
}

void ResetAppStateForTesting() {
  AppState = AppStateRecord{};
}
