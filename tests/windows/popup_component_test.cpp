// The popup component qLUX\flarebox-display.exe under Wine: registered with
// /RegServer in the prefix, created by its ProgID and driven through the
// Automation client as rssnotify drives it, its window found by its class
// name and closed with window messages, as a user would close it.
#include <gtest/gtest.h>
// clang-format off
#include <windows.h>
#include <tlhelp32.h>
// clang-format on

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/automation.h"
#include "platform/failure.h"
#include "platform/win32/wide_text.h"

namespace {

using platform::AutomationObject;
using platform::Failure;
using platform::Variant;

constexpr const wchar_t* kProgId = L"Flarebox.Display";
constexpr const wchar_t* kClsid = L"{BBEC94E0-A87D-4012-9CD8-82108CECC7BF}";
constexpr const wchar_t* kWindowClass = L"FlareboxDisplayPopup";
constexpr const wchar_t* kProgram = L"flarebox-display.exe";
// Control ids of the window's parts.
constexpr int kIconId = 1;
constexpr int kHeaderId = 2;
constexpr int kBodyId = 3;
constexpr int kCloseButtonId = 4;

const std::string kHeader = "New RSS Feed";
const std::string kBody = "You have 3 new RSS feeds\nfrom \xc3\xa9t\xc3\xa9 & co \xe2\x82\xac";

std::wstring Component() {
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  return (std::filesystem::path(self).parent_path() / L"qLUX" / kProgram).wstring();
}

// Runs the component with `argument` and gives its exit code.
DWORD RunComponent(const std::wstring& argument) {
  std::wstring line = L"\"" + Component() + L"\" " + argument;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    return 9999;
  }
  ::WaitForSingleObject(process.hProcess, 60000);
  DWORD code = 9998;
  ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return code;
}

// Polls `done` every 50 ms for at most `limit`.
bool Within(std::chrono::milliseconds limit, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

HWND FindPopup() {
  return ::FindWindowW(kWindowClass, nullptr);
}

// The popup once it is shown: made, filled and visible.
HWND WaitForPopup() {
  HWND popup = nullptr;
  Within(std::chrono::seconds(15), [&] {
    popup = FindPopup();
    return popup != nullptr && ::IsWindowVisible(popup);
  });
  return popup;
}

std::string TextOf(HWND window) {
  wchar_t text[1024];
  const int length = ::GetWindowTextW(window, text, 1024);
  return platform::Narrow(text, static_cast<std::size_t>(std::max(length, 0)));
}

// The ids of the component's running processes.
std::vector<DWORD> ComponentProcesses() {
  std::vector<DWORD> ids;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return {0};
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
       more = ::Process32NextW(snapshot, &entry)) {
    if (::lstrcmpiW(entry.szExeFile, kProgram) == 0) ids.push_back(entry.th32ProcessID);
  }
  ::CloseHandle(snapshot);
  return ids;
}

int ScreenDpi() {
  HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  return dpi;
}

// What a test saw of the popup window.
struct Seen {
  bool found = false;
  std::string title, header, body;
  RECT rect{};
  BYTE alpha = 0;
  DWORD layered_flags = 0;
  LONG ex_style = 0;
  LONG style = 0;
  bool icon = false;
  bool close_button = false;
};

Seen Look(HWND popup) {
  Seen seen;
  seen.found = popup != nullptr;
  if (popup == nullptr) return seen;
  seen.title = TextOf(popup);
  seen.header = TextOf(::GetDlgItem(popup, kHeaderId));
  seen.body = TextOf(::GetDlgItem(popup, kBodyId));
  ::GetWindowRect(popup, &seen.rect);
  COLORREF key = 0;
  ::GetLayeredWindowAttributes(popup, &key, &seen.alpha, &seen.layered_flags);
  seen.ex_style = ::GetWindowLongW(popup, GWL_EXSTYLE);
  seen.style = ::GetWindowLongW(popup, GWL_STYLE);
  seen.icon = ::GetDlgItem(popup, kIconId) != nullptr;
  seen.close_button = ::GetDlgItem(popup, kCloseButtonId) != nullptr;
  return seen;
}

