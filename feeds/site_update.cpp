#include "feeds/site_update.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <future>
#include <optional>
#include <string_view>
#include <system_error>
#include <unordered_set>
#include <vector>

#include "app/app_state.h"
#include "app/guard.h"
#include "app/log.h"
#include "app/product/converter_call.h"
#include "app/product/feed_files.h"
#include "app/text.h"
#include "feeds/converted_reader.h"
#include "feeds/update_state.h"
#include "notify/process_runner.h"
#include "platform/ascii.h"
#include "platform/system.h"
#include "platform/xml.h"

namespace {

constexpr std::int32_t kConverterTimeoutMs = 30000;

// Each byte as it stands in a recognised text: line breaks and NULs folded to
// blanks, as the update-state file stores them (so that an item whose link
// or date held one is still known by the next run), then upper-cased.
struct RecognisedBytes {
  char byte[256];
  RecognisedBytes() {
    for (int c = 0; c < 256; ++c) {
      byte[c] = c == '\r' || c == '\n' || c == '\0'
                    ? ' '
                    : platform::ascii::ToUpper(static_cast<char>(c));
    }
  }
  char operator[](char c) const { return byte[static_cast<unsigned char>(c)]; }
};
const RecognisedBytes kRecognised;

// `text` without the bytes at either end that fold to blanks.
std::string_view RecognisedPart(std::string_view text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && kRecognised[text[begin]] == ' ') ++begin;
  while (end > begin && kRecognised[text[end - 1]] == ' ') --end;
  return text.substr(begin, end - begin);
}

// Appends `text` to `out` the way items are recognised: folded, blanks
// trimmed at both ends, upper-cased. Written in one pass, as the store's
// every item goes through it.
void AppendRecognisable(std::string_view text, std::string& out) {
  const std::string_view kept = RecognisedPart(text);
  const std::size_t at = out.size();
  out.resize(at + kept.size());
  for (std::size_t i = 0; i < kept.size(); ++i) out[at + i] = kRecognised[kept[i]];
}

// A hash (FNV-1a) of what AppendRecognisable would append, made without
// writing it: the same for a text and for its recognisable form.
std::uint64_t RecognisableHash(std::string_view text) {
  std::uint64_t hash = 14695981039346656037u;
  for (const char c : RecognisedPart(text)) {
    hash = (hash ^ static_cast<unsigned char>(kRecognised[c])) * 1099511628211u;
  }
  return hash;
}

// How an item is recognised: its link and pubDate, trimmed and upper-cased.
std::string ItemKey(const std::string& link, const std::string& pub_date) {
  std::string key;
  key.reserve(link.size() + 1 + pub_date.size());
  AppendRecognisable(link, key);
  key += '\x1f';
  AppendRecognisable(pub_date, key);
  return key;
}

// The items a loaded store already holds among those the feed offers now, so
// that an item stored by an earlier run is not stored and announced again
// when the remembered newest item has dropped out of the feed: found by a
// look at each stored item, made by several threads at once while the
// store's text is made (see SaveWithNewFirstChildren). Only stored items
// whose link the feed offers are looked at closer, and only those whose
// link's hash is an offered one are written out for that. Each thread
// reuses its strings from item to item: a store holds tens of thousands.
class StoredItems {
 public:
  explicit StoredItems(const std::vector<std::string>& offered) {
    for (const std::string& key : offered) {
      const std::string& link = *offered_links_.insert(key.substr(0, key.find('\x1f'))).first;
      offered_hashes_.insert(RecognisableHash(link));
    }
  }
  // For each part, a thread of its own.
  void Look(std::size_t part, const platform::XmlNode& child) {
    if (!child.IsNamed("item")) return;
    Part& mine = parts_[part];
    child.FirstChildNamed("link").TextInto(mine.text);
    if (offered_hashes_.count(RecognisableHash(mine.text)) == 0) return;
    mine.key.clear();
    AppendRecognisable(mine.text, mine.key);
    if (offered_links_.count(mine.key) == 0) return;
    child.FirstChildNamed("pubDate").TextInto(mine.text);
    mine.key += '\x1f';
    AppendRecognisable(mine.text, mine.key);
    mine.keys.insert(mine.key);
  }
  // Once every item has been looked at.
  bool Holds(const std::string& key) const {
    return std::any_of(parts_.begin(), parts_.end(),
                       [&](const Part& part) { return part.keys.count(key) != 0; });
  }

