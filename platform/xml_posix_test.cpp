// Cases of the XML layer that need POSIX: a file-size limit set on this
// process.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/testing/test_support.h"
#include "platform/xml.h"

using platform::XmlDocument;
using platform::XmlNode;
using platform::testing::ReadFile;
using platform::testing::ScratchFolder;
using platform::testing::WriteFile;

namespace {

void AddElement(XmlNode parent, const std::string& name, const std::string& text) {
  XmlNode element = parent.AppendElement(name);
  element.SetText(text);
}

std::vector<std::string> FolderEntries(const ScratchFolder& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

TEST(XmlBuild, SaveRefusedHalfWayByTheSystemKeepsTheOldFile) {
  // The document is written to the file as it is made; a write that fails
  // after the first pieces (here: a file-size limit) must not reach the
  // store.
  ScratchFolder folder;
  const std::string path = folder / "store.xml";
  const std::string old = "<?xml version=\"1.0\"?>\n<rootrss><item/></rootrss>\n";
  WriteFile(path, old);
  XmlDocument doc;
  ASSERT_TRUE(doc.Load(path));
  for (int i = 0; i < 5000; ++i) AddElement(doc.DocumentElement(), "item", "text");
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit low = saved;
  low.rlim_cur = 30000;
  auto previous = ::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &low), 0);
  long number = 0;
  try {
    doc.Save(path);
  } catch (const platform::Failure& failure) {
    number = failure.number();
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, previous);
  EXPECT_NE(number, 0);
  EXPECT_EQ(ReadFile(path), old);
  EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"store.xml"});
}

}  // namespace
