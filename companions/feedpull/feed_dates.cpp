#include "companions/feedpull/feed_dates.h"

#include <algorithm>
#include <array>

#include "platform/ascii.h"

namespace feedpull {
namespace {

constexpr std::int64_t kMicrosPerSecond = 1000000;

using platform::ascii::EqualsIgnoringCase;
using platform::ascii::IsDigit;
using platform::ascii::IsLetter;

// A cursor over the date text.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  bool AtEnd() const { return position_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[position_]; }
  void SkipBlanks() {
    if (!AtEnd()) {
      position_ =
          std::min(text_.find_first_not_of(platform::ascii::kWhiteSpace, position_), text_.size());
    }
  }
  bool Accept(char c) {
    if (Peek() != c) return false;
    ++position_;
    return true;
  }
  // Between `min` and `max` digits; -1 when fewer than `min` stand here.
  int Number(std::size_t min, std::size_t max, std::size_t* count = nullptr) {
    std::size_t start = position_;
    int value = 0;
    while (!AtEnd() && IsDigit(text_[position_]) && position_ - start < max) {
      value = value * 10 + (text_[position_] - '0');
      ++position_;
    }
    if (count != nullptr) *count = position_ - start;
    return position_ - start < min ? -1 : value;
  }
  std::string_view Word() {
    std::size_t start = position_;
    while (!AtEnd() && IsLetter(text_[position_])) ++position_;
    return text_.substr(start, position_ - start);
  }
  void Skip() { ++position_; }
  std::size_t position() const { return position_; }
  void Rewind(std::size_t position) { position_ = position; }

 private:
  std::string_view text_;
  std::size_t position_ = 0;
};

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t year_of_era = year - era * 400;
  const int shifted_month = month > 2 ? month - 3 : month + 9;
  const std::int64_t day_of_year = (153 * shifted_month + 2) / 5 + day - 1;
  const std::int64_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

struct DateTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int micros = 0;
  int offset_minutes = 0;  // local time minus UTC
};

std::optional<std::int64_t> Instant(const DateTime& t) {
  if (t.year < 1 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1 ||
      t.day > DaysInMonth(t.year, t.month) || t.hour > 23 || t.minute > 59 || t.second > 60) {
    return std::nullopt;
  }
  const std::int64_t seconds = DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 +
                               t.minute * 60 + t.second - std::int64_t{t.offset_minutes} * 60;
  return seconds * kMicrosPerSecond + t.micros;
}

// Month number of an English month name, abbreviated or in full ("Sept"
// too); 0 for anything else.
int MonthNumber(std::string_view word) {
  static constexpr std::array<std::string_view, 12> kMonths = {
      "january", "february", "march",     "april",   "may",      "june",
      "july",    "august",   "september", "october", "november", "december"};
  if (word.size() < 3) return 0;
  for (std::size_t i = 0; i < kMonths.size(); ++i) {
    if (word.size() <= kMonths[i].size() &&
        EqualsIgnoringCase(word, kMonths[i].substr(0, word.size()))) {
      return static_cast<int>(i) + 1;
    }
  }
  return 0;
}

bool IsDayName(std::string_view word) {
  static constexpr std::array<std::string_view, 7> kDays = {
      "monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday"};
  if (word.size() < 3) return false;
  for (std::string_view day : kDays) {
    if (word.size() <= day.size() && EqualsIgnoringCase(word, day.substr(0, word.size()))) {
      return true;
    }
  }
  return false;
}

// Offset of a named zone in minutes east of UTC.
std::optional<int> NamedZoneOffset(std::string_view zone) {
  struct Zone {
    std::string_view name;
    int hours;
  };
  static constexpr std::array<Zone, 11> kZones = {{{"GMT", 0},
                                                   {"UT", 0},
                                                   {"UTC", 0},
                                                   {"EST", -5},
                                                   {"EDT", -4},
                                                   {"CST", -6},
                                                   {"CDT", -5},
                                                   {"MST", -7},
                                                   {"MDT", -6},
                                                   {"PST", -8},
                                                   {"PDT", -7}}};
  for (const Zone& known : kZones) {
    if (EqualsIgnoringCase(zone, known.name)) return known.hours * 60;
  }
  // Military zones, Z included; J is not one.
  if (zone.size() == 1 && IsLetter(zone[0]) && platform::ascii::ToLower(zone[0]) != 'j') return 0;
  return std::nullopt;
}