 private:
  // Each on cache lines of its own, as each is written by its own thread.
  struct alignas(64) Part {
    std::unordered_set<std::string> keys;
    std::string text, key;
  };
  std::unordered_set<std::string> offered_links_;
  std::unordered_set<std::uint64_t> offered_hashes_;
  std::array<Part, platform::XmlDocument::kLookParts> parts_;
};

// The converter's own word on what went wrong, when it gave one.
void LogConverterReason(const ProgramOutcome& outcome) {
  if (!outcome.error_line.empty()) {
    WriteLog("MSG : fncParseRSSSite :  Converter said :: " + outcome.error_line);
  }
}

void AppendTextElement(platform::XmlNode parent, const std::string& name, const std::string& text) {
  parent.AppendElement(name).SetText(text);
}

}  // namespace

std::string StorePath(const std::string& feed_number) {
  return product::StorePath(AppState.DataPath, feed_number, AppState.TemplateID,
                            AppState.TemplateVersion);
}

namespace {

// The store's name as the template's values give it, when making it safe
// changed it.
void LogSafeStoreName(const std::string& feed_number, const std::string& store_path) {
  const std::string as_named = AppState.DataPath + "qLUX\\Dovel\\RSSLinks\\Link_" + feed_number +
                               "_" + AppState.TemplateID + "_" + AppState.TemplateVersion + ".xml";
  if (store_path != as_named) {
    WriteLog("MSG : fncParseRSSSite :  Store file name made safe : " + store_path);
  }
}

// One call of the converter: the value that marks its output, the output's
// stamp before it started, and how it ended.
struct ConverterCall {
  std::string value;
  platform::FileStamp before;
  ProgramOutcome outcome;
};

std::string ConverterOutputPath() {
  return AppState.DataPath + "QLUX\\Dovel\\RSSLinks\\Temp_RSS.xml";
}

// Runs the converter for `url` and waits for it, at most its time-out; false
// (logged) when there is no converter to run.
bool RunConverter(platform::FileSystem& fs, const std::string& url, ConverterCall& call) {
  const std::string converter = AppState.InstallPath + "qLUX\\FeedPull.exe";
  if (!fs.FileExists(converter)) {
    WriteLog("MSG : fncParseRSSSite :  " + AppState.InstallPath +
             "qLUX\\FeedPull.exe does not exists.");
    return false;
  }
  // Output left by an earlier feed or run must never pass for this feed's:
  // only a file written since the converter started counts.
  call.before = fs.Stamp(ConverterOutputPath());
  // The converter just tested is started, with the URL as its one
  // argument, whatever blanks the installation path or the URL hold (a
  // blank URL, like an empty argument text, gives no argument); the log
  // shows the command line as the agent's other programs write it.
  platform::CommandLine command{fs.NativePath(converter), {}};
  if (!Trimmed(url).empty()) command.arguments.push_back(url);
  // Only output that carries this call's own mark is read (see
  // converter_call.h): a converter of an earlier run, or one started by
  // hand, may write the same file at any moment.
  call.value = product::NewConverterCall();
  platform::SetEnvironmentValue(product::kConverterCallVariable, call.value);
  fncExecuteShell(AppState.InstallPath + "qLUX\\FeedPull.exe " + url, kConverterTimeoutMs, kTrue,
                  command, &call.outcome);
  return true;
}

// The text of the output this call of the converter wrote, its mark cut
// off; nothing (logged) when there is none that may be read.
std::optional<std::string> ReadConverterOutput(platform::FileSystem& fs, const std::string& url,
                                               const ConverterCall& call) {
  const std::string sXMLFiletemp = ConverterOutputPath();
  WriteLog("MSG : fncParseRSSSite :  sXMLFiletemp" + sXMLFiletemp);
  const platform::FileStamp after = fs.Stamp(sXMLFiletemp);
  if (!after.exists || after == call.before) {
    WriteLog("MSG : fncParseRSSSite :  Failed to find " + AppState.DataPath +
             "qLUX\\Dovel\\RSSLinks\\TempRSS.xml" + "for URL :: " + url);
    LogConverterReason(call.outcome);
    return std::nullopt;
  }
  // A converter stopped at its time-out may have left anything, even a
  // file that is still growing: none of it is read.
  if (call.outcome.killed) {
    WriteLog(
        "MSG : fncParseRSSSite :  Output not used, the converter was stopped at its "
        "time-out, for URL :: " +
        url);
    LogConverterReason(call.outcome);
    return std::nullopt;
  }
  if (after.size > kMaxConvertedBytes) {
    WriteLog("ERR : fncParseRSSSite : Output of " + std::to_string(after.size) +
             " bytes refused, over the bound of " + std::to_string(kMaxConvertedBytes) +
             " bytes, for URL :: " + url);
    return std::nullopt;
  }

  std::string converted;
  {
    auto stream = fs.OpenTextFileForReading(sXMLFiletemp);
    if (!stream->AtEndOfStream()) {
      converted = stream->ReadAll();
      stream->Close();
    }
  }
  // Decoded text is at most one and a half times the file's bytes, so a
  // file that grew past the bound after it was measured shows here.
  if (converted.size() > 2 * kMaxConvertedBytes) {
    WriteLog("ERR : fncParseRSSSite : Output refused, over the bound of " +
             std::to_string(kMaxConvertedBytes) + " bytes, for URL :: " + url);
    return std::nullopt;
  }
  if (!product::TakeConverterMark(converted, call.value, url)) {
    WriteLog(
        "MSG : fncParseRSSSite :  Output not used, it was not written by this converter call, "
        "for URL :: " +
        url);
    LogConverterReason(call.outcome);
    return std::nullopt;
  }
  return converted;
}

// Hands the converted text, through its UTF-16 copy, to the converted feed
// reader. Until this feed's own output has been read, nothing of the
// previous feed's items may count for it.
void ReadConvertedItems(platform::FileSystem& fs, const std::string& converted) {
  AppState.HasRssItems = kFalse;
  AppState.RssItems.clear();
  if (Trimmed(converted).empty()) return;
  const std::string copy = AppState.DataPath + "QLUX\\Dovel\\RSSLinks\\Temp_RSS_UniCode_" +
                           product::UserNamePart(AppState.UserName) + ".xml";
  // Another user of a shared data folder may have put a link here; it is
  // removed, never written through.
  if (fs.IsSymbolicLink(copy)) {
    WriteLog("ERR : fncParseRSSSite : a symbolic link stood at " + copy +
             "; it was removed and the file it points to left untouched");
    fs.RemoveFile(copy, true);
  }
  auto stream = fs.CreateTextFile(copy, true, true);
  if (fs.FileExists(copy)) {
    stream->Write(converted);
    stream->Close();
    fncParseRSSTemp(copy);
    WriteLog("MSG : fncParseRSSSite :  deleting unicode file sXMLFiletemp" + ConverterOutputPath());
    fs.RemoveFile(copy, true);
  }
}

// The store, read and parsed on a thread of its own while the converter
// runs (the parse of a large store is most of an update's time), and taken
// when the file is then still the very one that was read. While the
// converter still runs, the thread also finds out whether the store, as
// read, would be saved as the file's very bytes, which is what a feed without
// news needs to know (once the converter is done, that would only hold the
// update up).
struct StoreReadAhead {
  platform::XmlDocument document;
  platform::FileStamp stamp;  // of the file before it was read
  bool loaded = false;
  bool saved_as_read = false;
  bool taken = false;
  std::atomic<bool> converter_done{false};
  std::future<void> reading;  // waits for the thread when it goes

