// Answers a message box as a user would, for the sandbox tests on Windows:
// looks for a window with the caption CAPTION for at most SECONDS, writes the
// box's text (UTF-8) to RECORD and presses its OK button.
//
//   answer_message_box CAPTION RECORD SECONDS
//
// Exit codes: 0 answered, 1 no box came, 2 bad arguments.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <string>
#include <vector>

#include "platform/win32/wide_text.h"

int main() {
  int count = 0;
  wchar_t** args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::wstring> words(args + 1, args + count);
  ::LocalFree(args);
  if (words.size() != 3) return 2;
  const int rounds = std::stoi(words[2]) * 20;
  for (int i = 0; i < rounds; ++i) {
    if (HWND box = ::FindWindowW(nullptr, words[0].c_str())) {
      // The text is the box's static control (ID 0xFFFF); it may be made
      // just after the window.
      wchar_t text[4096] = {};
      for (int j = 0; j < 100 && ::GetDlgItemTextW(box, 0xFFFF, text, 4096) == 0; ++j) ::Sleep(50);
      const std::string bytes = platform::Narrow(std::wstring(text));
      HANDLE file = ::CreateFileW(words[1].c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        ::CloseHandle(file);
      }
      ::PostMessageW(box, WM_COMMAND, IDOK, 0);
      return 0;
    }
    ::Sleep(50);
  }
  return 1;
}
