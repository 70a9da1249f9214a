#include "app/product/feed_files.h"

#include <algorithm>
#include <string_view>

#include "platform/filesystem.h"
#include "platform/profile.h"

namespace product {
namespace {

// What a file name cannot hold, on either system, each made "_".
std::string WithFileNameCharacters(const std::string& text) {
  std::string safe;
  safe.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool forbidden = byte < 0x20 || byte == 0x7F ||
                           std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos;
    safe += forbidden ? '_' : c;
  }
  return safe;
}

}  // namespace

std::string UserNamePart(const std::string& user_name) {
  return WithFileNameCharacters(user_name);
}

bool IsLeftoverTemporaryName(const std::string& name) {
  // ".<name>.tmp-" and six characters, as the file system names the
  // temporary file of a replacement; nothing with a path separator in it.
  constexpr std::string_view kMark = ".tmp-";
  constexpr std::size_t kUnique = 6;
  if (name.size() < 1 + 1 + kMark.size() + kUnique || name[0] != '.') return false;
  if (name.find_first_of("\\/") != std::string::npos) return false;
  return std::string_view(name).substr(name.size() - kUnique - kMark.size(), kMark.size()) == kMark;
}

std::string SafeNamePart(const std::string& text) {
  std::string safe = WithFileNameCharacters(text);
  for (std::size_t at; (at = safe.find("..")) != std::string::npos;) safe.replace(at, 2, "__");
  return safe;
}

std::string FeedSection(const std::string& feed_number, const std::string& template_id,
                        const std::string& template_version) {
  return "Link_" + SafeNamePart(feed_number) + "_" + SafeNamePart(template_id) + "_" +
         SafeNamePart(template_version);
}

std::string StorePath(const std::string& data_path, const std::string& feed_number,
                      const std::string& template_id, const std::string& template_version) {
  return data_path + "qLUX\\Dovel\\RSSLinks\\" +
         FeedSection(feed_number, template_id, template_version) + ".xml";
}

std::string UpdateStatePath(const std::string& data_path, const std::string& user_name) {
  return data_path + "qLUX\\Dovel\\RSSLinks\\LastUpdates_" + UserNamePart(user_name) + ".ini";
}

std::string ReadStateValue(const std::string& section, const std::string& key,
                           const std::string& path) {
  // As a buffer of 5000 characters holds it.
  return platform::ReadProfileValue(section, key, 4999, path);
}

std::string ReadWholeStateValue(const std::string& section, const std::string& key,
                                const std::string& path) {
  const platform::FileStamp stamp = platform::Files().Stamp(path);
  // A UTF-16 file decodes to at most one and a half times its size.
  const std::uint64_t room = stamp.exists ? stamp.size * 2 + 2 : 2;
  return platform::ReadProfileValue(
      section, key, static_cast<std::size_t>(std::max<std::uint64_t>(room, 5000)) - 1, path);
}

std::vector<std::string> SplitFeedList(const std::string& feed_list) {
  // The separator holds no letters, so matching it without regard to case
  // is matching it as it stands.
  static const std::string kSeparator = "@#@";
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (std::size_t at; (at = feed_list.find(kSeparator, start)) != std::string::npos;) {
    pieces.push_back(feed_list.substr(start, at - start));
    start = at + kSeparator.size();
  }
  pieces.push_back(feed_list.substr(start));
  return pieces;
}

}  // namespace product
