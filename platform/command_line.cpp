#include "platform/command_line.h"

#include <optional>

#include "platform/failure.h"
#include "platform/filesystem.h"

namespace platform {
namespace {

// The last path component of a program-form path has an extension.
bool HasExtension(const std::string& path) {
  std::size_t separator = path.find_last_of("\\/");
  std::size_t start = separator == std::string::npos ? 0 : separator + 1;
  return path.find('.', start) != std::string::npos;
}

// The native path of the program file that `prefix` names, or nothing.
std::optional<std::string> ProgramFile(const std::string& prefix) {
  if (Files().FileExists(prefix)) return Files().NativePath(prefix);
  if (!HasExtension(prefix) && Files().FileExists(prefix + ".exe")) {
    return Files().NativePath(prefix + ".exe");
  }
  return std::nullopt;
}

}  // namespace

std::vector<std::string> SplitArgumentText(const std::string& text) {
  std::vector<std::string> arguments;
  std::size_t i = 0;
  const std::size_t n = text.size();
  for (;;) {
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i >= n) break;
    std::string argument;
    bool quoted = false;
    while (i < n && (quoted || (text[i] != ' ' && text[i] != '\t'))) {
      char c = text[i];
      if (c == '\\') {
        std::size_t run = 0;
        while (i < n && text[i] == '\\') {
          ++run;
          ++i;
        }
        if (i < n && text[i] == '"') {
          argument.append(run / 2, '\\');
          if (run % 2 == 1) {
            argument += '"';
            ++i;
          }
        } else {
          argument.append(run, '\\');
        }
      } else if (c == '"') {
        if (quoted && i + 1 < n && text[i + 1] == '"') {
          argument += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        argument += c;
        ++i;
      }
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

CommandLine SplitCommandLine(const std::string& command_line) {
  std::size_t start = command_line.find_first_not_of(" \t");
  if (start == std::string::npos) throw Failure(err::kFileNotFound);
  for (std::size_t end = start; end <= command_line.size(); ++end) {
    if (end < command_line.size() && command_line[end] != ' ') continue;
    if (end == start) continue;
    std::optional<std::string> program = ProgramFile(command_line.substr(start, end - start));
    if (!program) continue;
    CommandLine result;
    result.program = *program;
    if (end < command_line.size())
      result.arguments = SplitArgumentText(command_line.substr(end + 1));
    return result;
  }
  throw Failure(err::kFileNotFound);
}

}  // namespace platform
