#include "platform/automation_protocol.h"

#include <charconv>
#include <cstdint>
#include <limits>

namespace platform {

std::string Variant::ToText() const {
  switch (type) {
    case VarType::kBstr:
      return text;
    case VarType::kEmpty:
      return {};
    case VarType::kBool:
      return number != 0 ? "True" : "False";
    default:
      return std::to_string(number);
  }
}

namespace automation_protocol {
namespace {

// The first word of `rest` (up to a blank or the end) is cut off and
// returned; `rest` keeps what follows the blank, or nothing.
std::string CutWord(std::string& rest) {
  const auto blank = rest.find(' ');
  std::string word = rest.substr(0, blank);
  rest = blank == std::string::npos ? std::string() : rest.substr(blank + 1);
  return word;
}

bool IsMemberName(const std::string& name) {
  if (name.empty()) return false;
  for (const char c : name) {
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !digit && c != '_') return false;
  }
  return true;
}

// A decimal integer that fills the whole text, within the type's range.
std::optional<std::int32_t> ParseNumber(const std::string& text, VarType type) {
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  std::int64_t low = std::numeric_limits<std::int32_t>::min();
  std::int64_t high = std::numeric_limits<std::int32_t>::max();
  if (type == VarType::kI2) {
    low = std::numeric_limits<std::int16_t>::min();
    high = std::numeric_limits<std::int16_t>::max();
  } else if (type == VarType::kBool) {
    low = -1;
    high = 0;
  }
  if (value < low || value > high) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

// "<type>" or "<type> <value>" into a value; the value text is escaped.
std::optional<Variant> ParseTypedValue(std::string rest) {
  const bool has_value = rest.find(' ') != std::string::npos;
  const auto type = ParseTypeName(CutWord(rest));
  if (!type) return std::nullopt;
  Variant value;
  value.type = *type;
  switch (*type) {
    case VarType::kEmpty:
      if (has_value) return std::nullopt;
      return value;
    case VarType::kBstr:
      value.text = Unescape(rest);
      return value;
    default: {
      const auto number = ParseNumber(rest, *type);
      if (!number) return std::nullopt;
      value.number = *number;
      return value;
    }
  }
}

std::string FormatTypedValue(const Variant& value) {
  std::string line = TypeName(value.type);
  switch (value.type) {
    case VarType::kEmpty:
      return line;
    case VarType::kBstr:
      return line + " " + Escape(value.text);
    case VarType::kBool:
      return line + (value.number != 0 ? " -1" : " 0");
    default:
      return line + " " + std::to_string(value.number);
  }
}

}  // namespace

std::string Escape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[++i];
    switch (next) {
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      default:
        out += next;
    }
  }
  return out;
}

std::string TypeName(VarType type) {
  switch (type) {
    case VarType::kEmpty:
      return "EMPTY";
    case VarType::kI2:
      return "I2";
    case VarType::kI4:
      return "I4";
    case VarType::kBool:
      return "BOOL";
    case VarType::kBstr:
      return "BSTR";
  }
  return "EMPTY";
}

std::optional<VarType> ParseTypeName(const std::string& name) {
  if (name == "EMPTY") return VarType::kEmpty;
  if (name == "I2") return VarType::kI2;
  if (name == "I4") return VarType::kI4;
  if (name == "BOOL") return VarType::kBool;
  if (name == "BSTR") return VarType::kBstr;
  return std::nullopt;
}

std::string FormatRequest(const Request& request) {
  switch (request.kind) {
    case Request::Kind::kPut:
      return "PUT " + request.member + " " + FormatTypedValue(request.value);
    case Request::Kind::kCall:
      return "CALL " + request.member;
    case Request::Kind::kGet:
      return "GET " + request.member;
  }
  return {};
}

std::optional<Request> ParseRequest(const std::string& line) {
  std::string rest = line;
  const std::string verb = CutWord(rest);
  Request request;
  if (verb == "PUT") {
    request.kind = Request::Kind::kPut;
  } else if (verb == "CALL") {
    request.kind = Request::Kind::kCall;
  } else if (verb == "GET") {
    request.kind = Request::Kind::kGet;
  } else {
    return std::nullopt;
  }
  const bool has_more = rest.find(' ') != std::string::npos;
  request.member = CutWord(rest);
  if (!IsMemberName(request.member)) return std::nullopt;
  if (request.kind != Request::Kind::kPut) {
    if (has_more) return std::nullopt;
    return request;
  }
  if (!has_more) return std::nullopt;
  const auto value = ParseTypedValue(rest);
  if (!value) return std::nullopt;
  request.value = *value;
  return request;
}

std::string FormatAnswer(const Answer& answer) {
  if (!answer.ok) {
    return "ERR " + std::to_string(answer.number) + " " + Escape(answer.description);
  }
  // A call without a value and one that returns EMPTY mean the same.
  if (answer.value.type == VarType::kEmpty) return "OK";
  return "OK " + FormatTypedValue(answer.value);
}

std::optional<Answer> ParseAnswer(const std::string& line) {
  std::string rest = line;
  const bool has_more = line.find(' ') != std::string::npos;
  const std::string status = CutWord(rest);
  Answer answer;
  if (status == "OK") {
    if (!has_more) return answer;
    const auto value = ParseTypedValue(rest);
    if (!value) return std::nullopt;
    answer.value = *value;
    return answer;
  }
  if (status != "ERR" || !has_more) return std::nullopt;
  answer.ok = false;
  const std::string number = CutWord(rest);
  if (number.empty()) return std::nullopt;
  long parsed = 0;
  const char* end = number.data() + number.size();
  const auto [stop, error] = std::from_chars(number.data(), end, parsed);
  if (error != std::errc() || stop != end) return std::nullopt;
  answer.number = parsed;
  answer.description = Unescape(rest);
  return answer;
}

}  // namespace automation_protocol
}  // namespace platform