// Where the popup must be: in the corner of the work area, 8 pixels (at 96
// dpi) from its edges, `width` x `height` pixels.
void ExpectPlaced(const Seen& seen, int width, int height) {
  RECT area{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  const int margin = ::MulDiv(8, ScreenDpi(), 96);
  EXPECT_EQ(seen.rect.right - seen.rect.left, width);
  EXPECT_EQ(seen.rect.bottom - seen.rect.top, height);
  EXPECT_EQ(seen.rect.right, area.right - margin);
  EXPECT_EQ(seen.rect.bottom, area.bottom - margin);
}

void ExpectFailureAt(int line, const std::function<void()>& call, long number,
                     const std::string& description) {
  SCOPED_TRACE(line);
  try {
    call();
    ADD_FAILURE() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number(), number);
    EXPECT_EQ(failure.description(), description);
  }
}
#define ExpectFailure(...) ExpectFailureAt(__LINE__, __VA_ARGS__)

// The keys that registration writes, with their default values (nullopt:
// no such key), and how many keys the class folders hold.
using RegistryState = std::map<std::wstring, std::optional<std::wstring>>;

std::optional<std::wstring> DefaultValue(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  wchar_t value[1024] = L"";
  DWORD size = sizeof(value);
  DWORD type = 0;
  const LSTATUS status =
      ::RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  ::RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_SZ) return std::wstring(L"<no default>");
  return std::wstring(value);
}

std::wstring SubkeyCount(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return L"none";
  DWORD subkeys = 0;
  ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr);
  ::RegCloseKey(key);
  return std::to_wstring(subkeys);
}

RegistryState Registry() {
  RegistryState state;
  const std::pair<HKEY, std::wstring> roots[] = {
      {HKEY_CLASSES_ROOT, L"HKCR\\"},
      {HKEY_CURRENT_USER, L"HKCU\\Software\\Classes\\"},
      {HKEY_LOCAL_MACHINE, L"HKLM\\Software\\Classes\\"}};
  const std::wstring clsid = std::wstring(L"CLSID\\") + kClsid;
  for (const auto& [root, name] : roots) {
    const std::wstring base = root == HKEY_CLASSES_ROOT ? L"" : name.substr(5);
    for (const std::wstring& key : {std::wstring(kProgId), std::wstring(kProgId) + L"\\CLSID",
                                    clsid, clsid + L"\\LocalServer32", clsid + L"\\ProgID"}) {
      state[name + key] = DefaultValue(root, base + key);
    }
    state[name + L"(keys)"] =
        SubkeyCount(root, base.empty() ? L"" : base.substr(0, base.size() - 1));
    state[name + L"CLSID (keys)"] = SubkeyCount(root, base + L"CLSID");
  }
  return state;
}

TEST(PopupComponentRegistration, RegServerWritesTheClassAndUnregServerTakesItAllAway) {
  const RegistryState before = Registry();
  ASSERT_EQ(before.at(std::wstring(L"HKCR\\") + kProgId), std::nullopt)
      << "Flarebox.Display is registered already";
  ASSERT_EQ(RunComponent(L"/RegServer"), 0u);
  const RegistryState registered = Registry();
  const std::wstring clsid = std::wstring(L"HKCR\\CLSID\\") + kClsid;
  EXPECT_EQ(registered.at(std::wstring(L"HKCR\\") + kProgId + L"\\CLSID"), kClsid);
  EXPECT_EQ(registered.at(clsid + L"\\ProgID"), kProgId);
  const std::optional<std::wstring> server = registered.at(clsid + L"\\LocalServer32");
  ASSERT_TRUE(server.has_value());
  EXPECT_EQ(::lstrcmpiW(server->c_str(), (L"\"" + Component() + L"\"").c_str()), 0)
      << platform::Narrow(*server);
  ASSERT_EQ(RunComponent(L"/UnregServer"), 0u);
  EXPECT_EQ(Registry(), before);
  // Again: nothing to remove is no failure.
  EXPECT_EQ(RunComponent(L"/UnregServer"), 0u);
  EXPECT_EQ(Registry(), before);
  EXPECT_EQ(RunComponent(L"/Bogus"), 2u);
  EXPECT_EQ(RunComponent(L""), 2u);
}

