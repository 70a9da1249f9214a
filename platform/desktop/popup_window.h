// A notification popup window of our own (Windows): top-most, without a
// taskbar button, in the corner of the work area by the notification area.
// For the popup component; the window belongs to the thread that shows it,
// which must pump its messages (Wait does, and so does any message loop).
//
// The window's class is the caller's and its title the header, so that tools
// and tests find it with FindWindowW. It closes on a click on its
// body (answering kClicked), on its close button or WM_CLOSE (kClosed), and
// by its own timer at its display time (kTimeUp).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace platform::popup_window {

// Control ids of the window's parts.
inline constexpr int kIconId = 1;
inline constexpr int kHeaderId = 2;
inline constexpr int kBodyId = 3;
inline constexpr int kCloseButtonId = 4;

// The screen the popup goes on: resolution and work area (the desktop less
// the taskbar), in pixels.
struct Screen {
  int dpi = 96;
  int area_width = 0;
  int area_height = 0;
};
Screen CurrentScreen();

struct Content {
  std::string window_class;  // the window class's name, UTF-8
  // Message-box icon code: 0x10 stop, 0x20 question, 0x30 exclamation,
  // 0x40 information; anything else none.
  std::uint32_t icon_style = 0;
  std::string header;            // UTF-8
  std::string body;              // UTF-8, line breaks kept
  int display_time_seconds = 0;  // 0 or less: stays until closed
  int width = 0;                 // pixels, within the work area
  int height = 0;
  std::uint8_t opacity = 255;  // 0 clear .. 255 solid
};

enum class Closing { kStillUp, kClicked, kClosed, kTimeUp };

class Window {
 public:
  // Shows the popup. Throws Failure 440 when the window cannot be made.
  static std::unique_ptr<Window> Show(const Content& content);
  virtual ~Window() = default;  // takes the window down when it is up
  // Pumps the thread's messages until the window has closed, or `limit` has
  // passed (without a limit: until it closes; zero: only what is queued).
  virtual Closing Wait(std::optional<std::chrono::milliseconds> limit) = 0;
  virtual void Close() = 0;
};

}  // namespace platform::popup_window
