// Where the viewer's page goes and how it is opened.
#pragma once

#include <optional>
#include <string>

namespace viewer {

inline constexpr char kPageFileName[] = "feeds.html";

// The folder of the page: $XDG_CACHE_HOME, else $HOME/.cache, then
// "rssnotify". A relative XDG_CACHE_HOME is ignored, as desktops ignore it;
// nothing when no absolute folder can be named.
std::optional<std::string> PageFolder(const std::optional<std::string>& xdg_cache_home,
                                      const std::optional<std::string>& home);

// The folder of the page on Windows: "rssnotify" in the user's local
// application data (LOCALAPPDATA, "C:\Users\<user>\AppData\Local"), which
// stays on the machine and is the user's alone. Nothing when LOCALAPPDATA is
// unset or not an absolute path (a drive's "C:\..." or a share's
// "\\server\...").
std::optional<std::string> WindowsPageFolder(const std::optional<std::string>& local_app_data);

// Writes the page as `folder`, `separator`, "feeds.html", creating missing
// folders, and returns its path. The file is replaced atomically, so a
// browser never reads half a page. Throws platform::Failure.
std::string WritePage(const std::string& folder, const std::string& html, char separator = '/');

// True when the session has a graphical desktop to show the page on.
bool DesktopPresent(const std::optional<std::string>& display,
                    const std::optional<std::string>& wayland_display);

// The absolute path of the executable file `name` in the ':'-separated folder
// list `search_path`; relative and empty entries are skipped.
std::optional<std::string> FindProgram(const std::string& name, const std::string& search_path);

// `argument` written so that a command line split by the platform's rules
// gives it back as one argument.
std::string QuoteArgument(const std::string& argument);

}  // namespace viewer
