// The fixture of platform/registry_test.cpp on Windows: the real registry,
// read through scratch keys. For the fixture's lifetime HKEY_LOCAL_MACHINE
// and HKEY_CLASSES_ROOT of this process stand for two volatile keys of the
// test's own, so no key of the machine or the user is ever read or written,
// and nothing stays behind even after a crash.
#include <windows.h>

#include <string>

#include "platform/testing/registry_fixture.h"
#include "platform/win32/wide_text.h"

namespace platform::testing {
namespace {

HKEY Create(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  EXPECT_EQ(::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  return key;
}

}  // namespace

struct RegistryFixture::System {
  std::wstring base = L"Software\\rssnotify-tests-" + std::to_wstring(::GetCurrentProcessId());
  HKEY machine = Create(HKEY_CURRENT_USER, base + L"\\machine");
  HKEY classes = Create(HKEY_CURRENT_USER, base + L"\\classes");
};

RegistryFixture::RegistryFixture() : system_(std::make_unique<System>()) {
  EXPECT_EQ(::RegOverridePredefKey(HKEY_LOCAL_MACHINE, system_->machine), ERROR_SUCCESS);
  EXPECT_EQ(::RegOverridePredefKey(HKEY_CLASSES_ROOT, system_->classes), ERROR_SUCCESS);
  // The agent's key as a 32-bit installer writes it.
  ::RegCloseKey(Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KESTRA"));
}

RegistryFixture::~RegistryFixture() {
  ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
  ::RegCloseKey(system_->machine);
  ::RegCloseKey(system_->classes);
  ::RegDeleteTreeW(HKEY_CURRENT_USER, system_->base.c_str());
}

void RegistryFixture::Put(RegRoot root, const std::string& key, const std::string& name,
                          std::uint32_t type, const std::string& bytes) {
  HKEY handle =
      Create(root == kHkeyClassesRoot ? HKEY_CLASSES_ROOT : HKEY_LOCAL_MACHINE, Widen(key));
  // For text stored without a NUL the system would count one that follows
  // the data in memory, so none does.
  const std::string data = bytes + "xx";
  EXPECT_EQ(::RegSetValueExW(handle, Widen(name).c_str(), 0, type,
                             reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(bytes.size())),
            ERROR_SUCCESS);
  ::RegCloseKey(handle);
}

}  // namespace platform::testing
