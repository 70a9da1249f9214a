#include "platform/desktop/popup_window.h"

#include <windows.h>

#include <algorithm>

#include "platform/failure.h"
#include "platform/win32/wide_text.h"

namespace platform::popup_window {
namespace {

constexpr UINT_PTR kTimerId = 1;
// The popup's colours: dark text on a light slate, as the desktop's own
// notifications have them.
constexpr COLORREF kBackground = RGB(244, 246, 249);
constexpr COLORREF kText = RGB(29, 39, 51);

// Lengths in pixels at 96 dpi, scaled to the screen's resolution.
int Scaled(int pixels, int dpi) {
  return ::MulDiv(pixels, dpi, 96);
}

int ScreenDpi() {
  HDC screen = ::GetDC(nullptr);
  const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen != nullptr) ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

RECT WorkArea() {
  RECT area{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  return area;
}

const wchar_t* IconResource(std::uint32_t style) {
  switch (style) {
    case 0x10:
      return MAKEINTRESOURCEW(32513);  // IDI_ERROR
    case 0x20:
      return MAKEINTRESOURCEW(32514);  // IDI_QUESTION
    case 0x30:
      return MAKEINTRESOURCEW(32515);  // IDI_WARNING
    case 0x40:
      return MAKEINTRESOURCEW(32516);  // IDI_INFORMATION
    default:
      return nullptr;
  }
}

class PopupWindow final : public Window {
 public:
  PopupWindow() = default;
  ~PopupWindow() override {
    Close();
    if (header_font_ != nullptr) ::DeleteObject(header_font_);
    if (body_font_ != nullptr) ::DeleteObject(body_font_);
    if (background_ != nullptr) ::DeleteObject(background_);
  }
  PopupWindow(const PopupWindow&) = delete;
  PopupWindow& operator=(const PopupWindow&) = delete;

  void Create(const Content& content);

  Closing Wait(std::optional<std::chrono::milliseconds> limit) override {
    const auto deadline =
        std::chrono::steady_clock::now() + limit.value_or(std::chrono::milliseconds(0));
    while (true) {
      MSG message;
      while (closing_ == Closing::kStillUp && ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
          // The thread is asked to end: leave the request for its own loop.
          ::PostQuitMessage(static_cast<int>(message.wParam));
          Finish(Closing::kClosed);
          break;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
      }
      if (closing_ != Closing::kStillUp) return closing_;
      DWORD wait_ms = INFINITE;
      if (limit) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return Closing::kStillUp;
        wait_ms = static_cast<DWORD>(std::min<long long>(left.count(), 0x7FFFFFFF));
      }
      ::MsgWaitForMultipleObjectsEx(0, nullptr, wait_ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
  }

  void Close() override {
    if (window_ != nullptr) ::DestroyWindow(window_);
  }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l);

  // The first way the popup closed is its outcome.
  void Finish(Closing closing) {
    if (closing_ == Closing::kStillUp) closing_ = closing;
    Close();
  }

  HWND window_ = nullptr;
  Closing closing_ = Closing::kStillUp;
  HFONT header_font_ = nullptr;
  HFONT body_font_ = nullptr;
  HBRUSH background_ = nullptr;
};

LRESULT CALLBACK PopupWindow::Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<PopupWindow*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
    self->window_ = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<PopupWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(window, message, w, l);
  switch (message) {
    case WM_LBUTTONUP:  // on the body: the texts and the icon let clicks through
      self->Finish(Closing::kClicked);
      return 0;
    case WM_COMMAND:
      if (LOWORD(w) == kCloseButtonId && HIWORD(w) == BN_CLICKED) self->Finish(Closing::kClosed);
      return 0;
    case WM_CLOSE:
      self->Finish(Closing::kClosed);
      return 0;
    case WM_TIMER:
      if (w == kTimerId) {
        ::KillTimer(window, kTimerId);
        self->Finish(Closing::kTimeUp);
      }
      return 0;
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;  // a notification does not take the keyboard
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(w);
      ::SetTextColor(dc, kText);
      ::SetBkColor(dc, kBackground);
      return reinterpret_cast<LRESULT>(self->background_);
    }
    case WM_ERASEBKGND: {
      RECT client;
      ::GetClientRect(window, &client);
      ::FillRect(reinterpret_cast<HDC>(w), &client, self->background_);
      return 1;
    }
    case WM_NCDESTROY:
      // Taken down by anyone else: as if closed.
      if (self->closing_ == Closing::kStillUp) self->closing_ = Closing::kClosed;
      self->window_ = nullptr;
      ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, w, l);
}

// A class registered before (an earlier popup of the process) is used again.
void RegisterWindowClass(HINSTANCE instance, WNDPROC procedure, const std::wstring& name) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.style = CS_DROPSHADOW;
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = instance;
  window_class.hCursor =
      ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32649)) /* IDC_HAND */;  // the popup is a link
  window_class.lpszClassName = name.c_str();
  if (::RegisterClassExW(&window_class) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    throw Failure(err::kAutomationError, "Cannot register the popup's window class");
  }
}

