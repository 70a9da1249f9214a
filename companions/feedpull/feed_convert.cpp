#include "companions/feedpull/feed_convert.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <pugixml.hpp>
#include <string_view>
#include <utility>

#include "companions/feedpull/feed_dates.h"
#include "companions/feedpull/html_entities.h"
#include "companions/feedpull/uri_reference.h"
#include "companions/feedpull/xml_names.h"
#include "platform/ascii.h"
#include "platform/text_encoding.h"
#include "platform/xml_encoding.h"

namespace feedpull {
namespace {

constexpr std::string_view kAtom10 = "http://www.w3.org/2005/Atom";
constexpr std::string_view kAtom03 = "http://purl.org/atom/ns#";
constexpr std::string_view kRdf = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
constexpr std::string_view kRss10 = "http://purl.org/rss/1.0/";
constexpr std::string_view kRss090 = "http://my.netscape.com/rdf/simple/0.9/";
constexpr std::string_view kUserlandRss2 = "http://backend.userland.com/rss2";
constexpr std::string_view kUserlandRss = "http://backend.userland.com/rss";
constexpr std::string_view kDublinCore = "http://purl.org/dc/elements/1.1/";
constexpr std::string_view kContent = "http://purl.org/rss/1.0/modules/content/";
constexpr std::string_view kXhtml = "http://www.w3.org/1999/xhtml";

namespace ascii = platform::ascii;

// --- Bounds -----------------------------------------------------------------

// The reading of entries stops one past the bound: that one says the feed is
// too long, without making the rest.
bool Full(const Feed& feed) {
  return feed.items.size() > kMaxFeedItems;
}

// What the XML library holds at the moment, when LimitXmlMemory is in force.
// Each block carries its size in front, so that its release can count it.
// Counted per thread, as each conversion makes and frees its documents on
// its own thread: the bound holds for every conversion at a time.
thread_local std::size_t xml_memory_in_use = 0;
thread_local bool xml_memory_refused = false;
std::atomic<bool> xml_memory_limited = false;
constexpr std::size_t kBlockHeader = alignof(std::max_align_t);

void* AllocateXmlMemory(std::size_t size) {
  if (size > kMaxXmlMemory - xml_memory_in_use) {
    xml_memory_refused = true;
    return nullptr;
  }
  auto* block = static_cast<unsigned char*>(std::malloc(kBlockHeader + size));
  if (block == nullptr) return nullptr;
  std::memcpy(block, &size, sizeof size);
  xml_memory_in_use += size;
  return block + kBlockHeader;
}

void ReleaseXmlMemory(void* memory) {
  if (memory == nullptr) return;
  unsigned char* block = static_cast<unsigned char*>(memory) - kBlockHeader;
  std::size_t size = 0;
  std::memcpy(&size, block, sizeof size);
  xml_memory_in_use -= size;
  std::free(block);
}

// A document's text that the library parses where it lies, counted as the
// library's own copy of it would be, for as long as the document lives.
class ParsedTextCharge {
 public:
  explicit ParsedTextCharge(std::size_t size) {
    if (!xml_memory_limited) return;
    if (size > kMaxXmlMemory - xml_memory_in_use) {
      xml_memory_refused = true;
      return;
    }
    size_ = size;
    xml_memory_in_use += size;
  }
  ~ParsedTextCharge() { xml_memory_in_use -= size_; }
  ParsedTextCharge(const ParsedTextCharge&) = delete;
  ParsedTextCharge& operator=(const ParsedTextCharge&) = delete;

