#include "platform/registry.h"

#include <gtest/gtest.h>

#include "platform/last_error.h"
#include "platform/posix/test_support.h"

using platform::testing::ScopedRegistry;

namespace {

const char* kExport =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "; agent settings\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KESTRA]\r\n"
    "\"InstallationPath\"=\"C:\\\\Agent\"\r\n"
    "\"Quoted\"=\"say \\\"hi\\\"\"\r\n"
    "\"NulOnly\"=hex(1):00,00\r\n"
    "\"NoData\"=hex(1):\r\n"
    "\"Count\"=dword:000004d2\r\n"
    "\"AllBits\"=dword:ffffffff\r\n"
    "\"Wide\"=hex(2):43,00,61,00,66,00,e9,00,00,00\r\n"
    "\"Long\"=hex:01,02,\\\r\n"
    "  03\r\n"
    "@=\"default\"\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\Flarebox.Display\\LocalServer32]\r\n"
    "@=\"/opt/x/popup\"\r\n";

std::unique_ptr<platform::RegKey> Open(const std::string& path) {
  std::unique_ptr<platform::RegKey> key;
  EXPECT_EQ(platform::OpenRegKey(platform::kHkeyLocalMachine, path, 0, 1, key), 0);
  return key;
}

}  // namespace

TEST(Registry, TwoStepTextQueryAsOnWindows) {
  ScopedRegistry registry(kExport);
  auto key = Open("software\\kestra");  // other letter case opens the same key
  ASSERT_TRUE(key);
  std::uint32_t type = 99, size = 0;
  unsigned char probe = 0x55;
  EXPECT_EQ(key->QueryValue("installationpath", &type, &probe, &size), platform::kErrorMoreData);
  EXPECT_EQ(size, 9u);
  EXPECT_EQ(type, 1u);
  EXPECT_EQ(probe, 0x55);  // buffer untouched

  std::string buffer(12, '#');
  size = 8;
  EXPECT_EQ(key->QueryValue("InstallationPath", &type,
                            reinterpret_cast<unsigned char*>(buffer.data()), &size),
            234);
  EXPECT_EQ(buffer, std::string(12, '#'));
  size = 12;
  EXPECT_EQ(key->QueryValue("InstallationPath", &type,
                            reinterpret_cast<unsigned char*>(buffer.data()), &size),
            0);
  EXPECT_EQ(size, 9u);
  EXPECT_EQ(buffer, std::string("C:\\Agent\0###", 12));

  size = 0;
  EXPECT_EQ(key->QueryValue("Quoted", &type, nullptr, &size), 0);
  EXPECT_EQ(size, 9u);  // say "hi" + NUL
}

TEST(Registry, EmptyAndNulOnlyTextAndMissingValues) {
  ScopedRegistry registry(kExport);
  auto key = Open("SOFTWARE\\KESTRA");
  std::uint32_t type = 0, size = 0;
  unsigned char byte = 0x55;
  EXPECT_EQ(key->QueryValue("NulOnly", &type, &byte, &size), 234);
  EXPECT_EQ(size, 1u);
  // No data at all: success with size 0, even with a zero-size buffer.
  size = 0;
  EXPECT_EQ(key->QueryValue("NoData", &type, &byte, &size), 0);
  EXPECT_EQ(size, 0u);
  size = 1;
  EXPECT_EQ(key->QueryValue("NoData", &type, &byte, &size), 0);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(byte, 0x55);

  size = 7;
  EXPECT_EQ(key->QueryValue("Missing", &type, &byte, &size), platform::kErrorFileNotFound);
  EXPECT_EQ(type, 0u);
  EXPECT_EQ(size, 7u);
}

TEST(Registry, NumbersBinaryAndWideText) {
  ScopedRegistry registry(kExport);
  auto key = Open("SOFTWARE\\KESTRA");
  std::uint32_t type = 0, number = 0, size = 4;
  EXPECT_EQ(key->QueryValue("Count", &type, reinterpret_cast<unsigned char*>(&number), &size), 0);
  EXPECT_EQ(number, 1234u);
  EXPECT_EQ(type, 4u);
  size = 3;
  EXPECT_EQ(key->QueryValue("AllBits", &type, reinterpret_cast<unsigned char*>(&number), &size),
            234);
  size = 4;
  key->QueryValue("AllBits", &type, reinterpret_cast<unsigned char*>(&number), &size);
  EXPECT_EQ(static_cast<std::int32_t>(number), -1);

  std::string text;
  EXPECT_TRUE(platform::RegReadText(platform::kHkeyLocalMachine, "SOFTWARE\\KESTRA", "Wide", text));
  EXPECT_EQ(text, "Café");  // UTF-16 in a version 5 export, UTF-8 to us
  EXPECT_TRUE(platform::RegReadText(platform::kHkeyLocalMachine, "SOFTWARE\\KESTRA", "", text));
  EXPECT_EQ(text, "default");
  size = 0;
  EXPECT_EQ(key->QueryValue("Long", &type, nullptr, &size), 0);
  EXPECT_EQ(size, 3u);  // continued line
  EXPECT_EQ(type, 3u);
  EXPECT_TRUE(platform::RegReadText(platform::kHkeyClassesRoot, "FLAREBOX.DISPLAY\\LocalServer32",
                                    "", text));
  EXPECT_EQ(text, "/opt/x/popup");
}

TEST(Registry, MissingFileKeyOrHeaderCannotBeOpened) {
  std::unique_ptr<platform::RegKey> key;
  {
    ScopedRegistry registry(kExport);
    EXPECT_EQ(platform::OpenRegKey(platform::kHkeyLocalMachine, "SOFTWARE\\Other", 0, 1, key), 2);
    EXPECT_FALSE(key);
  }
  ::setenv("RSSNOTIFY_REGISTRY", "/nonexistent/registry.reg", 1);
  EXPECT_EQ(platform::OpenRegKey(platform::kHkeyLocalMachine, "SOFTWARE\\KESTRA", 0, 1, key), 2);
  ::unsetenv("RSSNOTIFY_REGISTRY");
  ScopedRegistry headerless("[HKEY_LOCAL_MACHINE\\SOFTWARE\\KESTRA]\n\"A\"=\"b\"\n");
  EXPECT_EQ(platform::OpenRegKey(platform::kHkeyLocalMachine, "SOFTWARE\\KESTRA", 0, 1, key), 2);
  ScopedRegistry regedit4("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\KESTRA]\n\"A\"=\"b\"\n");
  EXPECT_EQ(platform::OpenRegKey(platform::kHkeyLocalMachine, "SOFTWARE\\KESTRA", 0, 1, key), 0);
}

TEST(Registry, MalformedValueIsUnreadableAndTheRestOfTheKeyIsNot) {
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
