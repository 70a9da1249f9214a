// The popup as a window of its own (Windows).
#include "companions/popup/backend.h"
#include "platform/desktop/popup_window.h"

namespace flarebox {
namespace {

namespace w = platform::popup_window;

class WindowBackend final : public Backend {
 public:
  void Show(const PopupSettings& settings) override {
    const w::Screen screen = w::CurrentScreen();
    const PixelSize size = PopupPixels(settings.width, settings.height, screen.dpi,
                                       screen.area_width, screen.area_height);
    w::Content content;
    // Tools and tests look the popup up by this class name.
    content.window_class = "FlareboxDisplayPopup";
    content.icon_style = IconStyle(settings.icon);
    content.header = settings.header;
    content.body = settings.body;
    content.display_time_seconds = settings.display_time_seconds;
    content.width = size.width;
    content.height = size.height;
    content.opacity = Opacity(settings.transparency_level);
    window_ = w::Window::Show(content);
  }

  Closing Wait(std::optional<std::chrono::milliseconds> limit) override {
    if (!window_) return Closing::kExit;
    switch (window_->Wait(limit)) {
      case w::Closing::kClicked:
        return Closing::kClick;
      case w::Closing::kClosed:
        return Closing::kExit;
      case w::Closing::kTimeUp:
        return Closing::kAutoClose;
      case w::Closing::kStillUp:
        break;
    }
    return Closing::kStillUp;
  }

  void Close() override {
    if (window_) window_->Close();
  }

 private:
  std::unique_ptr<w::Window> window_;
};

}  // namespace

std::unique_ptr<Backend> DesktopBackend() {
  return std::make_unique<WindowBackend>();
}

}  // namespace flarebox
