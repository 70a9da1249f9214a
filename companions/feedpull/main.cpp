// FeedPull.exe <URL>: fetches one feed and leaves it, converted, in the
// product's data folder as QLUX\Dovel\RSSLinks\Temp_RSS.xml for rssnotify.
//
// The output file is replaced atomically and only after a successful fetch
// and conversion: on any failure the file stays as it was, one line with the
// reason goes to standard error (before anything else) and the exit status
// says what failed:
//   1 no URL given
//   2 no usable installation, or the output cannot be written
//   3 the fetch failed (the server's Retry-After still holding included)
//   4 the fetched document is not a feed, or more than a feed may be (items,
//     converted size, memory: feed_convert.h)
//
// Started by a run, it appends the mark of the run's call to the output and
// ends with the run (app/product/converter_call.h, docs/converter.md).
//
// An http(s) feed is asked for with the validators of the last full fetch
// (see validator_cache.h); on "304 Not Modified" the converted document of
// that fetch is written again, byte for byte, as if the feed had been
// fetched in full.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/product/converter_call.h"
#include "app/product/folders.h"
#include "companions/feedpull/feed_convert.h"
#include "companions/feedpull/fetch.h"
#include "companions/feedpull/validator_cache.h"
#include "platform/ascii.h"
#include "platform/failure.h"
#include "platform/filesystem.h"
#include "platform/process.h"
#include "platform/system.h"

