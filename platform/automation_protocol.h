// The line protocol between an Automation client and an out-of-process
// server (see platform/README.md). Shared by the client in this layer and by
// the servers under companions/, so that both sides encode alike.
#pragma once

#include <optional>
#include <string>

#include "platform/automation.h"

namespace platform::automation_protocol {

// Escapes text so that it holds no line break: "\" -> "\\", LF -> "\n",
// CR -> "\r", TAB -> "\t". Every other byte passes unchanged.
std::string Escape(const std::string& text);
// The inverse; an unknown escape keeps the character after the backslash.
std::string Unescape(const std::string& text);

// "EMPTY", "I2", "I4", "BOOL", "BSTR".
std::string TypeName(VarType type);
std::optional<VarType> ParseTypeName(const std::string& name);

struct Request {
  enum class Kind { kPut, kCall, kGet } kind = Kind::kCall;
  std::string member;
  Variant value;  // kPut only
};
struct Answer {
  bool ok = true;
  Variant value;    // ok
  long number = 0;  // failure
  std::string description;
};

// One line each, without the line feed.
std::string FormatRequest(const Request& request);
std::optional<Request> ParseRequest(const std::string& line);
std::string FormatAnswer(const Answer& answer);
std::optional<Answer> ParseAnswer(const std::string& line);

}  // namespace platform::automation_protocol
