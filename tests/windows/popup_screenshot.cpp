// Shows the popup component's window as rssnotify has it shown and writes a
// picture of it (PNG) to the file named on the command line, for
// scripts/popup-windows-screenshot.sh:
//
//   popup_screenshot OUTPUT.png
//
// The component must be registered. The window is taken from the screen as
// it is drawn there, then the object is released, which takes it down.
// Exit code 0 when the picture is written, 1 otherwise (the reason on
// standard error).
// clang-format off
#include <windows.h>
#include <wincodec.h>
#include <shellapi.h>
// clang-format on

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/automation.h"
#include "platform/failure.h"
#include "platform/win32/wide_text.h"

namespace {

bool Fail(const std::string& why) {
  std::fprintf(stderr, "popup_screenshot: %s\n", why.c_str());
  return false;
}

// The screen's pixels in `rect`, as a PNG file.
bool WritePng(const RECT& rect, const std::wstring& path) {
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  const bool copied = ::BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top,
                               SRCCOPY | CAPTUREBLT) != FALSE;
  ::SelectObject(memory, old);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  if (!copied) {
    ::DeleteObject(bitmap);
    return Fail("cannot copy the screen");
  }
  IWICImagingFactory* factory = nullptr;
  IWICBitmap* source = nullptr;
  IWICStream* stream = nullptr;
  IWICBitmapEncoder* encoder = nullptr;
  IWICBitmapFrameEncode* frame = nullptr;
  HRESULT hr = ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IWICImagingFactory, reinterpret_cast<void**>(&factory));
  if (SUCCEEDED(hr))
    hr = factory->CreateBitmapFromHBITMAP(bitmap, nullptr, WICBitmapIgnoreAlpha, &source);
  if (SUCCEEDED(hr)) hr = factory->CreateStream(&stream);
  if (SUCCEEDED(hr)) hr = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE);
  if (SUCCEEDED(hr)) hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder);
  if (SUCCEEDED(hr)) hr = encoder->Initialize(stream, WICBitmapEncoderNoCache);
  if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(&frame, nullptr);
  if (SUCCEEDED(hr)) hr = frame->Initialize(nullptr);
  if (SUCCEEDED(hr)) hr = frame->WriteSource(source, nullptr);
  if (SUCCEEDED(hr)) hr = frame->Commit();
  if (SUCCEEDED(hr)) hr = encoder->Commit();
  if (frame != nullptr) frame->Release();
  if (encoder != nullptr) encoder->Release();
  if (stream != nullptr) stream->Release();
  if (source != nullptr) source->Release();
  if (factory != nullptr) factory->Release();
  ::DeleteObject(bitmap);
  if (FAILED(hr)) return Fail("cannot write the PNG file (HRESULT " + std::to_string(hr) + ")");
  return true;
}

bool Run(const std::wstring& output) {
  using platform::Variant;
  auto popup = platform::AutomationObject::Create("Flarebox.Display");
  // A fresh Wine prefix is slow at its first window.
  popup->SetCallBound(60000);
  popup->PutProperty("Icon", Variant::I4(7));
  popup->PutProperty("Header", Variant::Bstr("New RSS Feed"));
  popup->PutProperty("Body",
                     Variant::Bstr("You have total 3 new RSS feeds from your service provider "
                                   "for your reference. Click for view all messages."));
  popup->PutProperty("DisplayTimeSeconds", Variant::I4(10));
  popup->PutProperty("PopupHeight", Variant::I4(1300));
  popup->PutProperty("PopupWidth", Variant::I4(6000));
  popup->PutProperty("TransparencyLevel", Variant::I2(100));
  // Not modal, so that this program goes on while the popup is up.
  popup->PutProperty("ModalForm", Variant::I4(0));
  popup->CallMethod("Popup");
  HWND window = nullptr;
  for (int i = 0; i < 100 && window == nullptr; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    window = ::FindWindowW(L"FlareboxDisplayPopup", nullptr);
  }
  if (window == nullptr) return Fail("no popup window on the screen");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // drawn by then
  RECT rect;
  ::GetWindowRect(window, &rect);
  const bool written = WritePng(rect, output);
  std::printf("ClosedBy while shown: \"%s\"\n", popup->GetProperty("ClosedBy").ToText().c_str());
  return written;
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (arguments == nullptr || count != 2) {
    std::fprintf(stderr, "usage: popup_screenshot OUTPUT.png\n");
    return 2;
  }
  const std::wstring output = arguments[1];
  ::LocalFree(arguments);
  // COM for the imaging component, in the multithreaded apartment: this
  // thread pumps no messages.
  if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return Fail("no COM"), 1;
  bool written = false;
  try {
    written = Run(output);
  } catch (const platform::Failure& failure) {
    Fail("the popup component failed: " + std::to_string(failure.number()) + " " +
         failure.description());
  }
  ::CoUninitialize();
  return written ? 0 : 1;
}
