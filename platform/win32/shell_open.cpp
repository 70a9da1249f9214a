#include "platform/shell_open.h"

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
// clang-format on

#include <cstdint>

#include "platform/failure.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

// ShellExecuteW's small result numbers, which are not system error codes.
std::string ShellReason(std::intptr_t result) {
  switch (result) {
    case 0:
      return "out of memory";
    case SE_ERR_FNF:
      return "the file was not found";
    case SE_ERR_PNF:
      return "the path was not found";
    case SE_ERR_ACCESSDENIED:
      return "access denied";
    case SE_ERR_OOM:
      return "out of memory";
    case SE_ERR_SHARE:
      return "a sharing violation";
    case SE_ERR_ASSOCINCOMPLETE:
    case SE_ERR_NOASSOC:
      return "no application is associated with the file's type";
    case SE_ERR_DDETIMEOUT:
    case SE_ERR_DDEFAIL:
    case SE_ERR_DDEBUSY:
      return "the application did not answer";
    case SE_ERR_DLLNOTFOUND:
      return "a library of the application was not found";
    default:
      return "the shell's error " + std::to_string(result);
  }
}

}  // namespace

void OpenWithDefaultApplication(const std::string& native_path) {
  // The shell may hand the work to extensions that need COM on this thread.
  const HRESULT initialized =
      ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const std::intptr_t result = reinterpret_cast<std::intptr_t>(::ShellExecuteW(
      nullptr, L"open", Widen(native_path).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (SUCCEEDED(initialized)) ::CoUninitialize();
  if (result > 32) return;
  const long number =
      (result == SE_ERR_FNF || result == SE_ERR_PNF) ? err::kFileNotFound : err::kPathFileAccess;
  throw Failure(number, "cannot open " + native_path + ": " + ShellReason(result));
}

}  // namespace platform
