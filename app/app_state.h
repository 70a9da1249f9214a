// The run's shared state: everything that lives from start to end of a run.
// Every routine reads and writes these fields by name; there is no other
// shared state. With the log (app/log.h) and the end of the run
// (app/end_application.h) it is the bottom of the program: every routine may
// include it, and it includes nothing of the routines.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/vbbool.h"
#include "platform/filesystem.h"
#include "platform/run_lock.h"

// A converted feed (the converter's "rootrss" document, see
// feeds/converted_reader.h): its header and one of its items.
struct RssChannel {
  std::string MainTitle;
  std::string MainLink;
  std::string MainDescription;
};

struct RssItem {
  std::string Title;
  std::string Description;
  std::string Link;
  std::string PubDate;
  std::string Author;
  std::string Guid;
  std::string Status;
};

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

// Empties AppState (for tests that run several runs in one process).
void ResetAppStateForTesting();
