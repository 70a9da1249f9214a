// Fetching file URLs of Linux paths ("file:///tmp/..."), on Linux only; the
// URLs of Windows paths ("file:///C:/...") are tested in fetch_win32_test.cpp.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "companions/feedpull/fetch.h"

namespace feedpull {
namespace {

class FetchFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("fetch_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = (folder_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  std::filesystem::path folder_;
};

TEST_F(FetchFileTest, ReadsUpToTheLimitAndNotOneByteMore) {
  FetchLimits limits;
  limits.max_bytes = 100;
  const std::string exact = Write("exact b.xml", std::string(100, 'x'));
  FetchResult result = Fetch("file://" + folder_.string() + "/exact%20b.xml", limits);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.error, "");
  EXPECT_EQ(result.body, std::string(100, 'x'));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.effective_url, "file://" + folder_.string() + "/exact%20b.xml");

  Write("over.xml", std::string(101, 'x'));
  result = Fetch("file://" + folder_.string() + "/over.xml", limits);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.body, "");
  EXPECT_EQ(result.error, "the document is larger than 100 bytes");
}

TEST_F(FetchFileTest, FailsWithLibcurlsWords) {
  FetchResult result = Fetch("file://" + folder_.string() + "/absent%2exml");
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, "Couldn't open file " + folder_.string() + "/absent.xml");
  result = Fetch("file://elsewhere" + folder_.string() + "/absent.xml");
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, "URL using bad/illegal format or missing URL");
  // A folder reads as an empty document, which the conversion then refuses.
  result = Fetch("file://" + folder_.string() + "/");
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.body, "");
}

}  // namespace
}  // namespace feedpull
