// The desktop side of the popup component: what shows the popup and tells
// how it closed. The component's rules (properties, answers, waiting) live in
// Display; each system has one back-end, chosen when the program is built
// (freedesktop notifications on Linux, a popup window of its own on Windows).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace flarebox {

// Everything the popup is shown with, as the properties hold it.
struct PopupSettings {
  std::int32_t icon = 0;
  std::string header;
  std::string body;
  std::int32_t display_time_seconds = 10;
  std::int32_t height = 0;
  std::int32_t width = 0;
  std::int16_t transparency_level = 0;
};

// What a back-end has seen of the popup so far.
enum class Closing {
  kStillUp,    // nothing yet (or nothing that answers the popup)
  kClick,      // the user clicked the popup
  kExit,       // the user closed it (its close button), or someone else did
  kAutoClose,  // its display time ran out
};

class Backend {
 public:
  virtual ~Backend() = default;
  // Shows one popup. Throws platform::Failure 440 when it cannot be shown.
  virtual void Show(const PopupSettings& settings) = 0;
  // Waits for the popup's closing. Without `limit` as long as it takes; with
  // a limit of zero it only takes in what has already happened. Throws
  // platform::Failure 440 when the desktop went away with the popup.
  virtual Closing Wait(std::optional<std::chrono::milliseconds> limit) = 0;
  // Takes the popup down; nothing when it is down already.
  virtual void Close() = 0;
};

// The back-end of the system the program is built for.
std::unique_ptr<Backend> DesktopBackend();

// The message box's icon code of an Icon value: 0x10 stop, 0x20 question,
// 0x30 exclamation, 0x40 information, 0 for none. The code is taken whole
// (17 is no icon, not 16 with a flag), and 7 means information as well.
std::uint32_t IconStyle(std::int32_t icon);

}  // namespace flarebox

namespace flarebox {

// The opacity of a popup window (0 clear .. 255 solid) for a
// TransparencyLevel: 1 to 100 are percent of opacity; 0, the default, and
// anything outside 1..100 give a solid popup.
std::uint8_t Opacity(std::int16_t transparency_level);

// A popup window's size in pixels for PopupWidth and PopupHeight in twips
// (1440 to the inch) on a screen of `dpi` dots per inch whose work area is
// `area_width` x `area_height` pixels. 0 or less takes the default, 6000 x
// 1500 twips (400 x 100 pixels at 96 dpi); the result is at least 200 x 64
// pixels and at most the work area.
struct PixelSize {
  int width = 0;
  int height = 0;
  bool operator==(const PixelSize&) const = default;
};
PixelSize PopupPixels(std::int32_t width_twips, std::int32_t height_twips, int dpi, int area_width,
                      int area_height);

}  // namespace flarebox
