// Text helpers shared by the routines: the numeric value of a text, trimming,
// counters held as decimal text.
#pragma once

#include <string>
#include <string_view>

// The number formed by the text's leading characters, blanks skipped: sign,
// digits, optional decimal point and exponent; reading stops at the first
// character that cannot continue the number. No leading number: 0.
double NumericValue(std::string_view text);

// A number as plain decimal text without a leading blank ("0", "12", "-3",
// "2.5").
std::string NumberText(double value);

// Blanks (spaces) removed at both ends; other white space stays.
std::string Trimmed(std::string_view text);
