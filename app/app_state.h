// The run's shared state: everything that lives from start to end of a run.
// Every routine reads and writes these fields by name; there is no other
// shared state.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "feeds/converted_reader.h"
#include "platform/filesystem.h"
#include "platform/run_lock.h"

// 16-bit booleans, as the agent's other programs use them.
using VBBool = std::int16_t;
inline constexpr VBBool kTrue = -1;
inline constexpr VBBool kFalse = 0;

struct AppStateRecord {
  std::string InstallPath;  // ends with a backslash once the environment is set up
  std::string DataPath;     // ends with a backslash
  std::string UserName;
  std::string RegID;
  std::string SiteID;
  std::string MemberID;
  std::string AgentType;
  std::string AppTitle;
  std::string TemplateID;
  std::string TemplateVersion;
  std::string RSSEnabled;
  std::string RSSSites;
  std::string RSSUpd;
  std::string PopupMessage;
  std::string strTotalNewRSS;
  RssChannel Channel;
  std::vector<RssItem> RssItems;
  VBBool HasRssItems = kFalse;
  // Created on first use by whichever routine needs it; released only by
  // EndApplication.
  platform::FileSystem* FileSys = nullptr;
  // The activity log, open from start-up to EndApplication.
  std::unique_ptr<platform::TextStream> LogStream;
  // The data folder's run lock, taken at start-up before any file of the
  // data folder is touched and held until the process ends.
  platform::RunLock RunLock;
};

extern AppStateRecord AppState;

// The shared file-system object, created when absent.
platform::FileSystem& FileSysObject();
