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

bool IsPlainMarkup(std::string_view text) {
  const char* const end = text.data() + text.size();
  const char* p = text.data();
  if (text.substr(0, 5) == "<?xml") {
    // pugixml would expand a reference in the declaration too.
    const std::size_t close = text.find("?>");
    if (close == std::string_view::npos || text.substr(0, close).find('&') != text.npos) {
      return false;
    }
    p += close + 2;
  }
  // Every "<" starts a tag here, as nothing else may hold one, so the tags
  // are followed from "<" to ">" by four markup characters alone and the
  // text is looked at sixteen bytes at a time. For a text pugixml accepts,
  // the count at each start tag is its element's level.
  int level = 0;
  bool in_tag = false;
  bool end_tag = false;
  std::string scratch, error;
  const auto markup = [&](const char* at) {
    switch (*at) {
      case '<':
        if (in_tag || end - at < 2 || at[1] == '!' || at[1] == '?') return false;
        in_tag = true;
        end_tag = at[1] == '/';
        return end_tag ? (--level, true) : ++level <= kXmlMaxDepth;
      case '>':
        if (in_tag && !end_tag && at[-1] == '/') --level;  // an empty-element tag
        in_tag = false;
        return true;
      case '=':
        return !in_tag;  // an attribute
      default: {         // '&'; the longest reference accepted is "&#x0010FFFF;"
        if (in_tag) return false;
        const std::string_view rest(at + 1, std::min<std::ptrdiff_t>(end - at - 1, 11));
        // The references that escaped markup is made of, known at a glance.
        if (rest.starts_with("lt;") || rest.starts_with("gt;") || rest.starts_with("amp;") ||
            rest.starts_with("quot;")) {
          return true;
        }
        const std::size_t semi = rest.find(';');
        scratch.clear();
        return semi != std::string_view::npos &&
               AppendReference(rest.substr(0, semi), scratch, error);
      }
    }
  };
#if defined(__SSE2__)
  for (; end - p >= 16; p += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    unsigned found = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('<')),
                                                    _mm_cmpeq_epi8(bytes, _mm_set1_epi8('>'))),
                                       _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('=')),
                                                    _mm_cmpeq_epi8(bytes, _mm_set1_epi8('&'))))));
    for (; found != 0; found &= found - 1) {
      if (!markup(p + __builtin_ctz(found))) return false;
    }
  }
#endif
  for (; p < end; ++p) {
    if ((*p == '<' || *p == '>' || *p == '=' || *p == '&') && !markup(p)) return false;
  }
  return !in_tag && level == 0;
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
