// The message box on Windows: shown and answered where there is a display
// (a watcher answers it like a user would), written to standard error where
// there is none (Wine without a display).
#include "platform/messagebox.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>

#include "platform/win32/test_support.h"
#include "platform/win32/wide_text.h"

namespace {

const char* const kText = "QVM Components for RSS Feed is missing. Please contact DeskAid365.";

// Looks for the box by its caption for a while and presses its OK button.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(const std::string& caption)
      : caption_(platform::Widen(caption)), thread_([this] { Run(); }) {}
  ~BoxAnswerer() {
    stop_ = true;
    thread_.join();
  }
  bool answered() const { return answered_; }

 private:
  void Run() {
    for (int i = 0; i < 200 && !stop_; ++i) {
      if (HWND box = ::FindWindowW(nullptr, caption_.c_str())) {
        answered_ = true;
        ::PostMessageW(box, WM_COMMAND, IDOK, 0);
        return;
      }
      ::Sleep(50);
    }
  }
  std::wstring caption_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> answered_{false};
  std::thread thread_;
};

TEST(Win32MessageBox, ShownAndAnsweredOrWrittenToStandardError) {
  const std::string caption = "rssnotify test box \xE2\x82\xAC";  // the caption's euro sign, too
  std::string written;
  int answer = 0;
  bool answered = false;
  {
    platform::testing::CapturedStderr captured;
    BoxAnswerer answerer(caption);
    answer = platform::ShowMessageBox(std::string(kText) + "\nline two", caption,
                                      platform::kMbOk | platform::kMbIconStop);
    written = captured.Text();
    answered = answerer.answered();
  }
  EXPECT_EQ(answer, platform::kIdOk);
  if (answered) {
    EXPECT_EQ(written, "");
  } else {
    EXPECT_EQ(written, caption + ": " + kText + "\nline two\n");
  }
}

}  // namespace