// A numeric offset "+hhmm", "+hh:mm" or "+hh" at the scanner.
bool NumericOffset(Scanner& in, int& offset_minutes) {
  const char sign = in.Peek();
  if (sign != '+' && sign != '-') return false;
  in.Accept(sign);
  const int hours = in.Number(2, 2);
  if (hours < 0) return false;
  int minutes = 0;
  if (in.Accept(':')) {
    minutes = in.Number(2, 2);
    if (minutes < 0) return false;
  } else if (IsDigit(in.Peek())) {
    minutes = in.Number(2, 2);
    if (minutes < 0) return false;
  }
  if (hours > 23 || minutes > 59) return false;
  offset_minutes = (hours * 60 + minutes) * (sign == '-' ? -1 : 1);
  return true;
}

// "hh:mm[:ss[.fraction]]".
bool TimeOfDay(Scanner& in, DateTime& t, bool allow_fraction) {
  t.hour = in.Number(1, 2);
  if (t.hour < 0 || !in.Accept(':')) return false;
  t.minute = in.Number(2, 2);
  if (t.minute < 0) return false;
  if (in.Accept(':')) {
    t.second = in.Number(2, 2);
    if (t.second < 0) return false;
    if (allow_fraction && (in.Peek() == '.' || in.Peek() == ',')) {
      in.Accept(in.Peek());
      std::size_t digits = 0;
      int scale = 100000;
      t.micros = 0;
      while (IsDigit(in.Peek())) {
        const int digit = in.Number(1, 1);
        if (scale > 0) t.micros += digit * scale;
        scale /= 10;
        ++digits;
      }
      if (digits == 0) return false;
    }
  }
  return true;
}

std::optional<std::int64_t> ParseRfc822(std::string_view text) {
  Scanner in(text);
  DateTime t;
  std::size_t start = in.position();
  std::string_view word = in.Word();
  if (!word.empty()) {
    if (!IsDayName(word)) return std::nullopt;
    in.Accept(',');
    in.SkipBlanks();
  } else {
    in.Rewind(start);
  }
  t.day = in.Number(1, 2);
  if (t.day < 0) return std::nullopt;
  // "03 Jun 2003", also "03-Jun-2003".
  if (!in.Accept('-')) in.SkipBlanks();
  t.month = MonthNumber(in.Word());
  if (t.month == 0) return std::nullopt;
  if (!in.Accept('-')) in.SkipBlanks();
  std::size_t year_digits = 0;
  t.year = in.Number(2, 4, &year_digits);
  if (t.year < 0 || year_digits == 3) return std::nullopt;
  if (year_digits == 2) t.year += t.year < 50 ? 2000 : 1900;
  in.SkipBlanks();
  if (in.AtEnd()) return Instant(t);
  if (!TimeOfDay(in, t, false)) return std::nullopt;
  in.SkipBlanks();
  if (in.Peek() == '+' || in.Peek() == '-') {
    if (!NumericOffset(in, t.offset_minutes)) return std::nullopt;
  } else if (!in.AtEnd() && in.Peek() != '(') {
    std::optional<int> offset = NamedZoneOffset(in.Word());
    if (!offset) return std::nullopt;
    t.offset_minutes = *offset;
  }
  in.SkipBlanks();
  // A trailing comment such as "(PST)" carries nothing the zone did not.
  if (in.Peek() == '(') {
    while (!in.AtEnd() && in.Peek() != ')') in.Skip();
    if (!in.Accept(')')) return std::nullopt;
    in.SkipBlanks();
  }
  if (!in.AtEnd()) return std::nullopt;
  return Instant(t);
}

std::optional<std::int64_t> ParseIso8601(std::string_view text) {
  Scanner in(text);
  DateTime t;
  t.year = in.Number(4, 4);
  if (t.year < 0 || !in.Accept('-')) return std::nullopt;
  t.month = in.Number(2, 2);
  if (t.month < 0 || !in.Accept('-')) return std::nullopt;
  t.day = in.Number(2, 2);
  if (t.day < 0) return std::nullopt;
  if (in.AtEnd()) return Instant(t);
  if (!in.Accept('T') && !in.Accept('t') && !in.Accept(' ')) return std::nullopt;
  if (!TimeOfDay(in, t, true)) return std::nullopt;
  if (in.Accept('Z') || in.Accept('z')) {
    t.offset_minutes = 0;
  } else if (in.Peek() == '+' || in.Peek() == '-') {
    if (!NumericOffset(in, t.offset_minutes)) return std::nullopt;
  }
  if (!in.AtEnd()) return std::nullopt;
  return Instant(t);
}

}  // namespace

std::optional<std::int64_t> ParseFeedDate(std::string_view text) {
  text = platform::ascii::Trim(text);
  if (text.empty()) return std::nullopt;
  if (text.size() >= 5 && IsDigit(text[0]) && IsDigit(text[1]) && IsDigit(text[2]) &&
      IsDigit(text[3]) && text[4] == '-') {
    return ParseIso8601(text);
  }
  return ParseRfc822(text);
}

}  // namespace feedpull
