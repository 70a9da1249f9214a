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
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/failure.h"
#include "platform/win32/com_variant.h"
#include "platform/win32/system_message.h"
#include "platform/win32/unique_handle.h"
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
      return Failure(static_cast<long>(hr),
                     SystemMessageLine(static_cast<std::uint32_t>(hr), "Automation error"));
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

// The server's value as a Variant. Its own types (empty, I2, I4, BOOL, BSTR)
// come as they are; any other number is changed to I4 as the run-time
// changes it, so that a value out of range fails as Overflow (6) and one that
// is no number at all (Null, an object, an array) as Type mismatch (13).
Variant ServerValue(const VARIANT& value) {
  Variant result;
  const HRESULT hr = FromVariant(value, result, OtherTypes::kAsNumber);
  if (FAILED(hr)) throw CallFailure(hr);
  return result;
}

// The ids of the processes whose program file is `name` (without regard to
// case).
std::vector<DWORD> ProcessesNamed(const std::wstring& name) {
  std::vector<DWORD> found;
  if (name.empty()) return found;
  const UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.valid()) return found;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    if (::lstrcmpiW(entry.szExeFile, name.c_str()) == 0) found.push_back(entry.th32ProcessID);
  }
  return found;
}

// The file name of the program registered to serve `clsid`: the first word
// of its LocalServer32 command line (the whole quoted program when quoted),
// as the process list names it: in its long form when the line gives a short
// (8.3) path, as older installers write them, and with the ".exe" that the
// system adds when the line leaves it out.
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
  wchar_t long_path[4096];
  const DWORD length = ::GetLongPathNameW(program.c_str(), long_path, 4096);
  if (length > 0 && length < 4096) program.assign(long_path, length);
  const std::size_t slash = program.find_last_of(L"\\/");
  std::wstring name = slash == std::wstring::npos ? program : program.substr(slash + 1);
  if (name.find(L'.') == std::wstring::npos) name += L".exe";
  return name;
}

// The proxy's interface marshalled as a standard OBJREF: its IPID carries
// the low 16 bits of the id of the process that serves the object, which COM
// tells no other way (Windows keeps them in the IPID's second word, Wine in
// its third; the other word holds a thread's id, which no process has).
// Marshalled table-weak, it holds no reference of the object; where the
// system refuses that for a proxy, marshalled normally, its references are
// given back when this goes.
class MarshalledProxy {
 public:
  explicit MarshalledProxy(IDispatch* proxy) {
    if (FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, &stream_))) {
      stream_ = nullptr;
      return;
    }
    for (const MSHLFLAGS flags : {MSHLFLAGS_TABLEWEAK, MSHLFLAGS_NORMAL}) {
      if (SUCCEEDED(
              ::CoMarshalInterface(stream_, IID_IDispatch, proxy, MSHCTX_INPROC, nullptr, flags))) {
        marshalled_ = true;
        release_ = flags == MSHLFLAGS_NORMAL;
        break;
      }
    }
  }
  ~MarshalledProxy() {
    if (stream_ == nullptr) return;
    if (release_) {
      const LARGE_INTEGER start{};
      if (SUCCEEDED(stream_->Seek(start, STREAM_SEEK_SET, nullptr))) {
        ::CoReleaseMarshalData(stream_);
      }
    }
    stream_->Release();
  }
  MarshalledProxy(const MarshalledProxy&) = delete;
  MarshalledProxy& operator=(const MarshalledProxy&) = delete;

  // The two words of the IPID that may hold the server's process id; false
  // when the interface is no standard proxy's.
  bool IpidWords(WORD& second, WORD& third) const {
    HGLOBAL memory = nullptr;
    if (!marshalled_ || FAILED(::GetHGlobalFromStream(stream_, &memory))) return false;
    // OBJREF: signature "MEOW", flags (1: standard), IID; then STDOBJREF:
    // flags, public references, OXID, OID, IPID (at byte 48).
    constexpr std::size_t kIpid = 48;
    if (::GlobalSize(memory) < kIpid + sizeof(GUID)) return false;
    const auto* bytes = static_cast<const unsigned char*>(::GlobalLock(memory));
    if (bytes == nullptr) return false;
    ULONG signature = 0;
    ULONG flags = 0;
    GUID ipid{};
    std::memcpy(&signature, bytes, sizeof signature);
    std::memcpy(&flags, bytes + 4, sizeof flags);
    std::memcpy(&ipid, bytes + kIpid, sizeof ipid);
    ::GlobalUnlock(memory);
    if (signature != 0x574F454Du || flags != 1) return false;
    second = ipid.Data2;
    third = ipid.Data3;
    return true;
  }

 private:
  IStream* stream_ = nullptr;
  bool marshalled_ = false;
  bool release_ = false;
};

