#include "app/text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/ascii.h"
#include "platform/failure.h"

double NumericValue(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  std::string number;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) number += text[i++];
  bool digits = false;
  while (i < text.size() && platform::ascii::IsDigit(text[i])) {
    number += text[i++];
    digits = true;
  }
  if (i < text.size() && text[i] == '.') {
    number += text[i++];
    while (i < text.size() && platform::ascii::IsDigit(text[i])) {
      number += text[i++];
      digits = true;
    }
  }
  if (!digits) return 0;
  // An exponent counts only when digits follow it ("12e" is 12).
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
    std::size_t j = i + 1;
    std::string exponent = "e";
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) exponent += text[j++];
    std::size_t first_digit = j;
    while (j < text.size() && platform::ascii::IsDigit(text[j])) exponent += text[j++];
    if (j > first_digit) number += exponent;
  }
  double value = std::strtod(number.c_str(), nullptr);
  if (std::isinf(value)) throw platform::Failure(platform::err::kOverflow);
  return value;
}

std::string NumberText(double value) {
  char buffer[64];
  if (value == std::floor(value) && std::fabs(value) < 1e15) {
    std::snprintf(buffer, sizeof buffer, "%.0f", value);
  } else {
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
  }
  std::string text = buffer;
  return text == "-0" ? "0" : text;
}

std::string Trimmed(std::string_view text) {
  return std::string(platform::ascii::Trim(text, platform::ascii::kSpace));
}
