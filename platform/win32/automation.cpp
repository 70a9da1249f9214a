// Automation objects on Windows: COM out-of-process servers reached through
// IDispatch, late bound (GetIDsOfNames, then Invoke).
//
// Each object has a thread of its own in the multithreaded apartment: it
// initialises COM once, activates the object, makes every call and releases
// the object. The caller waits for each call at most its bound; a call that
// has not come back by then is given up, the server process is ended, and the
// call fails with the time-out failure. The thread is left to come back from
// the call when the server's end breaks it (it holds nothing of the caller's).
#include "platform/automation.h"

// clang-format off
#include <windows.h>
#include <oleauto.h>
#include <tlhelp32.h>
// clang-format on

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/failure.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

constexpr long kRpcFailed = -2147023170;  // RPC_S_CALL_FAILED as an HRESULT
constexpr const char* kRpcFailedText = "The remote procedure call failed.";
// How long a released server gets to end by itself before it is ended.
constexpr int kExitGraceMs = 2000;
// Activation starts the server and waits for it to offer its class (about a
// second under Wine); a server that never does is given up after this.
constexpr int kActivationBoundMs = 30000;

Failure RpcFailure() {
  return Failure(kRpcFailed, kRpcFailedText);
}

Failure TimeOutFailure() {
  return Failure(AutomationObject::kCallTimedOut,
                 "This operation returned because the timeout period expired.");
}

// HRESULTs that say the server is gone or its end of the connection broke.
bool ServerGone(HRESULT hr) {
  switch (static_cast<unsigned long>(hr)) {
    case 0x800706BEul:  // RPC_S_CALL_FAILED: died during the call
    case 0x800706BAul:  // RPC_S_SERVER_UNAVAILABLE: gone before it
    case 0x800706BFul:  // RPC_S_CALL_FAILED_DNE
    case 0x80010108ul:  // RPC_E_DISCONNECTED
    case 0x80010105ul:  // RPC_E_SERVERFAULT
    case 0x80010114ul:  // RPC_E_INVALID_OBJECT
    case 0x800401FDul:  // CO_E_OBJNOTCONNECTED
      return true;
    default:
      return false;
  }
}

std::string SystemText(HRESULT hr) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text = length > 0 ? Narrow(buffer, length) : std::string();
  if (buffer != nullptr) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text.empty() ? "Automation error" : text;
}

// The failure of a call that the server or the conversion of its value
// refused, with the numbers the classic run-time gives them.
Failure CallFailure(HRESULT hr) {
  switch (static_cast<unsigned long>(hr)) {
    case static_cast<unsigned long>(DISP_E_TYPEMISMATCH):
      return Failure(13, "Type mismatch");
    case static_cast<unsigned long>(DISP_E_OVERFLOW):
      return Failure(err::kOverflow);
    case static_cast<unsigned long>(DISP_E_UNKNOWNNAME):
    case static_cast<unsigned long>(DISP_E_MEMBERNOTFOUND):
      return Failure(err::kNoSuchMember);
    case static_cast<unsigned long>(DISP_E_BADPARAMCOUNT):
      return Failure(450, "Wrong number of arguments or invalid property assignment");
    case static_cast<unsigned long>(DISP_E_PARAMNOTOPTIONAL):
      return Failure(449, "Argument not optional");
    case static_cast<unsigned long>(E_OUTOFMEMORY):
      return Failure(err::kOutOfMemory);
    default:
      return Failure(static_cast<long>(hr), SystemText(hr));
  }
}

// The server's own failure, number and description as it raised them.
Failure ExceptionFailure(EXCEPINFO& info) {
  if (info.pfnDeferredFillIn != nullptr) info.pfnDeferredFillIn(&info);
  const long number =
      info.wCode != 0 ? static_cast<long>(info.wCode) : static_cast<long>(info.scode);
  std::string description;
  if (info.bstrDescription != nullptr) {
    description = Narrow(info.bstrDescription, ::SysStringLen(info.bstrDescription));
  }
  ::SysFreeString(info.bstrSource);
  ::SysFreeString(info.bstrDescription);
  ::SysFreeString(info.bstrHelpFile);
  if (description.empty()) description = ClassicDescription(number);
  if (description.empty()) description = "Automation error";
  return Failure(number, description);
}

