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
//
// A run calls the converter once per feed, one call after the other. So that
// the run waits about as long as its slowest feed rather than the sum of
// them, the call for the first feed of the run's list (the update-state
// file's [RSSLinks] Urls) fetches all the list's http(s) feeds side by side,
// reads its file feeds meanwhile on two threads, and settles each as its own
// call would; the later calls of the same run answer from what it kept
// (run_answers.h), and fetch for themselves only what it could not take.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "app/product/converter_call.h"
#include "app/product/feed_files.h"
#include "app/product/folders.h"
#include "companions/feedpull/feed_convert.h"
#include "companions/feedpull/fetch.h"
#include "companions/feedpull/run_answers.h"
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
    // A hand-over that the run reads at once: a crash has ended the run too.
    files.ReplaceFileAtomicallyLazily(output, document + call_mark,
                                      platform::FileSystem::LazyFlush::kNone);
  } catch (const platform::Failure& failure) {
    return Fail(kNoOutput, "cannot write " + files.NativePath(output) + ": " +
                               failure.description() + " (" + std::to_string(failure.number()) +
                               ")");
  }
  return 0;
}

// Where the converter works, in the product's data folder.
struct Folder {
  std::string path;
  std::string output;
  std::string cache;
};

// What the converter has to say for one URL: its exit status, with the
// line for standard error or the document for the output file.
struct Outcome {
  int status = 0;
  std::string message;
  std::string document;
};

// What settling a fetch changes in the validator cache.
struct CacheChange {
  enum class Kind { kNone, kStore, kRemove } kind = Kind::kNone;
  feedpull::CacheEntry entry;
};

void ApplyChanges(const std::string& cache_path, const std::vector<CacheChange>& changes) {
  if (std::all_of(changes.begin(), changes.end(),
                  [](const CacheChange& c) { return c.kind == CacheChange::Kind::kNone; })) {
    return;
  }
  UpdateCacheQuietly(cache_path, [&](auto& entries) {
    for (const CacheChange& change : changes) {
      if (change.kind == CacheChange::Kind::kStore) feedpull::StoreEntry(entries, change.entry);
      if (change.kind == CacheChange::Kind::kRemove)
        feedpull::RemoveEntry(entries, change.entry.url);
    }
  });
}

// Says the outcome: the document written, or the failure's line. The cache
// changes only once the document is in place.
int Respond(const Outcome& outcome, const Folder& folder, const CacheChange& change = {}) {
  if (outcome.status == 0) {
    if (int status = WriteOutput(folder.output, outcome.document); status != 0) return status;
  }
  ApplyChanges(folder.cache, {change});
  return outcome.status == 0 ? 0 : Fail(outcome.status, outcome.message);
}

// The failure of a URL whose server asked, with Retry-After, to be left
// alone for a while yet.
std::optional<Outcome> HeldBack(const std::string& url,
                                const std::optional<feedpull::CacheEntry>& cached,
                                std::int64_t now) {
  if (!cached || cached->retry_not_before <= now ||
      cached->retry_not_before > now + kMaxRetryAfterSeconds) {
    return std::nullopt;
  }
  return Outcome{kFetchFailed,
                 "not fetching " + url + ": the server asked to be left alone for " +
                     std::to_string(cached->retry_not_before - now) + " more seconds (Retry-After)",
                 {}};
}

feedpull::Validators ValidatorsOf(const std::optional<feedpull::CacheEntry>& cached) {
  feedpull::Validators validators;
  if (cached && !cached->document.empty()) {
    validators.etag = cached->etag;
    validators.last_modified = cached->last_modified;
  }
  return validators;
}

