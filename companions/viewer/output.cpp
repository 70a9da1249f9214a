#include "companions/viewer/output.h"

#include <filesystem>
#include <system_error>

#include "app/product/folders.h"
#include "platform/ascii.h"
#include "platform/filesystem.h"

namespace viewer {
namespace {

std::optional<std::string> AbsoluteValue(const std::optional<std::string>& value) {
  if (!value || value->empty() || (*value)[0] != '/') return std::nullopt;
  return value;
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::optional<std::string> PageFolder(const std::optional<std::string>& xdg_cache_home,
                                      const std::optional<std::string>& home) {
  if (const auto cache = AbsoluteValue(xdg_cache_home)) {
    return WithoutTrailingSlashes(*cache) + "/rssnotify";
  }
  if (const auto home_folder = AbsoluteValue(home)) {
    const std::string base = WithoutTrailingSlashes(*home_folder);
    return (base == "/" ? "" : base) + "/.cache/rssnotify";
  }
  return std::nullopt;
}

std::optional<std::string> WindowsPageFolder(const std::optional<std::string>& local_app_data) {
  if (!local_app_data) return std::nullopt;
  std::string folder = *local_app_data;
  const bool drive = folder.size() >= 3 && platform::ascii::IsLetter(folder[0]) &&
                     folder[1] == ':' && (folder[2] == '\\' || folder[2] == '/');
  const bool share = folder.size() >= 3 && folder.starts_with("\\\\") && folder[2] != '\\';
  if (!drive && !share) return std::nullopt;
  while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  if (folder.back() != '\\' && folder.back() != '/') folder += '\\';
  return folder + "rssnotify";
}

std::string WritePage(const std::string& folder, const std::string& html, char separator) {
  platform::FileSystem& files = platform::Files();
  platform::CreateFolderWithParents(files, folder);
  const std::string path = folder + separator + kPageFileName;
  files.ReplaceFileAtomically(path, html);
  return path;
}

bool DesktopPresent(const std::optional<std::string>& display,
                    const std::optional<std::string>& wayland_display) {
  return (display && !display->empty()) || (wayland_display && !wayland_display->empty());
}

std::optional<std::string> FindProgram(const std::string& name, const std::string& search_path) {
  std::size_t start = 0;
  while (start <= search_path.size()) {
    std::size_t end = search_path.find(':', start);
    if (end == std::string::npos) end = search_path.size();
    const std::string folder = search_path.substr(start, end - start);
    start = end + 1;
    // A relative entry would run whatever the current folder holds.
    if (folder.empty() || folder[0] != '/') continue;
    const std::string candidate = WithoutTrailingSlashes(folder) + "/" + name;
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(candidate, error);
    if (error || !std::filesystem::is_regular_file(status)) continue;
    const auto executable = std::filesystem::perms::owner_exec |
                            std::filesystem::perms::group_exec |
                            std::filesystem::perms::others_exec;
    if ((status.permissions() & executable) != std::filesystem::perms::none) return candidate;
  }
  return std::nullopt;
}

std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count only before a quote: there each one is doubled, and
    // the quote itself is escaped.
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    quoted += c;
    backslashes = 0;
  }
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

}  // namespace viewer
