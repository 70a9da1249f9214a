#include "companions/feedpull/fetch.h"

#include <curl/curl.h>

#include <memory>

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

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

FetchResult Fetch(const std::string& url, const FetchLimits& limits) {
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
  if (http && (status < 200 || status >= 300)) {
    result.error = "the server answered with HTTP status " + std::to_string(status);
    return result;
  }
  result.body = std::move(sink.body);
  result.ok = true;
  return result;
}

}  // namespace feedpull