  void Start(platform::FileSystem& fs, const std::string& store_path) {
    stamp = fs.Stamp(store_path);
    if (!stamp.exists || stamp.size > product::kMaxStoreBytes) return;
    try {
      reading = std::async(std::launch::async, [this, store_path] {
        loaded = document.Load(store_path);
        try {
          saved_as_read = loaded && !converter_done && document.IsSavedIn(store_path);
        } catch (const platform::Failure&) {
          // Left to the save to find out.
        }
      });
    } catch (const std::system_error&) {
      // No thread to be had: the store is read when it is needed.
    }
  }
  // Waits for the read, if one was started; whether it read the file as it
  // stands now, `now`. Until then nothing else touches the document.
  bool Taken(const platform::FileStamp& now) {
    if (!reading.valid()) return false;
    reading.get();
    taken = now == stamp;
    return taken;
  }
  // Whether the store, taken and not changed since, is still the file as it
  // was read, which already holds the bytes its save would write.
  bool SavedAlready(platform::FileSystem& fs, const std::string& store_path) const {
    return taken && saved_as_read && fs.Stamp(store_path) == stamp;
  }
};

// The feed's store, loaded, or made with the header of the converted feed
// when there is none yet; false (logged) for a store that may not be used.
bool LoadOrMakeStore(platform::FileSystem& fs, const std::string& store_path, StoreReadAhead& ahead,
                     platform::XmlNode& root, bool& loaded) {
  platform::XmlDocument& document = ahead.document;
  if (!fs.FileExists(store_path)) {
    ahead.Taken({});  // the document is made anew
    WriteLog("MSG :  fncParseRSSSite : Creating the XML file " + store_path);
    document.LoadXml("<rootrss/>");
    root = document.DocumentElement();
    AppendTextElement(root, "maintitle", AppState.Channel.MainTitle);
    AppendTextElement(root, "mainlink", AppState.Channel.MainLink);
    AppendTextElement(root, "maindescription", AppState.Channel.MainDescription);
    return true;
  }
  WriteLog("MSG : fncParseRSSSite :  Loading the XML file " + store_path);
  const platform::FileStamp store = fs.Stamp(store_path);
  const bool taken = ahead.Taken(store);
  if (store.size > product::kMaxStoreBytes) {
    WriteLog("ERR :  fncParseRSSSite : Store of " + std::to_string(store.size) +
             " bytes refused, over the bound of " + std::to_string(product::kMaxStoreBytes) +
             " bytes");
    WriteLog("ERR :  fncParseRSSSite : Failed to load " + store_path);
    return false;
  }
  if (!(taken ? ahead.loaded : document.Load(store_path))) {
    WriteLog("ERR :  fncParseRSSSite : Failed to load " + store_path);
    return false;
  }
  loaded = true;
  root = document.DocumentElement();
  return true;
}

// What the last run remembered of the feed.
struct Remembered {
  std::string link;
  std::string pub_date;
};

Remembered ReadRemembered(const std::string& section, const std::string& state_path) {
  Remembered last;
  std::string last_count;
  fncReadFromINI(last.link, section, "LatestGUID", state_path);
  WriteLog("MSG : fncParseRSSSite :  Last updates GUID :: " + last.link);
  fncReadFromINI(last.pub_date, section, "LatestPubDate", state_path);
  WriteLog("MSG :  fncParseRSSSite : Last updates PubDate :: " + last.pub_date);
  fncReadFromINI(last_count, section, "NewRSSCount", state_path);
  WriteLog("MSG :  fncParseRSSSite : Last Unread RSS Count :: " + last_count);
  return last;
}

// The new items of a feed update: how many (decimal text) and the newest.
struct NewItems {
  std::string count = "0";
  std::string newest_link;
  std::string newest_pub_date;
};

// The keys of the converted items before the remembered newest one: every
// one of them is new unless the store holds it already.
std::vector<std::string> CandidateKeys(const Remembered& last) {
  const std::string last_key = ItemKey(last.link, last.pub_date);
  std::vector<std::string> keys;
  for (const RssItem& item : AppState.RssItems) {
    keys.push_back(ItemKey(item.Link, item.PubDate));
    if (keys.back() == last_key) {
      keys.pop_back();
      break;
    }
  }
  return keys;
}

// Inserts the candidates that `stored` (when there is one) does not hold,
// marked unread: above everything in a loaded store, after the header in a
// new one. How many, as decimal text.
std::string InsertNewItems(platform::XmlNode root, bool loaded,
                           const std::vector<std::string>& keys, const StoredItems* stored) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const RssItem& item = AppState.RssItems[i];
    if (stored != nullptr && stored->Holds(keys[i])) continue;
    ++count;