// The server of the object behind the proxy, opened and put in a job object
// of this process's, so that ending the job ends the server and whatever it
// starts from now on; kill-on-close, so that they end with this process too.
// What cannot be done is said in `uncontained`; a server that could be
// opened but not put in the job can still be ended alone.
struct Containment {
  UniqueHandle server;
  UniqueHandle job;
  std::string uncontained;
};

std::string SystemReason(DWORD error) {
  return SystemMessageLine(error, "error " + std::to_string(error));
}

Containment Contain(const MarshalledProxy& marshalled, const std::wstring& program) {
  Containment result;
  WORD second = 0;
  WORD third = 0;
  std::vector<DWORD> candidates;
  if (marshalled.IpidWords(second, third)) {
    for (const DWORD pid : ProcessesNamed(program)) {
      const WORD low = static_cast<WORD>(pid & 0xFFFF);
      if (low == second || low == third) candidates.push_back(pid);
    }
  }
  if (candidates.size() != 1) {
    result.uncontained =
        "its server's process (" + Narrow(program) + ") cannot be found from the proxy";
    return result;
  }
  const DWORD pid = candidates.front();
  result.server.reset(::OpenProcess(
      PROCESS_SET_QUOTA | PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION,
      FALSE, pid));
  if (!result.server.valid()) {
    const DWORD error = ::GetLastError();
    result.server.reset(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    result.uncontained = "its server, process " + std::to_string(pid) +
                         ", cannot be put in a job: " + SystemReason(error);
    return result;
  }
  result.job.reset(::CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!result.job.valid() ||
      !::SetInformationJobObject(result.job.get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits) ||
      !::AssignProcessToJobObject(result.job.get(), result.server.get())) {
    const DWORD error = ::GetLastError();
    result.job.reset();
    result.uncontained = "its server, process " + std::to_string(pid) +
                         ", cannot be put in a job: " + SystemReason(error);
  }
  return result;
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
  // Set by the activation: the server process, when it was found, and the
  // job that holds it and what it starts, when it could be put in one.
  UniqueHandle server;
  UniqueHandle job;
  std::string uncontained;
};

// Ends the server and, when it is in its job, all it started.
void EndServer(Shared& shared) {
  if (shared.job.valid()) {
    ::TerminateJobObject(shared.job.get(), 1);
  } else if (shared.server.valid()) {
    ::TerminateProcess(shared.server.get(), 1);
  }
}

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
    if (shared_->server.valid()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (::WaitForSingleObject(shared_->server.get(),
                                left.count() > 0 ? DWORD(left.count()) : 0) != WAIT_OBJECT_0) {
        EndServer(*shared_);
      }
      shared_->server.reset();
    }
    // What the server started and left running goes with it.
    if (shared_->job.valid()) {
      ::TerminateJobObject(shared_->job.get(), 1);
      shared_->job.reset();
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
      EndServer(*shared);
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
          IDispatch* dispatch = nullptr;
          if (FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                        reinterpret_cast<void**>(&dispatch))) ||
              dispatch == nullptr) {
            throw Failure(err::kCantCreateObject);
          }
          // COM, not this process, starts the server: it is put in a job of
          // this process's here, so that a call past its bound, or the
          // object's release, ends it with all it started.
          // (The marshalled proxy is let go only once the server is known,
          // so that a server that hangs then is ended at the bound.)
          const MarshalledProxy marshalled(dispatch);
          Containment contained = Contain(marshalled, ServerProgramName(clsid));
          std::lock_guard lock(shared->mutex);
          shared->dispatch = dispatch;
          shared->server = std::move(contained.server);
          shared->job = std::move(contained.job);
          shared->uncontained = std::move(contained.uncontained);
        },
        kActivationBoundMs, true);
  }

  std::string Uncontained() const override {
    std::lock_guard lock(shared_->mutex);
    return shared_->uncontained;
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
              if (FAILED(ToVariant(*argument, *in.get()))) throw Failure(err::kOutOfMemory);
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
            job.result = ServerValue(*out.get());
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
