// Facts about the process and its user from the Win32 API. Text crosses the
// wide functions and is handed out as UTF-8 (see wide_text.h).
#include "platform/system.h"

// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

#include "platform/failure.h"
#include "platform/win32/system_message.h"
#include "platform/win32/wide_text.h"

namespace platform {

std::optional<std::string> EnvironmentValue(const std::string& name) {
  // A look at the environment must not change the error code a caller is
  // about to read.
  const DWORD saved = ::GetLastError();
  const std::wstring wide_name = Widen(name);
  std::vector<wchar_t> buffer(256);
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD n = ::GetEnvironmentVariableW(wide_name.c_str(), buffer.data(),
                                              static_cast<DWORD>(buffer.size()));
    if (n == 0) {
      const DWORD error = ::GetLastError();
      ::SetLastError(saved);
      // A variable set to the empty text answers 0 without an error.
      if (error == ERROR_SUCCESS) return std::string();
      return std::nullopt;
    }
    if (n < buffer.size()) {
      ::SetLastError(saved);
      return Narrow(buffer.data(), n);
    }
    buffer.resize(n);  // n counts the NUL when the buffer was too small
  }
}

void SetEnvironmentValue(const std::string& name, const std::string& value) {
  if (!::SetEnvironmentVariableW(Widen(name).c_str(), Widen(value).c_str())) {
    throw Failure(err::kInvalidCall);
  }
}

std::uint32_t CurrentProcessId() {
  return ::GetCurrentProcessId();
}

bool QueryUserName(char* buffer, std::uint32_t* size) {
  wchar_t wide[257];  // UNLEN + 1
  DWORD length = sizeof wide / sizeof wide[0];
  if (!::GetUserNameW(wide, &length)) return false;  // the system's own error code stays
  // `length` counts the NUL.
  const std::string name = Narrow(wide, length > 0 ? length - 1 : 0);
  if (size == nullptr) return false;
  if (name.size() + 1 > *size) {
    *size = static_cast<std::uint32_t>(name.size() + 1);
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  *size = static_cast<std::uint32_t>(name.size() + 1);
  return true;
}

void HideFromTaskList() {
  // rssnotify.exe is built for the windows subsystem (CMakeLists.txt), so
  // the system opens no console window for it; it opens no window of its own
  // either (the popup is the component's, the message box the system's), and
  // a process without a window has no entry in the taskbar or the task
  // switcher: nothing to hide. A console program would have both, for the
  // whole run.
}

void KeepFreedMemory() {}

std::string ExecutableBaseName() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);  // cut to fit: try again with more room
  }
  std::wstring name(path.begin(), path.end());
  name = name.substr(name.find_last_of(L"\\/") + 1);
  const std::size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos && dot > 0) name.erase(dot);
  return Narrow(name);
}

std::vector<std::string> ProgramArguments(int, char**) {
  int count = 0;
  wchar_t** words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  if (words == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(Narrow(words[i], std::wcslen(words[i])));
  ::LocalFree(words);
  return arguments;
}

LocalTime Now() {
  SYSTEMTIME local{};
  ::GetLocalTime(&local);
  return {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
}

void ExitProcess(int status) {
  // No atexit handlers, no static destructors, as on Linux.
  std::_Exit(status);
}

}  // namespace platform
