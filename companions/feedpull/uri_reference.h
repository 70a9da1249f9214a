// URI references (RFC 3986), for the links of a feed.
#pragma once

#include <string>
#include <string_view>

namespace feedpull {

// `reference` resolved against `base` by the strict algorithm of RFC 3986
// section 5.2 ("../b" against "http://a/b/c/d" is "http://a/b/b"). When
// `base` is not absolute (has no scheme) the reference is returned as it is.
// No character is escaped or unescaped.
std::string ResolveReference(std::string_view base, std::string_view reference);

// True when `reference` resolves to itself against any base: it has a
// scheme and no "." or ".." segment in its path.
bool IsOwnResolution(std::string_view reference);

// True when `text` is an absolute http or https URL (scheme in any case).
bool IsHttpUrl(std::string_view text);

}  // namespace feedpull
