// Dates of feed items, read only to put items in order.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace feedpull {

// The instant a feed date stands for, in microseconds since
// 1970-01-01T00:00:00Z; nothing when the text is not a date in a form below.
// Surrounding white space is ignored.
//
// RFC 822 / 1123 / 2822 as feeds write it: "Tue, 03 Jun 2003 09:39:21 GMT",
// day name optional (abbreviated or full), day of one or two digits, month
// name abbreviated or full, year of two or four digits (00-49 are 2000-2049,
// 50-99 are 1950-1999), seconds optional, zone GMT, UT, UTC, Z, the US zones
// EST EDT CST CDT MST MDT PST PDT, a military letter, or a numeric offset
// (+hhmm or +hh:mm); no zone means UTC. Military letters count as UTC, as
// RFC 2822 advises, because RFC 822 gave their signs backwards and senders
// disagree about them.
//
// RFC 3339 / ISO 8601: "2003-06-03", "2003-06-03T09:39:21Z",
// "2003-06-03T09:39:21.25+02:00", "2003-06-03 09:39"; no zone means UTC.
std::optional<std::int64_t> ParseFeedDate(std::string_view text);

}  // namespace feedpull
