// Fetching a feed document: http(s) with libcurl, loaded only when such a URL
// is fetched; file URLs are read directly.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace feedpull {

struct FetchLimits {
  long connect_timeout_seconds = 10;
  // The whole transfer, redirects included; the caller waits 30 seconds for
  // the converter, and the conversion and the write need a moment too.
  long total_timeout_seconds = 20;
  std::size_t max_bytes = 10 * 1024 * 1024;  // after content decoding
  long max_redirects = 5;
};

// The validators of the copy the caller holds, sent as If-None-Match and
// If-Modified-Since; empty ones are not sent.
struct Validators {
  std::string etag;
  std::string last_modified;
};

struct FetchResult {
  bool ok = false;
  // The server answered "304 Not Modified" to a conditional request: not
  // ok, no body, and the caller's copy is current.
  bool not_modified = false;
  long status = 0;            // the last HTTP status; 0 for a file URL
  std::string body;           // the document's bytes, content coding removed
  std::string effective_url;  // the URL the body came from, after redirects
  std::string error;          // one line, when neither ok nor not_modified

  // From the last response's headers (HTTP only).
  std::string etag;
  std::string last_modified;
  bool no_store = false;  // Cache-Control: no-store
  // 429 or 503 with a Retry-After: how many seconds the server asks the
  // client to wait (an HTTP-date is turned into seconds from now).
  std::optional<std::int64_t> retry_after_seconds;
};

// A file URL taken apart the way libcurl takes it: the host may only be
// empty, "localhost" (any case) or "127.0.0.1"; the path ends at "?" or "#"
// and is percent-decoded ("%2F" too; a "%" not followed by two hex digits
// stays as it is).
struct FileUrl {
  std::string path;        // the local path, decoded
  std::string normalized;  // "file://" and the path as written, dot segments removed
};

// True when `url`'s scheme is "file" (any case).
bool IsFileUrl(const std::string& url);

// Nothing when `url` is not a file URL libcurl would read: another scheme,
// another host, a user or port, no absolute path, a space or control
// character anywhere, or "%00" in the path.
std::optional<FileUrl> ParseFileUrl(const std::string& url);

// Fetches `url` (http, https or file). A file URL is read without libcurl,
// from the file that its path names on the system (see
// platform::FileUrlNativePath: "file:///C:/feeds/a.xml" on Windows),
// with the same limit on its size; when libcurl cannot be loaded any other
// URL fails with a one-line reason. An HTTP status other than 2xx or a
// 304 to a conditional request, a transfer over the limits or any transfer
// error is a failure.
FetchResult Fetch(const std::string& url, const FetchLimits& limits = {},
                  const Validators& validators = {});

struct FetchRequest {
  std::string url;  // http or https
  Validators validators;
};

struct SideBySide {
  FetchLimits fetch;  // for each transfer
  std::size_t max_transfers = 8;
  // A server is asked for at most this many documents at a time.
  std::size_t max_per_host = 2;
  // No transfer starts later than this after the first, so that the last
  // one ends, at its bound, well within the caller's own bound.
  std::chrono::milliseconds start_window{5000};
};

// Fetches the http(s) `requests` side by side within `limits`, each as
// Fetch would, and hands each result to `done` with the request's index as
// soon as it is in, so that only the documents of the running transfers are
// held at a time. A request that could not start within the window (or at
// all: libcurl missing) gets no call.
void FetchSideBySide(const std::vector<FetchRequest>& requests, const SideBySide& limits,
                     const std::function<void(std::size_t, FetchResult&)>& done);

// The host an http(s) URL names, in lower case, without user or port; ""
// for a text with no "://".
std::string UrlHost(const std::string& url);

// The seconds a Retry-After value asks for: delay-seconds, or an HTTP-date
// taken against `now` (seconds since 1970, UTC); never negative. Nothing for
// a value that is neither.
std::optional<std::int64_t> RetryAfterSeconds(const std::string& value, std::int64_t now);

}  // namespace feedpull
