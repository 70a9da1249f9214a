// flarebox-display: the popup component "Flarebox.Display" as an Automation
// server. It reads requests from standard input and answers each on
// standard output, one line each (platform/README.md), until its input ends.
#include <iostream>
#include <string>

#include "companions/popup/display.h"
#include "platform/automation_protocol.h"
#include "platform/failure.h"

int main() {
  namespace protocol = platform::automation_protocol;
  std::ios::sync_with_stdio(false);
  flarebox::Display display;
  for (std::string line; std::getline(std::cin, line);) {
    protocol::Answer answer;
    if (const auto request = protocol::ParseRequest(line)) {
      answer = display.Handle(*request);
    } else {
      answer.ok = false;
      answer.number = platform::err::kInvalidCall;
      answer.description = platform::ClassicDescription(platform::err::kInvalidCall);
    }
    std::cout << protocol::FormatAnswer(answer) << '\n' << std::flush;
    if (!std::cout) return 1;
  }
  return 0;
}
