// The XML DOM over pugixml: loading and the node operations.
//
// The document is parsed where it lies: the bytes read from the file (or the
// UTF-8 text decoded from them) become the document's own buffer, which
// pugixml parses in place and whose strings the nodes point into, so a load
// holds the file once, as pugixml's own load_file does. UTF-8 is validated
// in that buffer without decoding it. What pugixml lets pass but XML does not
// is checked after the parse (xml_checks.cpp); references are expanded there
// (xml_references.cpp).
#include "platform/xml_pugi.h"

#include <cctype>
#include <optional>
#include <string>
#include <string_view>

#include "platform/failure.h"
#include "platform/filesystem.h"
#include "platform/xml.h"
#include "platform/xml_encoding.h"

namespace platform {
namespace {

constexpr unsigned kParseOptions = (pugi::parse_default & ~pugi::parse_escapes) |
                                   pugi::parse_comments | pugi::parse_pi | pugi::parse_declaration;

pugi::xml_node ToPugi(void* node) {
  return pugi::xml_node(static_cast<pugi::xml_node_struct*>(node));
}

// Names accepted for new elements: XML names.
bool IsXmlName(const std::string& name) {
  if (name.empty()) return false;
  unsigned char first = static_cast<unsigned char>(name[0]);
  if (first < 0x80 && !std::isalpha(first) && first != '_' && first != ':') return false;
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x80 && !std::isalnum(u) && u != '_' && u != ':' && u != '-' && u != '.') {
      return false;
    }
  }
  return true;
}

std::string NameOf(pugi::xml_node node) {
  switch (node.type()) {
    case pugi::node_null:
      return {};
    case pugi::node_document:
      return "#document";
    case pugi::node_pcdata:
      return "#text";
    case pugi::node_cdata:
      return "#cdata-section";
    case pugi::node_comment:
      return "#comment";
    case pugi::node_doctype:
      return "#doctype";
    default:
      return node.name();  // elements, processing instructions, the declaration ("xml")
  }
}

}  // namespace

void XmlDocument::Impl::Clear() {
  doc.reset();
  std::string().swap(buffer);
  within_depth_at = xml_detail::DeepElementsMade();
}

bool XmlDocument::Impl::Parse(std::string text, bool non_xml_chars,
                              std::optional<bool> plain_markup) {
  Clear();
  error.clear();
  buffer = std::move(text);
  // pugixml expands the references of a plain text itself, as they are all
  // ones it expands as this layer does.
  const bool plain =
      !non_xml_chars && (plain_markup ? *plain_markup : xml_detail::IsPlainMarkup(buffer));
  pugi::xml_parse_result result = doc.load_buffer_inplace(
      buffer.data(), buffer.size(), plain ? kParseOptions | pugi::parse_escapes : kParseOptions,
      pugi::encoding_utf8);
  if (!result) {
    error = std::string(result.description()) + " at offset " + std::to_string(result.offset);
  } else if (xml_detail::FinishParse(doc, buffer, non_xml_chars, plain, error)) {
    within_depth_at = xml_detail::DeepElementsMade();  // deeper is refused
    return true;
  }
  Clear();
  return false;
}

bool XmlDocument::Impl::Decode(std::string bytes) {
  std::string why;
  // The check of UTF-8 text finds out on the way whether it is plain markup.
  std::optional<bool> plain;
  const auto scan = [&plain](std::string_view text) {
    const xml_detail::XmlTextScan found = xml_detail::ScanXmlText(text);
    plain = found.plain;
    return found.utf8;
  };
  std::optional<DecodedXml> decoded =
      DecodeXmlBytes(std::move(bytes), XmlDecoding::kStrict, &why, scan);
  if (!decoded) return Fail(why);
  return Parse(std::move(decoded->text), decoded->non_xml_chars, plain);
}

bool XmlDocument::Impl::Fail(std::string why) {
  Clear();
  error = std::move(why);
  return false;
}

XmlDocument::XmlDocument() : impl_(std::make_unique<Impl>()) {}
XmlDocument::~XmlDocument() = default;

bool XmlDocument::Load(const std::string& path) {
  std::string bytes;
  try {
    bytes = Files().ReadFileBytes(path);
  } catch (const Failure& failure) {
    return impl_->Fail(failure.description() + ": " + path);
  }
  return impl_->Decode(std::move(bytes));
}

bool XmlDocument::LoadXml(const std::string& text) {
  const xml_detail::XmlTextScan scan = xml_detail::ScanXmlText(text);
  if (!scan.utf8.valid) return impl_->Fail("text not valid UTF-8");
  return impl_->Parse(text, scan.utf8.non_xml_chars, scan.plain);
}

bool XmlDocument::LoadBytes(const std::string& bytes) {
  return impl_->Decode(bytes);
}

const std::string& XmlDocument::LoadError() const {
  return impl_->error;
}

XmlNode XmlDocument::DocumentElement() const {
  for (pugi::xml_node top : impl_->doc.children()) {
    if (top.type() == pugi::node_element) return XmlNode(top.internal_object());
  }
  return {};
}

std::string XmlNode::NodeName() const {
  return NameOf(ToPugi(node_));
}

namespace {

// NodeName() == name, without making the name's copy.
bool NameIs(pugi::xml_node node, std::string_view name) {
  switch (node.type()) {
    case pugi::node_element:
    case pugi::node_pi:
    case pugi::node_declaration:
      return name == node.name();
    default:
      return name == NameOf(node);
  }
}

}  // namespace

bool XmlNode::IsNamed(const char* name) const {
  return NameIs(ToPugi(node_), name);
}

