// The checks of a parsed tree.
//
// Characters XML 1.0 does not allow (control characters, U+FFFE, U+FFFF)
// never reach a saved file: a document that holds them raw loads with each
// one replaced by U+FFFD (and so does text set by SetText). pugixml would
// write them as character references such as "&#30;", which no conforming
// parser, this one included, reads back. References to them are refused
// when loading, as XML requires.
//
// Depth. Elements nested more than kXmlMaxDepth levels deep are refused on
// load and on save. No feed needs a tenth of that, and the bound keeps the
// indented output linear in the document's size: each line's indentation
// is at most that many tabs.
#include <algorithm>
#include <atomic>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/xml_encoding.h"
#include "platform/xml_pugi.h"

namespace platform::xml_detail {
namespace {

// Replaces each character XML does not allow in `value` with U+FFFD, through
// `set` when there is one.
template <typename Setter>
void MakeXmlSafe(const char* value, Setter set) {
  if (ScanUtf8(value).non_xml_chars) set(XmlSafeText(value).c_str());
}

}  // namespace

std::string DepthError() {
  return "elements nested deeper than " + std::to_string(kXmlMaxDepth) + " levels";
}

namespace {

// Where the markup IsPlainMarkup looks at starts: past the XML declaration,
// if any; null when the declaration keeps the text from being plain.
const char* MarkupStart(std::string_view text) {
  if (text.substr(0, 5) != "<?xml") return text.data();
  // pugixml would expand a reference in the declaration too.
  const std::size_t close = text.find("?>");
  if (close == std::string_view::npos || text.substr(0, close).find('&') != text.npos) {
    return nullptr;
  }
  return text.data() + close + 2;
}

// IsPlainMarkup's look at the markup characters ("<", ">", "=", "&") of a
// text, shown them in order. Every "<" starts a tag here, as nothing else
// may hold one, so the tags are followed from "<" to ">" by these four
// alone. For a text pugixml accepts, the count at each start tag is its
// element's level.
class PlainMarkup {
 public:
  explicit PlainMarkup(std::string_view text) : end_(text.data() + text.size()) {}

  bool At(const char* at) {
    switch (*at) {
      case '<':
        if (in_tag_ || end_ - at < 2 || at[1] == '!' || at[1] == '?') return false;
        in_tag_ = true;
        end_tag_ = at[1] == '/';
        return end_tag_ ? (--level_, true) : ++level_ <= kXmlMaxDepth;
      case '>':
        if (in_tag_ && !end_tag_ && at[-1] == '/') --level_;  // an empty-element tag
        in_tag_ = false;
        return true;
      case '=':
        return !in_tag_;  // an attribute
      default:            // '&'; the longest reference accepted is "&#x0010FFFF;"
        return !in_tag_ && Reference(at);
    }
  }
  // Once every markup character has been shown.
  bool Done() const { return !in_tag_ && level_ == 0; }

 private:
  bool Reference(const char* at) {
    const std::string_view rest(at + 1, std::min<std::ptrdiff_t>(end_ - at - 1, 11));
    // The references that escaped markup is made of, known at a glance.
    if (rest.starts_with("lt;") || rest.starts_with("gt;") || rest.starts_with("amp;") ||
        rest.starts_with("quot;")) {
      return true;
    }
    const std::size_t semi = rest.find(';');
    scratch_.clear();
    return semi != std::string_view::npos &&
           AppendReference(rest.substr(0, semi), scratch_, error_);
  }

  const char* const end_;
  int level_ = 0;
  bool in_tag_ = false;
  bool end_tag_ = false;
  std::string scratch_, error_;
};

bool IsMarkup(char c) {
  return c == '<' || c == '>' || c == '=' || c == '&';
}

#if defined(__SSE2__)
// The markup characters among sixteen bytes, a bit each.
unsigned MarkupBits(__m128i bytes) {
  return static_cast<unsigned>(
      _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('<')),
                                                  _mm_cmpeq_epi8(bytes, _mm_set1_epi8('>'))),
                                     _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('=')),
                                                  _mm_cmpeq_epi8(bytes, _mm_set1_epi8('&'))))));
}
#endif

// `scan` with what a scan of the text that follows found.
void Add(Utf8Scan& scan, const Utf8Scan& more) {
  scan.valid = scan.valid && more.valid;
  scan.non_xml_chars = scan.non_xml_chars || more.non_xml_chars;
}

}  // namespace

bool IsPlainMarkup(std::string_view text) {
  const char* p = MarkupStart(text);
  if (p == nullptr) return false;
  const char* const end = text.data() + text.size();
  PlainMarkup markup(text);
#if defined(__SSE2__)
  for (; end - p >= 16; p += 16) {
    for (unsigned found = MarkupBits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
         found != 0; found &= found - 1) {
      if (!markup.At(p + __builtin_ctz(found))) return false;
    }
  }
#endif
  for (; p < end; ++p) {
    if (IsMarkup(*p) && !markup.At(p)) return false;
  }
  return markup.Done();
}

