#include "companions/viewer/page_style.h"

#include <gtest/gtest.h>

#include <string>

namespace viewer {
namespace {

TEST(PageStyle, LoadsNothingFromOutside) {
  const std::string style = kPageStyle;
  for (const char* fetching : {"url(", "@import", "@font-face", "http"}) {
    EXPECT_EQ(style.find(fetching), std::string::npos) << fetching;
  }
}

}  // namespace
}  // namespace viewer
