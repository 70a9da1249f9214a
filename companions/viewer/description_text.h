// A description that may hold HTML, as the plain text the page shows.
#pragma once

#include <string>
#include <string_view>

namespace viewer {

// The plain text of a description that may hold HTML: tags removed (and the
// contents of script and style elements with them), the common character
// references decoded, runs of white space made one blank, trimmed. The result
// is text, still to be escaped.
std::string DescriptionText(std::string_view html);

}  // namespace viewer
