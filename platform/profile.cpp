// Profile (INI) files with the behaviour of the Windows profile functions.
//
// Every call reads the whole file; a write changes the parsed form and
// writes all of it back through ReplaceFileAtomicallyLazily. The parsed form
// of the bytes last read is kept: a run reads one file dozens of times, and
// parses it again only when its bytes differ. The parsed
// form is what the Windows functions keep: a list of sections, each a list of
// lines. Lines before the first section header belong to a nameless first
// section; comment lines and lines without "=" are lines without a value, so
// that they stay in place when the file is written back. Writing it back is
// what normalises the file: CR LF line ends, no blank lines, no blanks around
// names, "=" and values.
//
// Text is the system code page, which is UTF-8 here, so the bytes of a file
// without a byte-order mark pass through unchanged. A file that starts with a
// UTF-8 or a UTF-16 LE byte-order mark is read through it and written back in
// the same form. Any other file (UTF-16 BE, UTF-16 without a mark) is taken
// as code-page bytes, in which no name matches, as on Windows.
#include "platform/profile.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/ascii.h"
#include "platform/failure.h"
#include "platform/filesystem.h"
#include "platform/last_error.h"
#include "platform/text_encoding.h"

namespace platform {
namespace {

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
constexpr char kUtf16LeBom[] = "\xFF\xFE";

enum class Encoding { kCodePage, kUtf8, kUtf16Le };

struct Line {
  std::string name;
  std::optional<std::string> value;  // none for a line without "="
};

struct Section {
  std::string name;  // empty for the lines before the first header
  std::vector<Line> lines;
};

struct Profile {
  Encoding encoding = Encoding::kCodePage;
  std::vector<Section> sections{Section{}};
};

// Blanks as the profile functions see them: white space and the old
// end-of-file mark Ctrl-Z.
constexpr std::string_view kBlanks = " \t\n\r\v\f\x1A";

std::string_view TrimLeft(std::string_view text) {
  return ascii::TrimLeft(text, kBlanks);
}

std::string_view TrimRight(std::string_view text) {
  return ascii::TrimRight(text, kBlanks);
}

std::string_view Trim(std::string_view text) {
  return ascii::Trim(text, kBlanks);
}

// Section and key names match whatever their ASCII letter case.
bool SameName(std::string_view a, std::string_view b) {
  return ascii::EqualsIgnoringCase(a, b);
}

Profile Parse(std::string_view text, Encoding encoding) {
  Profile profile;
  profile.encoding = encoding;
  Section* section = &profile.sections.front();
  const Line* previous = nullptr;
  std::size_t position = 0;
  while (position < text.size()) {
    std::size_t start = position;
    while (position < text.size() && text[position] != '\n' && text[position] != '\r') ++position;
    std::string_view line = Trim(text.substr(start, position - start));
    while (position < text.size() && (text[position] == '\n' || text[position] == '\r')) ++position;
    if (line.empty()) continue;

    if (line.front() == '[') {
      std::size_t close = line.rfind(']');
      if (close != std::string_view::npos) {  // text after the last "]" is dropped
        profile.sections.push_back(Section{std::string(Trim(line.substr(1, close - 1))), {}});
        section = &profile.sections.back();
        previous = nullptr;
        continue;
      }
      // A "[" without "]" is an ordinary line.
    }
    Line parsed;
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      parsed.name = std::string(line);
    } else {
      parsed.name = std::string(TrimRight(line.substr(0, equals)));
      parsed.value = std::string(TrimLeft(line.substr(equals + 1)));
    }
    // Of several lines in a row with an empty name, only the first is kept.
    if (!parsed.name.empty() || previous == nullptr || !previous->name.empty()) {
      section->lines.push_back(std::move(parsed));
      previous = &section->lines.back();
    }
  }
  return profile;
}

Profile Decode(const std::string& bytes) {
  if (bytes.compare(0, 3, kUtf8Bom) == 0) {
    return Parse(std::string_view(bytes).substr(3), Encoding::kUtf8);
  }
  if (bytes.compare(0, 2, kUtf16LeBom) == 0) {
    return Parse(Utf16LeToUtf8(bytes.substr(2)), Encoding::kUtf16Le);
  }
  return Parse(bytes, Encoding::kCodePage);
}

std::string Encode(const Profile& profile) {
  std::string text;
  for (const Section& section : profile.sections) {
    if (!section.name.empty()) text += "[" + section.name + "]\r\n";
    for (const Line& line : section.lines) {
      text += line.name;
      if (line.value) text += "=" + *line.value;
      text += "\r\n";
    }
  }
  switch (profile.encoding) {
    case Encoding::kUtf8:
      return kUtf8Bom + text;
    case Encoding::kUtf16Le:
      return kUtf16LeBom + Utf8ToUtf16Le(text);
    case Encoding::kCodePage:
      // Code-page text has no mark of its own: if its first line began with
      // the bytes of a byte-order mark (once blanks and blank lines before it
      // were dropped), the next read would take the file for UTF-8 or UTF-16.
      // A blank line first keeps it code-page text; reads skip it.
      if (text.compare(0, 3, kUtf8Bom) == 0 || text.compare(0, 2, kUtf16LeBom) == 0) {
        return "\r\n" + text;
      }
      break;
  }
  return text;
}

std::string ParentFolder(const std::string& path) {
  std::size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return ".";
  if (slash == 0) return path.substr(0, 1);
  return path.substr(0, slash);
}

// The bytes last read and what they parse to.
struct Parsed {
  std::mutex lock;
  std::string bytes;
  std::shared_ptr<const Profile> profile;
};

// What `bytes` parse to.
std::shared_ptr<const Profile> DecodeOf(const std::string& bytes) {
  static Parsed last;
  const std::lock_guard<std::mutex> hold(last.lock);
  if (last.profile == nullptr || last.bytes != bytes) {
    last.profile = std::make_shared<const Profile>(Decode(bytes));
    last.bytes = bytes;
  }
  return last.profile;
}

enum class Opened { kFile, kNoFile, kFailed };

// Reads the file into `profile`. A missing file is an empty profile (last
// error 2); a missing folder or an unreadable file is kFailed, with the last
// error set.
Opened Open(const std::string& path, std::shared_ptr<const Profile>& profile,
            std::string* bytes = nullptr) {
  try {
    std::string raw = Files().ReadFileBytes(path);
    profile = DecodeOf(raw);
    if (bytes != nullptr) *bytes = std::move(raw);
    return Opened::kFile;
  } catch (const Failure& failure) {
    if (failure.number() == err::kFileNotFound && Files().FolderExists(ParentFolder(path))) {
      SetLastErrorCode(kErrorFileNotFound);
      profile = std::make_shared<const Profile>();
      return Opened::kNoFile;
    }
    bool missing = failure.number() == err::kFileNotFound || failure.number() == err::kPathNotFound;
    SetLastErrorCode(missing ? kErrorPathNotFound : kErrorAccessDenied);
    return Opened::kFailed;
  }
}

// For a profile and a section, changeable or not.
template <typename ProfileT>
auto FindSection(ProfileT& profile, std::string_view name) -> decltype(&profile.sections.front()) {
  for (auto& section : profile.sections) {
    if (SameName(section.name, name)) return &section;
  }
  return nullptr;
}

template <typename SectionT>
auto FindLine(SectionT& section, std::string_view name) -> decltype(&section.lines.front()) {
  for (auto& line : section.lines) {
    if (SameName(line.name, name)) return &line;
  }
  return nullptr;
}

// Updates the first matching line of the first matching section, keeping its
// spelling; a new line goes to the end of its section, a new section to the
// end of the file. New names and the value lose their leading blanks only:
// their trailing blanks go into the file as given.
void SetValue(Profile& profile, std::string_view section_name, std::string_view name,
              std::string_view value) {
  std::string stored(TrimLeft(value));
  if (Section* section = FindSection(profile, Trim(section_name))) {
    if (Line* line = FindLine(*section, Trim(name))) {
      line->value = std::move(stored);
    } else {
      section->lines.push_back(Line{std::string(TrimLeft(name)), std::move(stored)});
    }
    return;
  }
  profile.sections.push_back(
      Section{std::string(TrimLeft(section_name)), {Line{std::string(TrimLeft(name)), stored}}});
}

std::uint32_t ErrorForFailure(const Failure& failure) {
  switch (failure.number()) {
    case err::kFileNotFound:
    case err::kPathNotFound:
      return kErrorPathNotFound;
    case err::kPermissionDenied:
      return kErrorAccessDenied;
    case err::kDiskFull:
      return kErrorDiskFull;
    default:
      return kErrorWriteFault;
  }
}

// How many of the first `count` bytes of `text` to keep so that a cut does
// not split a UTF-8 sequence.
std::size_t CharacterBoundary(std::string_view text, std::size_t count) {
  if (count == 0 || count >= text.size()) return count;
  for (std::size_t back = 1; back <= 3 && back <= count; ++back) {
    auto byte = static_cast<unsigned char>(text[count - back]);
    if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
    if (length <= back) return count;
    std::size_t end = count - back + length;
    if (end > text.size()) return count;
    for (std::size_t i = count - back + 1; i < end; ++i) {
      if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return count;
    }
    return count - back;  // a whole character is split: leave it out
  }
  return count;
}

// The value with one pair of equal outer quotes removed, at most `max_chars`
// characters. The value is cut to max_chars before the closing quote is
// dropped, so a value whose closing quote did not fit loses its last
// character as well.
std::string CutValue(std::string_view value, std::size_t max_chars) {
  bool quoted = value.size() > 1 && (value.front() == '"' || value.front() == '\'') &&
                value.back() == value.front();
  if (quoted) value.remove_prefix(1);
  std::size_t count = std::min(value.size(), max_chars);
  if (quoted && max_chars + 1 >= value.size() && count > 0) --count;
  return std::string(value.substr(0, CharacterBoundary(value, count)));
}

}  // namespace

