// Where the viewer's page goes for the running user and how it reaches the
// desktop's browser: the part of the viewer that differs between systems,
// one implementation each (desktop_posix.cpp, desktop_win32.cpp).
#pragma once

#include <optional>
#include <string>

namespace viewer {

struct PagePlace {
  std::string folder;
  char separator = '/';  // between the folder and the page's file name
};

// The folder of the page; nothing when the environment names none, with
// `*why_not` saying what is missing.
std::optional<PagePlace> UserPagePlace(std::string* why_not);

// Hands the page to the desktop's browser without waiting for it. False
// when there is no desktop or no way to reach its browser (a reason that is
// worth telling goes to standard error), so that the caller names the page
// instead.
bool ShowInBrowser(const std::string& page_path);

}  // namespace viewer
