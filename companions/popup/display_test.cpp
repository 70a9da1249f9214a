#include "companions/popup/display.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/failure.h"

namespace flarebox {
namespace {

namespace protocol = platform::automation_protocol;
using platform::Variant;
using std::chrono::milliseconds;

TEST(IconStyle, MessageBoxIconForEachIconCode) {
  const std::pair<std::int32_t, std::uint32_t> cases[] = {
      {7, 0x40},
      {64, 0x40},
      {16, 0x10},
      {32, 0x20},
      {48, 0x30},
      // Anything else has none: flags are not masked off, nor other bits.
      {0, 0},
      {5, 0},
      {17, 0},
      {71, 0},
      {80, 0},
      {112, 0},
      {0x10010, 0},
      {-64, 0},
      {-1, 0}};
  for (const auto& [icon, style] : cases) EXPECT_EQ(IconStyle(icon), style) << icon;
}

TEST(Opacity, PercentOfOpacityFromOneToAHundredElseSolid) {
  const std::pair<std::int16_t, int> cases[] = {{1, 3},     {50, 128},    {99, 252},
                                                {100, 255}, {0, 255},     {-1, 255},
                                                {101, 255}, {32767, 255}, {-32768, 255}};
  for (const auto& [level, alpha] : cases) EXPECT_EQ(Opacity(level), alpha) << level;
}

TEST(PopupPixels, TwipsAtTheScreensResolutionWithinBounds) {
  // The run's own size, at 96 and at 144 dpi.
  EXPECT_EQ(PopupPixels(6000, 1300, 96, 1024, 768), (PixelSize{400, 87}));
  EXPECT_EQ(PopupPixels(6000, 1300, 144, 2000, 1000), (PixelSize{600, 130}));
  // Nothing set, or less than nothing: the default.
  EXPECT_EQ(PopupPixels(0, 0, 96, 1024, 768), (PixelSize{400, 100}));
  EXPECT_EQ(PopupPixels(-5, -1, 96, 1024, 768), (PixelSize{400, 100}));
  // Too small, too big.
  EXPECT_EQ(PopupPixels(15, 15, 96, 1024, 768), (PixelSize{200, 64}));
  EXPECT_EQ(PopupPixels(2147483647, 2147483647, 96, 1024, 740), (PixelSize{1024, 740}));
  // An unknown resolution counts as 96 dpi.
  EXPECT_EQ(PopupPixels(6000, 1300, 0, 1024, 768), (PixelSize{400, 87}));
}

// A back-end that records what it was asked and plays a script.
struct Script {
  std::vector<PopupSettings> shown;
  // What each Wait gives, in turn; kStillUp once the list is out. A wait
  // that gives kStillUp takes its time limit, so that time passes as it would.
  std::deque<Closing> waits;
  bool fail_show = false;
  bool fail_wait = false;  // the desktop goes away
  int closes = 0;
  std::vector<std::optional<milliseconds>> limits;
};

class FakeBackend final : public Backend {
 public:
  explicit FakeBackend(Script& script) : script_(script) {}
  void Show(const PopupSettings& settings) override {
    if (script_.fail_show) throw platform::Failure(440, "No notification service: none");
    script_.shown.push_back(settings);
  }
  Closing Wait(std::optional<milliseconds> limit) override {
    script_.limits.push_back(limit);
    if (script_.fail_wait) throw platform::Failure(440, "gone");
    if (!script_.waits.empty()) {
      const Closing next = script_.waits.front();
      script_.waits.pop_front();
      return next;
    }
    if (limit && limit->count() > 0) std::this_thread::sleep_for(*limit);
    return Closing::kStillUp;
  }
  void Close() override { ++script_.closes; }

 private:
  Script& script_;
};

class DisplayTest : public ::testing::Test {
 protected:
  DisplayTest() : display_([this] { return std::make_unique<FakeBackend>(script_); }) {}

  // The answer line to a request line, as the server would send it.
  std::string Ask(const std::string& line) {
    const auto request = protocol::ParseRequest(line);
    if (!request) return "not a request";
    return protocol::FormatAnswer(display_.Handle(*request));
  }

