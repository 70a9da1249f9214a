#include "app/log.h"

#include <cstdio>

#include "app/app_state.h"
#include "app/product/feed_files.h"

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
  return base_name + "_" + reg_id + "_" + day + "_" + product::UserNamePart(user_name) + ".txt";
}

std::string SingleLine(std::string text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
      text[i] = ' ';
    } else if (byte == 0xC2 && i + 1 < text.size() && text[i + 1] == '\x85') {
      text.replace(i, 2, " ");  // NEL
    } else if (byte == 0xE2 && text.compare(i + 1, 1, "\x80") == 0 && i + 2 < text.size() &&
               (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
      text.replace(i, 3, " ");  // line and paragraph separators
    }
  }
  return text;
}

void WriteLog(std::string text) {
  // The log must never stop a run: a line that cannot be written is lost.
  // A text from outside (a feed's date, a URL) must not be able to start a
  // line of its own that would pass for the program's.
  try {
    if (!AppState.LogStream) return;
    AppState.LogStream->WriteLine(FormatLogLine(platform::Now(), SingleLine(std::move(text))));
  } catch (...) {
  }
}