class PopupComponent : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(FindPopup(), nullptr) << "a popup window of another test is up";
    ASSERT_EQ(RunComponent(L"/RegServer"), 0u);
  }
  void TearDown() override {
    // The server ends by itself when its object is released, with exit code
    // 0; the client ends one that does not after two seconds, with 1.
    const std::vector<DWORD> servers = ComponentProcesses();
    HANDLE server = nullptr;
    if (servers.size() == 1) {
      server = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, servers[0]);
    }
    EXPECT_NE(server, nullptr) << servers.size() << " processes of the component";
    popup_.reset();
    if (server != nullptr) {
      EXPECT_EQ(::WaitForSingleObject(server, 10000), WAIT_OBJECT_0);
      DWORD code = 9999;
      ::GetExitCodeProcess(server, &code);
      EXPECT_EQ(code, 0u) << "the server did not end by itself when its object was released";
      ::CloseHandle(server);
    }
    EXPECT_EQ(FindPopup(), nullptr) << "the popup stayed after its object was released";
    EXPECT_EQ(RunComponent(L"/UnregServer"), 0u);
  }

  // The properties as rssnotify sets them, in its order, but for `modal` and
  // `display_time`.
  void Start(int modal, int display_time) {
    popup_ = AutomationObject::Create("Flarebox.Display");
    popup_->PutProperty("Icon", Variant::I4(7));
    popup_->PutProperty("Header", Variant::Bstr(kHeader));
    popup_->PutProperty("Body", Variant::Bstr(kBody));
    popup_->PutProperty("DisplayTimeSeconds", Variant::I4(display_time));
    popup_->PutProperty("PopupHeight", Variant::I4(1300));
    popup_->PutProperty("PopupWidth", Variant::I4(6000));
    popup_->PutProperty("TransparencyLevel", Variant::I2(100));
    popup_->PutProperty("ModalForm", Variant::I4(modal));
  }

  // Calls the modal Popup while another thread finds the window, looks at
  // it and does `act` to it; gives what it saw.
  Seen PopupWhile(const std::function<void(HWND)>& act) {
    Seen seen;
    std::thread user([&] {
      HWND popup = WaitForPopup();
      seen = Look(popup);
      if (popup != nullptr) act(popup);
    });
    popup_->SetCallBound(30000);
    try {
      popup_->CallMethod("Popup");
    } catch (...) {
      user.join();
      throw;
    }
    user.join();
    return seen;
  }

  std::string ClosedBy() { return popup_->GetProperty("ClosedBy").ToText(); }

  std::unique_ptr<AutomationObject> popup_;
};

TEST_F(PopupComponent, ModalPopupShowsEveryPropertyAndAnswersClickOnItsBody) {
  Start(1, 10);
  const Seen seen = PopupWhile([](HWND popup) {
    RECT client;
    ::GetClientRect(popup, &client);
    // In the lower half, away from the texts' ends and the close button.
    ::PostMessageW(popup, WM_LBUTTONUP, 0, MAKELPARAM(client.right / 2, client.bottom - 4));
  });
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.title, kHeader);
  EXPECT_EQ(seen.header, kHeader);
  EXPECT_EQ(seen.body, kBody);
  // 6000 x 1300 twips.
  ExpectPlaced(seen, ::MulDiv(6000, ScreenDpi(), 1440), ::MulDiv(1300, ScreenDpi(), 1440));
  EXPECT_EQ(seen.alpha, 255);
  EXPECT_EQ(seen.layered_flags & LWA_ALPHA, static_cast<DWORD>(LWA_ALPHA));
  const LONG wanted = WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_LAYERED;
  EXPECT_EQ(seen.ex_style & wanted, wanted);
  EXPECT_EQ(seen.style & WS_POPUP, WS_POPUP);
  EXPECT_TRUE(seen.icon);
  EXPECT_TRUE(seen.close_button);
  EXPECT_EQ(ClosedBy(), "CLICK");
  EXPECT_EQ(FindPopup(), nullptr);
}

TEST_F(PopupComponent, CloseButtonAndWindowCloseAnswerExit) {
  Start(1, 10);
  EXPECT_TRUE(PopupWhile([](HWND popup) {
                ::PostMessageW(::GetDlgItem(popup, kCloseButtonId), BM_CLICK, 0, 0);
              }).found);
  EXPECT_EQ(ClosedBy(), "EXIT");
  EXPECT_EQ(FindPopup(), nullptr);
  EXPECT_TRUE(PopupWhile([](HWND popup) { ::PostMessageW(popup, WM_CLOSE, 0, 0); }).found);
  EXPECT_EQ(ClosedBy(), "EXIT");
}

TEST_F(PopupComponent, ModalPopupClosesItselfAtItsDisplayTime) {
  Start(1, 1);
  EXPECT_TRUE(PopupWhile([](HWND) {}).found);
  EXPECT_EQ(ClosedBy(), "AUTOCLOSE");
  EXPECT_EQ(FindPopup(), nullptr);
}

