#include "platform/desktop/automation_server.h"

// clang-format off
#include <windows.h>
#include <oleauto.h>
#include <shellapi.h>
// clang-format on

#include <cstdio>
#include <optional>
#include <utility>

#include "platform/failure.h"
#include "platform/win32/com_variant.h"
#include "platform/win32/system_message.h"
#include "platform/win32/wide_text.h"

namespace platform::automation_server {
namespace {

namespace protocol = automation_protocol;

// A server that COM started for an object no client came to take ends
// after this.
constexpr UINT kUnclaimedMs = 60000;

LONG g_objects = 0;
bool g_claimed = false;

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

void Complain(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

BSTR NewBstr(const std::string& text) {
  const std::wstring wide = Widen(text);
  return ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

// The value a client passed, in the protocol's types. Other types are taken
// as their text, as Automation changes them to text; what has none (Null,
// objects, arrays) is a type mismatch.
std::optional<Failure> ValueOf(const VARIANT& given, Variant& out) {
  const HRESULT hr = FromVariant(given, out, OtherTypes::kAsText);
  if (SUCCEEDED(hr)) return std::nullopt;
  if (hr == DISP_E_OVERFLOW) return Failure(err::kOverflow);
  return Failure(13, "Type mismatch");
}

HRESULT Raise(EXCEPINFO* info, const std::string& source, const Failure& failure) {
  if (info != nullptr) {
    *info = EXCEPINFO{};
    if (failure.number() > 0 && failure.number() <= 0xFFFF) {
      info->wCode = static_cast<WORD>(failure.number());
    } else {
      info->scode = static_cast<SCODE>(failure.number());
    }
    info->bstrSource = NewBstr(source);
    info->bstrDescription = NewBstr(failure.description());
  }
  return DISP_E_EXCEPTION;
}

class Object final : public IDispatch {
 public:
  Object(const ServedClass& served, Handler handler)
      : served_(served), handler_(std::move(handler)) {
    ::InterlockedIncrement(&g_objects);
    for (const auto& name : served_.properties) names_.push_back(name);
    for (const auto& name : served_.methods) names_.push_back(name);
  }
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
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
      delete this;  // takes down what the object still shows
      if (::InterlockedDecrement(&g_objects) == 0) ::PostQuitMessage(0);
    }
    return static_cast<ULONG>(left);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info != nullptr) *info = nullptr;
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    if (names == nullptr || ids == nullptr || count == 0) return E_INVALIDARG;
    // Named arguments: the members take none.
    for (UINT i = 1; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    ids[0] = DISPID_UNKNOWN;
    const std::string wanted = Lower(Narrow(std::wstring(names[0])));
    for (std::size_t i = 0; i < names_.size(); ++i) {
      if (Lower(names_[i]) == wanted) ids[0] = static_cast<DISPID>(i + 1);
    }
    return ids[0] == DISPID_UNKNOWN || count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* info, UINT*) override {
    if (id < 1 || static_cast<std::size_t>(id) > names_.size()) return DISP_E_MEMBERNOTFOUND;
    const bool method = static_cast<std::size_t>(id) > served_.properties.size();
    const UINT arguments = params == nullptr ? 0 : params->cArgs;
    protocol::Request request;
    request.member = names_[static_cast<std::size_t>(id) - 1];
    if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0) {
      if (arguments != 1) return DISP_E_BADPARAMCOUNT;
      request.kind = protocol::Request::Kind::kPut;
      if (const auto refused = ValueOf(params->rgvarg[0], request.value)) {
        return Raise(info, served_.prog_id, *refused);
      }
    } else {
      if (arguments != 0) return DISP_E_BADPARAMCOUNT;
      // A property named as a method is the handler's to refuse.
      request.kind =
          (flags & DISPATCH_METHOD) != 0 && (method || (flags & DISPATCH_PROPERTYGET) == 0)
              ? protocol::Request::Kind::kCall
              : protocol::Request::Kind::kGet;
    }
    protocol::Answer answer;
    try {
      answer = handler_(request);
    } catch (...) {
      return Raise(info, served_.prog_id, CaughtFailure());
    }
    if (!answer.ok) {
      return Raise(info, served_.prog_id, Failure(answer.number, answer.description));
    }
    if (result != nullptr) {
      return ToVariant(answer.value, *result);
    }
    return S_OK;
  }

