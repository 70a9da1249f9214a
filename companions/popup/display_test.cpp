#include "companions/popup/display.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace flarebox {
namespace {

TEST(IconName, ThemedIconForEachIconCode) {
  const std::pair<std::int32_t, std::string> cases[] = {
      {7, "dialog-information"},
      {64, "dialog-information"},
      {16, "dialog-error"},
      {32, "dialog-question"},
      {48, "dialog-warning"},
      // Anything else has none: flags are not masked off, nor other bits.
      {0, ""},
      {5, ""},
      {17, ""},
      {71, ""},
      {80, ""},
      {112, ""},
      {0x10010, ""},
      {-64, ""},
      {-1, ""}};
  for (const auto& [icon, name] : cases) EXPECT_EQ(IconName(icon), name) << icon;
}

}  // namespace
}  // namespace flarebox
