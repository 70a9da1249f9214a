#include "app/log.h"

#include <gtest/gtest.h>

#include "app/app_state.h"
#include "platform/failure.h"

namespace {

// A stream that keeps what is written, or fails every write.
class RecordingStream : public platform::TextStream {
 public:
  explicit RecordingStream(std::string* sink, bool fail = false) : sink_(sink), fail_(fail) {}
  void Write(const std::string& text) override {
    if (fail_) throw platform::Failure(61);
    *sink_ += text;
  }
  void WriteLine(const std::string& text) override { Write(text + "\r\n"); }
  bool AtEndOfStream() override { return true; }
  std::string ReadAll() override { return {}; }
  void Close() override {}

 private:
  std::string* sink_;
  bool fail_;
};

}  // namespace

TEST(LogLine, TimestampIsMonthDayYearOn24HourClock) {
  platform::LocalTime t{2027, 1, 3, 14, 5, 9};
  EXPECT_EQ(FormatLogLine(t, "MSG : Application started"),
            "01/03/2027 14:05:09\tMSG : Application started");
  EXPECT_EQ(FormatLogLine(t, ""), "01/03/2027 14:05:09\t");
  platform::LocalTime midnight{2026, 12, 7, 0, 0, 0};
  EXPECT_EQ(FormatLogLine(midnight, "x"), "12/07/2026 00:00:00\tx");
}

TEST(LogLine, FileNameCarriesTheEmptyRegIdAsTwoUnderscores) {
  EXPECT_EQ(LogFileName("rssnotify", "", {2026, 12, 7, 8, 49, 32}, "jdoe"),
            "rssnotify__12072026_jdoe.txt");
  EXPECT_EQ(LogFileName("rssnotify", "", {2026, 12, 7, 8, 49, 32}, "CORP\\alice"),
            "rssnotify__12072026_CORP_alice.txt");
}

TEST(WriteLog, AppendsOneCrLfLinePerCallAndNeverFails) {
  ResetAppStateForTesting();
  WriteLog("dropped before the log is open");

  std::string written;
  AppState.LogStream = std::make_unique<RecordingStream>(&written);
  WriteLog("first");
  WriteLog("");
  WriteLog("two\r\nlines");
  // Three calls, one timestamp each; the embedded CR LF becomes two blanks,
  // so that the call still makes exactly one line.
  ASSERT_EQ(written.size(), 3 * 20 + std::string("first\r\n\r\ntwo  lines\r\n").size());
  EXPECT_EQ(written.substr(19, 8), "\tfirst\r\n");
  EXPECT_EQ(written.substr(27 + 19, 3), "\t\r\n");
  EXPECT_EQ(written.substr(49 + 19), "\ttwo  lines\r\n");

  AppState.LogStream = std::make_unique<RecordingStream>(&written, true);
  WriteLog("lost on a full disk");  // must not throw
  ResetAppStateForTesting();
}

TEST(WriteLog, EveryLineBreakingCharacterBecomesOneBlank) {
  EXPECT_EQ(SingleLine("a\rb\nc\r\nd"), "a b c  d");
  EXPECT_EQ(SingleLine(std::string("nul\0x\x1e\x0b\x0c\x7f|", 10)), "nul x    |");
  EXPECT_EQ(SingleLine("tab\tstays"), "tab\tstays");
  EXPECT_EQ(SingleLine("nel\xC2\x85ls\xE2\x80\xA8ps\xE2\x80\xA9."), "nel ls ps .");
  EXPECT_EQ(SingleLine("caf\xC3\xA9 \xE2\x80\x94 ok"), "caf\xC3\xA9 \xE2\x80\x94 ok");
}