// Thrown inside the object's thread when the server is gone; the caller
// turns it into the RPC failure and keeps it for every later call.
struct ServerGoneSignal {};

void Check(HRESULT hr) {
  if (SUCCEEDED(hr)) return;
  if (ServerGone(hr)) throw ServerGoneSignal{};
  throw CallFailure(hr);
}

// A value for the server: the types of Variant, as they are.
class OwnedVariant {
 public:
  OwnedVariant() { ::VariantInit(&value_); }
  ~OwnedVariant() { ::VariantClear(&value_); }
  OwnedVariant(const OwnedVariant&) = delete;
  OwnedVariant& operator=(const OwnedVariant&) = delete;
  VARIANT* get() { return &value_; }

 private:
  VARIANT value_;
};

void ToVariant(const Variant& from, VARIANT& to) {
  switch (from.type) {
    case VarType::kEmpty:
      V_VT(&to) = VT_EMPTY;
      break;
    case VarType::kI2:
      V_VT(&to) = VT_I2;
      V_I2(&to) = static_cast<SHORT>(from.number);
      break;
    case VarType::kI4:
      V_VT(&to) = VT_I4;
      V_I4(&to) = static_cast<LONG>(from.number);
      break;
    case VarType::kBool:
      V_VT(&to) = VT_BOOL;
      V_BOOL(&to) = from.number != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case VarType::kBstr: {
      const std::wstring wide = Widen(from.text);
      BSTR text = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
      if (text == nullptr) throw Failure(err::kOutOfMemory);
      V_VT(&to) = VT_BSTR;
      V_BSTR(&to) = text;
      break;
    }
  }
}

// The server's value as a Variant. Its own types (empty, I2, I4, BOOL, BSTR)
// come as they are; any other number is changed to I4 as the run-time
// changes it (VariantChangeType), so that a value out of range fails as
// Overflow (6) and one that is no number at all (Null, an object, an array)
// as Type mismatch (13).
Variant FromVariant(VARIANT& value) {
  OwnedVariant direct;
  Check(::VariantCopyInd(direct.get(), &value));
  VARIANT& v = *direct.get();
  switch (V_VT(&v)) {
    case VT_EMPTY:
      return {};
    case VT_I2:
      return Variant::I2(V_I2(&v));
    case VT_I4:
      return Variant::I4(V_I4(&v));
    case VT_BOOL:
      return Variant::Bool(V_BOOL(&v) != VARIANT_FALSE);
    case VT_BSTR:
      return Variant::Bstr(V_BSTR(&v) == nullptr ? std::string()
                                                 : Narrow(V_BSTR(&v), ::SysStringLen(V_BSTR(&v))));
    case VT_DISPATCH:
    case VT_UNKNOWN:
      throw CallFailure(DISP_E_TYPEMISMATCH);
    default:
      break;
  }
  if ((V_VT(&v) & VT_ARRAY) != 0) throw CallFailure(DISP_E_TYPEMISMATCH);
  OwnedVariant number;
  const HRESULT hr = ::VariantChangeType(number.get(), &v, 0, VT_I4);
  if (FAILED(hr)) throw CallFailure(hr);
  return Variant::I4(V_I4(number.get()));
}

// Processes whose program file is `name` (without regard to case): their
// ids, each with its parent's.
std::map<DWORD, DWORD> ProcessesNamed(const std::wstring& name) {
  std::map<DWORD, DWORD> found;
  if (name.empty()) return found;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return found;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
       more = ::Process32NextW(snapshot, &entry)) {
    if (::lstrcmpiW(entry.szExeFile, name.c_str()) == 0)
      found[entry.th32ProcessID] = entry.th32ParentProcessID;
  }
  ::CloseHandle(snapshot);
  return found;
}

