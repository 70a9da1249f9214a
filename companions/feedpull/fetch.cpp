#include "companions/feedpull/fetch.h"

// libcurl is reached through CurlApi (curl_api.h): only its declarations
// are used here.
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <map>
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

namespace {

// libcurl, loaded and initialised; nullptr with the reason in `result`.
const CurlApi* StartCurl(const std::string& url, FetchResult& result) {
  const CurlApi* api = LoadedCurl(&result.error);
  if (api == nullptr) {
    result.effective_url = url;
    return nullptr;
  }
  if (api->global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    result.error = "cannot initialise libcurl";
    return nullptr;
  }
  return api;
}

// One http(s) transfer: its easy handle and what the handle's callbacks
// collect, which is why it never moves.
class Transfer {
 public:
  Transfer(const CurlApi& api, const std::string& url, const FetchLimits& limits,
           const Validators& validators)
      : api_(api),
        url_(url),
        max_bytes_(limits.max_bytes),
        conditional_(!validators.etag.empty() || !validators.last_modified.empty()),
        handle_(api.easy_init(), api.easy_cleanup),
        headers_(api.slist_append(nullptr, (std::string("Accept: ") + kAccept).c_str()),
                 api.slist_free_all) {
    if (!handle_) return;
    sink_.max_bytes = limits.max_bytes;
    // Validators go back exactly as the server sent them.
    if (headers_ && !validators.etag.empty()) {
      api.slist_append(headers_.get(), ("If-None-Match: " + validators.etag).c_str());
    }
    if (headers_ && !validators.last_modified.empty()) {
      api.slist_append(headers_.get(), ("If-Modified-Since: " + validators.last_modified).c_str());
    }
    CURL* curl = handle_.get();
    api.easy_setopt(curl, CURLOPT_ERRORBUFFER, error_buffer_);
    api.easy_setopt(curl, CURLOPT_URL, url_.c_str());
    api.easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https,file");
    // A server must not be able to send the converter to a local file.
    api.easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    api.easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    api.easy_setopt(curl, CURLOPT_MAXREDIRS, limits.max_redirects);
    api.easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    api.easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, limits.connect_timeout_seconds);
    api.easy_setopt(curl, CURLOPT_TIMEOUT, limits.total_timeout_seconds);
    api.easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.max_bytes));
    api.easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    api.easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
    api.easy_setopt(curl, CURLOPT_HTTPHEADER, headers_.get());
    api.easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    api.easy_setopt(curl, CURLOPT_WRITEDATA, &sink_);
    api.easy_setopt(curl, CURLOPT_HEADERFUNCTION, CollectHeader);
    api.easy_setopt(curl, CURLOPT_HEADERDATA, &received_);
  }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // Null when libcurl could not make a handle.
  CURL* handle() const { return handle_.get(); }

  // What the transfer, ended with `code`, brought.
  FetchResult Finish(CURLcode code) {
    FetchResult result;
    CURL* curl = handle_.get();
    char* effective = nullptr;
    if (api_.easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective) {
      result.effective_url = effective;
    } else {
      result.effective_url = url_;
    }
    if (code != CURLE_OK) {
      if (sink_.too_large || code == CURLE_FILESIZE_EXCEEDED) {
        result.error = "the document is larger than " + std::to_string(max_bytes_) + " bytes";
      } else {
        result.error = error_buffer_[0] != '\0' ? error_buffer_ : api_.easy_strerror(code);
      }
      return result;
    }
    long status = 0;
    api_.easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    char* scheme = nullptr;
    api_.easy_getinfo(curl, CURLINFO_SCHEME, &scheme);
    const bool http =
        scheme != nullptr && (api_.strequal(scheme, "http") || api_.strequal(scheme, "https"));
    if (http) {
      result.status = status;
      result.etag = received_.etag;
      result.last_modified = received_.last_modified;
      result.no_store = received_.no_store;
    }
    if (http && status == 304 && conditional_) {
      result.not_modified = true;
      return result;
    }
    if (http && (status < 200 || status >= 300)) {
      result.error = "the server answered with HTTP status " + std::to_string(status);
      if (status == 429 || status == 503) {
        const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count();
        result.retry_after_seconds = RetryAfterSeconds(received_.retry_after, now);
        if (result.retry_after_seconds) {
          result.error += " and asks to be asked again in " +
                          std::to_string(*result.retry_after_seconds) +
                          " seconds (Retry-After); not retrying";
        }
      }
      return result;
    }
    result.body = std::move(sink_.body);
    result.ok = true;
    return result;
  }

 private:
  const CurlApi& api_;
  const std::string url_;
  const std::size_t max_bytes_;
  const bool conditional_;
  std::unique_ptr<CURL, decltype(CurlApi::easy_cleanup)> handle_;
  std::unique_ptr<curl_slist, decltype(CurlApi::slist_free_all)> headers_;
  Sink sink_;
  Headers received_;
  char error_buffer_[CURL_ERROR_SIZE] = {};
};

}  // namespace