HWND Child(HWND parent, HINSTANCE instance, const wchar_t* control_class, const std::wstring& text,
           DWORD style, int id, const RECT& where) {
  return ::CreateWindowExW(0, control_class, text.c_str(), WS_CHILD | WS_VISIBLE | style,
                           where.left, where.top, where.right - where.left,
                           where.bottom - where.top, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
}

void PopupWindow::Create(const Content& content) {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  const std::wstring class_name = Widen(content.window_class);
  RegisterWindowClass(instance, &PopupWindow::Procedure, class_name);
  background_ = ::CreateSolidBrush(kBackground);

  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
  body_font_ = ::CreateFontIndirectW(&metrics.lfMessageFont);
  LOGFONTW header = metrics.lfMessageFont;
  header.lfWeight = FW_BOLD;
  header.lfHeight = header.lfHeight * 6 / 5;
  header_font_ = ::CreateFontIndirectW(&header);

  const int dpi = ScreenDpi();
  const RECT area = WorkArea();
  const int margin = Scaled(8, dpi);
  const int width = std::max(1, content.width);
  const int height = std::max(1, content.height);
  const int x = std::max<int>(area.left, area.right - width - margin);
  const int y = std::max<int>(area.top, area.bottom - height - margin);

  const std::wstring title = Widen(content.header);
  window_ = ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_LAYERED | WS_EX_NOACTIVATE,
                              class_name.c_str(), title.c_str(), WS_POPUP | WS_BORDER, x, y, width,
                              height, nullptr, nullptr, instance, this);
  if (window_ == nullptr) throw Failure(err::kAutomationError, "Cannot create the popup window");
  ::SetLayeredWindowAttributes(window_, 0, content.opacity, LWA_ALPHA);

  RECT client;
  ::GetClientRect(window_, &client);
  int text_left = margin;
  if (const wchar_t* icon = IconResource(content.icon_style)) {
    const int size = ::GetSystemMetrics(SM_CXICON);
    HWND picture = Child(window_, instance, L"STATIC", L"", SS_ICON, kIconId,
                         RECT{margin, margin, margin + size, margin + size});
    ::SendMessageW(picture, STM_SETICON, reinterpret_cast<WPARAM>(::LoadIconW(nullptr, icon)), 0);
    text_left += size + margin;
  }
  const int button = Scaled(20, dpi);
  const int gap = Scaled(4, dpi);
  HWND close =
      Child(window_, instance, L"BUTTON", L"\u00D7", BS_PUSHBUTTON | BS_FLAT, kCloseButtonId,
            RECT{client.right - gap - button, gap, client.right - gap, gap + button});
  ::SendMessageW(close, WM_SETFONT, reinterpret_cast<WPARAM>(body_font_), FALSE);

  const int header_height = Scaled(22, dpi);
  HWND header_text =
      Child(window_, instance, L"STATIC", title, SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_ENDELLIPSIS,
            kHeaderId,
            RECT{text_left, margin, client.right - gap - button - gap, margin + header_height});
  ::SendMessageW(header_text, WM_SETFONT, reinterpret_cast<WPARAM>(header_font_), FALSE);
  const int body_top = margin + header_height + gap;
  HWND body_text =
      Child(window_, instance, L"STATIC", Widen(content.body), SS_LEFT | SS_NOPREFIX, kBodyId,
            RECT{text_left, body_top, client.right - margin,
                 std::max<int>(body_top, client.bottom - margin)});
  ::SendMessageW(body_text, WM_SETFONT, reinterpret_cast<WPARAM>(body_font_), FALSE);

  if (content.display_time_seconds > 0) {
    const long long ms = 1000LL * content.display_time_seconds;
    ::SetTimer(window_, kTimerId, static_cast<UINT>(std::min<long long>(ms, USER_TIMER_MAXIMUM)),
               nullptr);
  }
  ::ShowWindow(window_, SW_SHOWNOACTIVATE);
  ::UpdateWindow(window_);
}

}  // namespace

Screen CurrentScreen() {
  const RECT area = WorkArea();
  return Screen{ScreenDpi(), static_cast<int>(area.right - area.left),
                static_cast<int>(area.bottom - area.top)};
}

std::unique_ptr<Window> Window::Show(const Content& content) {
  auto window = std::make_unique<PopupWindow>();
  window->Create(content);
  return window;
}

}  // namespace platform::popup_window