bool WriteProfileValue(const std::string& section, const std::string& key, const std::string& value,
                       const std::string& path) {
  std::shared_ptr<const Profile> read;
  std::string before;
  if (Open(path, read, &before) == Opened::kFailed) return false;
  Profile profile = *read;
  SetValue(profile, section, key, value);
  std::string after = Encode(profile);
  // A file that already holds exactly these bytes is left alone: rewriting
  // it would change nothing but cost a replacement and a flush to disk, and
  // the run writes several keys with the values they already have.
  if (after == before) return true;
  try {
    // The file is whole after a crash, the old one or the new one; that the
    // rename reaches the disk is not waited for. A profile holds what a run
    // remembers for the next: a write that a crash undoes makes the next run
    // do again what this one did (the update-state file: find the same items
    // again, which the check against the store, saved durably before, keeps
    // from being added twice).
    Files().ReplaceFileAtomicallyLazily(path, after, FileSystem::LazyFlush::kContent);
  } catch (const Failure& failure) {
    SetLastErrorCode(ErrorForFailure(failure));
    return false;
  }
  return true;
}

std::string ReadProfileValue(const std::string& section, const std::string& key,
                             std::size_t max_chars, const std::string& path) {
  std::shared_ptr<const Profile> profile;
  if (Open(path, profile) == Opened::kFailed) return {};
  const Section* found = FindSection(*profile, Trim(section));
  const Line* line = found != nullptr ? FindLine(*found, Trim(key)) : nullptr;
  if (line == nullptr || !line->value) return {};
  return CutValue(*line->value, max_chars);
}

}  // namespace platform
