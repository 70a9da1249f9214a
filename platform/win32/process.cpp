// Programs started with a bounded wait, on Windows.
//
// Each program is created suspended, put in a job object of its own and only
// then resumed, so that everything it starts is in the job from its first
// instruction on: TerminateJobObject ends the whole tree at once, whatever
// the processes do. The job is kill-on-close while the StartedProgram lives,
// so that a run that dies while it waits does not leave the program behind;
// letting go of the program (destroying the StartedProgram) clears the limit
// first, as letting go of a program leaves it and what it started running.
//
// Error output kept for the caller comes through a named pipe read with
// overlapped I/O (an anonymous pipe cannot be waited on), so that a wait ends
// when the program ends or writes, with no polling.
#include "platform/process.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "platform/failure.h"
#include "platform/system.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

// How long ending a program waits for it to be gone. TerminateJobObject
// normally takes effect at once.
constexpr DWORD kKillSettleMilliseconds = 2000;

// One argument as the C runtime's splitting gives it back whole (the rules
// of SplitArgumentText): quoted when it is empty or holds a blank, a tab or
// a quote; backslashes doubled only before a quote.
void AppendArgument(std::wstring& line, const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += argument;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      line.append(2 * backslashes + 1, L'\\');
    } else {
      line.append(backslashes, L'\\');
    }
    backslashes = 0;
    line += c;
  }
  // Before the closing quote every backslash is doubled.
  line.append(2 * backslashes, L'\\');
  line += L'"';
}

// The command line handed to the program: its path quoted (the runtime takes
// the program name to the closing quote, with no escapes, and a path holds no
// quote), then the arguments.
std::wstring BuildCommandLine(const std::wstring& program, const CommandLine& command) {
  std::wstring line = L"\"" + program + L"\"";
  for (const std::string& argument : command.arguments) {
    line += L' ';
    AppendArgument(line, Widen(argument));
  }
  return line;
}

// The error output kept of a program started with ErrorOutput::kKeepFirstLine:
// the read end of a pipe read with overlapped I/O, one read outstanding.
struct ErrorCapture {
  UniqueHandle pipe;
  UniqueHandle event;  // the overlapped reads' event
  OVERLAPPED overlapped{};
  char chunk[4096];
  bool pending = false;  // a read is outstanding
  std::string first_line;
  bool line_complete = false;

  ~ErrorCapture() { Close(); }

  void Close() {
    if (pending) {
      DWORD ignored = 0;
      ::CancelIoEx(pipe.get(), &overlapped);
      ::GetOverlappedResult(pipe.get(), &overlapped, &ignored, TRUE);
      pending = false;
    }
    pipe.reset();
    overlapped.hEvent = nullptr;
    event.reset();
  }

  void Keep(const char* bytes, DWORD n) {
    for (DWORD i = 0; i < n && !line_complete; ++i) {
      if (bytes[i] == '\n' || bytes[i] == '\r') {
        // Line ends before any text are skipped.
        line_complete = !first_line.empty();
        continue;
      }
      if (first_line.size() < kErrorLineBytes) first_line += bytes[i];
    }
  }

  // Takes what has come and keeps one read outstanding. A program that
  // writes without pause cannot keep the caller here: one call takes at most
  // 64 chunks.
  void Drain() {
    for (int reads = 0; reads < 64 && pipe.valid(); ++reads) {
      DWORD n = 0;
      if (pending) {
        if (!::GetOverlappedResult(pipe.get(), &overlapped, &n, FALSE)) {
          if (::GetLastError() == ERROR_IO_INCOMPLETE) return;  // nothing more yet
          Close();  // the writers are gone (ERROR_BROKEN_PIPE)
          return;
        }
        pending = false;
        Keep(chunk, n);
        continue;
      }
      ::ResetEvent(overlapped.hEvent);
      if (::ReadFile(pipe.get(), chunk, sizeof chunk, &n, &overlapped)) {
        // Done at once; the result is also posted to the overlapped state.
        ::GetOverlappedResult(pipe.get(), &overlapped, &n, FALSE);
        Keep(chunk, n);
        continue;
      }
      if (::GetLastError() != ERROR_IO_PENDING) {
        Close();
        return;
      }
      pending = true;
    }
  }
};

