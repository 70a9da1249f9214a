#include "app/driver.h"

#include "app/app_state.h"
#include "app/end_application.h"
#include "app/environment.h"
#include "app/guard.h"
#include "app/log.h"
#include "feeds/update_driver.h"
#include "template/template_reader.h"

void Main() {
  try {
    InitEnvironment();
    // What a killed run left half-written goes, now that this run holds the
    // lock and nothing else can be saving.
    RemoveLeftoverTemporaryFiles();
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
    const platform::Failure failure = GuardedFailure();
    WriteLog("ERR : In Main," + failure.description());
  }
}
