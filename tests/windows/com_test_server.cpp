// A scripted out-of-process COM server for the tests of the Automation
// client: one object per process (REGCLS_SINGLEUSE), reached through
// IDispatch alone, without a type library.
//
//   com-test-server /RegServer PROGID {CLSID} RECORD   register under HKCU\Software\Classes
//                                                      (under Wine, under HKEY_CLASSES_ROOT too)
//   com-test-server /UnregServer PROGID {CLSID}        remove that registration
//   com-test-server PROGID {CLSID} RECORD -Embedding   serve (COM starts it so)
//
// Each test registers a ProgID and CLSID of its own, so that tests running
// side by side in one Wine prefix do not meet. The server records its
// process id and every request to RECORD in the line protocol's form
// ("PUT Icon I4 7", "GET Icon", "CALL Exit"), and answers:
// - PUT stores the value as it came; GET gives it back as it was stored, or
//   DISP_E_MEMBERNOTFOUND when none was put. A property whose name begins
//   with "Count" takes a 32-bit number, changed as VariantChangeType changes
//   it (its failures are the call's).
// - Members whose name begins with "Unknown" have no DISPID
//   (DISP_E_UNKNOWNNAME).
// - CALL Exit ends the process during the call; CALL Quit answers, then
//   ends it; CALL Hang never answers; CALL Fail raises an exception with
//   wCode 440 and a description of two lines with non-ASCII letters;
//   CALL Double, Big, Byte and Null answer with a VT_R8 2.5, a VT_R8
//   3e9, a VT_UI1 200 and a VT_NULL; CALL Slow answers a VT_I4 12 after
//   50 ms.
// clang-format off
#include <windows.h>
#include <oleauto.h>
#include <shellapi.h>
// clang-format on

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/automation_protocol.h"
#include "platform/win32/com_variant.h"
#include "platform/win32/wide_text.h"

