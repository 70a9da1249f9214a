#include "platform/registry.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/last_error.h"
#include "platform/testing/registry_fixture.h"

using Registry = platform::testing::RegistryFixture;
using platform::kHkeyClassesRoot;
using platform::kHkeyLocalMachine;

namespace {

// Text as the registry stores it: UTF-16 LE, with its NUL.
std::string Stored(const std::u16string& text) {
  std::string bytes;
  for (const char16_t c : text + u'\0') {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

std::unique_ptr<platform::RegKey> Open(const std::string& path) {
  std::unique_ptr<platform::RegKey> key;
  EXPECT_EQ(platform::OpenRegKey(kHkeyLocalMachine, path, 0, platform::kKeyQueryValue, key), 0);
  return key;
}

}  // namespace

TEST_F(Registry, TwoStepTextQueryAsTheSingleByteFunctionsAnswer) {
  Put("InstallationPath", platform::kRegSz, Stored(u"C:\\Agent"));
  auto key = Open("software\\kestra");  // other letter case opens the same key
  ASSERT_TRUE(key);
  std::uint32_t type = 99, size = 0;
  EXPECT_EQ(key->QueryValue("installationpath", &type, nullptr, &size), 0);
  EXPECT_EQ(size, 9u);
  EXPECT_EQ(type, 1u);
  unsigned char probe = 0x55;
  type = 99;
  size = 0;
  EXPECT_EQ(key->QueryValue("installationpath", &type, &probe, &size), platform::kErrorMoreData);
  EXPECT_EQ(size, 9u);
  EXPECT_EQ(type, 1u);
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

TEST_F(Registry, NulOnlyEmptyUnterminatedAndMissingText) {
  Put("NulOnly", platform::kRegSz, std::string(2, '\0'));
  Put("NoData", platform::kRegSz, "");
  Put("Unterminated", platform::kRegSz, Stored(u"abc").substr(0, 6));
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

TEST_F(Registry, NumbersBinaryAndTextBeyondAscii) {
  Put("Count", platform::kRegDword, std::string("\xD2\x04\0\0", 4));
  Put("AllBits", platform::kRegDword, std::string(4, '\xFF'));
  Put("Binary", platform::kRegBinary, "\x01\x02\x03");
  Put("Name", platform::kRegSz, Stored(u"Caf\u00E9 \u20AC\u4E2D"));
  Put("Expandable", platform::kRegExpandSz, Stored(u"Caf\u00E9"));
  Put("", platform::kRegSz, Stored(u"default"));
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
  size = 3;
  EXPECT_EQ(key->QueryValue("AllBits", &type, reinterpret_cast<unsigned char*>(&number), &size),
            234);
  size = 4;
  EXPECT_EQ(key->QueryValue("AllBits", &type, reinterpret_cast<unsigned char*>(&number), &size), 0);
  EXPECT_EQ(static_cast<std::int32_t>(number), -1);
  std::string binary(4, '#');
  size = 4;
  EXPECT_EQ(
      key->QueryValue("Binary", &type, reinterpret_cast<unsigned char*>(binary.data()), &size), 0);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(type, 3u);
  EXPECT_EQ(binary, "\x01\x02\x03#");

  // Text comes out in the program's code page, UTF-8: the size counts its
  // bytes and the NUL.
  size = 0;
  EXPECT_EQ(key->QueryValue("Name", &type, nullptr, &size), 0);
  EXPECT_EQ(size, 13u);
  std::string text;
  EXPECT_TRUE(platform::RegReadText(kHkeyLocalMachine, "SOFTWARE\\KESTRA", "Name", text));
  EXPECT_EQ(text, "Caf\xC3\xA9 \xE2\x82\xAC\xE4\xB8\xAD");
  EXPECT_TRUE(platform::RegReadText(kHkeyLocalMachine, "SOFTWARE\\KESTRA", "Expandable", text));
  EXPECT_EQ(text, "Caf\xC3\xA9");
  EXPECT_TRUE(platform::RegReadText(kHkeyLocalMachine, "SOFTWARE\\KESTRA", "", text));
  EXPECT_EQ(text, "default");
  EXPECT_FALSE(platform::RegReadText(kHkeyLocalMachine, "SOFTWARE\\KESTRA", "Count", text));
}

TEST_F(Registry, MissingKeysAndTheClassesRoot) {
  std::unique_ptr<platform::RegKey> key;
  EXPECT_EQ(platform::OpenRegKey(kHkeyLocalMachine, "SOFTWARE\\Other", 0, 1, key), 2);
  EXPECT_FALSE(key);
  EXPECT_EQ(platform::OpenRegKey(0x12345678u, "SOFTWARE\\KESTRA", 0, 1, key), 6);
  // The key is only ever opened for reading.
  ASSERT_EQ(platform::OpenRegKey(kHkeyLocalMachine, "SOFTWARE\\KESTRA", 0, 1, key), 0);

  Put(kHkeyClassesRoot, "Flarebox.Display\\LocalServer32", "", platform::kRegSz,
      Stored(u"C:\\Agent\\qLUX\\popup.exe"));
  std::string text;
  EXPECT_TRUE(platform::RegReadText(kHkeyClassesRoot, "FLAREBOX.DISPLAY\\LocalServer32", "", text));
  EXPECT_EQ(text, "C:\\Agent\\qLUX\\popup.exe");
  EXPECT_FALSE(platform::RegReadText(kHkeyClassesRoot, "Missing.Server\\LocalServer32", "", text));
}
