#include "app/app_state.h"

AppStateRecord AppState;

platform::FileSystem& FileSysObject() {
  if (AppState.FileSys == nullptr) AppState.FileSys = &platform::Files();
  return *AppState.FileSys;
}

void ResetAppStateForTesting() {
  AppState = AppStateRecord{};
}