std::string UrlHost(const std::string& url) {
  std::string_view rest(url);
  const std::size_t scheme_end = rest.find("://");
  if (scheme_end == std::string_view::npos) return {};
  rest.remove_prefix(scheme_end + 3);
  rest = rest.substr(0, std::min(rest.find_first_of("/?#"), rest.size()));
  if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos) {
    rest.remove_prefix(at + 1);
  }
  if (rest.starts_with('[')) {
    rest = rest.substr(0, std::min(rest.find(']') + 1, rest.size()));
  } else {
    rest = rest.substr(0, std::min(rest.find(':'), rest.size()));
  }
  return ascii::LowerCase(rest);
}

FetchResult Fetch(const std::string& url, const FetchLimits& limits, const Validators& validators) {
  if (IsFileUrl(url)) return FetchFile(url, limits);
  FetchResult result;
  const CurlApi* api = StartCurl(url, result);
  if (api == nullptr) return result;
  Transfer transfer(*api, url, limits, validators);
  if (transfer.handle() == nullptr) {
    result.error = "cannot initialise libcurl";
    return result;
  }
  return transfer.Finish(api->easy_perform(transfer.handle()));
}

void FetchSideBySide(const std::vector<FetchRequest>& requests, const SideBySide& limits,
                     const std::function<void(std::size_t, FetchResult&)>& done) {
  if (requests.empty()) return;
  FetchResult unavailable;
  const CurlApi* api = StartCurl(requests.front().url, unavailable);
  if (api == nullptr) return;
  std::unique_ptr<CURLM, decltype(CurlApi::multi_cleanup)> multi(api->multi_init(),
                                                                 api->multi_cleanup);
  if (!multi) return;

  using Clock = std::chrono::steady_clock;
  const Clock::time_point last_start = Clock::now() + limits.start_window;
  std::vector<std::unique_ptr<Transfer>> running(requests.size());
  std::vector<bool> started(requests.size(), false);
  std::map<std::string, std::size_t> per_host;
  std::size_t active = 0;
  for (;;) {
    // As many waiting requests as the bounds allow, in their order; none
    // after the window, so that every transfer has its whole bound within
    // the caller's.
    if (Clock::now() < last_start) {
      for (std::size_t i = 0; i < requests.size() && active < limits.max_transfers; ++i) {
        if (started[i]) continue;
        const std::string host = UrlHost(requests[i].url);
        if (per_host[host] >= limits.max_per_host) continue;
        auto transfer =
            std::make_unique<Transfer>(*api, requests[i].url, limits.fetch, requests[i].validators);
        started[i] = true;
        if (transfer->handle() == nullptr ||
            api->multi_add_handle(multi.get(), transfer->handle()) != CURLM_OK) {
          continue;  // left to the request's own call
        }
        running[i] = std::move(transfer);
        ++per_host[host];
        ++active;
      }
    }
    if (active == 0) return;
    int still_running = 0;
    if (api->multi_perform(multi.get(), &still_running) != CURLM_OK) return;
    int queued = 0;
    while (CURLMsg* message = api->multi_info_read(multi.get(), &queued)) {
      if (message->msg != CURLMSG_DONE) continue;
      for (std::size_t i = 0; i < running.size(); ++i) {
        if (!running[i] || running[i]->handle() != message->easy_handle) continue;
        const CURLcode code = message->data.result;
        FetchResult result = running[i]->Finish(code);
        api->multi_remove_handle(multi.get(), running[i]->handle());
        running[i].reset();
        --per_host[UrlHost(requests[i].url)];
        --active;
        done(i, result);
        break;
      }
    }
    if (active > 0) api->multi_poll(multi.get(), nullptr, 0, 200, nullptr);
  }
}

}  // namespace feedpull
