#include "app/system_readers.h"

#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/driver.h"
#include "platform/posix/test_support.h"
#include "platform/system.h"

using platform::testing::ScopedRegistry;

namespace {

const char* kRegistry =
    "Windows Registry Editor Version 5.00\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KESTRA]\r\n"
    "\"InstallationPath\"=\"C:\\\\Agent\"\r\n"
    "\"NulOnly\"=hex(1):00\r\n"
    "\"NoData\"=hex(1):\r\n"
    "\"AllBits\"=dword:ffffffff\r\n"
    "\"Count\"=dword:0000007b\r\n"
    "\"Unicode\"=\"Café 中\"\r\n";

std::string Read(const std::string& name, std::int16_t type,
                 const std::string& key = "SOFTWARE\\KESTRA") {
  return ReadReg(platform::kHkeyLocalMachine, key, name, type);
}

}  // namespace

TEST(ReadReg, TextValuesDropTheirTerminatingNul) {
  ScopedRegistry registry(kRegistry);
  EXPECT_EQ(Read("InstallationPath", 1), "C:\\Agent");
  EXPECT_EQ(Read("installationpath", 1), "C:\\Agent");
  EXPECT_EQ(Read("NulOnly", 1), "");
  EXPECT_EQ(Read("NoData", 1), "");
  EXPECT_EQ(Read("Unicode", 1), "Café 中");
  // A number read as text hands out its data bytes, up to the last one.
  EXPECT_EQ(Read("Count", 1), std::string("\x7b\0\0", 3));
}

TEST(ReadReg, NumbersMissingValuesAndOtherTypes) {
  ScopedRegistry registry(kRegistry);
  EXPECT_EQ(Read("AllBits", 4), "-1");
  EXPECT_EQ(Read("Count", 4), "123");
  EXPECT_EQ(Read("Missing", 1), "");
  EXPECT_EQ(Read("Missing", 4), "");
  EXPECT_EQ(Read("InstallationPath", 2), "");
  EXPECT_EQ(Read("InstallationPath", 1, "SOFTWARE\\Missing"), "");
}

TEST(ReadReg, FailuresAreLoggedNotThrown) {
  // Nothing in the registry reader raises on a missing file: it reads as a
  // key that cannot be opened, with no log line.
  ResetAppStateForTesting();
  ::setenv("RSSNOTIFY_REGISTRY", "/nonexistent.reg", 1);
  EXPECT_EQ(Read("InstallationPath", 1), "");
  ::unsetenv("RSSNOTIFY_REGISTRY");
}

TEST(GetUserName, GivesTheLogonNameWithoutTrailingNuls) {
  ResetAppStateForTesting();
  char expected[256];
  std::uint32_t size = sizeof expected;
  ASSERT_TRUE(platform::QueryUserName(expected, &size));
  std::string user = "stale";
  std::string error;
  fncGetUserName("USERNAME", user, error);
  EXPECT_EQ(user, std::string(expected));
  EXPECT_EQ(user.size() + 1, size);
  EXPECT_EQ(error, "");

  // A buffer too small for the name leaves it untouched, so the reader
  // ends up with the empty name rather than a cut one.
  char small[2] = {'#', '#'};
  std::uint32_t small_size = 1;
  if (user.size() >= 1) {
    EXPECT_FALSE(platform::QueryUserName(small, &small_size));
    EXPECT_EQ(small[0], '#');
  }
}
