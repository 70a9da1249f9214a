// A child program for the tests of the Windows process facility
// (platform/win32/process_test.cpp), which expects it beside itself as
// process_test_child.exe. Scripts cannot stand in for it: a Linux script
// started from a Windows program loses its exit code and leaves the job
// object. What it does is named by its first argument:
//
//   exit N             ends with exit code N
//   sleep MS           sleeps MS milliseconds, then ends with 0
//   args FILE ...      writes each later argument, as the C runtime split
//                      them, to FILE as "[argument]" lines (UTF-8)
//   spawn FILE         starts itself with "sleep 60000", writes that
//                      grandchild's process id to FILE, then sleeps 60 s
//   stderr TEXT        writes TEXT to standard error, then ends with 0
//   flood BYTES        writes a first line and BYTES more bytes to standard
//                      error, then ends with 0
//   input FILE         reads standard input and writes "end of input" to
//                      FILE when it has none
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string Utf8(const wchar_t* text) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

// Writes the file whole, through a temporary name, so that a reader never
// sees a part.
void WriteWhole(const wchar_t* path, const std::string& bytes) {
  const std::wstring part = std::wstring(path) + L".part";
  HANDLE file = ::CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) std::exit(90);
  DWORD written = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(file);
  if (!::MoveFileExW(part.c_str(), path, MOVEFILE_REPLACE_EXISTING)) std::exit(91);
}

void WriteError(const std::string& bytes) {
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 99;
  const std::wstring what = argv[1];
  if (what == L"exit" && argc > 2) return _wtoi(argv[2]);
  if (what == L"sleep" && argc > 2) {
    ::Sleep(static_cast<DWORD>(_wtoi(argv[2])));
    return 0;
  }
  if (what == L"args" && argc > 2) {
    std::string text;
    for (int i = 3; i < argc; ++i) text += "[" + Utf8(argv[i]) + "]\n";
    WriteWhole(argv[2], text);
    return 0;
  }
  if (what == L"spawn" && argc > 2) {
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = L"\"" + std::wstring(self) + L"\" sleep 60000";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(self, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info)) {
      return 92;
    }
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    WriteWhole(argv[2], std::to_string(info.dwProcessId));
    ::Sleep(60000);
    return 0;
  }
  if (what == L"stderr" && argc > 2) {
    WriteError(Utf8(argv[2]));
    return 0;
  }
  if (what == L"flood" && argc > 2) {
    WriteError("\r\nfirst line\nsecond line\n");
    const std::string block(4096, 'x');
    for (long left = _wtol(argv[2]); left > 0; left -= static_cast<long>(block.size())) {
      WriteError(block);
    }
    return 0;
  }
  if (what == L"input" && argc > 2) {
    char buffer[16];
    DWORD n = 0;
    const BOOL read =
        ::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &n, nullptr);
    WriteWhole(argv[2], read && n == 0 ? "end of input" : "input: " + std::to_string(n));
    return 0;
  }
  return 98;
}