 private:
  std::size_t size_ = 0;
};

// A document whose first bytes spell "<?xml" in ASCII cannot be UTF-16 or
// UTF-32, whatever its declaration says: whoever wrote such a label wrote
// the document in an 8-bit encoding. The label is replaced by UTF-8 so that
// the bytes are read as what they are.
void ReplaceImpossibleWideLabel(std::string& bytes) {
  std::size_t start = bytes.find_first_not_of(ascii::kWhiteSpace);
  if (start == std::string::npos || bytes.compare(start, 5, "<?xml") != 0) return;
  std::size_t end = bytes.find("?>", start);
  if (end == std::string::npos) return;
  std::size_t key = bytes.find("encoding", start);
  if (key == std::string::npos || key > end) return;
  std::size_t quote = bytes.find_first_of("\"'", key);
  if (quote == std::string::npos || quote > end) return;
  std::size_t close = bytes.find(bytes[quote], quote + 1);
  if (close == std::string::npos || close > end) return;
  std::string label = ascii::LowerCase(bytes.substr(quote + 1, close - quote - 1));
  for (const char* wide :
       {"utf-16", "utf16", "utf-32", "utf32", "ucs-2", "ucs2", "ucs-4", "ucs4"}) {
    if (label.starts_with(wide)) {
      bytes.replace(quote + 1, close - quote - 1, "UTF-8");
      return;
    }
  }
}

// The text content of an element: the text of all its descendants joined.
std::string TextOf(pugi::xml_node element) {
  std::string text;
  pugi::xml_node node = element.first_child();
  while (node) {
    if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) text += node.value();
    if (node.first_child()) {
      node = node.first_child();
      continue;
    }
    while (node != element && !node.next_sibling()) node = node.parent();
    if (node == element) break;
    node = node.next_sibling();
  }
  return text;
}

struct StringWriter : pugi::xml_writer {
  std::string text;
  void write(const void* data, size_t size) override {
    text.append(static_cast<const char*>(data), size);
  }
};

// The child nodes of `element` as markup text.
std::string InnerMarkup(pugi::xml_node element) {
  StringWriter writer;
  for (pugi::xml_node child : element.children()) {
    child.print(writer, "", pugi::format_raw, pugi::encoding_utf8);
  }
  return writer.text;
}

// The base URI in scope at `element`: the document's URL, refined by every
// xml:base from the document element down to `element`.
std::string BaseOf(pugi::xml_node element, const std::string& document_url) {
  std::vector<std::string_view> bases;
  for (pugi::xml_node node = element; node; node = node.parent()) {
    if (node.type() != pugi::node_element) continue;
    if (pugi::xml_attribute base = Attribute(node, kXmlNamespace, "base")) {
      bases.push_back(base.value());
    }
  }
  std::string result = document_url;
  for (auto it = bases.rbegin(); it != bases.rend(); ++it) {
    result = ResolveReference(result, ascii::Trim(*it));
  }
  return result;
}

// A link text or attribute value as an absolute link ("" stays "").
std::string ResolvedLink(std::string_view text, pugi::xml_node scope,
                         const std::string& document_url) {
  const std::string_view trimmed = ascii::Trim(text);
  if (trimmed.empty()) return {};
  // Most links are absolute: no base need be looked for.
  if (IsOwnResolution(trimmed)) return std::string(trimmed);
  return ResolveReference(BaseOf(scope, document_url), trimmed);
}

using Name = std::pair<std::string_view, std::string_view>;  // namespace URI, local name

// The text of the first of `names` that `parent` has with non-blank text
// ("" when none has).
std::string FirstText(pugi::xml_node parent, std::initializer_list<Name> names) {
  for (const Name& name : names) {
    for (pugi::xml_node child : parent.children()) {
      if (!IsElement(child, name.first, name.second)) continue;
      std::string text = TextOf(child);
      if (!ascii::IsBlank(text)) return text;
    }
  }
  return {};
}

// --- Atom -------------------------------------------------------------------

// An Atom text or content construct as text; `markup` keeps XHTML content
// as markup.
std::string AtomText(pugi::xml_node element, bool markup) {
  const std::string type = ascii::LowerCase(ascii::Trim(element.attribute("type").value()));
  const std::string mode = ascii::LowerCase(ascii::Trim(element.attribute("mode").value()));
  if (mode == "base64") return {};  // binary content is no description
  const bool xhtml = type == "xhtml" || type.find("xhtml") != std::string::npos || mode == "xml";
  if (!markup || !xhtml ||
      !element.find_child([](pugi::xml_node n) { return n.type() == pugi::node_element; })) {
    return TextOf(element);
  }
  // XHTML content sits in one div that is not part of the content.
  pugi::xml_node container = element;
  pugi::xml_node only_element;
  int elements = 0;
  for (pugi::xml_node child : element.children()) {
    if (child.type() == pugi::node_element) {
      only_element = child;
      ++elements;
    } else if (child.type() != pugi::node_pcdata || !ascii::IsBlank(child.value())) {
      elements = 2;  // text beside the div: no wrapper
    }
  }
  if (elements == 1 && IsElement(only_element, kXhtml, "div")) container = only_element;
  return InnerMarkup(container);
}

std::string AtomConstruct(pugi::xml_node parent, std::string_view ns,
                          std::initializer_list<std::string_view> locals, bool markup) {
  for (std::string_view local : locals) {
    for (pugi::xml_node child : parent.children()) {
      if (!IsElement(child, ns, local)) continue;
      std::string text = AtomText(child, markup);
      if (!ascii::IsBlank(text)) return text;
    }
  }
  return {};
}

// The link of an Atom feed or entry: rel="alternate" or no rel, else the
// first link with an address.
std::string AtomLink(pugi::xml_node parent, std::string_view ns, const std::string& document_url) {
  pugi::xml_node first;
  for (pugi::xml_node child : parent.children()) {
    if (!IsElement(child, ns, "link") || ascii::IsBlank(child.attribute("href").value())) continue;
    if (!first) first = child;
    const std::string rel = ascii::LowerCase(ascii::Trim(child.attribute("rel").value()));
    if (rel.empty() || rel == "alternate") {
      return ResolvedLink(child.attribute("href").value(), child, document_url);
    }
  }
  if (!first) return {};
  return ResolvedLink(first.attribute("href").value(), first, document_url);
}

std::string AtomAuthor(pugi::xml_node parent, std::string_view ns) {
  for (pugi::xml_node author : parent.children()) {
    if (!IsElement(author, ns, "author")) continue;
    std::string name = FirstText(author, {{ns, "name"}});
    if (!name.empty()) return name;
  }
  return FirstText(parent, {{kDublinCore, "creator"}});
}

FeedItem AtomEntry(pugi::xml_node entry, std::string_view ns, const std::string& feed_author,
                   const std::string& document_url) {
  FeedItem item;
  item.title = AtomConstruct(entry, ns, {"title"}, false);
  if (item.title.empty()) item.title = FirstText(entry, {{kDublinCore, "title"}});
  item.description = AtomConstruct(entry, ns, {"content", "summary"}, true);
  if (item.description.empty()) item.description = FirstText(entry, {{kDublinCore, "description"}});
  item.link = AtomLink(entry, ns, document_url);
  item.pubdate = FirstText(entry, {{ns, "published"},
                                   {ns, "updated"},
                                   {ns, "issued"},
                                   {ns, "modified"},
                                   {ns, "created"},
                                   {kDublinCore, "date"}});
  item.author = AtomAuthor(entry, ns);
  if (item.author.empty()) {
    if (pugi::xml_node source = Child(entry, ns, "source")) item.author = AtomAuthor(source, ns);
  }
  if (item.author.empty()) item.author = feed_author;
  item.guid = FirstText(entry, {{ns, "id"}});
  if (item.link.empty() && IsHttpUrl(ascii::Trim(item.guid))) item.link = ascii::Trim(item.guid);
  return item;
}

Feed AtomFeed(pugi::xml_node root, std::string_view ns, const std::string& document_url) {
  Feed feed;
  feed.title = AtomConstruct(root, ns, {"title"}, false);
  if (feed.title.empty()) feed.title = FirstText(root, {{kDublinCore, "title"}});
  feed.link = AtomLink(root, ns, document_url);
  feed.description = AtomConstruct(root, ns, {"subtitle", "tagline"}, false);
  if (feed.description.empty()) feed.description = FirstText(root, {{kDublinCore, "description"}});
  const std::string author = AtomAuthor(root, ns);
  for (pugi::xml_node entry : root.children()) {
    if (Full(feed)) break;
    if (IsElement(entry, ns, "entry")) {
      feed.items.push_back(AtomEntry(entry, ns, author, document_url));
    }
  }
  return feed;
}

// --- RSS --------------------------------------------------------------------

// The link of an RSS channel or item: its link element, else an Atom link.
std::string RssLink(pugi::xml_node parent, std::string_view ns, const std::string& document_url) {
  for (pugi::xml_node child : parent.children()) {
    if (!IsElement(child, ns, "link")) continue;
    std::string link = ResolvedLink(TextOf(child), child, document_url);
    if (!link.empty()) return link;
  }
  return AtomLink(parent, kAtom10, document_url);
}

FeedItem RssItem(pugi::xml_node element, std::string_view ns, const std::string& document_url) {
  FeedItem item;
  item.title = FirstText(element, {{ns, "title"}, {kDublinCore, "title"}});
  item.description = FirstText(
      element, {{ns, "description"}, {kContent, "encoded"}, {kDublinCore, "description"}});
  item.link = RssLink(element, ns, document_url);
  item.pubdate = FirstText(element, {{ns, "pubDate"}, {kDublinCore, "date"}});
  item.author = FirstText(element, {{ns, "author"}, {kDublinCore, "creator"}});
  if (pugi::xml_node guid = Child(element, ns, "guid")) {
    item.guid = TextOf(guid);
    if (item.link.empty()) {
      // RSS 2.0: a guid is a permalink unless it says otherwise.
      const bool permalink =
          ascii::LowerCase(ascii::Trim(guid.attribute("isPermaLink").value())) != "false";
      if (permalink || IsHttpUrl(ascii::Trim(item.guid))) {
        item.link = ResolvedLink(item.guid, guid, document_url);
      }
    }
  } else if (pugi::xml_attribute about = Attribute(element, kRdf, "about")) {
    // RSS 1.0 names each item by the URI of the resource it is about.
    item.guid = about.value();
    if (item.link.empty() && IsHttpUrl(ascii::Trim(item.guid))) item.link = ascii::Trim(item.guid);
  }
  return item;
}

void RssChannelHeader(pugi::xml_node channel, std::string_view ns, const std::string& document_url,
                      Feed& feed) {
  feed.title = FirstText(channel, {{ns, "title"}, {kDublinCore, "title"}});
  feed.link = RssLink(channel, ns, document_url);
  feed.description = FirstText(channel, {{ns, "description"}, {kDublinCore, "description"}});
}

Feed RssFeed(pugi::xml_node root, std::string_view ns, const std::string& document_url) {
  Feed feed;
  pugi::xml_node channel = Child(root, ns, "channel");
  if (channel) RssChannelHeader(channel, ns, document_url, feed);
  // Items belong in the channel; very old feeds put them beside it.
  pugi::xml_node holder = channel && Child(channel, ns, "item") ? channel : root;
  for (pugi::xml_node element : holder.children()) {
    if (Full(feed)) break;
    if (IsElement(element, ns, "item")) feed.items.push_back(RssItem(element, ns, document_url));
  }
  return feed;
}

std::optional<Feed> RdfFeed(pugi::xml_node root, const std::string& document_url) {
  for (std::string_view ns : {kRss10, kRss090}) {
    pugi::xml_node channel = Child(root, ns, "channel");
    if (!channel && !Child(root, ns, "item")) continue;
    Feed feed;
    if (channel) RssChannelHeader(channel, ns, document_url, feed);
    for (pugi::xml_node element : root.children()) {
      if (Full(feed)) break;
      if (IsElement(element, ns, "item")) feed.items.push_back(RssItem(element, ns, document_url));
    }
    return feed;
  }
  return std::nullopt;
}

// The feed that `element` is, when it is the document element of one of the
// vocabularies this converter reads.
std::optional<Feed> FeedAt(pugi::xml_node element, const std::string& document_url) {
  std::optional<std::string_view> ns = NamespaceUri(element);
  if (!ns) return std::nullopt;
  const std::string_view local = LocalName(element);
  if (local == "rss" && (ns->empty() || *ns == kUserlandRss2 || *ns == kUserlandRss)) {
    return RssFeed(element, *ns, document_url);
  }
  if (local == "RDF" && *ns == kRdf) return RdfFeed(element, document_url);
  if (local == "feed" && (*ns == kAtom10 || *ns == kAtom03 || ns->empty())) {
    return AtomFeed(element, *ns, document_url);
  }
  return std::nullopt;
}

bool IsFeedElement(pugi::xml_node element) {
  // The name first: finding an element's namespace walks up to the root.
  const std::string_view local = LocalName(element);
  if (local != "rss" && local != "RDF" && local != "feed") return false;
  std::optional<std::string_view> ns = NamespaceUri(element);
  if (!ns) return false;
  if (local == "rss") return ns->empty() || *ns == kUserlandRss2 || *ns == kUserlandRss;
  if (local == "RDF") {
    if (*ns != kRdf) return false;
    for (std::string_view rss : {kRss10, kRss090}) {
      if (Child(element, rss, "channel") || Child(element, rss, "item")) return true;
    }
    return false;
  }
  return *ns == kAtom10 || *ns == kAtom03 || ns->empty();
}

// How deep below the document element a feed is looked for: a page that
// wraps a feed does so a few levels down, and the bound keeps the search
// linear in a hostile document nested a hundred thousand levels deep.
constexpr int kFeedSearchDepth = 64;

// The outermost feed elements below `root` (what a feed holds, a feed in an
// entry's content say, is part of that feed). Walked without recursion.
std::vector<pugi::xml_node> FeedElementsBelow(pugi::xml_node root) {
  std::vector<pugi::xml_node> found;
  pugi::xml_node node = root.first_child();
  int depth = 1;
  while (node && node != root) {
    const bool feed = node.type() == pugi::node_element && IsFeedElement(node);
    if (feed) found.push_back(node);
    if (!feed && node.first_child() && depth < kFeedSearchDepth) {
      node = node.first_child();
      ++depth;
      continue;
    }
    while (node != root && !node.next_sibling()) {
      node = node.parent();
      --depth;
    }
    if (node == root) break;
    node = node.next_sibling();
  }
  return found;
}

// A field that rssnotify keeps on one line (in its update-state file and its
// log): every line break and other control character becomes a blank, a CR
// LF pair one blank. Besides the C0 controls and DEL these are the C1
// controls (NEL among them) and the Unicode line and paragraph separators.
std::string SingleLine(const std::string& text) {
  // Most fields hold none of these: the text up to the first byte that may
  // start one is copied as it is.
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F || c == 0xC2 || c == 0xE2) break;
    ++i;
  }
  if (i == text.size()) return text;
  std::string out(text, 0, i);
  out.reserve(text.size());
  for (; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    const auto third = i + 2 < text.size() ? static_cast<unsigned char>(text[i + 2]) : 0;
    if (c == '\r' && next == '\n') {
      out += ' ';
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      out += ' ';
    } else if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
      out += ' ';
      ++i;
    } else if (c == 0xE2 && next == 0x80 && (third == 0xA8 || third == 0xA9)) {
      out += ' ';
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

void SetError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

bool IsXmlSafe(const std::string& text) {
  const platform::Utf8Scan scan = platform::ScanUtf8(text);
  return scan.valid && !scan.non_xml_chars;
}

// `text` without the characters XML 1.0 does not allow (C0 controls other
// than tab, line feed and carriage return; U+FFFE and U+FFFF), which a
// character reference in a feed can smuggle in; invalid UTF-8 becomes U+FFFD.
std::string XmlSafe(const std::string& text) {
  std::string valid = platform::ValidUtf8(text);
  std::string out;
  out.reserve(valid.size());
  for (std::size_t i = 0; i < valid.size(); ++i) {
    const auto c = static_cast<unsigned char>(valid[i]);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') continue;
    if (c == 0xEF && i + 2 < valid.size() && static_cast<unsigned char>(valid[i + 1]) == 0xBF &&
        (static_cast<unsigned char>(valid[i + 2]) & 0xFE) == 0xBE) {
      i += 2;
      continue;
    }
    out += valid[i];
  }
  return out;
}

// Appends `text` as character data: the three characters that could be
// taken for markup as references, all else as it is.
void AppendEscaped(std::string& out, std::string_view text) {
  std::size_t copied = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::string_view reference;
    switch (text[i]) {
      case '&':
        reference = "&amp;";
        break;
      case '<':
        reference = "&lt;";
        break;
      case '>':
        reference = "&gt;";
        break;
      default:
        continue;
    }
    out.append(text, copied, i - copied);
    out += reference;
    copied = i + 1;
  }
  out.append(text, copied);
}

