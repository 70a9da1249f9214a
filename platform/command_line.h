// Command lines as Windows splits them. Portable: the program file is looked
// for through Files(), so paths may be given in Windows form.
#pragma once

#include <string>
#include <vector>

namespace platform {

// A program and its arguments, each passed whole whatever blanks or quotes
// it holds.
struct CommandLine {
  std::string program;                 // native path of the program file
  std::vector<std::string> arguments;  // argv[1..]
};

// How an unquoted command line is split, as Windows splits one: the program
// is the shortest prefix that ends at a blank (or at the end of the line) and
// names an existing file, tried as written and, when the name has no
// extension, with ".exe" added. The text after that blank is the argument
// text, split by SplitArgumentText. A file "dir" beside a folder "dir with
// blanks" therefore takes the line, as on Windows.
// Throws Failure 53 "File not found" when no prefix names a file.
CommandLine SplitCommandLine(const std::string& command_line);

// Argument text split into words by the rules of the Windows C runtime:
// blanks and tabs separate, double quotes group ("" inside quotes is one
// literal quote), 2n backslashes before a quote are n backslashes and the
// quote groups, 2n+1 are n backslashes and a literal quote, backslashes
// anywhere else are taken as they are.
std::vector<std::string> SplitArgumentText(const std::string& text);

}  // namespace platform
