// Fetching a feed document with libcurl.
#pragma once

#include <cstddef>
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

struct FetchResult {
  bool ok = false;
  std::string body;           // the document's bytes, content coding removed
  std::string effective_url;  // the URL the body came from, after redirects
  std::string error;          // one line, when not ok
};

// Fetches `url` (http, https or file). An HTTP status other than 2xx, a
// transfer over the limits or any transfer error is a failure.
FetchResult Fetch(const std::string& url, const FetchLimits& limits = {});

}  // namespace feedpull