// The file name of the program registered to serve `clsid`: the first word
// of its LocalServer32 command line (the whole quoted program when quoted).
std::wstring ServerProgramName(const CLSID& clsid) {
  wchar_t* clsid_text = nullptr;
  if (FAILED(::StringFromCLSID(clsid, &clsid_text))) return {};
  const std::wstring key = std::wstring(L"CLSID\\") + clsid_text + L"\\LocalServer32";
  ::CoTaskMemFree(clsid_text);
  // The user's classes first, as COM looks them up.
  wchar_t buffer[2048];
  DWORD size = sizeof(buffer);
  if (::RegGetValueW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + key).c_str(), nullptr,
                     RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) {
    size = sizeof(buffer);
    if (::RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, buffer,
                       &size) != ERROR_SUCCESS) {
      return {};
    }
  }
  std::wstring line(buffer);
  const std::size_t start = line.find_first_not_of(L' ');
  if (start == std::wstring::npos) return {};
  std::wstring program;
  if (line[start] == L'"') {
    const std::size_t close = line.find(L'"', start + 1);
    program = line.substr(start + 1, close == std::wstring::npos ? close : close - start - 1);
  } else {
    program = line.substr(start, line.find(L' ', start) - start);
  }
  const std::size_t slash = program.find_last_of(L"\\/");
  return slash == std::wstring::npos ? program : program.substr(slash + 1);
}

// What the object's thread and its callers share. It outlives the object
// when a call never came back.
struct Shared {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::function<void()>> jobs;
  bool closing = false;
  bool finished = false;
  IDispatch* dispatch = nullptr;  // used on the object's thread only
  HANDLE server = nullptr;        // the server process, when it was found
};

struct Job {
  bool done = false;
  std::exception_ptr error;
  bool server_gone = false;
  Variant result;
};

void RunThread(std::shared_ptr<Shared> shared) {
  const HRESULT initialised = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock lock(shared->mutex);
      shared->changed.wait(lock, [&] { return shared->closing || !shared->jobs.empty(); });
      if (shared->jobs.empty()) break;
      job = std::move(shared->jobs.front());
      shared->jobs.pop_front();
    }
    job();
  }
  if (shared->dispatch != nullptr) shared->dispatch->Release();
  shared->dispatch = nullptr;
  if (SUCCEEDED(initialised)) ::CoUninitialize();
  std::lock_guard lock(shared->mutex);
  shared->finished = true;
  shared->changed.notify_all();
}

class ComServer final : public AutomationObject {
 public:
  ComServer() : shared_(std::make_shared<Shared>()) { std::thread(RunThread, shared_).detach(); }

