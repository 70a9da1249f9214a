// Environment, user name, last error and system messages over the Win32 API.
#include "platform/system.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "platform/last_error.h"

namespace {

TEST(Win32System, EnvironmentInUtf8AndTheLastErrorKept) {
  ASSERT_TRUE(::SetEnvironmentVariableW(L"RSSNOTIFY_TEST_VALUE", L"C:\\Caf\u00E9\\\u4E2D"));
  ::SetLastError(1234);
  EXPECT_EQ(platform::EnvironmentValue("RSSNOTIFY_TEST_VALUE"),
            std::optional<std::string>("C:\\Caf\xC3\xA9\\\xE4\xB8\xAD"));
  EXPECT_EQ(platform::LastErrorCode(), 1234u);
  const std::wstring long_value(5000, L'x');
  ASSERT_TRUE(::SetEnvironmentVariableW(L"RSSNOTIFY_TEST_VALUE", long_value.c_str()));
  EXPECT_EQ(platform::EnvironmentValue("RSSNOTIFY_TEST_VALUE"),
            std::optional<std::string>(std::string(5000, 'x')));
  ASSERT_TRUE(::SetEnvironmentVariableW(L"RSSNOTIFY_TEST_VALUE", L""));
  EXPECT_EQ(platform::EnvironmentValue("RSSNOTIFY_TEST_VALUE"), std::optional<std::string>(""));
  ASSERT_TRUE(::SetEnvironmentVariableW(L"RSSNOTIFY_TEST_VALUE", nullptr));
  EXPECT_EQ(platform::EnvironmentValue("RSSNOTIFY_TEST_VALUE"), std::nullopt);
  EXPECT_EQ(platform::LastErrorCode(), 1234u);
  platform::SetLastErrorCode(87);
  EXPECT_EQ(::GetLastError(), 87u);
}

TEST(Win32System, UserNameWithTheSizesOfTheSingleByteCall) {
  char name[300];
  std::uint32_t size = sizeof name;
  ASSERT_TRUE(platform::QueryUserName(name, &size));
  const std::string user = name;
  ASSERT_FALSE(user.empty());
  EXPECT_EQ(size, user.size() + 1);
  // Too small by one: nothing stored, the size needed and 122 given back.
  std::string small(user.size(), '#');
  size = static_cast<std::uint32_t>(user.size());
  EXPECT_FALSE(platform::QueryUserName(small.data(), &size));
  EXPECT_EQ(size, user.size() + 1);
  EXPECT_EQ(platform::LastErrorCode(), 122u);
  EXPECT_EQ(small, std::string(user.size(), '#'));
}

bool EnglishMessages() {
  return PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_ENGLISH;
}

TEST(Win32System, SystemMessagesWithInsertsLeftAsTheyStand) {
  if (!EnglishMessages()) GTEST_SKIP() << "the system's messages are not in English";
  char buffer[300];
  std::memset(buffer, '#', sizeof buffer);
  std::uint32_t n = platform::FormatSystemMessage(2, buffer, sizeof buffer);
  // Wine's own text, or Windows'.
  const std::string text(buffer, n);
  EXPECT_TRUE(text == "File not found.\r\n" ||
              text == "The system cannot find the file specified.\r\n")
      << text;
  EXPECT_EQ(buffer[n], '\0');
  // Room for the text and its NUL is enough; one less is not.
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(platform::FormatSystemMessage(2, buffer, static_cast<std::uint32_t>(text.size())), 0u);
  EXPECT_EQ(platform::LastErrorCode(), 122u);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(platform::FormatSystemMessage(2, buffer, static_cast<std::uint32_t>(text.size() + 1)),
            n);
  // 193's text has an insert that no argument fills: it stays as "%1".
  n = platform::FormatSystemMessage(193, buffer, sizeof buffer);
  const std::string bad_exe(buffer, n);
  EXPECT_TRUE(bad_exe == "Bad EXE format for %1.\r\n" ||
              bad_exe == "%1 is not a valid Win32 application.\r\n")
      << bad_exe;
  // Codes without a text.
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(platform::FormatSystemMessage(0xFFFFFFF0u, buffer, sizeof buffer), 0u);
  EXPECT_EQ(platform::LastErrorCode(), 317u);
  EXPECT_EQ(buffer[0], '#');
}

TEST(Win32System, ExecutableNameWithoutFolderOrExtension) {
  const std::string name = platform::ExecutableBaseName();
  EXPECT_FALSE(name.empty());
  EXPECT_EQ(name.find_first_of("\\/."), std::string::npos) << name;
}

}  // namespace
