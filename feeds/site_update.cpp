#include "feeds/site_update.h"

#include <algorithm>
#include <string_view>
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

// A line break or NUL stands as a blank, as the update-state file stores it,
// so that an item whose link or date held one is still known by the next run.
constexpr std::string_view kBlanksWhenFolded(" \r\n\0", 4);

// Each byte as it stands in a recognised text: folded, then upper-cased.
struct RecognisedBytes {
  char byte[256];
  RecognisedBytes() {
    for (int c = 0; c < 256; ++c) {
      byte[c] = c == '\r' || c == '\n' || c == '\0'
                    ? ' '
                    : platform::ascii::ToUpper(static_cast<char>(c));
    }
  }
};

// Appends `text` to `out` the way items are recognised: line breaks and NULs
// folded to blanks, blanks trimmed at both ends, upper-cased. Written in one
// pass, as the store's every item goes through it.
void AppendRecognisable(std::string_view text, std::string& out) {
  static const RecognisedBytes table;
  const std::string_view kept = platform::ascii::Trim(text, kBlanksWhenFolded);
  const std::size_t at = out.size();
  out.resize(at + kept.size());
  for (std::size_t i = 0; i < kept.size(); ++i) {
    out[at + i] = table.byte[static_cast<unsigned char>(kept[i])];
  }
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
// when the remembered newest item has dropped out of the feed. Only stored
// items whose link the feed offers are looked at closer. The strings are
// reused from item to item: a store holds tens of thousands.
std::unordered_set<std::string> StoredItemKeys(const platform::XmlNode& root,
                                               const std::vector<std::string>& offered) {
  std::unordered_set<std::string> offered_links;
  for (const std::string& key : offered) offered_links.insert(key.substr(0, key.find('\x1f')));
  std::unordered_set<std::string> keys;
  std::string text, key;
  for (platform::XmlNode child = root.FirstChildNamed("item"); child;
       child = child.NextSiblingNamed("item")) {
    child.FirstChildNamed("link").TextInto(text);
    key.clear();
    AppendRecognisable(text, key);
    if (offered_links.count(key) == 0) continue;
    child.FirstChildNamed("pubDate").TextInto(text);
    key += '\x1f';
    AppendRecognisable(text, key);
    keys.insert(key);
  }
  return keys;
}

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

bool IsLeftoverTemporaryName(const std::string& name) {
  // ".<name>.tmp-" and six characters, as the file system names the
  // temporary file of a replacement; nothing with a path separator in it.
  constexpr std::string_view kMark = ".tmp-";
  constexpr std::size_t kUnique = 6;
  if (name.size() < 1 + 1 + kMark.size() + kUnique || name[0] != '.') return false;
  if (name.find_first_of("\\/") != std::string::npos) return false;
  return std::string_view(name).substr(name.size() - kUnique - kMark.size(), kMark.size()) == kMark;
}

void RemoveLeftoverTemporaryFiles() {
  try {
    platform::FileSystem& fs = FileSysObject();
    const std::string folder = AppState.DataPath + "qLUX\\Dovel\\RSSLinks";
    if (!fs.FolderExists(folder)) return;
    std::vector<std::string> names = fs.EntryNames(folder);
    std::sort(names.begin(), names.end());  // the log lists them in a stable order
    for (const std::string& name : names) {
      if (!IsLeftoverTemporaryName(name)) continue;
      const std::string path = folder + "\\" + name;
      WriteLog("MSG : Removing leftover temporary file " + path);
      fs.RemoveFile(path, true);
    }
  } catch (...) {
    const platform::Failure failure = platform::CaughtFailure();
    WriteLog("ERR : in RemoveLeftoverTemporaryFiles. Err : " + FailureNumber(failure) +
             "::" + failure.description());
  }
}

std::string StorePath(const std::string& feed_number) {
  return product::StorePath(AppState.DataPath, feed_number, AppState.TemplateID,
                            AppState.TemplateVersion);
}

void fncParseRSSSite(std::string feed_number, std::string url) {
  try {
    platform::FileSystem& fs = FileSysObject();
    WriteLog("MSG : fncParseRSSSite : -------------> Checking updates for [" + feed_number +
             "] --> " + url);
    const std::string store_path = StorePath(feed_number);
    const std::string as_named = AppState.DataPath + "qLUX\\Dovel\\RSSLinks\\Link_" + feed_number +
                                 "_" + AppState.TemplateID + "_" + AppState.TemplateVersion +
                                 ".xml";
    if (store_path != as_named) {
      WriteLog("MSG : fncParseRSSSite :  Store file name made safe : " + store_path);
    }

    const std::string converter = AppState.InstallPath + "qLUX\\FeedPull.exe";
    if (!fs.FileExists(converter)) {
      WriteLog("MSG : fncParseRSSSite :  " + AppState.InstallPath +
               "qLUX\\FeedPull.exe does not exists.");
      return;
    }

    const std::string sXMLFiletemp = AppState.DataPath + "QLUX\\Dovel\\RSSLinks\\Temp_RSS.xml";
    // Output left by an earlier feed or run must never pass for this feed's:
    // only a file written since the converter started counts.
    const platform::FileStamp before = fs.Stamp(sXMLFiletemp);
    // The converter just tested is started, with the URL as its one
    // argument, whatever blanks the installation path or the URL hold (a
    // blank URL, like an empty argument text, gives no argument); the log
    // shows the command line as the agent's other programs write it.
    platform::CommandLine command{fs.NativePath(converter), {}};
    if (!Trimmed(url).empty()) command.arguments.push_back(url);
    // Only output that carries this call's own mark is read (see
    // converter_call.h): a converter of an earlier run, or one started by
    // hand, may write the same file at any moment.
    const std::string call = product::NewConverterCall();
    platform::SetEnvironmentValue(product::kConverterCallVariable, call);
    ProgramOutcome converter_outcome;
    fncExecuteShell(AppState.InstallPath + "qLUX\\FeedPull.exe " + url, kConverterTimeoutMs, kTrue,
                    command, &converter_outcome);

    WriteLog("MSG : fncParseRSSSite :  sXMLFiletemp" + sXMLFiletemp);
    const platform::FileStamp after = fs.Stamp(sXMLFiletemp);
    if (!after.exists || after == before) {
      WriteLog("MSG : fncParseRSSSite :  Failed to find " + AppState.DataPath +
               "qLUX\\Dovel\\RSSLinks\\TempRSS.xml" + "for URL :: " + url);
      LogConverterReason(converter_outcome);
      return;
    }
    // A converter stopped at its time-out may have left anything, even a
    // file that is still growing: none of it is read.
    if (converter_outcome.killed) {
      WriteLog(
          "MSG : fncParseRSSSite :  Output not used, the converter was stopped at its "
          "time-out, for URL :: " +
          url);
      LogConverterReason(converter_outcome);
      return;
    }
    if (after.size > kMaxConvertedBytes) {
      WriteLog("ERR : fncParseRSSSite : Output of " + std::to_string(after.size) +
               " bytes refused, over the bound of " + std::to_string(kMaxConvertedBytes) +
               " bytes, for URL :: " + url);
      return;
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
      return;
    }

    if (!product::TakeConverterMark(converted, call, url)) {
      WriteLog(
          "MSG : fncParseRSSSite :  Output not used, it was not written by this converter call, "
          "for URL :: " +
          url);
      LogConverterReason(converter_outcome);
      return;
    }

    // Until this feed's own output has been read, nothing of the previous
    // feed's items may count for it.
    AppState.HasRssItems = kFalse;
    AppState.RssItems.clear();
    if (!Trimmed(converted).empty()) {
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
        WriteLog("MSG : fncParseRSSSite :  deleting unicode file sXMLFiletemp" + sXMLFiletemp);
        fs.RemoveFile(copy, true);
      }
    }

    platform::XmlDocument document;
    platform::XmlNode root;
    bool loaded = false;
    if (fs.FileExists(store_path)) {
      WriteLog("MSG : fncParseRSSSite :  Loading the XML file " + store_path);
      const platform::FileStamp store = fs.Stamp(store_path);
      if (store.size > product::kMaxStoreBytes) {
        WriteLog("ERR :  fncParseRSSSite : Store of " + std::to_string(store.size) +
                 " bytes refused, over the bound of " + std::to_string(product::kMaxStoreBytes) +
                 " bytes");
        WriteLog("ERR :  fncParseRSSSite : Failed to load " + store_path);
        return;
      }
      if (!document.Load(store_path)) {
        WriteLog("ERR :  fncParseRSSSite : Failed to load " + store_path);
        return;
      }
      loaded = true;
      root = document.DocumentElement();
    } else {
      WriteLog("MSG :  fncParseRSSSite : Creating the XML file " + store_path);
      document.LoadXml("<rootrss/>");
      root = document.DocumentElement();
      AppendTextElement(root, "maintitle", AppState.Channel.MainTitle);
      AppendTextElement(root, "mainlink", AppState.Channel.MainLink);
      AppendTextElement(root, "maindescription", AppState.Channel.MainDescription);
    }

    const std::string state_path = UpdateStatePath();
    const std::string section = FeedSection(feed_number);
    std::string last_link, last_pub_date, last_count;
    fncReadFromINI(last_link, section, "LatestGUID", state_path);
    WriteLog("MSG : fncParseRSSSite :  Last updates GUID :: " + last_link);
    fncReadFromINI(last_pub_date, section, "LatestPubDate", state_path);
    WriteLog("MSG :  fncParseRSSSite : Last updates PubDate :: " + last_pub_date);
    fncReadFromINI(last_count, section, "NewRSSCount", state_path);
    WriteLog("MSG :  fncParseRSSSite : Last Unread RSS Count :: " + last_count);
    std::string new_count = "0";

    if (AppState.HasRssItems == kFalse) return;

    // Every item before the remembered newest one is a candidate.
    const std::string last_key = ItemKey(last_link, last_pub_date);
    std::vector<std::string> keys;
    for (const RssItem& item : AppState.RssItems) {
      keys.push_back(ItemKey(item.Link, item.PubDate));
      if (keys.back() == last_key) {
        keys.pop_back();
        break;
      }
    }
    std::string newest_link, newest_pub_date;
    if (!keys.empty()) {
      newest_link = AppState.RssItems[0].Link;
      newest_pub_date = AppState.RssItems[0].PubDate;
    }
    const std::unordered_set<std::string> stored =
        loaded && !keys.empty() ? StoredItemKeys(root, keys) : std::unordered_set<std::string>{};
    for (std::size_t i = 0; i < keys.size(); ++i) {
      const RssItem& item = AppState.RssItems[i];
      if (stored.count(keys[i]) != 0) continue;
      new_count = CounterPlusOne(new_count);

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

    WriteLog("MSG :  fncParseRSSSite : Saving the XML");
    document.Save(store_path);
    // Only items that reached the disk are announced.
    AppState.strTotalNewRSS =
        NumberText(NumericValue(AppState.strTotalNewRSS) + NumericValue(new_count));

    if (!Trimmed(newest_link).empty()) {
      fncwriteToINI(section, "LatestGUID", newest_link, state_path);
    }
    if (!Trimmed(newest_pub_date).empty()) {
      fncwriteToINI(section, "LatestPubDate", newest_pub_date, state_path);
    }
    fncwriteToINI(section, "NewRSSCount", new_count, state_path);
  } catch (...) {
    const platform::Failure failure = platform::CaughtFailure();
    WriteLog("ERR : in fncParseRSSSite. Err : " + FailureNumber(failure) +
             "::" + failure.description());
  }
}
