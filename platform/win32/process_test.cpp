// The process tests' child program and look at processes on Windows.
#include "platform/process.h"

#include <windows.h>

#include <string>

#include "platform/testing/process_fixture.h"
#include "platform/testing/test_support.h"
#include "platform/win32/wide_text.h"

namespace platform::testing {

// tests/windows/process_child.cpp, built beside the test program: a script
// cannot stand in for it, as a Linux script started from a Windows program
// loses its exit code and leaves the job object.
std::string ChildProgram() {
  wchar_t self[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, n);
  path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"process_test_child.exe";
  return Narrow(path);
}

void PlantDecoy(const std::string& path) {
  WriteFile(path, "not a program\r\n");
}

// Whether a file is run is told by its content alone.
void MakeRunnable(const std::string&) {}

struct ProcessLook::Process {
  HANDLE handle = nullptr;
};

ProcessLook::ProcessLook(std::uint32_t id)
    : process_(new Process{::OpenProcess(
          SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, id)}) {}

ProcessLook::~ProcessLook() {
  if (process_->handle == nullptr) return;
  ::TerminateProcess(process_->handle, 1);
  ::CloseHandle(process_->handle);
}

bool ProcessLook::valid() const {
  return process_->handle != nullptr;
}

bool ProcessLook::EndsWithin(std::uint32_t milliseconds) {
  return ::WaitForSingleObject(process_->handle, milliseconds) == WAIT_OBJECT_0;
}

void ProcessLook::Terminate() {
  ::TerminateProcess(process_->handle, 3);
}

std::uint32_t ProcessLook::ExitCode() {
  DWORD code = 0;
  ::GetExitCodeProcess(process_->handle, &code);
  return code;
}

}  // namespace platform::testing