  Script script_;
  Display display_;
};

TEST_F(DisplayTest, PropertiesStartWithTheirDefaultsAndReadBackInTheirTypes) {
  EXPECT_EQ(Ask("GET Icon"), "OK I4 0");
  EXPECT_EQ(Ask("GET Header"), "OK BSTR ");
  EXPECT_EQ(Ask("GET Body"), "OK BSTR ");
  EXPECT_EQ(Ask("GET DisplayTimeSeconds"), "OK I4 10");
  EXPECT_EQ(Ask("GET PopupHeight"), "OK I4 0");
  EXPECT_EQ(Ask("GET PopupWidth"), "OK I4 0");
  EXPECT_EQ(Ask("GET TransparencyLevel"), "OK I2 0");
  EXPECT_EQ(Ask("GET ModalForm"), "OK I4 0");
  EXPECT_EQ(Ask("GET ClosedBy"), "OK BSTR ");

  EXPECT_EQ(Ask("PUT icon I4 7"), "OK");
  EXPECT_EQ(Ask("PUT HEADER BSTR New RSS Feed"), "OK");
  EXPECT_EQ(Ask("PUT Body BSTR two\\nlines \xc3\xa9"), "OK");
  EXPECT_EQ(Ask("PUT DisplayTimeSeconds BSTR  12 "), "OK");
  EXPECT_EQ(Ask("PUT PopupHeight I4 1300"), "OK");
  EXPECT_EQ(Ask("PUT PopupWidth I2 6000"), "OK");
  EXPECT_EQ(Ask("PUT TransparencyLevel I4 100"), "OK");
  EXPECT_EQ(Ask("PUT ModalForm BOOL -1"), "OK");
  EXPECT_EQ(Ask("GET Icon"), "OK I4 7");
  EXPECT_EQ(Ask("GET Header"), "OK BSTR New RSS Feed");
  EXPECT_EQ(Ask("GET Body"), "OK BSTR two\\nlines \xc3\xa9");
  EXPECT_EQ(Ask("GET DisplayTimeSeconds"), "OK I4 12");
  EXPECT_EQ(Ask("GET PopupHeight"), "OK I4 1300");
  EXPECT_EQ(Ask("GET PopupWidth"), "OK I4 6000");
  EXPECT_EQ(Ask("GET TransparencyLevel"), "OK I2 100");
  EXPECT_EQ(Ask("GET ModalForm"), "OK I4 -1");
  // Numbers and booleans become text.
  EXPECT_EQ(Ask("PUT Header I4 42"), "OK");
  EXPECT_EQ(Ask("GET Header"), "OK BSTR 42");
  EXPECT_EQ(Ask("PUT Body BOOL -1"), "OK");
  EXPECT_EQ(Ask("GET Body"), "OK BSTR True");
}

TEST_F(DisplayTest, WrongValuesAndWrongUsesAnswerAsAutomationDoes) {
  EXPECT_EQ(Ask("PUT Icon BSTR seven"), "ERR 13 Type mismatch");
  EXPECT_EQ(Ask("PUT Icon BSTR "), "ERR 13 Type mismatch");
  EXPECT_EQ(Ask("PUT Icon BSTR 99999999999"), "ERR 6 Overflow");
  EXPECT_EQ(Ask("PUT TransparencyLevel I4 32768"), "ERR 6 Overflow");
  EXPECT_EQ(Ask("PUT TransparencyLevel I4 -32768"), "OK");
  EXPECT_EQ(Ask("GET Icon"), "OK I4 0");  // a refused value leaves the old one
  const std::string no_such = "ERR 438 Object doesn't support this property or method";
  EXPECT_EQ(Ask("PUT Colour I4 1"), no_such);
  EXPECT_EQ(Ask("GET Colour"), no_such);
  EXPECT_EQ(Ask("CALL Icon"), no_such);
  EXPECT_EQ(Ask("GET Popup"), no_such);
  EXPECT_EQ(Ask("PUT Popup I4 1"), no_such);
  EXPECT_EQ(Ask("PUT ClosedBy BSTR CLICK"), no_such);
  EXPECT_EQ(Ask("CALL ClosedBy"), no_such);
  EXPECT_TRUE(script_.shown.empty());
}

TEST_F(DisplayTest, PopupShowsEveryPropertyThroughTheBackend) {
  for (const char* line : {"PUT Icon I4 48", "PUT Header BSTR Head", "PUT Body BSTR a\\nb",
                           "PUT DisplayTimeSeconds I4 0", "PUT PopupHeight I4 1300",
                           "PUT PopupWidth I4 6000", "PUT TransparencyLevel I2 40"}) {
    ASSERT_EQ(Ask(line), "OK") << line;
  }
  EXPECT_EQ(Ask("CALL Popup"), "OK");
  ASSERT_EQ(script_.shown.size(), 1u);
  const PopupSettings& shown = script_.shown[0];
  EXPECT_EQ(shown.icon, 48);
  EXPECT_EQ(shown.header, "Head");
  EXPECT_EQ(shown.body, "a\nb");
  EXPECT_EQ(shown.display_time_seconds, 0);
  EXPECT_EQ(shown.height, 1300);
  EXPECT_EQ(shown.width, 6000);
  EXPECT_EQ(shown.transparency_level, 40);
  // Not modal: nothing waited for, beyond a look when ClosedBy is read.
  EXPECT_TRUE(script_.limits.empty());
}

TEST_F(DisplayTest, ModalPopupAnswersHowTheBackendSaysItClosed) {
  ASSERT_EQ(Ask("PUT ModalForm I4 1"), "OK");
  const std::pair<std::vector<Closing>, std::string> cases[] = {
      {{Closing::kClick}, "CLICK"},
      {{Closing::kExit}, "EXIT"},
      {{Closing::kAutoClose}, "AUTOCLOSE"},
      {{Closing::kStillUp, Closing::kStillUp, Closing::kExit}, "EXIT"}};
  for (const auto& [waits, answer] : cases) {
    script_.waits.assign(waits.begin(), waits.end());
    script_.closes = 0;
    EXPECT_EQ(Ask("CALL Popup"), "OK");
    EXPECT_TRUE(script_.waits.empty()) << answer;
    EXPECT_EQ(Ask("GET ClosedBy"), "OK BSTR " + answer);
    // A click is the one outcome after which the popup may still be up.
    EXPECT_EQ(script_.closes, answer == "CLICK" ? 1 : 0) << answer;
  }
  // The waits are bounded by the display time and a second more.
  ASSERT_FALSE(script_.limits.empty());
  ASSERT_TRUE(script_.limits[0].has_value());
  EXPECT_GT(script_.limits[0]->count(), 10000);
  EXPECT_LE(script_.limits[0]->count(), 11000);
}

TEST_F(DisplayTest, ModalPopupWithoutDisplayTimeWaitsWithoutLimit) {
  ASSERT_EQ(Ask("PUT ModalForm I4 1"), "OK");
  ASSERT_EQ(Ask("PUT DisplayTimeSeconds I4 -3"), "OK");
  script_.waits = {Closing::kStillUp, Closing::kClick};
  EXPECT_EQ(Ask("CALL Popup"), "OK");
  EXPECT_EQ(Ask("GET ClosedBy"), "OK BSTR CLICK");
  ASSERT_EQ(script_.limits.size(), 2u);
  EXPECT_FALSE(script_.limits[0].has_value());
  EXPECT_FALSE(script_.limits[1].has_value());
}

TEST_F(DisplayTest, ModalPopupThatNobodyClosesIsClosedASecondAfterItsTime) {
  ASSERT_EQ(Ask("PUT ModalForm I4 1"), "OK");
  ASSERT_EQ(Ask("PUT DisplayTimeSeconds I4 1"), "OK");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Ask("CALL Popup"), "OK");
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(2000));
  EXPECT_EQ(Ask("GET ClosedBy"), "OK BSTR AUTOCLOSE");
  EXPECT_EQ(script_.closes, 1);
}

