// A stand-in for the desktop's browser in the viewer's test
// (test_viewer.py): registered in the test's Wine prefix as the program that
// opens .html files, it writes the arguments it was started with, each as a
// "[argument]" line in UTF-8, to open_recorder.txt beside itself, and ends.
// The file is written whole through a temporary name, so that the test,
// which waits for it, never reads a part.
#include <windows.h>

#include <string>

namespace {

std::string Utf8(const wchar_t* text) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring self(MAX_PATH, L'\0');
  const DWORD n = ::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
  if (n == 0 || n >= self.size()) return 90;
  self.resize(n);
  const std::wstring folder = self.substr(0, self.find_last_of(L'\\') + 1);
  const std::wstring record = folder + L"open_recorder.txt";
  const std::wstring part = record + L".part";

  std::string lines;
  for (int i = 1; i < argc; ++i) lines += "[" + Utf8(argv[i]) + "]\n";
  HANDLE file = ::CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 91;
  DWORD written = 0;
  const BOOL ok =
      ::WriteFile(file, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
  ::CloseHandle(file);
  if (!ok || !::MoveFileExW(part.c_str(), record.c_str(), MOVEFILE_REPLACE_EXISTING)) return 92;
  return 0;
}