// A pipe for the program's error output: an overlapped read end for this
// process, an inheritable write end for the program.
bool CreateErrorPipe(ErrorCapture& capture, UniqueHandle& write_end) {
  static std::atomic<unsigned> counter{0};
  const std::wstring name = L"\\\\.\\pipe\\rssnotify-error-" +
                            std::to_wstring(::GetCurrentProcessId()) + L"-" +
                            std::to_wstring(++counter);
  UniqueHandle read_end(::CreateNamedPipeW(
      name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 65536, 0,
      nullptr));
  if (!read_end.valid()) return false;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  UniqueHandle written(::CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inherit, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!written.valid()) return false;
  UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event.valid()) return false;
  capture.pipe = std::move(read_end);
  capture.event = std::move(event);
  capture.overlapped.hEvent = capture.event.get();
  write_end = std::move(written);
  return true;
}

// An inheritable handle of the null device.
UniqueHandle OpenNullDevice(DWORD access) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return UniqueHandle(::CreateFileW(L"NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                    OPEN_EXISTING, 0, nullptr));
}

// An inheritable copy of one of this process's standard handles; nullptr
// when it has none (a program of the windows subsystem has none).
UniqueHandle InheritableCopy(DWORD which) {
  HANDLE own = ::GetStdHandle(which);
  if (own == nullptr || own == INVALID_HANDLE_VALUE) return {};
  HANDLE copy = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), own, ::GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
    return {};
  }
  return UniqueHandle(copy);
}

// Handles given to the program, closed here once it has them.
struct ChildHandles {
  UniqueHandle input;
  UniqueHandle output;
  UniqueHandle error;
};

// The kill-on-close limit of a job, set or cleared.
bool SetKillOnClose(HANDLE job, bool on) {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = on ? JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE : 0;
  return ::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                                   sizeof limits) != FALSE;
}

}  // namespace

struct StartedProgram::State {
  UniqueHandle process;
  UniqueHandle job;
  DWORD pid = 0;
  ErrorCapture capture;

  ~State() {
    // Letting go of a program leaves it running, and what it started (a
    // launcher that has ended may have left the real program): the job
    // must not take them along when its last handle closes.
    if (job.valid()) SetKillOnClose(job.get(), false);
  }
};

StartedProgram::StartedProgram(std::unique_ptr<State> state) : state_(std::move(state)) {}
StartedProgram::StartedProgram(StartedProgram&&) noexcept = default;
StartedProgram& StartedProgram::operator=(StartedProgram&&) noexcept = default;
StartedProgram::~StartedProgram() = default;

std::uint32_t StartedProgram::id() const {
  return state_->pid;
}

bool StartedProgram::watched() const {
  // The process handle comes with the start itself: a started program is
  // always watched.
  return state_->process.valid();
}

bool StartedProgram::HasEnded() {
  return ::WaitForSingleObject(state_->process.get(), 0) != WAIT_TIMEOUT;
}

bool StartedProgram::Wait(std::uint32_t milliseconds) {
  ErrorCapture& capture = state_->capture;
  const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
  for (;;) {
    capture.Drain();
    HANDLE handles[2] = {state_->process.get(), capture.overlapped.hEvent};
    const DWORD count = capture.pending ? 2 : 1;
    const ULONGLONG now = ::GetTickCount64();
    DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    // Output still coming in without pause (Drain stopped at its share): a
    // look at the program, then more of it.
    if (capture.pipe.valid() && !capture.pending && left > 0) left = 0;
    const DWORD woke = ::WaitForMultipleObjects(count, handles, FALSE, left);
    if (woke == WAIT_OBJECT_0) return true;
    if (woke == WAIT_OBJECT_0 + 1) continue;  // error output came: take it, wait on
    if (woke == WAIT_TIMEOUT) {
      if (::GetTickCount64() < deadline) continue;
      return false;
    }
    return false;  // WAIT_FAILED: the system's error code stays
  }
}

bool StartedProgram::EndGroup() {
  State& state = *state_;
  // Ask whether it still runs before ending it: the real system refuses to
  // terminate a process that has ended (5), which is how callers tell a
  // program that finished from one that had to be stopped; Wine answers TRUE
  // there, so its answer cannot be used for that.
  DWORD exit_code = 0;
  const bool running = ::GetExitCodeProcess(state.process.get(), &exit_code) &&
                       exit_code == STILL_ACTIVE &&
                       ::WaitForSingleObject(state.process.get(), 0) == WAIT_TIMEOUT;
  // Either way nothing the program started outlives the call.
  ::TerminateJobObject(state.job.get(), 1);
  if (!running) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  ::WaitForSingleObject(state.process.get(), kKillSettleMilliseconds);
  return true;
}

