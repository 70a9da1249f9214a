// A description that may hold HTML, as the plain text the page shows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace viewer {

// The most of a description's text the page shows, in bytes: some 300 words.
// A description longer than that is an article or an attack, not news, and
// the reader has its link.
inline constexpr std::size_t kDescriptionTextLimit = 2000;

// The plain text of a description that may hold HTML: tags removed (and the
// contents of script and style elements with them), the common character
// references decoded, runs of white space made one blank, trimmed, and cut
// after kDescriptionTextLimit bytes with an ellipsis ("\u2026"). The time it
// takes grows with the description's size, whatever its shape. The result is
// text, still to be escaped.
std::string DescriptionText(std::string_view html);

}  // namespace viewer
