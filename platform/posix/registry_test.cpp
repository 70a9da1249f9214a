// The registry as an export file named by RSSNOTIFY_REGISTRY: the fixture
// of platform/registry_test.cpp, and the cases about the file itself, its
// syntax, header and absence, which only Linux has.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <optional>

#include "platform/last_error.h"
#include "platform/posix/test_support.h"
#include "platform/testing/registry_fixture.h"

using platform::testing::ScopedRegistry;

namespace platform::testing {

struct RegistryFixture::System {
  std::map<std::string, std::string> keys;  // a key's name in the file -> its value lines
  std::optional<ScopedRegistry> file;

  void Write() {
    std::string text = "Windows Registry Editor Version 5.00\r\n";
    for (const auto& [name, lines] : keys) text += "\r\n[" + name + "]\r\n" + lines;
    file.emplace(text);
  }
};

RegistryFixture::RegistryFixture() : system_(std::make_unique<System>()) {
  system_->keys["HKEY_LOCAL_MACHINE\\SOFTWARE\\KESTRA"];
  system_->Write();
}

RegistryFixture::~RegistryFixture() = default;

void RegistryFixture::Put(RegRoot root, const std::string& key, const std::string& name,
                          std::uint32_t type, const std::string& bytes) {
  std::string line = "@";
  if (!name.empty()) {
    line = "\"";
    for (char c : name) {
      if (c == '"' || c == '\\') line += '\\';
      line += c;
    }
    line += "\"";
  }
  char digits[16];
  if (type == kRegDword && bytes.size() == 4) {
    std::uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = number << 8 | static_cast<unsigned char>(bytes[i]);
    std::snprintf(digits, sizeof digits, "%08x", number);
    line += "=dword:" + std::string(digits);
  } else {
    std::snprintf(digits, sizeof digits, "%x", type);
    line += type == kRegBinary ? "=hex:" : "=hex(" + std::string(digits) + "):";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      std::snprintf(digits, sizeof digits, i == 0 ? "%02x" : ",%02x",
                    static_cast<unsigned char>(bytes[i]));
      line += digits;
    }
  }
  const char* root_name = root == kHkeyClassesRoot ? "HKEY_CLASSES_ROOT" : "HKEY_LOCAL_MACHINE";
  system_->keys[std::string(root_name) + "\\" + key] += line + "\r\n";
  system_->Write();
}

}  // namespace platform::testing

namespace {

std::unique_ptr<platform::RegKey> Open(const std::string& path) {
  std::unique_ptr<platform::RegKey> key;
  EXPECT_EQ(platform::OpenRegKey(platform::kHkeyLocalMachine, path, 0, 1, key), 0);
  return key;
}

}  // namespace

// The export file's own syntax: comments, quoted text with its escapes, and
// data continued on the next line.
TEST(PosixRegistry, QuotedTextCommentsAndContinuedLines) {
  ScopedRegistry registry(
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; agent settings\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KESTRA]\r\n"
      "\"InstallationPath\"=\"C:\\\\Agent\"\r\n"
      "\"Quoted\"=\"say \\\"hi\\\"\"\r\n"
      "\"Long\"=hex:01,02,\\\r\n"
      "  03\r\n"
      "@=\"default\"\r\n");
  auto key = Open("SOFTWARE\\KESTRA");
  ASSERT_TRUE(key);
  std::uint32_t type = 0, size = 0;
  EXPECT_EQ(key->QueryValue("Quoted", &type, nullptr, &size), 0);
  EXPECT_EQ(size, 9u);  // say "hi" + NUL
  std::string text;
  EXPECT_TRUE(
      platform::RegReadText(platform::kHkeyLocalMachine, "SOFTWARE\\KESTRA", "Quoted", text));
  EXPECT_EQ(text, "say \"hi\"");
  EXPECT_TRUE(platform::RegReadText(platform::kHkeyLocalMachine, "SOFTWARE\\KESTRA",
                                    "InstallationPath", text));
  EXPECT_EQ(text, "C:\\Agent");
  EXPECT_TRUE(platform::RegReadText(platform::kHkeyLocalMachine, "SOFTWARE\\KESTRA", "", text));
  EXPECT_EQ(text, "default");
  size = 0;
  EXPECT_EQ(key->QueryValue("Long", &type, nullptr, &size), 0);
  EXPECT_EQ(size, 3u);  // continued line
  EXPECT_EQ(type, 3u);
}

// Only Linux has a file that may be missing or be no export at all.
TEST(PosixRegistry, MissingFileOrHeaderCannotBeOpened) {
  std::unique_ptr<platform::RegKey> key;
  ::setenv("RSSNOTIFY_REGISTRY", "/nonexistent/registry.reg", 1);
  EXPECT_EQ(platform::OpenRegKey(platform::kHkeyLocalMachine, "SOFTWARE\\KESTRA", 0, 1, key), 2);
  ::unsetenv("RSSNOTIFY_REGISTRY");
  ScopedRegistry headerless("[HKEY_LOCAL_MACHINE\\SOFTWARE\\KESTRA]\n\"A\"=\"b\"\n");
  EXPECT_EQ(platform::OpenRegKey(platform::kHkeyLocalMachine, "SOFTWARE\\KESTRA", 0, 1, key), 2);
  ScopedRegistry regedit4("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\KESTRA]\n\"A\"=\"b\"\n");
  EXPECT_EQ(platform::OpenRegKey(platform::kHkeyLocalMachine, "SOFTWARE\\KESTRA", 0, 1, key), 0);
}

// A line of the file that is no value; the real registry holds none.
TEST(PosixRegistry, MalformedValueIsUnreadableAndTheRestOfTheKeyIsNot) {
  ScopedRegistry registry(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KESTRA]\r\n"
      "\"X\"=hex(zz):00\r\n"
      "\"Y\"=hex(123456789):00\r\n"
      "\"Z\"=hex():00\r\n"
      "\"D\"=dword:zz\r\n"
      "\"B\"=hex:0g\r\n"
      "\"InstallationPath\"=\"/opt/kestra\"\r\n"
      "\"T\"=hex(1):41,00\r\n");
  auto key = Open("SOFTWARE\\KESTRA");
  ASSERT_TRUE(key);
  for (const char* name : {"X", "Y", "Z", "D", "B"}) {
    SCOPED_TRACE(name);
    std::uint32_t type = 99;
    std::uint32_t size = 7;
    EXPECT_EQ(key->QueryValue(name, &type, nullptr, &size), 2);
    EXPECT_EQ(type, platform::kRegNone);
    EXPECT_EQ(size, 7u);
  }
  std::string value;
  EXPECT_TRUE(platform::RegReadText(platform::kHkeyLocalMachine, "SOFTWARE\\KESTRA",
                                    "InstallationPath", value));
  EXPECT_EQ(value, "/opt/kestra");
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  EXPECT_EQ(key->QueryValue("T", &type, nullptr, &size), 0);
  EXPECT_EQ(type, 1u);
  EXPECT_EQ(size, 2u);
}
