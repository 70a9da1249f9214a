// A stand-in for the companions (FeedPull.exe, qVMRSS.exe) in tests of the
// whole Windows program. A Linux script started from a Windows program loses
// its exit code and escapes the job object that holds the program's
// children, so the sandbox installs this program under the companion's name
// and says what it should do in a script beside it: the same name with
// ".script" for ".exe" (qLUX\FeedPull.script). Without a script it converts,
// as a real fetch would, after a moment's wait: the program then finds it
// still running when it first looks, and every run logs the same lines.
//
// The script, UTF-8, one step a line, the fields separated by tabs; in TEXT,
// "\n", "\r", "\t" and "\\" stand for a line feed, a carriage return, a tab and
// a backslash, "%#" for
// the number of arguments and "%1" for the first argument:
//
//   sleep MILLISECONDS
//   wait-for PATH MILLISECONDS
//                         wait until the file PATH exists, at most that long
//   convert               take the first argument as the path of a file that
//                         holds the converted document and put that file where
//                         the real converter puts its output, found the same
//                         way (the product's folders from the registry and
//                         ALLUSERSPROFILE); exit 1 without an argument, 2
//                         without product folders, 3 when there is no such
//                         file, 4 when the output cannot be written; the mark
//                         of the run's call follows, as the real converter
//                         writes it
//   convert-host FOLDER   convert FOLDER\HOST.xml instead, HOST being the host
//                         of the URL in the first argument (one document for
//                         each site of a template, as a fetch would get)
//   output SIZE           put SIZE zero bytes there instead
//   append PATH TEXT      append TEXT to the file PATH
//   stderr TEXT           write TEXT to standard error
//   spawn PIDFILE         start a helper that sleeps for ten minutes (a process
//                         that would outlive this one; PIDFILE is on its
//                         command line too) and write its process id to PIDFILE
//   hang                  never end
//   exit CODE             end with CODE
//
// After the last step it ends with 0.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/product/converter_call.h"
#include "app/product/folders.h"
#include "platform/failure.h"
#include "platform/filesystem.h"
#include "platform/system.h"
#include "platform/win32/wide_text.h"

namespace {

std::vector<std::string> Split(const std::string& line, char separator) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = line.find(separator, start);
    fields.push_back(line.substr(start, end - start));
    if (end == std::string::npos) return fields;
    start = end + 1;
  }
}

std::string Expand(const std::string& text, int argc, char** argv) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    if (c == '\\' && next == 'n') {
      out += '\n';
    } else if (c == '\\' && next == 'r') {
      out += '\r';
    } else if (c == '\\' && next == 't') {
      out += '\t';
    } else if (c == '\\' && next == '\\') {
      out += '\\';
    } else if (c == '%' && next == '#') {
      out += std::to_string(argc - 1);
    } else if (c == '%' && next == '1') {
      out += argc > 1 ? argv[1] : "";
    } else {
      out += c;
      continue;
    }
    ++i;
  }
  return out;
}

std::string TempOutput() {
  std::string install_path;
  std::string data_path;
  if (!product::FindProductFolders(install_path, data_path)) return {};
  return data_path + "QLUX\\Dovel\\RSSLinks\\Temp_RSS.xml";
}