// One text element of the converted document on its own line, indented by
// `indent`: "<name>text</name>", or "<name />" when no text is left.
void AddText(std::string& out, std::string_view indent, std::string_view name,
             const std::string& text) {
  const bool safe = IsXmlSafe(text);
  const std::string repaired = safe ? std::string() : XmlSafe(text);
  const std::string_view kept = safe ? std::string_view(text) : std::string_view(repaired);
  out += indent;
  out += '<';
  out += name;
  if (kept.empty()) {
    out += " />\n";
    return;
  }
  out += '>';
  AppendEscaped(out, kept);
  out += "</";
  out += name;
  out += ">\n";
}

}  // namespace

std::optional<Feed> ReadFeed(const std::string& bytes, const std::string& document_url,
                             std::string* error) {
  if (ascii::IsBlank(bytes)) {
    SetError(error, "the document is empty");
    return std::nullopt;
  }
  std::string undecoded = bytes;
  ReplaceImpossibleWideLabel(undecoded);
  std::string decode_error;
  std::optional<platform::DecodedXml> decoded = platform::DecodeXmlBytes(
      std::move(undecoded), platform::XmlDecoding::kLenient, &decode_error);
  if (!decoded) {
    SetError(error, "the document cannot be decoded: " + decode_error);
    return std::nullopt;
  }
  std::string& text = decoded->text;
  ReplaceHtmlEntities(text);
  xml_memory_refused = false;
  const ParsedTextCharge charge(text.size());
  pugi::xml_document document;
  pugi::xml_parse_result parsed;
  if (!xml_memory_refused) {
    parsed = document.load_buffer_inplace(
        text.data(), text.size(), pugi::parse_default | pugi::parse_ws_pcdata, pugi::encoding_utf8);
  }
  if (xml_memory_refused) {
    SetError(error, "the document needs more than " + std::to_string(kMaxXmlMemory) +
                        " bytes of memory to be read");
    return std::nullopt;
  }
  if (!parsed) {
    SetError(error, std::string("the document is not well-formed XML (") + parsed.description() +
                        " at offset " + std::to_string(parsed.offset) + ")");
    return std::nullopt;
  }
  const pugi::xml_node root = document.document_element();
  std::optional<Feed> feed = FeedAt(root, document_url);
  if (!feed) {
    // Not a feed itself, but maybe a page that holds one: an Atom feed in an
    // XHTML page, say. Only one feed in it can be the feed meant.
    std::vector<pugi::xml_node> found = FeedElementsBelow(root);
    if (found.size() == 1) {
      feed = FeedAt(found.front(), document_url);
    } else {
      std::string reason =
          "the document is not a feed (its root element is <" + std::string(root.name()) + ">";
      if (found.size() > 1) reason += " and it holds " + std::to_string(found.size()) + " feeds";
      SetError(error, reason + ")");
      return std::nullopt;
    }
  }
  if (Full(*feed)) {
    SetError(error, "the feed has more than " + std::to_string(kMaxFeedItems) + " items");
    return std::nullopt;
  }
  for (FeedItem& item : feed->items) {
    for (std::string* field : {&item.title, &item.link, &item.pubdate, &item.author, &item.guid}) {
      *field = SingleLine(*field);
    }
  }
  feed->title = SingleLine(feed->title);
  feed->link = SingleLine(feed->link);
  return feed;
}

