#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "app/app_state.h"
#include "app/system_readers.h"
#include "app/test_support.h"
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

TEST(ReadReg, AMalformedValueReadsAsMissingWithoutAFailure) {
  // Such a value once raised a failure out of the registry layer, which the
  // guard logged and which cost the read of every other value of the key.
  CapturedLog log;
  ScopedRegistry registry(
      "Windows Registry Editor Version 5.00\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KESTRA]\r\n"
      "\"X\"=hex(zz):00\r\n"
      "\"N\"=dword:1g\r\n"
      "\"InstallationPath\"=\"C:\\\\Agent\"\r\n"
      "\"Count\"=dword:0000007b\r\n");
  EXPECT_EQ(Read("X", 1), "");
  EXPECT_EQ(Read("X", 4), "");
  EXPECT_EQ(Read("N", 4), "");
  EXPECT_EQ(Read("InstallationPath", 1), "C:\\Agent");
  EXPECT_EQ(Read("Count", 4), "123");
  EXPECT_TRUE(log.Lines().empty()) << log.Lines().front();

  // A missing file is a key that cannot be opened: empty, no line either.
  ::setenv("RSSNOTIFY_REGISTRY", "/nonexistent.reg", 1);
  EXPECT_EQ(Read("InstallationPath", 1), "");
  ::unsetenv("RSSNOTIFY_REGISTRY");
  EXPECT_TRUE(log.Lines().empty());
}

namespace {

// The name of the account with the process's effective user id, read from
// the system's own files rather than through the routine under test.
std::string EffectiveAccountName() {
  std::ifstream status("/proc/self/status");
  std::string uid;
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Uid:", 0) == 0) {
      std::istringstream fields(line.substr(4));
      std::string real;
      fields >> real >> uid;
    }
  }
  std::ifstream passwd("/etc/passwd");
  for (std::string line; std::getline(passwd, line);) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, ':');) fields.push_back(field);
    if (fields.size() > 2 && fields[2] == uid) return fields[0];
  }
  return {};
}

}  // namespace

TEST(GetUserName, GivesTheAccountNameOfTheEffectiveUser) {
  const std::string expected = EffectiveAccountName();
  if (expected.empty()) GTEST_SKIP() << "the account is not in /etc/passwd";
  ResetAppStateForTesting();
  std::string user = "stale";
  std::string error;
  fncGetUserName("USERNAME", user, error);
  EXPECT_EQ(user, expected);
  EXPECT_EQ(error, "");

  // The environment does not decide it.
  ::setenv("USER", "someone-else", 1);
  fncGetUserName("USERNAME", user, error);
  ::unsetenv("USER");
  EXPECT_EQ(user, expected);

  // A buffer too small for the name leaves it untouched, so the reader
  // ends up with the empty name rather than a cut one.
  char small[2] = {'#', '#'};
  std::uint32_t small_size = 1;
  EXPECT_FALSE(platform::QueryUserName(small, &small_size));
  EXPECT_EQ(small[0], '#');
  EXPECT_EQ(small_size, expected.size() + 1);
}
