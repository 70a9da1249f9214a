#include "app/log.h"

#include <cstdio>

#include "app/app_state.h"

std::string FormatLogLine(const platform::LocalTime& time, const std::string& text) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d/%02d/%04d %02d:%02d:%02d\t", time.month, time.day,
                time.year, time.hour, time.minute, time.second);
  return stamp + text;
}

std::string LogFileName(const std::string& base_name, const std::string& reg_id,
                        const platform::LocalTime& date, const std::string& user_name) {
  char day[16];
  std::snprintf(day, sizeof day, "%02d%02d%04d", date.month, date.day, date.year);
  return base_name + "_" + reg_id + "_" + day + "_" + user_name + ".txt";
}

void WriteLog(std::string text) {
  // The log must never stop a run: a line that cannot be written is lost.
  try {
    if (!AppState.LogStream) return;
    AppState.LogStream->WriteLine(FormatLogLine(platform::Now(), text));
  } catch (...) {
  }
}