    platform::XmlNode element =
        loaded ? root.InsertElementBefore("item", root.FirstChild()) : root.AppendElement("item");
    AppendTextElement(element, "title", item.Title);
    AppendTextElement(element, "description", item.Description);
    AppendTextElement(element, "link", item.Link);
    AppendTextElement(element, "pubDate", item.PubDate);
    AppendTextElement(element, "author", item.Author);
    AppendTextElement(element, "GUID", item.Guid);
    AppendTextElement(element, "Status", "Unread");
  }
  return NumberText(static_cast<double>(count));
}

// Records the newest item and the count in the update-state file, after the
// store's save.
void RememberNewest(const std::string& section, const std::string& state_path,
                    const NewItems& added) {
  if (!Trimmed(added.newest_link).empty()) {
    fncwriteToINI(section, "LatestGUID", added.newest_link, state_path);
  }
  if (!Trimmed(added.newest_pub_date).empty()) {
    fncwriteToINI(section, "LatestPubDate", added.newest_pub_date, state_path);
  }
  fncwriteToINI(section, "NewRSSCount", added.count, state_path);
}

}  // namespace

void fncParseRSSSite(std::string feed_number, std::string url) {
  try {
    platform::FileSystem& fs = FileSysObject();
    WriteLog("MSG : fncParseRSSSite : -------------> Checking updates for [" + feed_number +
             "] --> " + url);
    const std::string store_path = StorePath(feed_number);
    LogSafeStoreName(feed_number, store_path);

    StoreReadAhead store;
    store.Start(fs, store_path);
    ConverterCall call;
    const bool ran = RunConverter(fs, url, call);
    store.converter_done = true;
    if (!ran) return;
    std::optional<std::string> converted = ReadConverterOutput(fs, url, call);
    if (!converted) return;
    ReadConvertedItems(fs, *converted);

    platform::XmlNode root;
    bool loaded = false;
    if (!LoadOrMakeStore(fs, store_path, store, root, loaded)) return;
    const platform::XmlDocument& document = store.document;

    const std::string state_path = UpdateStatePath();
    const std::string section = FeedSection(feed_number);
    const Remembered last = ReadRemembered(section, state_path);
    if (AppState.HasRssItems == kFalse) return;

    const std::vector<std::string> keys = CandidateKeys(last);
    NewItems added;
    if (!keys.empty()) {
      added.newest_link = AppState.RssItems[0].Link;
      added.newest_pub_date = AppState.RssItems[0].PubDate;
    }
    if (loaded && !keys.empty()) {
      // The candidates are told from the stored items while the store's
      // text is made for its save, and inserted before that text.
      StoredItems stored(keys);
      WriteLog("MSG :  fncParseRSSSite : Saving the XML");
      store.document.SaveWithNewFirstChildren(
          store_path, [&](std::size_t part, platform::XmlNode child) { stored.Look(part, child); },
          [&](platform::XmlNode element) {
            added.count = InsertNewItems(element, true, keys, &stored);
          });
    } else {
      added.count = InsertNewItems(root, loaded, keys, nullptr);
      WriteLog("MSG :  fncParseRSSSite : Saving the XML");
      // With nothing new, the store usually holds these very bytes already;
      // it is then not written again.
      if (added.count == "0") {
        if (!store.SavedAlready(fs, store_path)) document.SaveUnlessSame(store_path);
      } else {
        document.Save(store_path);
      }
    }
    // Only items that reached the disk are announced.
    AppState.strTotalNewRSS =
        NumberText(NumericValue(AppState.strTotalNewRSS) + NumericValue(added.count));
    RememberNewest(section, state_path, added);
  } catch (...) {
    const platform::Failure failure = GuardedFailure();
    WriteLog("ERR : in fncParseRSSSite. Err : " + FailureNumber(failure) +
             "::" + failure.description());
  }
}
