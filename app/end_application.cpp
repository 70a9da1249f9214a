#include "app/end_application.h"

#include "app/app_state.h"
#include "app/log.h"
#include "platform/system.h"

namespace {
bool intercepted = false;
}  // namespace

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
  EndProcess();
}

void EndProcess() {
  if (intercepted) throw EndedForTesting{};
  platform::ExitProcess(0);
}

bool InterceptEndForTesting(bool intercept) {
  const bool before = intercepted;
  intercepted = intercept;
  return before;
}
