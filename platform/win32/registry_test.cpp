// The real registry, read through a scratch key: for the test's lifetime
// HKEY_LOCAL_MACHINE and HKEY_CLASSES_ROOT of this process stand for two
// volatile keys of the test's own, so no key of the machine or the user is
// ever read or written, and nothing stays behind even after a crash.
#include "platform/registry.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/last_error.h"

namespace {

class ScratchRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = L"Software\\rssnotify-tests-" + std::to_wstring(::GetCurrentProcessId());
    machine_ = Create(HKEY_CURRENT_USER, base_ + L"\\machine");
    classes_ = Create(HKEY_CURRENT_USER, base_ + L"\\classes");
    ASSERT_EQ(::RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine_), ERROR_SUCCESS);
    ASSERT_EQ(::RegOverridePredefKey(HKEY_CLASSES_ROOT, classes_), ERROR_SUCCESS);
    // The agent's key as a 32-bit installer writes it.
    kestra_ = Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KESTRA");
  }
  void TearDown() override {
    if (kestra_ != nullptr) ::RegCloseKey(kestra_);
    ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    ::RegCloseKey(machine_);
    ::RegCloseKey(classes_);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, base_.c_str());
  }

  static HKEY Create(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    EXPECT_EQ(::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    return key;
  }

  void Set(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(::RegSetValueExW(kestra_, name, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
  }
  void SetText(const wchar_t* name, const std::wstring& text) {
    Set(name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }

  static std::unique_ptr<platform::RegKey> Open(const std::string& path) {
    std::unique_ptr<platform::RegKey> key;
    EXPECT_EQ(
        platform::OpenRegKey(platform::kHkeyLocalMachine, path, 0, platform::kKeyQueryValue, key),
        0);
    return key;
  }

  std::wstring base_;
  HKEY machine_ = nullptr;
  HKEY classes_ = nullptr;
  HKEY kestra_ = nullptr;
};

TEST_F(ScratchRegistry, TwoStepTextQueryAsTheSingleByteFunctionsAnswer) {
  SetText(L"InstallationPath", L"C:\\Agent");
  auto key = Open("software\\kestra");  // other letter case opens the same key
  ASSERT_TRUE(key);
  std::uint32_t type = 99, size = 0;
  EXPECT_EQ(key->QueryValue("installationpath", &type, nullptr, &size), 0);
  EXPECT_EQ(size, 9u);
  EXPECT_EQ(type, 1u);
  unsigned char probe = 0x55;
  size = 0;
  EXPECT_EQ(key->QueryValue("InstallationPath", &type, &probe, &size), platform::kErrorMoreData);
  EXPECT_EQ(size, 9u);
  EXPECT_EQ(probe, 0x55);  // buffer untouched
  std::string buffer(12, '#');
  size = 8;
  EXPECT_EQ(key->QueryValue("InstallationPath", &type,
                            reinterpret_cast<unsigned char*>(buffer.data()), &size),
            234);
  EXPECT_EQ(size, 9u);
  EXPECT_EQ(buffer, std::string(12, '#'));
  size = 12;
  type = 4;  // a type passed in is ignored
  EXPECT_EQ(key->QueryValue("InstallationPath", &type,
                            reinterpret_cast<unsigned char*>(buffer.data()), &size),
            0);
  EXPECT_EQ(size, 9u);
  EXPECT_EQ(type, 1u);
  EXPECT_EQ(buffer, std::string("C:\\Agent\0###", 12));
  EXPECT_EQ(key->QueryValue("InstallationPath", nullptr, nullptr, nullptr), 0);
}

TEST_F(ScratchRegistry, NulOnlyEmptyUnterminatedAndMissingText) {
  Set(L"NulOnly", REG_SZ, L"", 2);
  Set(L"NoData", REG_SZ, nullptr, 0);
  // Stored without a NUL; the system would count one that follows the data
  // in memory, so none does.
  const wchar_t unterminated[] = {L'a', L'b', L'c', L'x'};
  Set(L"Unterminated", REG_SZ, unterminated, 6);
  auto key = Open("SOFTWARE\\KESTRA");
  std::uint32_t type = 0, size = 0;
  unsigned char bytes[8] = {0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55};
  EXPECT_EQ(key->QueryValue("NulOnly", &type, bytes, &size), 234);
  EXPECT_EQ(size, 1u);
  size = 1;
  EXPECT_EQ(key->QueryValue("NulOnly", &type, bytes, &size), 0);
  EXPECT_EQ(bytes[0], 0);
  // No data at all: success with size 0 even with a zero-size buffer, and
  // no NUL written.
  bytes[0] = 0x55;
  size = 0;
  EXPECT_EQ(key->QueryValue("NoData", &type, bytes, &size), 0);
  EXPECT_EQ(size, 0u);
  size = 1;
  EXPECT_EQ(key->QueryValue("NoData", &type, bytes, &size), 0);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(bytes[0], 0x55);
  // Stored without its NUL: the query adds one.
  size = 3;
  EXPECT_EQ(key->QueryValue("Unterminated", &type, bytes, &size), 234);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(key->QueryValue("Unterminated", &type, bytes, &size), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 5), std::string("abc\0\x55", 5));

  type = 99;
  size = 7;
  EXPECT_EQ(key->QueryValue("Missing", &type, bytes, &size), platform::kErrorFileNotFound);
  EXPECT_EQ(type, 0u);
  EXPECT_EQ(size, 7u);
}

TEST_F(ScratchRegistry, NumbersAndTextBeyondAscii) {
  const DWORD count = 1234, all_bits = 0xFFFFFFFF;
  Set(L"Count", REG_DWORD, &count, 4);
  Set(L"AllBits", REG_DWORD, &all_bits, 4);
  SetText(L"Name", L"Caf\u00E9 \u20AC\u4E2D");
  SetText(L"", L"default");
  auto key = Open("SOFTWARE\\KESTRA");
  std::uint32_t type = 0, number = 0, size = 0;
  unsigned char probe = 0;
  EXPECT_EQ(key->QueryValue("Count", &type, &probe, &size), 234);
  EXPECT_EQ(size, 4u);
  size = 3;
  EXPECT_EQ(key->QueryValue("Count", &type, reinterpret_cast<unsigned char*>(&number), &size), 234);
  size = 4;
  EXPECT_EQ(key->QueryValue("Count", &type, reinterpret_cast<unsigned char*>(&number), &size), 0);
  EXPECT_EQ(number, 1234u);
  EXPECT_EQ(type, 4u);
  size = 4;
  EXPECT_EQ(key->QueryValue("AllBits", &type, reinterpret_cast<unsigned char*>(&number), &size), 0);
  EXPECT_EQ(static_cast<std::int32_t>(number), -1);

  // Text comes out in the program's code page, UTF-8: the size counts its
  // bytes and the NUL.
  size = 0;
  EXPECT_EQ(key->QueryValue("Name", &type, nullptr, &size), 0);
  EXPECT_EQ(size, 13u);
  std::string text;
  EXPECT_TRUE(platform::RegReadText(platform::kHkeyLocalMachine, "SOFTWARE\\KESTRA", "Name", text));
  EXPECT_EQ(text, "Caf\xC3\xA9 \xE2\x82\xAC\xE4\xB8\xAD");
  EXPECT_TRUE(platform::RegReadText(platform::kHkeyLocalMachine, "SOFTWARE\\KESTRA", "", text));
  EXPECT_EQ(text, "default");
  EXPECT_FALSE(
      platform::RegReadText(platform::kHkeyLocalMachine, "SOFTWARE\\KESTRA", "Count", text));
}

TEST_F(ScratchRegistry, MissingKeysAndTheClassesRoot) {
  std::unique_ptr<platform::RegKey> key;
  EXPECT_EQ(platform::OpenRegKey(platform::kHkeyLocalMachine, "SOFTWARE\\Other", 0, 1, key), 2);
  EXPECT_FALSE(key);
  EXPECT_EQ(platform::OpenRegKey(0x12345678u, "SOFTWARE\\KESTRA", 0, 1, key), 6);
  // The key is only ever opened for reading.
  ASSERT_EQ(platform::OpenRegKey(platform::kHkeyLocalMachine, "SOFTWARE\\KESTRA", 0, 1, key), 0);

  HKEY server = Create(HKEY_CLASSES_ROOT, L"Flarebox.Display\\LocalServer32");
  const std::wstring command = L"C:\\Agent\\qLUX\\popup.exe";
  ASSERT_EQ(
      ::RegSetValueExW(server, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                       static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))),
      ERROR_SUCCESS);
  ::RegCloseKey(server);
  std::string text;
  EXPECT_TRUE(platform::RegReadText(platform::kHkeyClassesRoot, "FLAREBOX.DISPLAY\\LocalServer32",
                                    "", text));
  EXPECT_EQ(text, "C:\\Agent\\qLUX\\popup.exe");
  EXPECT_FALSE(
      platform::RegReadText(platform::kHkeyClassesRoot, "Missing.Server\\LocalServer32", "", text));
}

}  // namespace