TEST_F(DisplayTest, NotModalPopupTellsItsOutcomeOnceKnown) {
  script_.waits = {Closing::kStillUp, Closing::kStillUp, Closing::kExit};
  EXPECT_EQ(Ask("CALL Popup"), "OK");
  EXPECT_EQ(Ask("GET ClosedBy"), "OK BSTR ");
  EXPECT_EQ(Ask("GET ClosedBy"), "OK BSTR ");
  EXPECT_EQ(Ask("GET ClosedBy"), "OK BSTR EXIT");
  // Known once, it stays, and the back-end is not asked again.
  EXPECT_EQ(Ask("GET ClosedBy"), "OK BSTR EXIT");
  EXPECT_EQ(script_.limits.size(), 3u);
  for (const auto& limit : script_.limits) EXPECT_EQ(limit, milliseconds(0));
  // The next Popup starts afresh.
  script_.waits = {Closing::kStillUp, Closing::kClick};
  EXPECT_EQ(Ask("CALL Popup"), "OK");
  EXPECT_EQ(Ask("GET ClosedBy"), "OK BSTR ");
  EXPECT_EQ(Ask("GET ClosedBy"), "OK BSTR CLICK");
  EXPECT_EQ(script_.shown.size(), 2u);
}

TEST_F(DisplayTest, BackendFailuresAnswerThePopupCallAndLeaveNoOutcome) {
  script_.fail_show = true;
  EXPECT_EQ(Ask("CALL Popup"), "ERR 440 No notification service: none");
  EXPECT_EQ(Ask("GET ClosedBy"), "OK BSTR ");

  // The desktop goes away during a modal popup: the call fails with its reason.
  script_.fail_show = false;
  script_.fail_wait = true;
  ASSERT_EQ(Ask("PUT ModalForm I4 1"), "OK");
  EXPECT_EQ(Ask("CALL Popup"), "ERR 440 gone");
  EXPECT_EQ(Ask("GET ClosedBy"), "OK BSTR ");

  // ... or during one that is not waited for: nobody will tell its outcome.
  ASSERT_EQ(Ask("PUT ModalForm I4 0"), "OK");
  EXPECT_EQ(Ask("CALL Popup"), "OK");
  const std::size_t waits = script_.limits.size();
  EXPECT_EQ(Ask("GET ClosedBy"), "OK BSTR ");
  script_.fail_wait = false;
  script_.waits = {Closing::kClick};
  EXPECT_EQ(Ask("GET ClosedBy"), "OK BSTR ");
  EXPECT_EQ(script_.limits.size(), waits + 1);
}

}  // namespace
}  // namespace flarebox