std::string StartedProgram::ErrorLine() {
  state_->capture.Drain();
  return state_->capture.first_line;
}

StartedProgram StartProgram(const CommandLine& command, int show_state, ErrorOutput error_output) {
  const bool hidden = show_state == kShowHidden;
  auto state = std::make_unique<StartedProgram::State>();

  // Standard input never comes from the terminal; a hidden program gets no
  // output either.
  ChildHandles handles;
  handles.input = OpenNullDevice(GENERIC_READ);
  if (hidden) {
    handles.output = OpenNullDevice(GENERIC_WRITE);
  } else {
    handles.output = InheritableCopy(STD_OUTPUT_HANDLE);
  }
  if (error_output == ErrorOutput::kKeepFirstLine) {
    // The system's error code of the failed call stays.
    if (!CreateErrorPipe(state->capture, handles.error)) throw Failure(err::kPathFileAccess);
  } else if (hidden) {
    handles.error = OpenNullDevice(GENERIC_WRITE);
  } else {
    handles.error = InheritableCopy(STD_ERROR_HANDLE);
  }

  // Only these handles go to the program, whatever else this process holds
  // inheritable at the moment.
  std::vector<HANDLE> inherited;
  for (const UniqueHandle* h : {&handles.input, &handles.output, &handles.error}) {
    if (h->valid()) inherited.push_back(h->get());
  }
  SIZE_T list_size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &list_size);
  std::vector<unsigned char> list_memory(list_size);
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list_memory.data());
  bool have_list =
      !inherited.empty() && ::InitializeProcThreadAttributeList(list, 1, 0, &list_size);
  if (have_list &&
      !::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited.data(),
                                   inherited.size() * sizeof(HANDLE), nullptr, nullptr)) {
    ::DeleteProcThreadAttributeList(list);
    have_list = false;
  }

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = have_list ? sizeof startup : sizeof startup.StartupInfo;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.StartupInfo.wShowWindow = hidden ? SW_HIDE : SW_SHOWNORMAL;
  startup.StartupInfo.hStdInput = handles.input.get();
  startup.StartupInfo.hStdOutput = handles.output.get();
  startup.StartupInfo.hStdError = handles.error.get();
  if (have_list) startup.lpAttributeList = list;

  // Suspended until it is in its job; a console program started hidden gets
  // no console window.
  DWORD flags = CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_PROCESS_GROUP;
  if (hidden) flags |= CREATE_NO_WINDOW;
  if (have_list) flags |= EXTENDED_STARTUPINFO_PRESENT;

  const std::wstring program = Widen(command.program);
  std::wstring line = BuildCommandLine(program, command);
  PROCESS_INFORMATION info{};
  const BOOL created =
      ::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, !inherited.empty(), flags,
                       nullptr, nullptr, &startup.StartupInfo, &info);
  const DWORD create_error = ::GetLastError();
  if (have_list) ::DeleteProcThreadAttributeList(list);
  if (!created) {
    // No file at the path, or a folder of the path missing: "file not found"
    // as the caller knows it.
    if (create_error == ERROR_FILE_NOT_FOUND || create_error == ERROR_PATH_NOT_FOUND) {
      ::SetLastError(ERROR_FILE_NOT_FOUND);
      throw Failure(err::kFileNotFound);
    }
    ::SetLastError(create_error);  // 193 for a file that is no program, 5 for one not allowed
    throw Failure(err::kPathFileAccess);
  }

  const UniqueHandle thread(info.hThread);
  state->process.reset(info.hProcess);
  state->pid = info.dwProcessId;
  state->job.reset(::CreateJobObjectW(nullptr, nullptr));
  if (!state->job.valid() || !SetKillOnClose(state->job.get(), true) ||
      !::AssignProcessToJobObject(state->job.get(), info.hProcess)) {
    // Without its job the program's tree could not be ended: it does not run.
    const DWORD error = ::GetLastError();
    ::TerminateProcess(info.hProcess, 1);
    ::SetLastError(error);
    throw Failure(err::kPathFileAccess);
  }
  ::ResumeThread(info.hThread);
  // The first read of the error output is outstanding from the start.
  state->capture.Drain();
  return StartedProgram(std::move(state));
}

bool EndWithStarter(std::uint32_t) {
  // The starter put this process in a job that ends it when the starter's
  // last handle to it closes, at the starter's end however it comes; a
  // starter that has already ended took this process along.
  return true;
}

}  // namespace platform
