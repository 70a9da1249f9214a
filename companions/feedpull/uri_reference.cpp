#include "companions/feedpull/uri_reference.h"

#include <algorithm>
#include <optional>

#include "platform/ascii.h"

namespace feedpull {
namespace {

// The five components of a URI reference (RFC 3986 appendix B); a missing
// component is nullopt, which differs from a present but empty one.
struct UriParts {
  std::optional<std::string> scheme;
  std::optional<std::string> authority;
  std::string path;
  std::optional<std::string> query;
  std::optional<std::string> fragment;
};

bool IsSchemeChar(char c, bool first) {
  if (platform::ascii::IsLetter(c)) return true;
  return !first && (platform::ascii::IsDigit(c) || c == '+' || c == '-' || c == '.');
}

UriParts Split(std::string_view text) {
  UriParts parts;
  // scheme: letters first, up to the first ':' before any '/', '?' or '#'.
  std::size_t colon = text.find_first_of(":/?#");
  if (colon != std::string_view::npos && colon > 0 && text[colon] == ':') {
    bool valid = true;
    for (std::size_t i = 0; i < colon; ++i) valid = valid && IsSchemeChar(text[i], i == 0);
    if (valid) {
      parts.scheme = std::string(text.substr(0, colon));
      text.remove_prefix(colon + 1);
    }
  }
  if (text.starts_with("//")) {
    std::size_t end = text.find_first_of("/?#", 2);
    if (end == std::string_view::npos) end = text.size();
    parts.authority = std::string(text.substr(2, end - 2));
    text.remove_prefix(end);
  }
  std::size_t hash = text.find('#');
  if (hash != std::string_view::npos) {
    parts.fragment = std::string(text.substr(hash + 1));
    text = text.substr(0, hash);
  }
  std::size_t question = text.find('?');
  if (question != std::string_view::npos) {
    parts.query = std::string(text.substr(question + 1));
    text = text.substr(0, question);
  }
  parts.path = std::string(text);
  return parts;
}

// RFC 3986 section 5.2.4.
std::string RemoveDotSegments(std::string input) {
  std::string output;
  while (!input.empty()) {
    if (input.starts_with("../")) {
      input.erase(0, 3);
    } else if (input.starts_with("./")) {
      input.erase(0, 2);
    } else if (input.starts_with("/./")) {
      input.erase(0, 2);
    } else if (input == "/.") {
      input = "/";
    } else if (input.starts_with("/../") || input == "/..") {
      input = input.size() == 3 ? "/" : input.substr(3);
      std::size_t last = output.rfind('/');
      output.erase(last == std::string::npos ? 0 : last);
    } else if (input == "." || input == "..") {
      input.clear();
    } else {
      std::size_t next = input.find('/', 1);
      if (next == std::string::npos) next = input.size();
      output += input.substr(0, next);
      input.erase(0, next);
    }
  }
  return output;
}

// RFC 3986 section 5.2.3.
std::string Merge(const UriParts& base, const std::string& reference_path) {
  if (base.authority && base.path.empty()) return "/" + reference_path;
  std::size_t slash = base.path.rfind('/');
  if (slash == std::string::npos) return reference_path;
  return base.path.substr(0, slash + 1) + reference_path;
}

std::string Recompose(const UriParts& parts) {
  std::string result;
  if (parts.scheme) result += *parts.scheme + ":";
  if (parts.authority) result += "//" + *parts.authority;
  result += parts.path;
  if (parts.query) result += "?" + *parts.query;
  if (parts.fragment) result += "#" + *parts.fragment;
  return result;
}

}  // namespace

bool IsOwnResolution(std::string_view reference) {
  const std::size_t colon = reference.find_first_of(":/?#");
  if (colon == std::string_view::npos || colon == 0 || reference[colon] != ':') return false;
  for (std::size_t i = 0; i < colon; ++i) {
    if (!IsSchemeChar(reference[i], i == 0)) return false;
  }
  std::string_view rest = reference.substr(colon + 1);
  rest = rest.substr(0, rest.find_first_of("?#"));
  if (rest.starts_with("//")) rest.remove_prefix(std::min(rest.find('/', 2), rest.size()));
  // Only a "." or ".." segment is changed by the removal of dot segments.
  return !rest.starts_with('.') && rest.find("/.") == std::string_view::npos;
}

std::string ResolveReference(std::string_view base_text, std::string_view reference_text) {
  if (IsOwnResolution(reference_text)) return std::string(reference_text);
  UriParts base = Split(base_text);
  if (!base.scheme) return std::string(reference_text);
  UriParts reference = Split(reference_text);
  UriParts target;
  if (reference.scheme) {
    target.scheme = reference.scheme;
    target.authority = reference.authority;
    target.path = RemoveDotSegments(reference.path);
    target.query = reference.query;
  } else {
    if (reference.authority) {
      target.authority = reference.authority;
      target.path = RemoveDotSegments(reference.path);
      target.query = reference.query;
    } else {
      if (reference.path.empty()) {
        target.path = base.path;
        target.query = reference.query ? reference.query : base.query;
      } else {
        if (reference.path.starts_with("/")) {
          target.path = RemoveDotSegments(reference.path);
        } else {
          target.path = RemoveDotSegments(Merge(base, reference.path));
        }
        target.query = reference.query;
      }
      target.authority = base.authority;
    }
    target.scheme = base.scheme;
  }
  target.fragment = reference.fragment;
  return Recompose(target);
}

bool IsHttpUrl(std::string_view text) {
  UriParts parts = Split(text);
  if (!parts.scheme || !parts.authority || parts.authority->empty()) return false;
  const std::string scheme = platform::ascii::LowerCase(*parts.scheme);
  return scheme == "http" || scheme == "https";
}

}  // namespace feedpull
