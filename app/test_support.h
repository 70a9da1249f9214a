// For tests of the routines: what they log, and the end of the run.
// Portable, as the routines are.
#pragma once

#include <regex>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/end_application.h"
#include "platform/filesystem.h"
#include "platform/testing/test_support.h"

// While it lives, EndApplication and EndProcess throw EndedForTesting (after
// their clean-up) instead of ending the process, so that a test can run a
// routine up to its end:
//   InterceptedEnd end;
//   EXPECT_THROW(fncPopulateRSSLinks(), EndedForTesting);
class InterceptedEnd {
 public:
  InterceptedEnd() : before_(InterceptEndForTesting(true)) {}
  ~InterceptedEnd() { InterceptEndForTesting(before_); }
  InterceptedEnd(const InterceptedEnd&) = delete;
  InterceptedEnd& operator=(const InterceptedEnd&) = delete;

 private:
  bool before_;
};

// Captures what the routines log, without time stamps, from an empty
// AppState; AppState is emptied again at the end. The end of the run is
// intercepted meanwhile: a routine that ends it unexpectedly fails the test
// instead of ending the test program as if it had passed.
class CapturedLog {
 public:
  CapturedLog() {
    ResetAppStateForTesting();
    AppState.LogStream = std::make_unique<Stream>(&text_);
  }
  ~CapturedLog() { ResetAppStateForTesting(); }

  // The texts of the lines written so far; each line must carry a proper
  // time stamp.
  std::vector<std::string> Lines() const {
    static const std::regex kLine(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\t([^]*))");
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text_.find("\r\n", start)) != std::string::npos; start = end + 2) {
      std::smatch match;
      std::string line = text_.substr(start, end - start);
      if (std::regex_match(line, match, kLine)) {
        lines.push_back(match[1]);
      } else {
        lines.push_back("<no time stamp> " + line);
      }
    }
    return lines;
  }
  void Clear() { text_.clear(); }

 private:
  class Stream : public platform::TextStream {
   public:
    explicit Stream(std::string* sink) : sink_(sink) {}
    void Write(const std::string& text) override { *sink_ += text; }
    void WriteLine(const std::string& text) override { *sink_ += text + "\r\n"; }
    bool AtEndOfStream() override { return true; }
    std::string ReadAll() override { return {}; }
    void Close() override {}

   private:
    std::string* sink_;
  };
  std::string text_;
  InterceptedEnd end_;
};

// Makes `folder` the run's data folder, with its feed folder
// ("qLUX\Dovel\RSSLinks"), for user "jdoe" and version "2" of template "T".
inline void UseAsDataFolder(const platform::testing::ScratchFolder& folder) {
  AppState.DataPath = folder.path() + "\\";
  AppState.UserName = "jdoe";
  AppState.TemplateID = "T";
  AppState.TemplateVersion = "2";
  for (const char* name : {"qLUX", "qLUX/Dovel", "qLUX/Dovel/RSSLinks"}) {
    platform::Files().CreateFolder(folder / name);
  }
}
