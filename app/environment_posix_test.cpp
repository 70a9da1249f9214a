// The ends of the environment set-up, run in the test's own process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "app/environment.h"
#include "app/test_support.h"
#include "platform/posix/test_support.h"

namespace {

using platform::testing::ScopedRegistry;
using platform::testing::ScratchFolder;
using ::testing::ElementsAre;

std::string Registry(const std::string& install_path, const std::string& more = "") {
  return "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\KESTRA]\r\n"
         "\"InstallationPath\"=\"" +
         install_path + "\"\r\n" + more;
}

// The texts of the lines of the one log in `folder`, without their time stamps.
std::vector<std::string> LogLines(const std::string& folder) {
  std::vector<std::string> lines;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string text = platform::testing::ReadFile(entry.path().string());
    for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
      lines.push_back(text.substr(start + 20, end - start - 20));
    }
  }
  return lines;
}

class Environment : public ::testing::Test {
 protected:
  Environment() {
    ResetAppStateForTesting();
    ::unsetenv("ALLUSERSPROFILE");
  }
  ~Environment() override { ResetAppStateForTesting(); }
  InterceptedEnd end_;
  ScratchFolder install_;
};

TEST_F(Environment, AnInvalidIdentityEndsTheRunAfterTheBanner) {
  ScopedRegistry registry(Registry(install_.path(), "\"RegID\"=\"0\"\r\n"));
  EXPECT_THROW(InitEnvironment(), EndedForTesting);
  const std::string data = install_.path() + "\\";
  const std::string stars(85, '*');
  EXPECT_THAT(LogLines(install_ / "ApplicationLog/qLUXLog"),
              ElementsAre(stars, "MSG : Application started", stars,
                          "MSG : NOVR installation path : " + data,
                          "MSG : Creating Folder " + data + "\\LUXPostLogs",
                          "MSG : Creating Folder " + data + "\\qLUX\\Dovel",
                          "MSG : Creating Folder " + data + "\\qLUX\\Dovel\\RSSLinks",
                          "MSG : Reading Regid ", "MSG : RegId : 0", "MSG : Invalid RegId",
                          "MSG : Application Ended"));
  EXPECT_TRUE(std::filesystem::is_directory(install_ / "qLUX/Dovel/RSSLinks"));
  // The end released what the run held.
  EXPECT_EQ(AppState.LogStream, nullptr);
  EXPECT_FALSE(AppState.RunLock.held());
}

TEST_F(Environment, AnUnusableInstallationEndsTheRunWithoutALog) {
  ScopedRegistry registry(Registry(install_ / "missing"));
  EXPECT_THROW(InitEnvironment(), EndedForTesting);
  EXPECT_TRUE(std::filesystem::is_empty(install_.path()));
}

}  // namespace
