// The viewer's page: one self-contained HTML document showing the feed
// stores. Nothing from a store reaches the page unescaped, and the page loads
// nothing from anywhere (inline style, no scripts, no images, no fonts).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace viewer {

// One item of a store, its texts as stored.
struct ItemView {
  std::string title;
  std::string description;  // may hold HTML; shown as plain text
  std::string link;
  std::string pub_date;
  std::string author;
  std::string guid;  // not shown; tells items apart when they are marked read
  bool unread = false;
  bool operator==(const ItemView&) const = default;
};

// The most items of one feed the page shows: its newest unread items and its
// newest read ones. A store grows by every run; a page of all it holds would
// take a browser half a minute to show after a year.
inline constexpr std::size_t kShownUnreadItems = 100;
inline constexpr std::size_t kShownReadItems = 50;

// One feed of the template last processed, and what its store holds.
struct FeedView {
  enum class State {
    kShown,      // the store loaded; header and items below
    kMissing,    // no store file
    kUnreadable  // the store file exists but is not a feed store
  };
  std::string number;      // the feed's place in the template's list, from 1
  std::string url;         // the feed's URL as the template lists it
  std::string store_path;  // the store file, for messages
  State state = State::kShown;
  std::string problem;  // why an unreadable store could not be read
  std::string title;
  std::string link;
  std::string description;
  std::vector<ItemView> items;  // what the page shows, in store order: newest first
  // The store's items that the page leaves out, past the caps below: older
  // than every item of their kind that it shows.
  std::size_t unread_left_out = 0;
  std::size_t read_left_out = 0;
  bool operator==(const FeedView&) const = default;
};

// The whole page for the feeds of the template last processed.
std::string RenderPage(const std::vector<FeedView>& feeds);
// The page shown before any feed update has recorded a template.
std::string RenderNothingYetPage();

// The pieces of the page, for tests.
std::string RenderFeed(const FeedView& feed);
std::string RenderItem(const ItemView& item);
std::size_t UnreadCount(const std::vector<FeedView>& feeds);
// A count with thousands separated: "2,780".
std::string GroupedNumber(std::size_t n);
// "No unread items", "1 unread item", "3 unread items".
std::string UnreadSummary(std::size_t unread);

// `text` with &, <, >, " and ' replaced by character references, safe in
// element content and in quoted attribute values.
std::string EscapeHtml(std::string_view text);
// The link as it may stand in an href: trimmed, and only when it is an
// http, https or mailto URL without control characters; nothing otherwise
// (a "javascript:" link must never become clickable).
std::optional<std::string> SafeHref(std::string_view link);

}  // namespace viewer