// The host of a URL: between "//" and the first '/', '?', '#' or ':'.
std::string UrlHost(const std::string& url) {
  const std::size_t slashes = url.find("//");
  if (slashes == std::string::npos) return {};
  const std::size_t start = slashes + 2;
  const std::size_t end = url.find_first_of("/?#:", start);
  return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The mark of the run's call, as the real converter appends it, with the
// first argument in UTF-8 (argv holds it in the code page).
std::string CallMark(int argc, char** argv) {
  const std::string call =
      platform::EnvironmentValue(product::kConverterCallVariable).value_or(std::string());
  const std::vector<std::string> arguments = platform::ProgramArguments(argc, argv);
  if (call.empty() || arguments.empty()) return {};
  return product::ConverterMark(call, arguments[0]);
}

int ConvertFile(const std::string& source, const std::string& mark) {
  const std::string output = TempOutput();
  if (output.empty()) return 2;
  platform::FileSystem& fs = platform::Files();
  if (!fs.FileExists(source)) return 3;
  try {
    fs.ReplaceFileAtomically(output, fs.ReadFileBytes(source) + mark);
  } catch (const platform::Failure&) {
    return 4;
  }
  return 0;
}

int Convert(int argc, char** argv) {
  if (argc < 2) return 1;
  return ConvertFile(argv[1], CallMark(argc, argv));
}

void Append(const std::string& path, const std::string& bytes) {
  platform::FileSystem& fs = platform::Files();
  std::string before;
  try {
    if (fs.FileExists(path)) before = fs.ReadFileBytes(path);
    fs.ReplaceFileAtomically(path, before + bytes);
  } catch (const platform::Failure&) {
  }
}

void Spawn(const std::string& pid_file) {
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  // PIDFILE on its command line, too: a test can find it by that.
  std::wstring line =
      L"\"" + std::wstring(self) + L"\" --linger \"" + platform::Widen(pid_file) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION child{};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &child)) {
    return;
  }
  Append(pid_file, std::to_string(child.dwProcessId) + "\n");
  ::CloseHandle(child.hThread);
  ::CloseHandle(child.hProcess);
}

// The script beside this program, "" when there is none.
std::string Script() {
  wchar_t self[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, n);
  const std::size_t dot = path.rfind(L'.');
  if (dot != std::wstring::npos) path.resize(dot);
  path += L".script";
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0)
    text.append(buffer, got);
  ::CloseHandle(file);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--linger") {
    ::Sleep(600 * 1000);
    return 0;
  }
  const std::string script = Script();
  if (script.empty()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return Convert(argc, argv);
  }
  for (std::string line : Split(script, '\n')) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const std::vector<std::string> f = Split(line, '\t');
    const std::string& step = f[0];
    if (step == "sleep" && f.size() == 2) {
      ::Sleep(static_cast<DWORD>(std::stoul(f[1])));
    } else if (step == "wait-for" && f.size() == 3) {
      const ULONGLONG deadline = ::GetTickCount64() + std::stoul(f[2]);
      while (!platform::Files().FileExists(f[1]) && ::GetTickCount64() < deadline) ::Sleep(10);
    } else if (step == "convert") {
      const int code = Convert(argc, argv);
      if (code != 0) return code;
    } else if (step == "convert-host" && f.size() == 2) {
      if (argc < 2) return 1;
      const std::string host = UrlHost(argv[1]);
      if (host.empty()) return 3;
      const int code = ConvertFile(f[1] + "\\" + host + ".xml", CallMark(argc, argv));
      if (code != 0) return code;
    } else if (step == "output" && f.size() == 2) {
      const std::string output = TempOutput();
      if (output.empty()) return 2;
      try {
        platform::Files().ReplaceFileAtomically(output, std::string(std::stoul(f[1]), '\0'));
      } catch (const platform::Failure&) {
        return 4;
      }
    } else if (step == "append" && f.size() == 3) {
      Append(f[1], Expand(f[2], argc, argv));
    } else if (step == "stderr" && f.size() == 2) {
      const std::string text = Expand(f[1], argc, argv);
      std::fwrite(text.data(), 1, text.size(), stderr);
      std::fflush(stderr);
    } else if (step == "spawn" && f.size() == 2) {
      Spawn(f[1]);
    } else if (step == "hang") {
      ::Sleep(INFINITE);
    } else if (step == "exit" && f.size() == 2) {
      return std::stoi(f[1]);
    } else {
      std::fprintf(stderr, "scripted_converter: unknown step: %s\n", line.c_str());
      return 99;
    }
  }
  return 0;
}
