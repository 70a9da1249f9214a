#include "companions/feedpull/fetch.h"

// libcurl is reached through CurlApi (curl_api.h): only its declarations
// are used here.
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include "companions/feedpull/curl_api.h"
#include "companions/feedpull/feed_dates.h"
#include "companions/feedpull/uri_reference.h"
#include "platform/ascii.h"
#include "platform/failure.h"
#include "platform/native_files.h"

namespace feedpull {
namespace {

namespace ascii = platform::ascii;

constexpr const char* kUserAgent = "FeedPull/1.0 (feed converter; libcurl)";
constexpr const char* kAccept =
    "application/rss+xml, application/atom+xml, application/rdf+xml;q=0.9, "
    "application/xml;q=0.8, text/xml;q=0.8, */*;q=0.5";

struct Sink {
  std::string body;
  std::size_t max_bytes = 0;
  bool too_large = false;
};

// libcurl hands over the body as it arrives, already decoded when the
// server used a content coding; a body over the limit ends the transfer.
std::size_t Collect(char* data, std::size_t size, std::size_t count, void* user) {
  auto* sink = static_cast<Sink*>(user);
  const std::size_t length = size * count;
  if (sink->body.size() + length > sink->max_bytes) {
    sink->too_large = true;
    return 0;
  }
  sink->body.append(data, length);
  return length;
}

// The headers of the last response only: a redirect's or an interim
// response's headers are dropped when the next status line arrives.
struct Headers {
  std::string etag;
  std::string last_modified;
  std::string retry_after;
  bool no_store = false;
};

std::size_t CollectHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* headers = static_cast<Headers*>(user);
  const std::size_t length = size * count;
  const std::string line(data, length);
  if (line.starts_with("HTTP/")) {
    *headers = Headers{};
    return length;
  }
  const std::size_t colon = line.find(':');
  if (colon == std::string::npos) return length;
  const std::string_view whole(line);
  const std::string name = ascii::LowerCase(ascii::Trim(whole.substr(0, colon)));
  const std::string value(ascii::Trim(whole.substr(colon + 1)));
  if (name == "etag") {
    headers->etag = value;
  } else if (name == "last-modified") {
    headers->last_modified = value;
  } else if (name == "retry-after") {
    headers->retry_after = value;
  } else if (name == "cache-control") {
    // Directives are separated by commas; "no-store" may carry no value.
    std::string directives = ascii::LowerCase(value);
    std::size_t start = 0;
    while (start <= directives.size()) {
      std::size_t comma = directives.find(',', start);
      if (comma == std::string::npos) comma = directives.size();
      if (ascii::Trim(std::string_view(directives).substr(start, comma - start)) == "no-store")
        headers->no_store = true;
      start = comma + 1;
    }
  }
  return length;
}

// libcurl's own texts, so that a file URL fails with the words it always had.
constexpr const char* kMalformedUrl = "URL using bad/illegal format or missing URL";
constexpr const char* kReadFailed = "Failed to open/read local data from file/application";

FetchResult FetchFile(const std::string& url, const FetchLimits& limits) {
  FetchResult result;
  result.effective_url = url;
  std::optional<FileUrl> file = ParseFileUrl(url);
  if (!file) {
    result.error = kMalformedUrl;
    return result;
  }
  result.effective_url = file->normalized;
  // On Windows "/C:/feeds/a.xml" is the file C:\feeds\a.xml.
  const std::string path = platform::FileUrlNativePath(file->path);
  bool too_large = false;
  try {
    result.body = platform::ReadNativeFile(path, limits.max_bytes, &too_large);
  } catch (const platform::Failure& failure) {
    result.error = failure.number() == platform::err::kPathFileAccess
                       ? std::string(kReadFailed)
                       : "Couldn't open file " + path;
    return result;
  }
  if (too_large) {
    result.body.clear();
    result.error = "the document is larger than " + std::to_string(limits.max_bytes) + " bytes";
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace

bool IsFileUrl(const std::string& url) {
  return ascii::StartsWithIgnoringCase(url, "file:");
}

std::optional<FileUrl> ParseFileUrl(const std::string& url) {
  if (!IsFileUrl(url)) return std::nullopt;
  // Spaces and control characters are not taken in any URL.
  if (std::any_of(url.begin(), url.end(), [](char c) {
        return static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) == 0x7F;
      })) {
    return std::nullopt;
  }
  std::string_view rest = std::string_view(url).substr(5);
  if (rest.starts_with("//")) {
    // Only this machine may be named, and nothing else in the authority
    // (no user, no port).
    rest.remove_prefix(2);
    const std::size_t end = std::min(rest.find_first_of("/?#"), rest.size());
    const std::string_view host = rest.substr(0, end);
    if (!host.empty() && !ascii::EqualsIgnoringCase(host, "localhost") && host != "127.0.0.1") {
      return std::nullopt;
    }
    rest.remove_prefix(end);
  }
  if (!rest.starts_with('/')) return std::nullopt;
  // The query and the fragment do not name the file.
  const std::string_view raw = rest.substr(0, std::min(rest.find_first_of("?#"), rest.size()));
  FileUrl file;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '%' && i + 2 < raw.size() && ascii::HexDigitValue(raw[i + 1]) >= 0 &&
        ascii::HexDigitValue(raw[i + 2]) >= 0) {
      const char decoded = static_cast<char>(ascii::HexDigitValue(raw[i + 1]) * 16 +
                                             ascii::HexDigitValue(raw[i + 2]));
      // A NUL would cut the path short behind the reader's back.
      if (decoded == '\0') return std::nullopt;
      file.path += decoded;
      i += 2;
    } else {
      file.path += raw[i];
    }
  }
  file.normalized = ResolveReference("file:///", raw);
  return file;
}