// The outcome of fetching `url`, asked for with the validators of `cached`
// (its cache entry, if any), and what it changes in the cache.
Outcome Settle(const std::string& url, bool http, const std::optional<feedpull::CacheEntry>& cached,
               bool cache_damaged, const feedpull::FetchResult& fetched, std::int64_t now,
               CacheChange& change) {
  if (fetched.not_modified) {
    // A 304 may carry newer validators; otherwise the entry stands as it is.
    feedpull::CacheEntry renewed = *cached;
    if (feedpull::UsableValidator(fetched.etag)) renewed.etag = fetched.etag;
    if (feedpull::UsableValidator(fetched.last_modified)) {
      renewed.last_modified = fetched.last_modified;
    }
    renewed.retry_not_before = 0;
    if (renewed != *cached) change = {CacheChange::Kind::kStore, renewed};
    return {0, {}, cached->document};
  }

  if (!fetched.ok) {
    if (http && fetched.retry_after_seconds && *fetched.retry_after_seconds > 0) {
      // Keep what the entry holds; only the next runs are held back.
      feedpull::CacheEntry held;
      held.url = url;
      if (cached) held = *cached;
      held.retry_not_before = now + std::min(*fetched.retry_after_seconds, kMaxRetryAfterSeconds);
      change = {CacheChange::Kind::kStore, held};
    }
    return {kFetchFailed, "cannot fetch " + url + ": " + fetched.error, {}};
  }

  std::string error;
  std::optional<std::string> document =
      feedpull::ConvertFeed(fetched.body, fetched.effective_url, &error);
  if (!document) return {kNotAFeed, "cannot convert " + url + ": " + error, {}};

  if (http) {
    feedpull::CacheEntry entry;
    entry.url = url;
    if (feedpull::UsableValidator(fetched.etag)) entry.etag = fetched.etag;
    if (feedpull::UsableValidator(fetched.last_modified)) {
      entry.last_modified = fetched.last_modified;
    }
    entry.document = *document;
    if (!fetched.no_store && (!entry.etag.empty() || !entry.last_modified.empty())) {
      change = {CacheChange::Kind::kStore, std::move(entry)};
    } else if (cached || cache_damaged) {
      // What the server now says not to keep, or cannot be asked about, goes.
      change = {CacheChange::Kind::kRemove, {}};
      change.entry.url = url;
    }
  }
  return {0, {}, std::move(*document)};
}

// The cache's entry for an http(s) `url`.
std::optional<feedpull::CacheEntry> CachedEntry(const std::vector<feedpull::CacheEntry>& entries,
                                                const std::string& url) {
  if (const feedpull::CacheEntry* entry = feedpull::FindEntry(entries, url)) return *entry;
  return std::nullopt;
}

// Fetches `url` alone.
int FetchAlone(const std::string& url, const Folder& folder) {
  const bool http = IsHttpUrl(url);
  bool cache_damaged = false;
  std::optional<feedpull::CacheEntry> cached;
  if (http) cached = CachedEntry(feedpull::LoadCache(folder.cache, {}, &cache_damaged), url);
  const std::int64_t now = SecondsNow();
  if (std::optional<Outcome> held = HeldBack(url, cached, now)) return Respond(*held, folder);

  const feedpull::FetchResult fetched = feedpull::Fetch(url, {}, ValidatorsOf(cached));
  CacheChange change;
  const Outcome outcome = Settle(url, http, cached, cache_damaged, fetched, now, change);
  return Respond(outcome, folder, change);
}

// How long a run's answers may be taken: a run's calls follow one another
// within their bounds.
constexpr std::int64_t kAnswersFreshSeconds = 15 * 60;
// Answers left behind by a run that never came to its last feed go after
// this long.
constexpr std::int64_t kAnswersLeftSeconds = 60 * 60;

// The run's feed list as the run recorded it for this user before its
// first call, each URL as the converter takes its argument.
std::vector<std::string> RunFeeds(const std::string& data_path) {
  std::string user_name;
  try {
    product::ReadUserName(user_name);
  } catch (const std::exception&) {
    return {};
  }
  const std::string path = product::UpdateStatePath(data_path, user_name);
  std::vector<std::string> feeds =
      product::SplitFeedList(product::ReadWholeStateValue("RSSLinks", "Urls", path));
  for (std::string& feed : feeds) feed = std::string(platform::ascii::Trim(feed));
  return feeds;
}

std::optional<feedpull::RunAnswers> LoadAnswers(const std::string& path, const std::string& url) {
  platform::FileSystem& files = platform::Files();
  try {
    if (!files.FileExists(path) || files.Stamp(path).size > feedpull::kMaxAnswersBytes) {
      return std::nullopt;
    }
    return feedpull::ParseAnswers(files.ReadFileBytes(path), url);
  } catch (const platform::Failure&) {
    return std::nullopt;
  }
}

void RemoveQuietly(const std::string& path) {
  try {
    platform::Files().RemoveFile(path, true);
  } catch (const platform::Failure&) {
  }
}

// Removes the answers of runs that ended before their last feed.
void RemoveLeftAnswers(const Folder& folder) {
  platform::FileSystem& files = platform::Files();
  const std::int64_t now = SecondsNow();
  try {
    for (const std::string& name : files.EntryNames(folder.path)) {
      if (!feedpull::IsAnswersFileName(name)) continue;
      const std::string path = folder.path + name;
      const std::int64_t modified = files.Stamp(path).modified_ns / 1000000000;
      if (now - modified > kAnswersLeftSeconds) RemoveQuietly(path);
    }
  } catch (const platform::Failure&) {
  }
}