namespace {

using platform::Narrow;
using platform::Variant;
namespace protocol = platform::automation_protocol;

std::wstring g_record;
DWORD g_main_thread = 0;
LONG g_objects = 0;
bool g_quit_after_call = false;

void Record(const std::string& line) {
  HANDLE file =
      ::CreateFileW(g_record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string bytes = line + "\n";
  DWORD written = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(file);
}

std::string Lower(const std::wstring& text) {
  std::string result = Narrow(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

// The request as the line protocol writes it; a type the protocol does not
// have is written as "VT<number>".
std::string RequestLine(const char* verb, const std::wstring& member, const VARIANT* value) {
  std::string line = std::string(verb) + " " + Narrow(member);
  if (value == nullptr) return line;
  Variant v;
  if (FAILED(platform::FromVariant(*value, v, platform::OtherTypes::kRefuse))) {
    return line + " VT" + std::to_string(V_VT(value));
  }
  protocol::Request request{protocol::Request::Kind::kPut, Narrow(member), v};
  return protocol::FormatRequest(request);
}

class Object final : public IDispatch {
 public:
  Object() { ::InterlockedIncrement(&g_objects); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    return static_cast<ULONG>(::InterlockedIncrement(&refs_));
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = ::InterlockedDecrement(&refs_);
    if (left == 0) {
      delete this;
      if (::InterlockedDecrement(&g_objects) == 0)
        ::PostThreadMessageW(g_main_thread, WM_QUIT, 0, 0);
    }
    return static_cast<ULONG>(left);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }

  // Any name gets a DISPID of its own, kept without regard to case.
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    if (count != 1) return E_INVALIDARG;
    const std::string key = Lower(names[0]);
    if (key.rfind("unknown", 0) == 0) {
      ids[0] = DISPID_UNKNOWN;
      return DISP_E_UNKNOWNNAME;
    }
    auto found = ids_.find(key);
    if (found == ids_.end()) {
      found = ids_.emplace(key, static_cast<DISPID>(names_.size() + 1)).first;
      names_.push_back(names[0]);
    }
    ids[0] = found->second;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* info, UINT*) override {
    if (id < 1 || static_cast<std::size_t>(id) > names_.size()) return DISP_E_MEMBERNOTFOUND;
    const std::wstring& member = names_[static_cast<std::size_t>(id) - 1];
    const std::string key = Lower(member);
    if (flags & DISPATCH_PROPERTYPUT) {
      if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
      Record(RequestLine("PUT", member, &params->rgvarg[0]));
      VARIANT stored;
      ::VariantInit(&stored);
      HRESULT hr = S_OK;
      if (key.rfind("count", 0) == 0) {
        hr = ::VariantChangeType(&stored, &params->rgvarg[0], 0, VT_I4);
      } else {
        hr = ::VariantCopy(&stored, &params->rgvarg[0]);
      }
      if (FAILED(hr)) return hr;
      ::VariantClear(&properties_[key]);
      properties_[key] = stored;
      return S_OK;
    }
    if (flags & DISPATCH_PROPERTYGET) {
      Record(RequestLine("GET", member, nullptr));
      const auto found = properties_.find(key);
      if (found == properties_.end()) return DISP_E_MEMBERNOTFOUND;
      return result == nullptr ? S_OK : ::VariantCopy(result, &found->second);
    }
    Record(RequestLine("CALL", member, nullptr));
    if (key == "exit") ::ExitProcess(3);
    if (key == "hang") ::Sleep(INFINITE);
    if (key == "quit") {
      g_quit_after_call = true;
      ::PostThreadMessageW(g_main_thread, WM_QUIT, 0, 0);
      return S_OK;
    }
    if (key == "fail") {
      if (info != nullptr) {
        *info = EXCEPINFO{};
        info->wCode = 440;
        info->bstrSource = ::SysAllocString(L"Test.Server");
        info->bstrDescription =
            ::SysAllocString(L"Popup failed:\nsecond line \u00e9t\u00e9 \u4e2d \U0001F600");
      }
      return DISP_E_EXCEPTION;
    }
    if (result == nullptr) return S_OK;
    if (key == "double") {
      V_VT(result) = VT_R8;
      V_R8(result) = 2.5;
    } else if (key == "big") {
      V_VT(result) = VT_R8;
      V_R8(result) = 3e9;
    } else if (key == "byte") {
      V_VT(result) = VT_UI1;
      V_UI1(result) = 200;
    } else if (key == "null") {
      V_VT(result) = VT_NULL;
    } else if (key == "slow") {
      ::Sleep(50);
      V_VT(result) = VT_I4;
      V_I4(result) = 12;
    }
    return S_OK;
  }

 private:
  LONG refs_ = 1;
  std::map<std::string, DISPID> ids_;
  std::vector<std::wstring> names_;
  std::map<std::string, VARIANT> properties_;
};

class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    Object* object = new Object;
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

// Wine 8 looks classes up in HKEY_CLASSES_ROOT only, which it does not
// merge with the user's classes as Windows does; there the registration
// goes to both (HKEY_CLASSES_ROOT is the prefix's own, no one else's).
bool UnderWine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::vector<std::pair<HKEY, std::wstring>> ClassRoots() {
  std::vector<std::pair<HKEY, std::wstring>> roots{{HKEY_CURRENT_USER, L"Software\\Classes\\"}};
  if (UnderWine()) roots.emplace_back(HKEY_CLASSES_ROOT, L"");
  return roots;
}

LSTATUS SetDefault(HKEY root, const std::wstring& key, const std::wstring& value) {
  return ::RegSetKeyValueW(root, key.c_str(), nullptr, REG_SZ, value.c_str(),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

int Register(const std::wstring& prog_id, const std::wstring& clsid, const std::wstring& record) {
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring line =
      L"\"" + std::wstring(self) + L"\" " + prog_id + L" " + clsid + L" \"" + record + L"\"";
  for (const auto& [root, classes] : ClassRoots()) {
    if (SetDefault(root, classes + prog_id + L"\\CLSID", clsid) != ERROR_SUCCESS ||
        SetDefault(root, classes + L"CLSID\\" + clsid, prog_id) != ERROR_SUCCESS ||
        SetDefault(root, classes + L"CLSID\\" + clsid + L"\\LocalServer32", line) !=
            ERROR_SUCCESS ||
        SetDefault(root, classes + L"CLSID\\" + clsid + L"\\ProgID", prog_id) != ERROR_SUCCESS) {
      return 1;
    }
  }
  return 0;
}

int Unregister(const std::wstring& prog_id, const std::wstring& clsid) {
  int result = 0;
  for (const auto& [root, classes] : ClassRoots()) {
    if (::RegDeleteTreeW(root, (classes + prog_id).c_str()) != ERROR_SUCCESS) result = 1;
    if (::RegDeleteTreeW(root, (classes + L"CLSID\\" + clsid).c_str()) != ERROR_SUCCESS) result = 1;
  }
  return result;
}

int Serve(const std::wstring& clsid_text) {
  g_main_thread = ::GetCurrentThreadId();
  MSG message;
  ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue
  Record("PID " + std::to_string(::GetCurrentProcessId()));
  CLSID clsid;
  if (FAILED(::CLSIDFromString(clsid_text.c_str(), &clsid))) return 1;
  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  static Factory factory;
  DWORD cookie = 0;
  if (FAILED(::CoRegisterClassObject(clsid, &factory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE,
                                     &cookie))) {
    return 1;
  }
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  ::CoRevokeClassObject(cookie);
  ::CoUninitialize();
  return g_quit_after_call ? 4 : 0;
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::wstring> words(args + 1, args + count);
  ::LocalFree(args);
  if (words.size() == 4 && ::lstrcmpiW(words[0].c_str(), L"/RegServer") == 0) {
    return Register(words[1], words[2], words[3]);
  }
  if (words.size() == 3 && ::lstrcmpiW(words[0].c_str(), L"/UnregServer") == 0) {
    return Unregister(words[1], words[2]);
  }
  if (words.size() == 4) {
    g_record = words[2];
    return Serve(words[1]);
  }
  std::fprintf(stderr, "usage: com-test-server /RegServer|/UnregServer PROGID {CLSID} [RECORD]\n");
  return 2;
}
