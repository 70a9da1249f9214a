#include "app/text.h"

#include <gtest/gtest.h>

#include "platform/failure.h"

TEST(NumericValue, IdentityTextsJudgedByTheirLeadingNumber) {
  // Invalid identities: no leading number, or a leading zero value.
  for (const char* invalid : {"0", "00", "", "ab", "   ", "-", ".", "+"}) {
    EXPECT_EQ(NumericValue(invalid), 0) << invalid;
  }
  EXPECT_EQ(NumericValue("12ab"), 12);
  EXPECT_EQ(NumericValue("-3"), -3);
  EXPECT_EQ(NumericValue(" 7"), 7);
  EXPECT_EQ(NumericValue("\t7"), 7);
  EXPECT_EQ(NumericValue("2.5x"), 2.5);
  EXPECT_EQ(NumericValue("1e3"), 1000);
  EXPECT_EQ(NumericValue("12e"), 12);
  EXPECT_EQ(NumericValue(".5"), 0.5);
}

TEST(NumericValue, OverflowIsAFailure) {
  try {
    NumericValue("1e999");
    FAIL() << "no failure";
  } catch (const platform::Failure& failure) {
    EXPECT_EQ(failure.number(), 6);
    EXPECT_EQ(failure.description(), "Overflow");
  }
}

TEST(Text, CountersAndTrimming) {
  EXPECT_EQ(NumericValue(""), 0);
  EXPECT_EQ(NumericValue("41"), 41);
  EXPECT_EQ(NumericValue(" 9 "), 9);
  EXPECT_EQ(NumberText(0), "0");
  EXPECT_EQ(NumberText(-0.0), "0");
  EXPECT_EQ(NumberText(2.5), "2.5");
  EXPECT_EQ(Trimmed("  a b \t "), "a b \t");
  EXPECT_EQ(Trimmed("   "), "");
}
