// The activity log.
#pragma once

#include <string>

#include "platform/system.h"

// Appends one time-stamped line to the activity log. Never fails towards its
// caller: before the log is open, or when writing fails, the line is lost.
// One call is always exactly one line: see SingleLine.
void WriteLog(std::string text);

// The text with every character that could end or break a line (control
// characters other than TAB, DEL, NEL, U+2028 and U+2029) replaced by one
// blank each.
std::string SingleLine(std::string text);

// "MM/DD/YYYY HH:NN:SS" + TAB + text, without the line end.
std::string FormatLogLine(const platform::LocalTime& time, const std::string& text);

// base + "_" + reg_id + "_" + mmddyyyy + "_" + user + ".txt", the user's
// name as file names carry it (product::UserNamePart).
std::string LogFileName(const std::string& base_name, const std::string& reg_id,
                        const platform::LocalTime& date, const std::string& user_name);