XmlTextScan ScanXmlText(std::string_view text) {
  XmlTextScan found;
  const char* p = MarkupStart(text);
  if (p == nullptr) {
    found.utf8 = ScanUtf8(text);
    return found;
  }
  const char* const end = text.data() + text.size();
  // The declaration, where markup is not looked for, is checked alone: it
  // ends on an ASCII ">", so no character spans it and the rest.
  found.utf8 = ScanUtf8(std::string_view(text.data(), static_cast<std::size_t>(p - text.data())));
  PlainMarkup markup(text);
  // UTF-8 is checked up to `checked`, which may run ahead of `p`: bytes past
  // ASCII are checked by ScanUtf8 in runs that end before a byte that starts
  // a character, as a character never spans two of them.
  const char* checked = p;
  const auto check_to = [&](const char* to) {
    to = std::min(to, end);
    while (to < end && (static_cast<unsigned char>(*to) & 0xC0) == 0x80) ++to;
    Add(found.utf8, ScanUtf8(std::string_view(checked, static_cast<std::size_t>(to - checked))));
    checked = to;
  };
  bool plain = true;
#if defined(__SSE2__)
  for (; end - p >= 16 && found.utf8.valid; p += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if (_mm_movemask_epi8(bytes) == 0) {
      if (HoldsNonXmlControl(bytes)) found.utf8.non_xml_chars = true;
      checked = std::max(checked, p + 16);
    } else if (checked < p + 16) {
      check_to(p + 256);
    }
    for (unsigned bits = MarkupBits(bytes); bits != 0; bits &= bits - 1) {
      if (!markup.At(p + __builtin_ctz(bits))) {
        plain = false;
        break;
      }
    }
    if (!plain) break;
  }
#endif
  if (found.utf8.valid) check_to(end);
  for (; plain && p < end; ++p) {
    if (IsMarkup(*p) && !markup.At(p)) plain = false;
  }
  found.plain = found.utf8.valid && plain && markup.Done();
  return found;
}

bool FinishParse(pugi::xml_document& doc, std::string_view text, bool non_xml_chars, bool plain,
                 std::string& error) {
  // Without a "&" anywhere in the text there is no reference to expand.
  const bool references = text.find('&') != std::string_view::npos;
  int elements = 0;
  for (pugi::xml_node top : doc.children()) {
    if (top.type() == pugi::node_element) ++elements;
    if (top.type() == pugi::node_pcdata || top.type() == pugi::node_cdata) {
      error = "text outside the document element";
      return false;
    }
  }
  if (elements != 1) {
    error = elements == 0 ? "no document element" : "more than one document element";
    return false;
  }
  if (plain) return true;
  // pugixml walks the tree itself (a call per node into the library instead
  // of several); a walker's depth counts the document's children as 0, and
  // only elements have children, so it is the element depth of the parent.
  class Walker : public pugi::xml_tree_walker {
   public:
    Walker(bool references, bool non_xml_chars, std::string& error)
        : references_(references), non_xml_chars_(non_xml_chars), error_(error) {}
    bool for_each(pugi::xml_node& node) override {
      const pugi::xml_node_type type = node.type();
      if (type == pugi::node_pcdata) {
        if (non_xml_chars_) MakeXmlSafe(node.value(), [&](const char* v) { node.set_value(v); });
        if (references_ && std::strchr(node.value(), '&') != nullptr) {
          if (!ExpandReferences(node.value(), expanded_, error_)) return false;
          node.set_value(expanded_.c_str());
        }
      } else if (type == pugi::node_element) {
        if (depth() >= kXmlMaxDepth) {
          error_ = DepthError();
          return false;
        }
        for (pugi::xml_attribute attribute = node.first_attribute(); attribute;
             attribute = attribute.next_attribute()) {
          for (pugi::xml_attribute later = attribute.next_attribute(); later;
               later = later.next_attribute()) {
            if (std::strcmp(attribute.name(), later.name()) == 0) {
              error_ = "duplicate attribute " + std::string(attribute.name());
              return false;
            }
          }
          if (non_xml_chars_) {
            MakeXmlSafe(attribute.value(), [&](const char* v) { attribute.set_value(v); });
          }
          if (references_ && std::strchr(attribute.value(), '&') != nullptr) {
            if (!ExpandReferences(attribute.value(), expanded_, error_)) return false;
            attribute.set_value(expanded_.c_str());
          }
        }
      } else if (non_xml_chars_) {
        // CDATA, comments, processing instructions, the DOCTYPE.
        MakeXmlSafe(node.value(), [&](const char* v) { node.set_value(v); });
      }
      return true;
    }

   private:
    const bool references_;
    const bool non_xml_chars_;
    std::string& error_;
    std::string expanded_;
  };
  Walker walker(references, non_xml_chars, error);
  return doc.traverse(walker);
}

namespace {
std::atomic<std::uint64_t> deep_elements{0};
}  // namespace

std::uint64_t DeepElementsMade() {
  return deep_elements.load();
}

void CountDeepElement() {
  ++deep_elements;
}

// pugixml walks the tree; a node's type is only asked for near the bound,
// as only elements have children.
bool WithinDepth(pugi::xml_node top) {
  class Walker : public pugi::xml_tree_walker {
   public:
    bool for_each(pugi::xml_node& node) override {
      // The walker's depth is 0 for `top`'s children, at level 2.
      return depth() + 2 <= kXmlMaxDepth || node.type() != pugi::node_element;
    }
  };
  if (top.type() != pugi::node_element) return true;
  Walker walker;
  return top.traverse(walker);
}

}  // namespace platform::xml_detail
