#include "companions/feedpull/fetch.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <memory>

#include "companions/feedpull/feed_dates.h"

namespace feedpull {
namespace {

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

std::string Trimmed(const std::string& text) {
  std::size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return {};
  return text.substr(start, text.find_last_not_of(" \t\r\n") - start + 1);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
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
  const std::string name = Lower(Trimmed(line.substr(0, colon)));
  const std::string value = Trimmed(line.substr(colon + 1));
  if (name == "etag") {
    headers->etag = value;
  } else if (name == "last-modified") {
    headers->last_modified = value;
  } else if (name == "retry-after") {
    headers->retry_after = value;
  } else if (name == "cache-control") {
    // Directives are separated by commas; "no-store" may carry no value.
    std::string directives = Lower(value);
    std::size_t start = 0;
    while (start <= directives.size()) {
      std::size_t comma = directives.find(',', start);
      if (comma == std::string::npos) comma = directives.size();
      if (Trimmed(directives.substr(start, comma - start)) == "no-store") headers->no_store = true;
      start = comma + 1;
    }
  }
  return length;
}

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

std::optional<std::int64_t> RetryAfterSeconds(const std::string& value, std::int64_t now) {
  const std::string text = Trimmed(value);
  if (text.empty()) return std::nullopt;
  if (std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
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
  FetchResult result;
  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    result.error = "cannot initialise libcurl";
    return result;
  }
  std::unique_ptr<CURL, EasyDeleter> handle(curl_easy_init());
  if (!handle) {
    result.error = "cannot initialise libcurl";
    return result;
  }
  CURL* curl = handle.get();
  Sink sink;
  sink.max_bytes = limits.max_bytes;
  char error_buffer[CURL_ERROR_SIZE] = {};
  std::unique_ptr<curl_slist, ListDeleter> headers(
      curl_slist_append(nullptr, (std::string("Accept: ") + kAccept).c_str()));
  // Validators go back exactly as the server sent them.
  if (headers && !validators.etag.empty()) {
    curl_slist_append(headers.get(), ("If-None-Match: " + validators.etag).c_str());
  }
  if (headers && !validators.last_modified.empty()) {
    curl_slist_append(headers.get(), ("If-Modified-Since: " + validators.last_modified).c_str());
  }
  Headers received;

  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_buffer);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https,file");
  // A server must not be able to send the converter to a local file.
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, limits.max_redirects);
  curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, limits.connect_timeout_seconds);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, limits.total_timeout_seconds);
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.max_bytes));
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, CollectHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &received);

  const CURLcode code = curl_easy_perform(curl);
  char* effective = nullptr;
  if (curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective) {
    result.effective_url = effective;
  } else {
    result.effective_url = url;
  }
  if (code != CURLE_OK) {
    if (sink.too_large || code == CURLE_FILESIZE_EXCEEDED) {
      result.error = "the document is larger than " + std::to_string(limits.max_bytes) + " bytes";
    } else {
      result.error = error_buffer[0] != '\0' ? error_buffer : curl_easy_strerror(code);
    }
    return result;
  }
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  char* scheme = nullptr;
  curl_easy_getinfo(curl, CURLINFO_SCHEME, &scheme);
  const bool http =
      scheme != nullptr && (curl_strequal(scheme, "http") || curl_strequal(scheme, "https"));
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
