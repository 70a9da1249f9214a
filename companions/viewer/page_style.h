// The page's inline style sheet. It loads nothing (no url(), @import or
// @font-face), as the page loads nothing from anywhere.
#pragma once

namespace viewer {

extern const char kPageStyle[];

}  // namespace viewer
