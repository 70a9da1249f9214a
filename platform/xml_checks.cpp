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
#include <atomic>
#include <cstring>

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

bool FinishParse(pugi::xml_document& doc, std::string_view text, bool non_xml_chars,
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
