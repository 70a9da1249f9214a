// The registry stand-in: a regedit export file read afresh on every open, so
// that an edit by the installer or a test takes effect on the next run.
#include "platform/registry.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <exception>
#include <map>
#include <string_view>

#include "platform/ascii.h"
#include "platform/last_error.h"
#include "platform/posix/unique_fd.h"
#include "platform/registry_query.h"
#include "platform/system.h"
#include "platform/text_encoding.h"

namespace platform {
namespace {

struct StoredValue {
  std::uint32_t type = kRegNone;
  std::string data;  // the bytes a single-byte query hands out, before any NUL is added
};

using ValueMap = std::map<std::string, StoredValue>;  // lower-cased name -> value

std::string RootName(RegRoot root) {
  switch (root) {
    case kHkeyClassesRoot:
      return "hkey_classes_root";
    case kHkeyCurrentUser:
      return "hkey_current_user";
    case kHkeyLocalMachine:
      return "hkey_local_machine";
    case kHkeyUsers:
      return "hkey_users";
    default:
      return {};
  }
}

// "HKLM\Software\X" and "HKEY_LOCAL_MACHINE\SOFTWARE\X" name the same key.
std::string NormaliseKeyPath(const std::string& path) {
  std::string lower = ascii::LowerCase(path);
  static const std::pair<const char*, const char*> kShort[] = {{"hklm", "hkey_local_machine"},
                                                               {"hkcr", "hkey_classes_root"},
                                                               {"hkcu", "hkey_current_user"},
                                                               {"hku", "hkey_users"}};
  for (const auto& [abbreviation, full] : kShort) {
    std::string prefix = abbreviation;
    if (lower == prefix || lower.rfind(prefix + "\\", 0) == 0) {
      lower = full + lower.substr(prefix.size());
      break;
    }
  }
  // Separators: one backslash between names, none at the end.
  std::string out;
  for (char c : lower) {
    if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
    out += c;
  }
  while (!out.empty() && out.back() == '\\') out.pop_back();
  return out;
}

bool ParseHexBytes(const std::string& text, std::string& bytes) {
  std::string digits;
  for (char c : text) {
    if (c == ',' || c == ' ' || c == '\t') {
      if (!digits.empty()) {
        bytes += static_cast<char>(std::stoi(digits, nullptr, 16));
        digits.clear();
      }
      continue;
    }
    if (!std::isxdigit(static_cast<unsigned char>(c)) || digits.size() == 2) return false;
    digits += c;
  }
  if (!digits.empty()) bytes += static_cast<char>(std::stoi(digits, nullptr, 16));
  return true;
}

// Reads `"..."` with \\ and \" escapes starting at text[pos] == '"'. Leaves
// pos after the closing quote.
bool ParseQuoted(const std::string& text, std::size_t& pos, std::string& out) {
  if (pos >= text.size() || text[pos] != '"') return false;
  for (++pos; pos < text.size(); ++pos) {
    char c = text[pos];
    if (c == '\\' && pos + 1 < text.size()) {
      out += text[++pos];
    } else if (c == '"') {
      ++pos;
      return true;
    } else {
      out += c;
    }
  }
  return false;
}

// One "name"=data line. Returns false for a line that is not a value.
bool ParseValueLine(const std::string& line, bool unicode_export, std::string& name,
                    StoredValue& value) {
  std::size_t pos = 0;
  if (line[0] == '@') {
    pos = 1;
  } else if (!ParseQuoted(line, pos, name)) {
    return false;
  }
  while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
  if (pos >= line.size() || line[pos] != '=') return false;
  ++pos;
  while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
  std::string rest = line.substr(pos);
  std::string lower = ascii::LowerCase(rest);
  if (!rest.empty() && rest[0] == '"') {
    std::size_t p = 0;
    value.type = kRegSz;
    return ParseQuoted(rest, p, value.data);
  }
  if (lower.rfind("dword:", 0) == 0) {
    std::string hex = rest.substr(6);
    if (hex.empty() || hex.size() > 8) return false;
    for (char c : hex)
      if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    std::uint32_t number = static_cast<std::uint32_t>(std::stoul(hex, nullptr, 16));
    value.type = kRegDword;
    for (int i = 0; i < 4; ++i) value.data += static_cast<char>((number >> (8 * i)) & 0xFF);
    return true;
  }
  if (lower.rfind("hex", 0) == 0) {
    std::size_t colon = rest.find(':');
    if (colon == std::string::npos) return false;
    std::string kind = lower.substr(0, colon);
    if (kind == "hex") {
      value.type = kRegBinary;
    } else if (kind.size() > 5 && kind.size() <= 13 && kind.rfind("hex(", 0) == 0 &&
               kind.back() == ')') {
      // The type is 1 to 8 hex digits; anything else makes the line no value.
      const std::string type = kind.substr(4, kind.size() - 5);
      for (char c : type) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
      }
      value.type = static_cast<std::uint32_t>(std::stoul(type, nullptr, 16));
    } else {
      return false;
    }
    if (!ParseHexBytes(rest.substr(colon + 1), value.data)) return false;
    // A version 5 export holds text types as UTF-16 LE; single-byte reads
    // see them in the system code page.
    if (unicode_export && IsRegTextType(value.type)) value.data = Utf16LeToUtf8(value.data);
    return true;
  }
  return false;
}

// The values of `key_path` (normalised) in the file; false when the file or
// the key is missing.
long LoadKey(const std::string& key_path, ValueMap& values) {
  std::string file = EnvironmentValue("RSSNOTIFY_REGISTRY").value_or("/etc/rssnotify/registry.reg");
  std::string content;
  // Read with plain calls: every start of rssnotify opens a few keys, and a
  // stream's set-up would cost more than the file's few lines.
  const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return errno == EACCES ? kErrorAccessDenied : kErrorFileNotFound;
  char chunk[8192];
  for (;;) {
    const ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno == EACCES ? kErrorAccessDenied : kErrorFileNotFound;
    if (got == 0) break;
    content.append(chunk, static_cast<std::size_t>(got));
  }
  if (content.size() >= 2 && content[0] == '\xFF' && content[1] == '\xFE') {
    content = Utf16LeToUtf8(content.substr(2));
  } else if (content.rfind("\xEF\xBB\xBF", 0) == 0) {
    content.erase(0, 3);
  }

  std::string_view rest(content);
  std::string raw;
  std::string line;
  bool header_seen = false;
  bool unicode_export = false;
  bool in_key = false;
  bool key_found = false;
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find('\n'), rest.size());
    raw.assign(rest.substr(0, end));
    rest.remove_prefix(std::min(end + 1, rest.size()));
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    // A trailing backslash continues the line (long hex data).
    if (!raw.empty() && raw.back() == '\\') {
      raw.pop_back();
      line += raw;
      continue;
    }
    line += raw;
    std::string text = line;
    line.clear();
    std::size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos) continue;
    text = text.substr(start);
    if (text[0] == ';') continue;
    if (!header_seen) {
      if (text.rfind("Windows Registry Editor Version 5.00", 0) == 0) {
        unicode_export = true;
      } else if (text.rfind("REGEDIT4", 0) != 0) {
        return kErrorFileNotFound;  // not a registry file: no key can be opened
      }
      header_seen = true;
      continue;
    }
    if (text[0] == '[') {
      std::size_t close = text.rfind(']');
      std::string name = text.substr(1, close == std::string::npos ? std::string::npos : close - 1);
      in_key = !name.empty() && name[0] != '-' && NormaliseKeyPath(name) == key_path;
      key_found = key_found || in_key;
      continue;
    }
    if (!in_key) continue;
    std::string name;
    StoredValue value;
    // A malformed value line is no value: it reads as missing, and the rest
    // of the key stays readable.
    bool parsed = false;
    try {
      parsed = ParseValueLine(text, unicode_export, name, value);
    } catch (const std::exception&) {
      parsed = false;
    }
    if (parsed) values[ascii::LowerCase(name)] = value;
  }
  return key_found ? kErrorSuccess : kErrorFileNotFound;
}

class FileRegKey : public RegKey {
 public:
  explicit FileRegKey(ValueMap values) : values_(std::move(values)) {}

  long QueryValue(const std::string& name, std::uint32_t* type, unsigned char* data,
                  std::uint32_t* size) override {
    auto it = values_.find(ascii::LowerCase(name));
    if (it == values_.end()) {
      if (type != nullptr) *type = kRegNone;
      return kErrorFileNotFound;
    }
    const StoredValue& stored = it->second;
    return AnswerValueQuery(stored.type, stored.data, type, data, size);
  }

 private:
  ValueMap values_;
};

}  // namespace

long OpenRegKey(RegRoot root, const std::string& sub_key, std::uint32_t options,
                std::uint32_t access, std::unique_ptr<RegKey>& key) {
  (void)options;
  (void)access;  // the file is only ever read
  key.reset();
  std::string root_name = RootName(root);
  if (root_name.empty()) return 6;  // invalid handle
  std::string path = NormaliseKeyPath(root_name + "\\" + sub_key);
  ValueMap values;
  long result = LoadKey(path, values);
  if (result != kErrorSuccess) return result;
  key = std::make_unique<FileRegKey>(std::move(values));
  return kErrorSuccess;
}

}  // namespace platform
