// The conversion of a fetched feed document into the product's converted
// feed format: a "rootrss" document with the channel's "maintitle",
// "mainlink" and "maindescription", then one "item" per entry with "title",
// "description", "link", "pubdate", "author" and "guid".
//
// Understood: RSS 0.91, 0.92, 2.0 and <rss> without a version (elements in
// no namespace or in the UserLand RSS namespaces), RSS 1.0 and 0.90 (RDF),
// Atom 1.0 and 0.3. Vocabularies are told apart by namespace URI, never by
// prefix.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace feedpull {

// What a feed may need, well above what the longest real feeds do (a few
// hundred items in a document under 1 MiB). A document of 10 MiB that is
// all markup (1.5 million empty items) would otherwise take gigabytes to
// convert and make a document of hundreds of megabytes.
inline constexpr std::size_t kMaxFeedItems = 10000;
inline constexpr std::size_t kMaxConvertedBytes = 16 * 1024 * 1024;
// The XML library's memory at any one time for one conversion, under
// LimitXmlMemory: the document read, its text and its tree.
inline constexpr std::size_t kMaxXmlMemory = 32 * 1024 * 1024;

struct FeedItem {
  std::string title;
  std::string description;
  std::string link;
  std::string pubdate;
  std::string author;
  std::string guid;
  bool operator==(const FeedItem&) const = default;
};

struct Feed {
  std::string title;
  std::string link;
  std::string description;
  std::vector<FeedItem> items;  // in document order
};

// Reads the document `bytes` fetched from `document_url`.
//
// Texts are taken as the feed gives them: entities decoded, CDATA unwrapped,
// white space kept, dates unchanged (but see single lines below). Links are trimmed and resolved
// against xml:base in scope, then against `document_url`. Entry texts:
// - title: RSS/Atom title, else dc:title;
// - description: RSS description, else content:encoded, else dc:description;
//   Atom content, else summary. Markup given as escaped text stays text;
//   XHTML content (type="xhtml", or Atom 0.3 mode="xml") becomes its markup
//   as text, without the wrapping xhtml div, so that every description a
//   viewer meets is HTML held as text;
// - link: RSS link, else an atom:link; Atom link with rel="alternate" or no
//   rel, else the first link. Without one, a permalink guid (RSS guid whose
//   isPermaLink is not "false", any guid or Atom id that is an http(s) URL,
//   the rdf:about of an RSS 1.0 item);
// - pubdate: RSS pubDate, else dc:date; Atom published, updated (0.3:
//   issued, modified, created), else dc:date;
// - author: RSS author, else dc:creator; Atom author name, else dc:creator,
//   else the feed's author;
// - guid: RSS guid (RSS 1.0: rdf:about); Atom id.
//
// Title, link, pubdate, author and guid of the entries, and the feed's
// title and link, are single lines: line breaks and other control
// characters in them become blanks.
//
// A document whose element is not rss, rdf:RDF or feed but that holds
// exactly one of them deeper inside (an Atom feed in an XHTML page) is read
// from that element.
//
// Returns nothing, with a one-line reason in `error`, for anything that is
// not a feed: bytes that do not decode, XML that is not well-formed
// (truncated, say), an empty document, or a document that neither is nor
// holds exactly one feed. A feed without items is a feed.
std::optional<Feed> ReadFeed(const std::string& bytes, const std::string& document_url,
                             std::string* error = nullptr);

// Puts the items newest first when every one of them has a date that
// ParseFeedDate understands (items of the same instant keep their order);
// otherwise leaves the order alone, since a partial order would be a guess.
void OrderNewestFirst(std::vector<FeedItem>& items);

// The converted feed document, UTF-8 with its XML declaration. Characters
// that XML 1.0 does not allow are left out.
std::string RootRssDocument(const Feed& feed);

// ReadFeed, OrderNewestFirst and RootRssDocument in one: the document to
// write, or nothing with the reason in `error`. A feed of more than
// kMaxFeedItems entries, or whose converted document would be larger than
// kMaxConvertedBytes, is refused.
std::optional<std::string> ConvertFeed(const std::string& bytes, const std::string& document_url,
                                       std::string* error = nullptr);

// Holds the XML library to kMaxXmlMemory from now on; a document that needs
// more is then refused with that reason. For the converter's process, before
// any document is made: the library's memory functions are the process's.
void LimitXmlMemory();

}  // namespace feedpull
