// The activity log.
#pragma once

#include <string>

#include "platform/system.h"

// Appends one time-stamped line to the activity log. Never fails towards its
// caller: before the log is open, or when writing fails, the line is lost.
void WriteLog(std::string text);

// "MM/DD/YYYY HH:NN:SS" + TAB + text, without the line end.
std::string FormatLogLine(const platform::LocalTime& time, const std::string& text);

// base + "_" + reg_id + "_" + mmddyyyy + "_" + user + ".txt"
std::string LogFileName(const std::string& base_name, const std::string& reg_id,
                        const platform::LocalTime& date, const std::string& user_name);