// The run's file feeds, each read and converted as its own call would, by
// this thread and one more: a run's conversions are most of its time when
// its feeds are local. Started before the run's http(s) fetch, which this
// thread then does first; Take() joins in the work left and waits for the
// rest. What is kept stays within the bound of the run's answers; the feeds
// past it are left to their own calls.
class FileFeedReads {
 public:
  FileFeedReads(const std::vector<std::string>& feeds, std::int64_t now) : now_(now) {
    for (const std::string& feed : feeds) {
      if (feedpull::IsFileUrl(feed) && std::find(urls_.begin(), urls_.end(), feed) == urls_.end()) {
        urls_.push_back(feed);
      }
    }
    outcomes_.resize(urls_.size());
    if (urls_.size() < 2) return;
    try {
      helper_ = std::async(std::launch::async, [this] { Work(); });
    } catch (const std::system_error&) {
      // This thread reads them all.
    }
  }
  ~FileFeedReads() {
    if (helper_.valid()) helper_.wait();
  }
  FileFeedReads(const FileFeedReads&) = delete;
  FileFeedReads& operator=(const FileFeedReads&) = delete;

  // Each file feed that was read, with its outcome.
  std::vector<std::pair<std::string, Outcome>> Take() {
    Work();
    if (helper_.valid()) helper_.get();
    std::vector<std::pair<std::string, Outcome>> taken;
    for (std::size_t i = 0; i < urls_.size(); ++i) {
      if (outcomes_[i]) taken.emplace_back(urls_[i], std::move(*outcomes_[i]));
    }
    return taken;
  }

 private:
  void Work() {
    for (std::size_t i = next_++; i < urls_.size() && kept_ < feedpull::kMaxAnswersBytes;
         i = next_++) {
      CacheChange none;  // a file feed has no cache entry
      Outcome outcome = Settle(urls_[i], false, std::nullopt, false,
                               feedpull::Fetch(urls_[i], {}, {}), now_, none);
      kept_ += outcome.document.size() + outcome.message.size();
      outcomes_[i] = std::move(outcome);
    }
  }

  std::int64_t now_;
  std::vector<std::string> urls_;
  std::vector<std::optional<Outcome>> outcomes_;
  std::atomic<std::size_t> next_{0};
  std::atomic<std::size_t> kept_{0};
  std::future<void> helper_;
};

// The first call of a run: fetches all its http(s) feeds side by side and
// reads its file feeds meanwhile, settles each one as its own call would,
// and keeps the others' answers for their calls. Returns the outcome for
// `url` and its cache change, when the fetch took it.
std::optional<Outcome> FetchRunFeeds(const std::string& url, const std::vector<std::string>& feeds,
                                     const std::string& run, const Folder& folder,
                                     CacheChange& own_change) {
  RemoveLeftAnswers(folder);
  const std::int64_t now = SecondsNow();
  FileFeedReads file_feeds(feeds, now);
  // Without an http(s) feed the cache need not be read.
  bool cache_damaged = false;
  const std::vector<feedpull::CacheEntry> entries =
      std::any_of(feeds.begin(), feeds.end(), IsHttpUrl)
          ? feedpull::LoadCache(folder.cache, {}, &cache_damaged)
          : std::vector<feedpull::CacheEntry>{};
  std::vector<feedpull::FetchRequest> requests;
  std::vector<std::optional<feedpull::CacheEntry>> cached;
  for (const std::string& feed : feeds) {
    if (!IsHttpUrl(feed) ||
        std::any_of(requests.begin(), requests.end(), [&](auto& r) { return r.url == feed; })) {
      continue;
    }
    std::optional<feedpull::CacheEntry> entry = CachedEntry(entries, feed);
    // A server that asked to be left alone is not asked; its call says so.
    if (HeldBack(feed, entry, now)) continue;
    requests.push_back({feed, ValidatorsOf(entry)});
    cached.push_back(std::move(entry));
  }

  feedpull::RunAnswers answers{run, now, {}};
  std::vector<CacheChange> changes;
  std::optional<Outcome> own;
  feedpull::FetchSideBySide(requests, {}, [&](std::size_t i, feedpull::FetchResult& fetched) {
    const std::string& feed = requests[i].url;
    CacheChange change;
    Outcome outcome = Settle(feed, true, cached[i], cache_damaged, fetched, now, change);
    fetched.body.clear();
    // Its own answer too: the feed may come again later in the list.
    feedpull::AddAnswer(answers, {feed, outcome.status, outcome.message, outcome.document});
    if (feed == url) {
      own = std::move(outcome);
      own_change = std::move(change);
      return;
    }
    changes.push_back(std::move(change));
  });
  ApplyChanges(folder.cache, changes);
  for (auto& [feed, outcome] : file_feeds.Take()) {
    feedpull::AddAnswer(answers, {feed, outcome.status, outcome.message, outcome.document});
    if (feed == url) own = std::move(outcome);
  }
  if (feeds.size() > 1) {
    for (feedpull::Answer& answer : answers.answers) {
      const auto feed = static_cast<std::size_t>(std::find(feeds.begin(), feeds.end(), answer.url) -
                                                 feeds.begin());
      try {
        platform::Files().ReplaceFileAtomicallyLazily(
            folder.path + feedpull::AnswersFileName(run, feed),
            feedpull::SerializeAnswers({run, answers.written, {std::move(answer)}}),
            platform::FileSystem::LazyFlush::kNone);
      } catch (const platform::Failure&) {
        // That feed's call fetches it itself.
      }
    }
  }
  return own;
}