bool XmlNode::IsElement() const {
  return ToPugi(node_).type() == pugi::node_element;
}

std::string XmlNode::Text() const {
  std::string text;
  TextInto(text);
  return text;
}

void XmlNode::TextInto(std::string& out) const {
  out.clear();
  pugi::xml_node start = ToPugi(node_);
  switch (start.type()) {
    case pugi::node_null:
      return;
    case pugi::node_element:
    case pugi::node_document:
      break;
    default:
      out = start.value();
      return;
  }
  pugi::xml_node node = start.first_child();
  // The usual element of a feed or a store: one text child.
  if (node && !node.next_sibling()) {
    const pugi::xml_node_type type = node.type();
    if (type == pugi::node_pcdata || type == pugi::node_cdata) {
      out = node.value();
      return;
    }
  }
  while (node && node != start) {
    if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) out += node.value();
    if (node.first_child()) {
      node = node.first_child();
      continue;
    }
    while (node != start && !node.next_sibling()) node = node.parent();
    if (node != start) node = node.next_sibling();
  }
}

void XmlNode::SetText(const std::string& text) {
  pugi::xml_node node = ToPugi(node_);
  if (!node) throw Failure(err::kObjectNotSet);
  switch (node.type()) {
    case pugi::node_element:
      while (node.first_child()) node.remove_child(node.first_child());
      // An empty text leaves the element without children, as the DOM does.
      if (!text.empty()) {
        node.append_child(pugi::node_pcdata).set_value(XmlSafeText(text).c_str());
      }
      return;
    case pugi::node_pcdata:
    case pugi::node_cdata:
    case pugi::node_comment:
    case pugi::node_pi:
      node.set_value(XmlSafeText(text).c_str());
      return;
    default:
      throw Failure(err::kInvalidCall, "this node cannot hold text");
  }
}

std::vector<XmlNode> XmlNode::ChildNodes() const {
  std::vector<XmlNode> children;
  for (pugi::xml_node child : ToPugi(node_).children()) {
    children.push_back(XmlNode(child.internal_object()));
  }
  return children;
}

XmlNode XmlNode::FirstChild() const {
  return XmlNode(ToPugi(node_).first_child().internal_object());
}

XmlNode XmlNode::FirstChildNamed(const char* name) const {
  // pugixml compares the names of the children itself; text, comments and
  // the other kinds have none, and their "#..." names are not XML names.
  if (name[0] == '#') {
    for (pugi::xml_node child : ToPugi(node_).children()) {
      if (NameIs(child, name)) return XmlNode(child.internal_object());
    }
    return {};
  }
  return XmlNode(ToPugi(node_).child(name).internal_object());
}

XmlNode XmlNode::NextSiblingNamed(const char* name) const {
  pugi::xml_node node = ToPugi(node_);
  if (name[0] == '#') {
    for (pugi::xml_node next = node.next_sibling(); next; next = next.next_sibling()) {
      if (NameIs(next, name)) return XmlNode(next.internal_object());
    }
    return {};
  }
  return XmlNode(node.next_sibling(name).internal_object());
}

XmlNode XmlNode::NextSibling() const {
  return XmlNode(ToPugi(node_).next_sibling().internal_object());
}

std::size_t XmlNode::ChildCount() const {
  std::size_t count = 0;
  for (pugi::xml_node child = ToPugi(node_).first_child(); child; child = child.next_sibling()) {
    ++count;
  }
  return count;
}

XmlNode XmlNode::AppendElement(const std::string& name) {
  return InsertElementBefore(name, XmlNode());
}

XmlNode XmlNode::InsertElementBefore(const std::string& name, XmlNode reference) {
  pugi::xml_node parent = ToPugi(node_);
  pugi::xml_node before = ToPugi(reference.node_);
  if (!IsXmlName(name)) throw Failure(err::kInvalidCall, "invalid element name " + name);
  if (!parent) throw Failure(err::kObjectNotSet);
  if (parent.type() != pugi::node_element || (before && before.parent() != parent)) {
    throw Failure(err::kInvalidCall, "the element cannot be inserted here");
  }
  pugi::xml_node element =
      before ? parent.insert_child_before(name.c_str(), before) : parent.append_child(name.c_str());
  if (!element) throw Failure(err::kOutOfMemory);
  int level = 0;
  for (pugi::xml_node up = element; up.type() == pugi::node_element; up = up.parent()) ++level;
  if (level > kXmlMaxDepth) xml_detail::CountDeepElement();
  return XmlNode(element.internal_object());
}

void XmlNode::RemoveChild(XmlNode& child) {
  pugi::xml_node parent = ToPugi(node_);
  pugi::xml_node removed = ToPugi(child.node_);
  if (!parent || !removed || removed.parent() != parent) {
    throw Failure(err::kInvalidCall, "the node is not a child of this one");
  }
  parent.remove_child(removed);
  child = XmlNode();
}

XmlNode XmlNode::SelectSingleNode(const std::string& xpath) const {
  pugi::xml_node context = ToPugi(node_);
  if (!context) return {};
  pugi::xpath_node_set found;
  try {
    pugi::xpath_query query(xpath.c_str());
    found = query.evaluate_node_set(pugi::xpath_node(context));
  } catch (const pugi::xpath_exception& e) {
    throw Failure(err::kInvalidCall, std::string("XPath: ") + e.what());
  }
  found.sort();
  for (const pugi::xpath_node& match : found) {
    pugi::xml_node node = match.node();  // empty for attributes, which are not nodes here
    if (node) return XmlNode(node.internal_object());
  }
  return {};
}

}  // namespace platform