namespace {

constexpr int kNoUrl = 1;
constexpr int kNoOutput = 2;
constexpr int kFetchFailed = 3;
constexpr int kNotAFeed = 4;

// A Retry-After is honoured for at most this long, so that a server's slip
// (or a clock set back) cannot silence a feed for days.
constexpr std::int64_t kMaxRetryAfterSeconds = 6 * 3600;

// rssnotify keeps the first line of the converter's error output: the
// message is one line whatever a URL or a server put into it.
int Fail(int status, std::string message) {
  std::replace_if(
      message.begin(), message.end(),
      [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }, ' ');
  std::fprintf(stderr, "FeedPull: %s\n", message.c_str());
  std::fflush(stderr);
  return status;
}

bool IsHttpUrl(const std::string& url) {
  const std::string scheme = platform::ascii::LowerCase(url.substr(0, url.find(':')));
  return scheme == "http" || scheme == "https";
}

std::int64_t SecondsNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The cache is a saving, never a condition: when it cannot be written the
// run has still done its work.
void UpdateCacheQuietly(const std::string& path,
                        const std::function<void(std::vector<feedpull::CacheEntry>&)>& change) {
  try {
    feedpull::UpdateCache(path, change);
  } catch (const platform::Failure&) {
  }
}

// The mark of the run's call that this converter serves ("" when it was
// started by hand), with the URL argument as given.
std::string call_mark;

int WriteOutput(const std::string& output, const std::string& document) {
  platform::FileSystem& files = platform::Files();
  try {
    files.ReplaceFileAtomically(output, document + call_mark);
  } catch (const platform::Failure& failure) {
    return Fail(kNoOutput, "cannot write " + files.NativePath(output) + ": " +
                               failure.description() + " (" + std::to_string(failure.number()) +
                               ")");
  }
  return 0;
}

int Run(int argc, char** argv) {
  // In UTF-8 on every system: a file URL may name a path in any script.
  const std::vector<std::string> arguments = platform::ProgramArguments(argc, argv);
  // Started by a run: it ends with the run, and marks its output as the
  // call's. A malformed value names no call and is not written into a file.
  const std::string call =
      platform::EnvironmentValue(product::kConverterCallVariable).value_or(std::string());
  if (!call.empty()) {
    const std::uint32_t starter = product::ConverterCallStarter(call);
    if (starter != 0 && !platform::EndWithStarter(starter)) {
      return Fail(kNoOutput, "the run that started the converter has already ended");
    }
    if (starter != 0 && !arguments.empty()) call_mark = product::ConverterMark(call, arguments[0]);
  }
  const std::string url =
      arguments.empty() ? std::string() : std::string(platform::ascii::Trim(arguments[0]));
  if (url.empty()) return Fail(kNoUrl, "no feed URL given (usage: FeedPull.exe <URL>)");

  std::string install_path;
  std::string data_path;
  if (!product::FindProductFolders(install_path, data_path)) {
    return Fail(kNoOutput, "the installation path is not registered or does not exist");
  }
  const std::string folder = data_path + "QLUX\\Dovel\\RSSLinks\\";
  const std::string output = folder + "Temp_RSS.xml";
  const std::string cache_path = folder + "FeedPull_Cache.dat";

  const bool http = IsHttpUrl(url);
  bool cache_damaged = false;
  std::optional<feedpull::CacheEntry> cached;
  if (http) {
    std::vector<feedpull::CacheEntry> entries = feedpull::LoadCache(cache_path, {}, &cache_damaged);
    if (const feedpull::CacheEntry* entry = feedpull::FindEntry(entries, url)) cached = *entry;
  }
  const std::int64_t now = SecondsNow();
  if (cached && cached->retry_not_before > now &&
      cached->retry_not_before <= now + kMaxRetryAfterSeconds) {
    return Fail(kFetchFailed, "not fetching " + url + ": the server asked to be left alone for " +
                                  std::to_string(cached->retry_not_before - now) +
                                  " more seconds (Retry-After)");
  }

  feedpull::Validators validators;
  if (cached && !cached->document.empty()) {
    validators.etag = cached->etag;
    validators.last_modified = cached->last_modified;
  }
  feedpull::FetchResult fetched = feedpull::Fetch(url, {}, validators);

  if (fetched.not_modified) {
    if (int status = WriteOutput(output, cached->document); status != 0) return status;
    // A 304 may carry newer validators; otherwise the entry stands as it is.
    feedpull::CacheEntry renewed = *cached;
    if (feedpull::UsableValidator(fetched.etag)) renewed.etag = fetched.etag;
    if (feedpull::UsableValidator(fetched.last_modified)) {
      renewed.last_modified = fetched.last_modified;
    }
    renewed.retry_not_before = 0;
    if (renewed != *cached) {
      UpdateCacheQuietly(cache_path,
                         [&](auto& entries) { feedpull::StoreEntry(entries, renewed); });
    }
    return 0;
  }

  if (!fetched.ok) {
    if (http && fetched.retry_after_seconds && *fetched.retry_after_seconds > 0) {
      // Keep what the entry holds; only the next runs are held back.
      feedpull::CacheEntry held;
      held.url = url;
      if (cached) held = *cached;
      held.retry_not_before = now + std::min(*fetched.retry_after_seconds, kMaxRetryAfterSeconds);
      UpdateCacheQuietly(cache_path, [&](auto& entries) { feedpull::StoreEntry(entries, held); });
    }
    return Fail(kFetchFailed, "cannot fetch " + url + ": " + fetched.error);
  }

  std::string error;
  std::optional<std::string> document =
      feedpull::ConvertFeed(fetched.body, fetched.effective_url, &error);
  if (!document) return Fail(kNotAFeed, "cannot convert " + url + ": " + error);
  if (int status = WriteOutput(output, *document); status != 0) return status;

  if (!http) return 0;
  feedpull::CacheEntry entry;
  entry.url = url;
  if (feedpull::UsableValidator(fetched.etag)) entry.etag = fetched.etag;
  if (feedpull::UsableValidator(fetched.last_modified)) entry.last_modified = fetched.last_modified;
  entry.document = *document;
  if (!fetched.no_store && (!entry.etag.empty() || !entry.last_modified.empty())) {
    UpdateCacheQuietly(cache_path, [&](auto& entries) { feedpull::StoreEntry(entries, entry); });
  } else if (cached || cache_damaged) {
    // What the server now says not to keep, or cannot be asked about, goes.
    UpdateCacheQuietly(cache_path, [&](auto& entries) { feedpull::RemoveEntry(entries, url); });
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  feedpull::LimitXmlMemory();
  try {
    return Run(argc, argv);
  } catch (const std::exception& failure) {
    return Fail(kNoOutput, failure.what());
  }
}
