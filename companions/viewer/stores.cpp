#include "companions/viewer/stores.h"

#include <algorithm>
#include <cstdint>
#include <map>

#include "app/product/feed_files.h"
#include "platform/ascii.h"
#include "platform/failure.h"
#include "platform/filesystem.h"

namespace viewer {
namespace {

namespace ascii = platform::ascii;

bool IsElementNamed(const platform::XmlNode& node, const std::string& name) {
  return node.IsElement() && ascii::EqualsIgnoringCase(node.NodeName(), name);
}

// The text of the first child element of `parent` called `name`; "" when none.
std::string ChildText(const platform::XmlNode& parent, const std::string& name) {
  for (platform::XmlNode child = parent.FirstChild(); child; child = child.NextSibling()) {
    if (IsElementNamed(child, name)) return child.Text();
  }
  return {};
}

// The item's "Status" elements that say it is unread.
std::vector<platform::XmlNode> UnreadStatuses(const platform::XmlNode& item) {
  std::vector<platform::XmlNode> statuses;
  for (platform::XmlNode child = item.FirstChild(); child; child = child.NextSibling()) {
    if (IsElementNamed(child, "Status") && IsUnreadStatus(child.Text())) statuses.push_back(child);
  }
  return statuses;
}

ItemView ReadItem(const platform::XmlNode& item) {
  ItemView view;
  view.title = ChildText(item, "title");
  view.description = ChildText(item, "description");
  view.link = ChildText(item, "link");
  view.pub_date = ChildText(item, "pubDate");
  view.author = ChildText(item, "author");
  view.guid = ChildText(item, "GUID");
  view.unread = !UnreadStatuses(item).empty();
  return view;
}

// What tells the items of a store apart: all their texts.
std::string ItemKey(const ItemView& item) {
  return item.title + '\x1f' + item.description + '\x1f' + item.link + '\x1f' + item.pub_date +
         '\x1f' + item.author + '\x1f' + item.guid;
}

// A path in the form the file system holds it, for messages.
std::string ShownPath(const std::string& path) {
  try {
    return platform::Files().NativePath(path);
  } catch (...) {
    return path;
  }
}

}  // namespace

bool HasUnreadItems(const FeedView& shown) {
  if (shown.state != FeedView::State::kShown) return false;
  for (const ItemView& item : shown.items) {
    if (item.unread) return true;
  }
  return false;
}

bool IsUnreadStatus(const std::string& status) {
  return ascii::EqualsIgnoringCase(ascii::Trim(status, ascii::kWhiteSpace), "Unread");
}

RecordedFeeds ReadRecordedFeeds(const std::string& data_path, const std::string& user_name) {
  RecordedFeeds recorded;
  const std::string path = product::UpdateStatePath(data_path, user_name);
  recorded.template_id = product::ReadStateValue("RSSLinks", "TemplateID", path);
  recorded.template_version = product::ReadStateValue("RSSLinks", "TemplateVersion", path);
  // The feed list may be longer than the program's own reads take.
  const std::string urls = product::ReadWholeStateValue("RSSLinks", "Urls", path);
  // A feed update records the list only when it names at least one feed.
  if (ascii::IsBlank(urls, ascii::kWhiteSpace)) return recorded;
  recorded.recorded = true;
  recorded.urls = product::SplitFeedList(urls);
  return recorded;
}

std::string RecordedStorePath(const std::string& data_path, const RecordedFeeds& recorded,
                              const std::string& number) {
  return product::StorePath(data_path, number, recorded.template_id, recorded.template_version);
}

std::vector<FeedView> LoadRecordedFeeds(const std::string& data_path,
                                        const RecordedFeeds& recorded) {
  std::vector<FeedView> feeds;
  for (std::size_t i = 0; i < recorded.urls.size(); ++i) {
    const std::string number = std::to_string(i + 1);
    feeds.push_back(
        LoadStore(number, recorded.urls[i], RecordedStorePath(data_path, recorded, number)));
  }
  return feeds;
}

bool ReadStoreDocument(const platform::XmlDocument& document, FeedView& feed) {
  const platform::XmlNode root = document.DocumentElement();
  if (!root || root.NodeName() != "rootrss") return false;
  feed.title = ChildText(root, "maintitle");
  feed.link = ChildText(root, "mainlink");
  feed.description = ChildText(root, "maindescription");
  feed.items.clear();
  feed.unread_left_out = feed.read_left_out = 0;
  std::size_t unread_shown = 0;
  std::size_t read_shown = 0;
  for (platform::XmlNode child = root.FirstChild(); child; child = child.NextSibling()) {
    if (!IsElementNamed(child, "item")) continue;
    // Only the items shown are read whole; the store's order is newest first.
    if (!UnreadStatuses(child).empty()) {
      if (unread_shown == kShownUnreadItems) {
        ++feed.unread_left_out;
        continue;
      }
      ++unread_shown;
    } else {
      if (read_shown == kShownReadItems) {
        ++feed.read_left_out;
        continue;
      }
      ++read_shown;
    }
    feed.items.push_back(ReadItem(child));
  }
  return true;
}

FeedView LoadStore(const std::string& number, const std::string& url, const std::string& path) {
  FeedView feed;
  feed.number = number;
  feed.url = url;
  feed.store_path = ShownPath(path);
  platform::FileSystem& files = platform::Files();
  try {
    if (!files.FileExists(path)) {
      feed.state = FeedView::State::kMissing;
      return feed;
    }
    // The feed update refuses a store over its bound; so does the page,
    // before reading it.
    const std::uint64_t size = files.Stamp(path).size;
    if (size > product::kMaxStoreBytes) {
      feed.state = FeedView::State::kUnreadable;
      feed.problem = "it holds " + std::to_string(size) + " bytes, over the bound of " +
                     std::to_string(product::kMaxStoreBytes) + " bytes";
      return feed;
    }
    platform::XmlDocument document;
    if (!document.LoadBytes(files.ReadFileBytes(path))) {
      feed.state = FeedView::State::kUnreadable;
      feed.problem = document.LoadError().empty() ? "it is not XML" : document.LoadError();
      return feed;
    }
    if (!ReadStoreDocument(document, feed)) {
      feed.state = FeedView::State::kUnreadable;
      feed.problem = "it is not a feed store (its root element is not \"rootrss\")";
    }
  } catch (...) {
    const platform::Failure failure = platform::CaughtFailure();
    feed.state = FeedView::State::kUnreadable;
    feed.problem = failure.description();
  }
  return feed;
}

std::size_t MarkShownItemsRead(const std::string& path, const FeedView& shown) {
  if (shown.state != FeedView::State::kShown) return 0;
  std::map<std::string, std::size_t> to_mark;
  for (const ItemView& item : shown.items) {
    if (item.unread) ++to_mark[ItemKey(item)];
  }
  if (to_mark.empty()) return 0;

  platform::FileSystem& files = platform::Files();
  if (!files.FileExists(path) || files.Stamp(path).size > product::kMaxStoreBytes) return 0;
  platform::XmlDocument document;
  if (!document.LoadBytes(files.ReadFileBytes(path))) return 0;
  platform::XmlNode root = document.DocumentElement();
  if (!root || root.NodeName() != "rootrss") return 0;

  std::size_t marked = 0;
  for (platform::XmlNode child = root.FirstChild(); child; child = child.NextSibling()) {
    if (!IsElementNamed(child, "item")) continue;
    std::vector<platform::XmlNode> statuses = UnreadStatuses(child);
    if (statuses.empty()) continue;
    const auto pending = to_mark.find(ItemKey(ReadItem(child)));
    if (pending == to_mark.end() || pending->second == 0) continue;
    --pending->second;
    for (platform::XmlNode& status : statuses) status.SetText("Read");
    ++marked;
  }
  if (marked == 0) return 0;
  // The read items past the newest kKeptReadItems go in the same save.
  std::size_t read = 0;
  for (platform::XmlNode child = root.FirstChild(); child;) {
    platform::XmlNode next = child.NextSibling();
    if (IsElementNamed(child, "item") && UnreadStatuses(child).empty() && ++read > kKeptReadItems) {
      root.RemoveChild(child);
    }
    child = next;
  }
  document.Save(path);
  return marked;
}

}  // namespace viewer
