// Registry reads on Windows: the real registry, in its 32-bit view.
//
// The program was a 32-bit one, and the agent writes its key where a 32-bit
// program finds it: on 64-bit Windows that is the 32-bit view (the
// "Wow6432Node" branch). A 64-bit build asks for that view explicitly
// (KEY_WOW64_32KEY), so it reads the same values as the 32-bit program did.
//
// Values are read through the wide functions; text comes out as UTF-8, the
// program's code page (see wide_text.h), with the sizes and answers of the
// single-byte query: the size counts the terminating NUL, a NUL is added to
// text stored without one, and text stored with no data at all has size 0.
#include "platform/registry.h"

#include <windows.h>

#include "platform/last_error.h"
#include "platform/registry_query.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

HKEY RootHandle(RegRoot root) {
  switch (root) {
    case kHkeyClassesRoot:
      return HKEY_CLASSES_ROOT;
    case kHkeyCurrentUser:
      return HKEY_CURRENT_USER;
    case kHkeyLocalMachine:
      return HKEY_LOCAL_MACHINE;
    case kHkeyUsers:
      return HKEY_USERS;
    default:
      return nullptr;
  }
}

class Win32RegKey : public RegKey {
 public:
  explicit Win32RegKey(HKEY key) : key_(key) {}
  ~Win32RegKey() override { ::RegCloseKey(key_); }
  Win32RegKey(const Win32RegKey&) = delete;
  Win32RegKey& operator=(const Win32RegKey&) = delete;

  long QueryValue(const std::string& name, std::uint32_t* type, unsigned char* data,
                  std::uint32_t* size) override {
    DWORD stored_type = REG_NONE;
    std::string bytes;
    const LONG result = Read(name, stored_type, bytes);
    if (result != ERROR_SUCCESS) {
      // As the system's own query: the type of a missing value is 0, the
      // size stays as it was.
      if (type != nullptr) *type = kRegNone;
      return result;
    }
    // Text in the program's code page.
    if (IsRegTextType(stored_type)) {
      bytes = Narrow(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    }
    return AnswerValueQuery(stored_type, bytes, type, data, size);
  }

 private:
  // The stored type and bytes of a value, as they are in the registry.
  LONG Read(const std::string& name, DWORD& type, std::string& bytes) {
    const std::wstring wide_name = Widen(name);
    DWORD length = 0;
    LONG result = ::RegQueryValueExW(key_, wide_name.c_str(), nullptr, &type, nullptr, &length);
    // The value may grow between the two calls: ask again until it fits.
    while (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
      bytes.assign(length, '\0');
      DWORD got = length;
      result = ::RegQueryValueExW(key_, wide_name.c_str(), nullptr, &type,
                                  reinterpret_cast<BYTE*>(bytes.data()), &got);
      if (result == ERROR_SUCCESS) {
        bytes.resize(got);
        return result;
      }
      if (result == ERROR_MORE_DATA) length = got;
    }
    return result;
  }

  HKEY key_;
};

}  // namespace

long OpenRegKey(RegRoot root, const std::string& sub_key, std::uint32_t options,
                std::uint32_t access, std::unique_ptr<RegKey>& key) {
  key.reset();
  HKEY root_handle = RootHandle(root);
  if (root_handle == nullptr) return ERROR_INVALID_HANDLE;
  HKEY opened = nullptr;
  const LONG result = ::RegOpenKeyExW(root_handle, Widen(sub_key).c_str(), options,
                                      access | KEY_WOW64_32KEY, &opened);
  if (result != ERROR_SUCCESS) return result;
  key = std::make_unique<Win32RegKey>(opened);
  return kErrorSuccess;
}

}  // namespace platform