  ~ComServer() override {
    {
      std::lock_guard lock(shared_->mutex);
      shared_->closing = true;
      shared_->changed.notify_all();
    }
    // Released, a server ends by itself (its last object gone); one that
    // does not within the grace time is ended.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kExitGraceMs);
    {
      std::unique_lock lock(shared_->mutex);
      shared_->changed.wait_until(lock, deadline, [&] { return shared_->finished; });
    }
    if (shared_->server != nullptr) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (::WaitForSingleObject(shared_->server, left.count() > 0 ? DWORD(left.count()) : 0) !=
          WAIT_OBJECT_0) {
        ::TerminateProcess(shared_->server, 1);
      }
      ::CloseHandle(shared_->server);
      shared_->server = nullptr;
    }
  }

  // Runs `work` on the object's thread within `bound_ms`.
  void Run(const std::function<void(Job&)>& work, int bound_ms, bool activation = false) {
    auto job = std::make_shared<Job>();
    auto shared = shared_;
    {
      std::lock_guard lock(shared->mutex);
      shared->jobs.push_back([job, shared, work] {
        Job outcome;
        try {
          work(outcome);
        } catch (const ServerGoneSignal&) {
          outcome.server_gone = true;
        } catch (...) {
          outcome.error = std::current_exception();
        }
        std::lock_guard done_lock(shared->mutex);
        *job = std::move(outcome);
        job->done = true;
        shared->changed.notify_all();
      });
      shared->changed.notify_all();
    }
    std::unique_lock lock(shared->mutex);
    if (!shared->changed.wait_for(lock, std::chrono::milliseconds(bound_ms),
                                  [&] { return job->done; })) {
      lock.unlock();
      if (shared->server != nullptr) ::TerminateProcess(shared->server, 1);
      if (activation) throw Failure(err::kCantCreateObject);
      throw TimeOutFailure();
    }
    if (job->server_gone) throw RpcFailure();
    if (job->error) std::rethrow_exception(job->error);
    result_ = job->result;
  }

  void Activate(const std::string& prog_id) {
    Run(
        [prog_id, shared = shared_](Job&) {
          CLSID clsid;
          if (FAILED(::CLSIDFromProgID(Widen(prog_id).c_str(), &clsid))) {
            throw Failure(err::kCantCreateObject);
          }
          // The server process is the one of its program that is new after
          // the activation (when several are, the one this process started):
          // its handle lets a call past its bound end it.
          const std::wstring program = ServerProgramName(clsid);
          const std::map<DWORD, DWORD> before = ProcessesNamed(program);
          IDispatch* dispatch = nullptr;
          if (FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                        reinterpret_cast<void**>(&dispatch))) ||
              dispatch == nullptr) {
            throw Failure(err::kCantCreateObject);
          }
          std::vector<DWORD> started;
          std::vector<DWORD> children;
          for (const auto& [pid, parent] : ProcessesNamed(program)) {
            if (before.count(pid) != 0) continue;
            started.push_back(pid);
            if (parent == ::GetCurrentProcessId()) children.push_back(pid);
          }
          if (started.size() != 1) started = children;
          HANDLE server = nullptr;
          if (started.size() == 1) {
            server = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, started.front());
          }
          std::lock_guard lock(shared->mutex);
          shared->dispatch = dispatch;
          shared->server = server;
        },
        kActivationBoundMs, true);
  }

  void PutProperty(const std::string& member, const Variant& value) override {
    Call(member, DISPATCH_PROPERTYPUT, &value);
  }
  Variant CallMethod(const std::string& member) override {
    return Call(member, DISPATCH_METHOD, nullptr);
  }
  Variant GetProperty(const std::string& member) override {
    return Call(member, DISPATCH_PROPERTYGET, nullptr);
  }

 private:
  Variant Call(const std::string& member, WORD flags, const Variant* value) {
    if (broken_) throw RpcFailure();
    broken_ = true;  // until the call comes back from the server
    std::optional<Variant> argument;
    if (value != nullptr) argument = *value;
    try {
      Run(
          [shared = shared_, member, flags, argument](Job& job) {
            IDispatch* dispatch = shared->dispatch;
            std::wstring name = Widen(member);
            LPOLESTR names[] = {name.data()};
            DISPID id = 0;
            Check(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
            OwnedVariant in;
            DISPID put_id = DISPID_PROPERTYPUT;
            DISPPARAMS params{};
            if (argument) {
              ToVariant(*argument, *in.get());
              params.rgvarg = in.get();
              params.cArgs = 1;
              params.rgdispidNamedArgs = &put_id;
              params.cNamedArgs = 1;
            }
            OwnedVariant out;
            EXCEPINFO info{};
            UINT bad_argument = 0;
            const HRESULT hr =
                dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                 argument ? nullptr : out.get(), &info, &bad_argument);
            if (hr == DISP_E_EXCEPTION) throw ExceptionFailure(info);
            Check(hr);
            job.result = FromVariant(*out.get());
          },
          CallBound());
    } catch (const Failure& failure) {
      // A time-out or the server's end leaves the object broken; a failure
      // the server reported does not.
      if (failure.number() != kCallTimedOut && failure.number() != kRpcFailed) broken_ = false;
      throw;
    }
    broken_ = false;
    return result_;
  }

  std::shared_ptr<Shared> shared_;
  Variant result_;
  bool broken_ = false;
};

}  // namespace

std::unique_ptr<AutomationObject> AutomationObject::Create(const std::string& prog_id) {
  auto object = std::make_unique<ComServer>();
  object->Activate(prog_id);
  return object;
}

}  // namespace platform
