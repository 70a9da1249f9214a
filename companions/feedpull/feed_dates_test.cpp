#include "companions/feedpull/feed_dates.h"

#include <gtest/gtest.h>

namespace feedpull {
namespace {

// Microseconds since the epoch of a UTC time, for readable expectations.
constexpr std::int64_t Utc(std::int64_t days_since_epoch, int hour, int minute, int second,
                           int micros = 0) {
  return ((days_since_epoch * 24 + hour) * 60 + minute) * 60 * 1000000LL + second * 1000000LL +
         micros;
}
// 2003-06-03 is day 12206 since 1970-01-01.
constexpr std::int64_t kJune3 = 12206;

TEST(FeedDates, Rfc822Forms) {
  const std::int64_t expected = Utc(kJune3, 9, 39, 21);
  EXPECT_EQ(ParseFeedDate("Tue, 03 Jun 2003 09:39:21 GMT"), expected);
  EXPECT_EQ(ParseFeedDate("03 Jun 2003 09:39:21 GMT"), expected);          // no day name
  EXPECT_EQ(ParseFeedDate("Tuesday, 3 June 2003 09:39:21 UT"), expected);  // full names
  EXPECT_EQ(ParseFeedDate("Tue, 03 Jun 03 09:39:21 UTC"), expected);       // 2-digit year
  EXPECT_EQ(ParseFeedDate("Tue, 03 Jun 2003 09:39:21 Z"), expected);
  EXPECT_EQ(ParseFeedDate("Tue, 03 Jun 2003 09:39:21"), expected);  // no zone: UTC
  EXPECT_EQ(ParseFeedDate("Tue,03 Jun 2003 09:39:21 +0000"), expected);
  EXPECT_EQ(ParseFeedDate("  Tue, 03 Jun 2003 09:39:21 -0000\n      "), expected);
  EXPECT_EQ(ParseFeedDate("tue, 03 jun 2003 09:39:21 gmt"), expected);
  EXPECT_EQ(ParseFeedDate("Tue, 03-Jun-2003 09:39:21 GMT"), expected);
  EXPECT_EQ(ParseFeedDate("Tue, 03 Jun 2003 09:39:21 GMT (Greenwich)"), expected);
  EXPECT_EQ(ParseFeedDate("Tue, 03 Jun 2003 09:39 GMT"), Utc(kJune3, 9, 39, 0));  // no seconds
  EXPECT_EQ(ParseFeedDate("Tue, 03 Jun 1999 09:39:21 GMT"),
            ParseFeedDate("Tue, 03 Jun 99 09:39:21 GMT"));  // 50-99 are 19xx
}

TEST(FeedDates, Rfc822Zones) {
  const std::int64_t noon = Utc(kJune3, 12, 0, 0);
  EXPECT_EQ(ParseFeedDate("03 Jun 2003 07:00:00 EST"), noon);
  EXPECT_EQ(ParseFeedDate("03 Jun 2003 08:00:00 EDT"), noon);
  EXPECT_EQ(ParseFeedDate("03 Jun 2003 06:00:00 CST"), noon);
  EXPECT_EQ(ParseFeedDate("03 Jun 2003 07:00:00 CDT"), noon);
  EXPECT_EQ(ParseFeedDate("03 Jun 2003 05:00:00 MST"), noon);
  EXPECT_EQ(ParseFeedDate("03 Jun 2003 06:00:00 MDT"), noon);
  EXPECT_EQ(ParseFeedDate("03 Jun 2003 04:00:00 PST"), noon);
  EXPECT_EQ(ParseFeedDate("03 Jun 2003 05:00:00 PDT"), noon);
  EXPECT_EQ(ParseFeedDate("03 Jun 2003 14:00:00 +0200"), noon);
  EXPECT_EQ(ParseFeedDate("03 Jun 2003 14:30:00 +02:30"), noon);
  EXPECT_EQ(ParseFeedDate("03 Jun 2003 06:15:00 -0545"), noon);
  EXPECT_EQ(ParseFeedDate("03 Jun 2003 12:00:00 A"), noon);  // military letters count as UTC
  EXPECT_EQ(ParseFeedDate("03 Jun 2003 12:00:00 Y"), noon);
  EXPECT_EQ(ParseFeedDate("03 Jun 2003 12:00:00 J"), std::nullopt);  // not a zone letter
  EXPECT_EQ(ParseFeedDate("03 Jun 2003 12:00:00 XYZ"), std::nullopt);
}

TEST(FeedDates, Iso8601Forms) {
  EXPECT_EQ(ParseFeedDate("2003-06-03T09:39:21Z"), Utc(kJune3, 9, 39, 21));
  EXPECT_EQ(ParseFeedDate("2003-06-03t09:39:21z"), Utc(kJune3, 9, 39, 21));
  EXPECT_EQ(ParseFeedDate("2003-06-03T11:39:21+02:00"), Utc(kJune3, 9, 39, 21));
  EXPECT_EQ(ParseFeedDate("2003-06-03T04:39:21-0500"), Utc(kJune3, 9, 39, 21));
  EXPECT_EQ(ParseFeedDate("2003-06-03T09:39:21.25Z"), Utc(kJune3, 9, 39, 21, 250000));
  EXPECT_EQ(ParseFeedDate("2003-06-03T09:39:21.1234567Z"), Utc(kJune3, 9, 39, 21, 123456));
  EXPECT_EQ(ParseFeedDate("2003-06-03T09:39:21"), Utc(kJune3, 9, 39, 21));  // no zone: UTC
  EXPECT_EQ(ParseFeedDate("2003-06-03 09:39"), Utc(kJune3, 9, 39, 0));
  EXPECT_EQ(ParseFeedDate("2003-06-03"), Utc(kJune3, 0, 0, 0));
  EXPECT_EQ(ParseFeedDate("\n          2022-09-10\n        "), Utc(19245, 0, 0, 0));
  EXPECT_EQ(ParseFeedDate("1970-01-01T00:00:00Z"), 0);
  EXPECT_EQ(ParseFeedDate("1969-12-31T23:59:59Z"), -1000000);
}

TEST(FeedDates, CalendarLimits) {
  EXPECT_EQ(ParseFeedDate("2024-02-29"), Utc(19782, 0, 0, 0));
  EXPECT_EQ(ParseFeedDate("2000-02-29"), Utc(11016, 0, 0, 0));
  EXPECT_EQ(ParseFeedDate("2023-02-29"), std::nullopt);
  EXPECT_EQ(ParseFeedDate("1900-02-29"), std::nullopt);
  EXPECT_EQ(ParseFeedDate("2003-13-01"), std::nullopt);
  EXPECT_EQ(ParseFeedDate("2003-06-31"), std::nullopt);
  EXPECT_EQ(ParseFeedDate("31 Apr 2003 00:00:00 GMT"), std::nullopt);
  EXPECT_EQ(ParseFeedDate("2003-06-03T24:00:00Z"), std::nullopt);
  EXPECT_EQ(ParseFeedDate("2003-06-03T12:60:00Z"), std::nullopt);
}

TEST(FeedDates, NotDates) {
  for (const char* text :
       {"", "   ", "yesterday", "Tue, 03 Foo 2003 09:39:21 GMT",
        "Tue, 03 Jun 2003 09:39:21 GMT trailing", "2003-06-03T09:39:21Q", "2003/06/03",
        "03 Jun 203 09:39:21 GMT", "Tue 03 Jun", "Jun 03 2003", "2003-06-03T09:39:21+2"}) {
    EXPECT_EQ(ParseFeedDate(text), std::nullopt) << text;
  }
}

}  // namespace
}  // namespace feedpull