void OrderNewestFirst(std::vector<FeedItem>& items) {
  std::vector<std::pair<std::int64_t, std::size_t>> keys;
  keys.reserve(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    std::optional<std::int64_t> instant = ParseFeedDate(items[i].pubdate);
    if (!instant) return;
    keys.emplace_back(*instant, i);
  }
  std::stable_sort(keys.begin(), keys.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<FeedItem> ordered;
  ordered.reserve(items.size());
  for (const auto& key : keys) ordered.push_back(std::move(items[key.second]));
  items = std::move(ordered);
}

std::string RootRssDocument(const Feed& feed) {
  // Made as text: the same bytes as the XML library's indented print of
  // such a document, without building its tree first.
  constexpr std::size_t kItemMarkup = 160;
  std::size_t size = 256 + feed.title.size() + feed.link.size() + feed.description.size();
  for (const FeedItem& item : feed.items) {
    size += kItemMarkup + item.title.size() + item.description.size() + item.link.size() +
            item.pubdate.size() + item.author.size() + item.guid.size();
  }
  std::string out;
  out.reserve(size + size / 8);
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rootrss>\n";
  AddText(out, "  ", "maintitle", feed.title);
  AddText(out, "  ", "mainlink", feed.link);
  AddText(out, "  ", "maindescription", feed.description);
  for (const FeedItem& item : feed.items) {
    out += "  <item>\n";
    AddText(out, "    ", "title", item.title);
    AddText(out, "    ", "description", item.description);
    AddText(out, "    ", "link", item.link);
    AddText(out, "    ", "pubdate", item.pubdate);
    AddText(out, "    ", "author", item.author);
    AddText(out, "    ", "guid", item.guid);
    out += "  </item>\n";
  }
  out += "</rootrss>\n";
  return out;
}

std::optional<std::string> ConvertFeed(const std::string& bytes, const std::string& document_url,
                                       std::string* error) {
  std::optional<Feed> feed = ReadFeed(bytes, document_url, error);
  if (!feed) return std::nullopt;
  OrderNewestFirst(feed->items);
  std::string document = RootRssDocument(*feed);
  if (document.size() > kMaxConvertedBytes) {
    SetError(error, "the converted document would be larger than " +
                        std::to_string(kMaxConvertedBytes) + " bytes");
    return std::nullopt;
  }
  return document;
}

void LimitXmlMemory() {
  xml_memory_limited = true;
  pugi::set_memory_management_functions(AllocateXmlMemory, ReleaseXmlMemory);
}

}  // namespace feedpull