std::optional<std::int64_t> RetryAfterSeconds(const std::string& value, std::int64_t now) {
  const std::string text(ascii::Trim(value));
  if (text.empty()) return std::nullopt;
  if (std::all_of(text.begin(), text.end(), ascii::IsDigit)) {
    // Far-off values are cut to a day; the caller bounds them anyway.
    if (text.size() > 9) return 86400;
    return std::min<std::int64_t>(std::stoll(text), 86400);
  }
  std::optional<std::int64_t> instant = ParseFeedDate(text);
  if (!instant) return std::nullopt;
  const std::int64_t seconds = *instant / 1000000 - now;
  return seconds > 0 ? std::min<std::int64_t>(seconds, 86400) : 0;
}

FetchResult Fetch(const std::string& url, const FetchLimits& limits, const Validators& validators) {
  if (IsFileUrl(url)) return FetchFile(url, limits);
  FetchResult result;
  const CurlApi* api = LoadedCurl(&result.error);
  if (api == nullptr) {
    result.effective_url = url;
    return result;
  }
  if (api->global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    result.error = "cannot initialise libcurl";
    return result;
  }
  const auto easy_cleanup = api->easy_cleanup;
  const auto slist_free_all = api->slist_free_all;
  std::unique_ptr<CURL, decltype(easy_cleanup)> handle(api->easy_init(), easy_cleanup);
  if (!handle) {
    result.error = "cannot initialise libcurl";
    return result;
  }
  CURL* curl = handle.get();
  Sink sink;
  sink.max_bytes = limits.max_bytes;
  char error_buffer[CURL_ERROR_SIZE] = {};
  std::unique_ptr<curl_slist, decltype(slist_free_all)> headers(
      api->slist_append(nullptr, (std::string("Accept: ") + kAccept).c_str()), slist_free_all);
  // Validators go back exactly as the server sent them.
  if (headers && !validators.etag.empty()) {
    api->slist_append(headers.get(), ("If-None-Match: " + validators.etag).c_str());
  }
  if (headers && !validators.last_modified.empty()) {
    api->slist_append(headers.get(), ("If-Modified-Since: " + validators.last_modified).c_str());
  }
  Headers received;

  api->easy_setopt(curl, CURLOPT_ERRORBUFFER, error_buffer);
  api->easy_setopt(curl, CURLOPT_URL, url.c_str());
  api->easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https,file");
  // A server must not be able to send the converter to a local file.
  api->easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  api->easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  api->easy_setopt(curl, CURLOPT_MAXREDIRS, limits.max_redirects);
  api->easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
  api->easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, limits.connect_timeout_seconds);
  api->easy_setopt(curl, CURLOPT_TIMEOUT, limits.total_timeout_seconds);
  api->easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.max_bytes));
  api->easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  api->easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
  api->easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
  api->easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
  api->easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  api->easy_setopt(curl, CURLOPT_HEADERFUNCTION, CollectHeader);
  api->easy_setopt(curl, CURLOPT_HEADERDATA, &received);

  const CURLcode code = api->easy_perform(curl);
  char* effective = nullptr;
  if (api->easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective) {
    result.effective_url = effective;
  } else {
    result.effective_url = url;
  }
  if (code != CURLE_OK) {
    if (sink.too_large || code == CURLE_FILESIZE_EXCEEDED) {
      result.error = "the document is larger than " + std::to_string(limits.max_bytes) + " bytes";
    } else {
      result.error = error_buffer[0] != '\0' ? error_buffer : api->easy_strerror(code);
    }
    return result;
  }
  long status = 0;
  api->easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  char* scheme = nullptr;
  api->easy_getinfo(curl, CURLINFO_SCHEME, &scheme);
  const bool http =
      scheme != nullptr && (api->strequal(scheme, "http") || api->strequal(scheme, "https"));
  if (http) {
    result.status = status;
    result.etag = received.etag;
    result.last_modified = received.last_modified;
    result.no_store = received.no_store;
  }
  const bool conditional = !validators.etag.empty() || !validators.last_modified.empty();
  if (http && status == 304 && conditional) {
    result.not_modified = true;
    return result;
  }
  if (http && (status < 200 || status >= 300)) {
    result.error = "the server answered with HTTP status " + std::to_string(status);
    if (status == 429 || status == 503) {
      const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count();
      result.retry_after_seconds = RetryAfterSeconds(received.retry_after, now);
      if (result.retry_after_seconds) {
        result.error += " and asks to be asked again in " +
                        std::to_string(*result.retry_after_seconds) +
                        " seconds (Retry-After); not retrying";
      }
    }
    return result;
  }
  result.body = std::move(sink.body);
  result.ok = true;
  return result;
}

}  // namespace feedpull