TEST_F(PopupComponent, NotModalPopupReturnsAtOnceAndTellsItsOutcomeOnceClosed) {
  Start(0, 0);
  popup_->PutProperty("Icon", Variant::I4(0));
  popup_->PutProperty("PopupHeight", Variant::I4(0));
  popup_->PutProperty("PopupWidth", Variant::I4(0));
  popup_->PutProperty("TransparencyLevel", Variant::I2(50));
  popup_->CallMethod("Popup");  // no display time: it would stay for ever
  const Seen seen = Look(WaitForPopup());
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.title, kHeader);
  EXPECT_EQ(seen.body, kBody);
  EXPECT_EQ(seen.alpha, 128);
  EXPECT_FALSE(seen.icon);
  ExpectPlaced(seen, ::MulDiv(400, ScreenDpi(), 96), ::MulDiv(100, ScreenDpi(), 96));
  EXPECT_EQ(ClosedBy(), "");
  EXPECT_EQ(ClosedBy(), "");
  ::PostMessageW(FindPopup(), WM_CLOSE, 0, 0);
  std::string outcome;
  EXPECT_TRUE(Within(std::chrono::seconds(10), [&] { return !(outcome = ClosedBy()).empty(); }));
  EXPECT_EQ(outcome, "EXIT");
  EXPECT_EQ(FindPopup(), nullptr);

  // A display time: the window goes by itself, before anyone asks.
  popup_->PutProperty("DisplayTimeSeconds", Variant::I4(1));
  popup_->CallMethod("Popup");
  EXPECT_EQ(ClosedBy(), "");
  EXPECT_NE(WaitForPopup(), nullptr);
  EXPECT_TRUE(Within(std::chrono::seconds(10), [] { return FindPopup() == nullptr; }));
  EXPECT_EQ(ClosedBy(), "AUTOCLOSE");

  // A click; and a popup left up goes with its object.
  popup_->PutProperty("DisplayTimeSeconds", Variant::I4(0));
  popup_->CallMethod("Popup");
  ::PostMessageW(WaitForPopup(), WM_LBUTTONUP, 0, MAKELPARAM(200, 90));
  EXPECT_TRUE(Within(std::chrono::seconds(10), [&] { return !(outcome = ClosedBy()).empty(); }));
  EXPECT_EQ(outcome, "CLICK");
  popup_->CallMethod("Popup");
  EXPECT_NE(WaitForPopup(), nullptr);
  EXPECT_EQ(ClosedBy(), "");
}

TEST_F(PopupComponent, MembersMatchWithoutCaseAndRefuseAsTheLinuxComponentDoes) {
  popup_ = AutomationObject::Create("Flarebox.Display");
  EXPECT_EQ(popup_->GetProperty("DisplayTimeSeconds"), Variant::I4(10));
  EXPECT_EQ(popup_->GetProperty("TransparencyLevel"), Variant::I2(0));
  EXPECT_EQ(popup_->GetProperty("closedby"), Variant::Bstr(""));
  popup_->PutProperty("HEADER", Variant::Bstr("x"));
  EXPECT_EQ(popup_->GetProperty("header"), Variant::Bstr("x"));
  popup_->PutProperty("icon", Variant::Bstr(" 16 "));
  EXPECT_EQ(popup_->GetProperty("Icon"), Variant::I4(16));
  popup_->PutProperty("Body", Variant::I4(42));
  EXPECT_EQ(popup_->GetProperty("Body"), Variant::Bstr("42"));
  const std::string no_such = "Object doesn't support this property or method";
  ExpectFailure([&] { popup_->PutProperty("Colour", Variant::I4(1)); }, 438, no_such);
  ExpectFailure([&] { popup_->GetProperty("Popup"); }, 438, no_such);
  ExpectFailure([&] { popup_->PutProperty("ClosedBy", Variant::Bstr("CLICK")); }, 438, no_such);
  ExpectFailure([&] { popup_->CallMethod("Icon"); }, 438, no_such);
  ExpectFailure([&] { popup_->PutProperty("Icon", Variant::Bstr("seven")); }, 13, "Type mismatch");
  ExpectFailure([&] { popup_->PutProperty("TransparencyLevel", Variant::I4(40000)); }, 6,
                "Overflow");
  EXPECT_EQ(popup_->GetProperty("Icon"), Variant::I4(16));
}

}  // namespace