 private:
  LONG refs_ = 1;
  const ServedClass& served_;
  Handler handler_;
  std::vector<std::string> names_;
};

class Factory final : public IClassFactory {
 public:
  Factory(const ServedClass& served, const std::function<Handler()>& make_object)
      : served_(served), make_object_(make_object) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // The factory lives as long as the server's loop.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    Object* object = nullptr;
    try {
      object = new Object(served_, make_object_());
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    g_claimed = true;
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  const ServedClass& served_;
  const std::function<Handler()>& make_object_;
};

// Wine 8 looks classes up in HKEY_CLASSES_ROOT only, which it does not merge
// with the user's classes as Windows does.
bool UnderWine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool Administrator() {
  SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!::AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators)) {
    return false;
  }
  BOOL member = FALSE;
  if (!::CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
  ::FreeSid(administrators);
  return member != FALSE;
}

// Where the classes are written: the machine's classes for an
// administrator, else the user's; under Wine the classes root as well.
std::vector<std::pair<HKEY, std::wstring>> ClassRoots() {
  std::vector<std::pair<HKEY, std::wstring>> roots;
  if (Administrator()) {
    roots.emplace_back(HKEY_LOCAL_MACHINE, L"Software\\Classes\\");
  } else {
    roots.emplace_back(HKEY_CURRENT_USER, L"Software\\Classes\\");
  }
  if (UnderWine()) roots.emplace_back(HKEY_CLASSES_ROOT, L"");
  return roots;
}

std::string RootName(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE\\";
  if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER\\";
  return "HKEY_CLASSES_ROOT\\";
}

std::string SystemText(long code) {
  return SystemMessageLine(static_cast<std::uint32_t>(code), "error " + std::to_string(code));
}

int Register(const ServedClass& served) {
  wchar_t self[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    Complain("Cannot register " + served.prog_id + ": the program's own path is unknown");
    return 1;
  }
  const std::wstring prog_id = Widen(served.prog_id);
  const std::wstring clsid = Widen(served.clsid);
  const std::wstring server = L"\"" + std::wstring(self, length) + L"\"";
  const std::pair<std::wstring, std::wstring> values[] = {
      {prog_id, prog_id},
      {prog_id + L"\\CLSID", clsid},
      {L"CLSID\\" + clsid, prog_id},
      {L"CLSID\\" + clsid + L"\\LocalServer32", server},
      {L"CLSID\\" + clsid + L"\\ProgID", prog_id}};
  for (const auto& [root, classes] : ClassRoots()) {
    for (const auto& [key, value] : values) {
      const std::wstring path = classes + key;
      const LSTATUS status =
          ::RegSetKeyValueW(root, path.c_str(), nullptr, REG_SZ, value.c_str(),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
      if (status != ERROR_SUCCESS) {
        Complain("Cannot register " + served.prog_id + ": " + RootName(root) + Narrow(path) + ": " +
                 SystemText(status));
        return 1;
      }
    }
  }
  return 0;
}

bool EmptyKey(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD subkeys = 0;
  DWORD values = 0;
  const LSTATUS status = ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr,
                                            nullptr, &values, nullptr, nullptr, nullptr, nullptr);
  ::RegCloseKey(key);
  return status == ERROR_SUCCESS && subkeys == 0 && values == 0;
}

int Unregister(const ServedClass& served) {
  int result = 0;
  const std::wstring keys[] = {Widen(served.prog_id), L"CLSID\\" + Widen(served.clsid)};
  for (const auto& [root, classes] : ClassRoots()) {
    for (const auto& key : keys) {
      const std::wstring path = classes + key;
      const LSTATUS status = ::RegDeleteTreeW(root, path.c_str());
      if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        Complain("Cannot unregister " + served.prog_id + ": " + RootName(root) + Narrow(path) +
                 ": " + SystemText(status));
        result = 1;
        continue;
      }
      if (status == ERROR_SUCCESS) {
        // The user's CLSID key that registering made, when nothing else is in it.
        const std::wstring clsid_key = classes + L"CLSID";
        if (root == HKEY_CURRENT_USER && EmptyKey(root, clsid_key)) {
          ::RegDeleteKeyW(root, clsid_key.c_str());
        }
      }
    }
  }
  return result;
}

int Serve(const ServedClass& served, const std::function<Handler()>& make_object) {
  MSG message;
  ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue
  CLSID clsid;
  const std::wstring clsid_text = Widen(served.clsid);
  if (FAILED(::CLSIDFromString(clsid_text.c_str(), &clsid))) {
    Complain("Not a class id: " + served.clsid);
    return 1;
  }
  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    Complain("Cannot start COM");
    return 1;
  }
  Factory factory(served, make_object);
  DWORD cookie = 0;
  const HRESULT hr =
      ::CoRegisterClassObject(clsid, &factory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE, &cookie);
  if (FAILED(hr)) {
    Complain("Cannot offer the class " + served.prog_id + ": " + SystemText(hr));
    ::CoUninitialize();
    return 1;
  }
  const UINT_PTR unclaimed = ::SetTimer(nullptr, 0, kUnclaimedMs, nullptr);
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER && message.hwnd == nullptr && message.wParam == unclaimed) {
      ::KillTimer(nullptr, unclaimed);
      if (!g_claimed) break;
      continue;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  ::CoRevokeClassObject(cookie);
  ::CoUninitialize();
  return 0;
}

}  // namespace

int Main(const ServedClass& served, const std::function<Handler()>& make_object) {
  int count = 0;
  wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::wstring> words;
  if (arguments != nullptr) {
    words.assign(arguments + 1, arguments + count);
    ::LocalFree(arguments);
  }
  if (words.size() == 1) {
    const std::string word = Lower(Narrow(words[0]));
    if (word == "/regserver" || word == "-regserver") return Register(served);
    if (word == "/unregserver" || word == "-unregserver") return Unregister(served);
    if (word == "-embedding" || word == "/embedding") return Serve(served, make_object);
  }
  Complain("usage: one of /RegServer, /UnregServer, -Embedding (COM starts the server so)");
  return 2;
}

}  // namespace platform::automation_server
