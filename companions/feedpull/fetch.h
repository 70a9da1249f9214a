// Fetching a feed document with libcurl.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

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

// Fetches `url` (http, https or file). An HTTP status other than 2xx or a
// 304 to a conditional request, a transfer over the limits or any transfer
// error is a failure.
FetchResult Fetch(const std::string& url, const FetchLimits& limits = {},
                  const Validators& validators = {});

// The seconds a Retry-After value asks for: delay-seconds, or an HTTP-date
// taken against `now` (seconds since 1970, UTC); never negative. Nothing for
// a value that is neither.
std::optional<std::int64_t> RetryAfterSeconds(const std::string& value, std::int64_t now);

}  // namespace feedpull
