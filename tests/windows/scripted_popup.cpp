// A scripted popup component for the sandbox tests on Windows: an
// out-of-process COM server that the sandbox registers as "Flarebox.Display"
// (the registration lives in the sandbox's registry file, see
// tests/sandbox.py), reached through IDispatch alone. It records every
// request it gets and answers ClosedBy with what the test asked for, as
// tests/scripted_popup.py does for the Linux program:
//
//   scripted_popup RECORD ANSWER -Embedding
//
// RECORD gets one line per request in the line protocol's form
// ("PUT Header BSTR You have news", "CALL Popup", "GET ClosedBy"). ANSWER is
// written as typed: "BSTR:CLICK", "I4:3"; "FAIL:<number>:<text>" fails the
// Popup call with that number and text. "HANG:POPUP" never answers the
// Popup call and "HANG:PUT" never answers the first property put; either
// first starts a helper process that would outlive the server, whose process
// id goes to RECORD.child. Members other than the component's have no
// DISPID (438 for the client).
//
//   scripted_popup --linger RECORD    the helper: sleeps for ten minutes
// clang-format off
#include <windows.h>
#include <oleauto.h>
#include <shellapi.h>
// clang-format on

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/automation_protocol.h"
#include "platform/win32/com_variant.h"
#include "platform/win32/wide_text.h"

namespace {

using platform::Narrow;
using platform::Variant;
using platform::Widen;
namespace protocol = platform::automation_protocol;

// The CLSID the sandbox registers with the ProgID.
const CLSID kClsid = {0xc43e0c8c, 0x437e, 0x49ca, {0xb3, 0x7d, 0x07, 0xf8, 0xf8, 0x66, 0x27, 0x71}};

std::wstring g_record;
std::string g_answer;
DWORD g_main_thread = 0;
LONG g_objects = 0;

void Append(const std::wstring& path, const std::string& bytes) {
  HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(file);
}

void Record(const std::string& line) {
  Append(g_record, line + "\n");
}

std::string Lower(const std::string& text) {
  std::string result = text;
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

// Starts the helper that would outlive this server, records its process id,
// and never returns.
[[noreturn]] void Hang() {
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  // RECORD on its command line, too: a test can find it by that.
  std::wstring line = L"\"" + std::wstring(self) + L"\" --linger \"" + g_record + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION child{};
  if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &child)) {
    Append(g_record + L".child", std::to_string(child.dwProcessId) + "\n");
    ::CloseHandle(child.hThread);
    ::CloseHandle(child.hProcess);
  }
  ::Sleep(INFINITE);
  ::ExitProcess(0);
}

const std::vector<std::string>& Members() {
  static const std::vector<std::string> members{"icon",
                                                "header",
                                                "body",
                                                "displaytimeseconds",
                                                "popupheight",
                                                "popupwidth",
                                                "transparencylevel",
                                                "modalform",
                                                "popup",
                                                "closedby"};
  return members;
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

  // The component's members, without regard to case; the DISPID keeps the
  // name as the client spelt it, for the record.
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    if (count != 1) return E_INVALIDARG;
    const std::string name = Narrow(names[0]);
    const std::string key = Lower(name);
    bool known = false;
    for (const std::string& member : Members()) known = known || member == key;
    if (!known) {
      Record("NAME " + name);
      ids[0] = DISPID_UNKNOWN;
      return DISP_E_UNKNOWNNAME;
    }
    names_.push_back(name);
    ids[0] = static_cast<DISPID>(names_.size());
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* info, UINT*) override {
    if (id < 1 || static_cast<std::size_t>(id) > names_.size()) return DISP_E_MEMBERNOTFOUND;
    const std::string& member = names_[static_cast<std::size_t>(id) - 1];
    const std::string key = Lower(member);
    protocol::Request request{protocol::Request::Kind::kCall, member, {}};
    if (flags & DISPATCH_PROPERTYPUT) {
      if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
      Variant value;
      if (FAILED(platform::FromVariant(params->rgvarg[0], value, platform::OtherTypes::kRefuse))) {
        Record("PUT " + member + " VT" + std::to_string(V_VT(&params->rgvarg[0])));
        return DISP_E_TYPEMISMATCH;
      }
      request.kind = protocol::Request::Kind::kPut;
      request.value = value;
    } else if (flags & DISPATCH_PROPERTYGET && key == "closedby") {
      request.kind = protocol::Request::Kind::kGet;
    }
    Record(protocol::FormatRequest(request));
    if (request.kind == protocol::Request::Kind::kPut) {
      if (g_answer == "HANG:PUT") Hang();
      return key == "popup" || key == "closedby" ? DISP_E_MEMBERNOTFOUND : S_OK;
    }
    if (request.kind == protocol::Request::Kind::kGet) {
      const std::size_t colon = g_answer.find(':');
      const auto answer = protocol::ParseAnswer(
          "OK " + g_answer.substr(0, colon) + " " +
          protocol::Escape(colon == std::string::npos ? "" : g_answer.substr(colon + 1)));
      if (!answer) return E_FAIL;
      if (result != nullptr) platform::ToVariant(answer->value, *result);
      return S_OK;
    }
    if (key != "popup") return DISP_E_MEMBERNOTFOUND;
    if (g_answer == "HANG:POPUP") Hang();
    if (g_answer.rfind("FAIL:", 0) == 0) {
      const std::size_t colon = g_answer.find(':', 5);
      const std::string number = g_answer.substr(5, colon - 5);
      const std::string text = colon == std::string::npos ? "" : g_answer.substr(colon + 1);
      if (info != nullptr) {
        *info = EXCEPINFO{};
        info->wCode = static_cast<WORD>(std::stoi(number));
        info->bstrSource = ::SysAllocString(L"Flarebox.Display");
        const std::wstring wide = Widen(text);
        info->bstrDescription = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
      }
      return DISP_E_EXCEPTION;
    }
    return S_OK;
  }

 private:
  LONG refs_ = 1;
  std::vector<std::string> names_;
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

int Serve() {
  g_main_thread = ::GetCurrentThreadId();
  MSG message;
  ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue
  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  static Factory factory;
  DWORD cookie = 0;
  if (FAILED(::CoRegisterClassObject(kClsid, &factory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE,
                                     &cookie))) {
    return 1;
  }
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  ::CoRevokeClassObject(cookie);
  ::CoUninitialize();
  return 0;
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::wstring> words(args + 1, args + count);
  ::LocalFree(args);
  if (words.size() == 2 && words[0] == L"--linger") {
    ::Sleep(600 * 1000);
    return 0;
  }
  if (words.size() < 2) return 2;
  g_record = words[0];
  g_answer = Narrow(words[1]);
  return Serve();
}