// A converter started by a run: the run's first call fetches the run's
// feeds side by side, its later calls take what it fetched.
int ServeRun(const std::string& url, const std::string& run, const std::string& data_path,
             const Folder& folder) {
  const std::vector<std::string> feeds = RunFeeds(data_path);
  const auto found = std::find(feeds.begin(), feeds.end(), url);
  if (found == feeds.end()) return FetchAlone(url, folder);
  // The last feed's call clears up after the run, whatever its answer.
  struct ClearUp {
    const Folder& folder;
    const std::string& run;
    std::size_t feeds;
    bool last;
    ~ClearUp() {
      for (std::size_t feed = 0; last && feed < feeds; ++feed) {
        RemoveQuietly(folder.path + feedpull::AnswersFileName(run, feed));
      }
    }
  } clear_up{folder, run, feeds.size(), url == feeds.back()};

  const auto index = static_cast<std::size_t>(found - feeds.begin());
  if (std::optional<feedpull::RunAnswers> answers =
          LoadAnswers(folder.path + feedpull::AnswersFileName(run, index), url)) {
    const std::int64_t now = SecondsNow();
    const feedpull::Answer* answer = feedpull::FindAnswer(*answers, url);
    if (answers->run == run && answer != nullptr && answers->written <= now + 60 &&
        now - answers->written <= kAnswersFreshSeconds) {
      return Respond({answer->status, answer->message, answer->document}, folder);
    }
  }
  if (url == feeds.front()) {
    CacheChange change;
    if (std::optional<Outcome> own = FetchRunFeeds(url, feeds, run, folder, change)) {
      return Respond(*own, folder, change);
    }
  }
  return FetchAlone(url, folder);
}

int Run(int argc, char** argv) {
  // In UTF-8 on every system: a file URL may name a path in any script.
  const std::vector<std::string> arguments = platform::ProgramArguments(argc, argv);
  // Started by a run: it ends with the run, and marks its output as the
  // call's. A malformed value names no call and is not written into a file.
  const std::string call =
      platform::EnvironmentValue(product::kConverterCallVariable).value_or(std::string());
  std::string run;
  if (!call.empty()) {
    const std::uint32_t starter = product::ConverterCallStarter(call);
    if (starter != 0 && !platform::EndWithStarter(starter)) {
      return Fail(kNoOutput, "the run that started the converter has already ended");
    }
    if (starter != 0 && !arguments.empty()) call_mark = product::ConverterMark(call, arguments[0]);
    run = product::ConverterCallRun(call);
  }
  const std::string url =
      arguments.empty() ? std::string() : std::string(platform::ascii::Trim(arguments[0]));
  if (url.empty()) return Fail(kNoUrl, "no feed URL given (usage: FeedPull.exe <URL>)");

  std::string install_path;
  std::string data_path;
  if (!product::FindProductFolders(install_path, data_path)) {
    return Fail(kNoOutput, "the installation path is not registered or does not exist");
  }
  Folder folder;
  folder.path = data_path + "QLUX\\Dovel\\RSSLinks\\";
  folder.output = folder.path + "Temp_RSS.xml";
  folder.cache = folder.path + "FeedPull_Cache.dat";
  if (!run.empty()) return ServeRun(url, run, data_path, folder);
  return FetchAlone(url, folder);
}

}  // namespace

int main(int argc, char** argv) {
  platform::KeepFreedMemory();
  feedpull::LimitXmlMemory();
  try {
    return Run(argc, argv);
  } catch (const std::exception& failure) {
    return Fail(kNoOutput, failure.what());
  }
}
