// The XML DOM over pugixml.
//
// Nodes made by CreateElement. A DOM document can own elements that are not
// (yet) in its tree; pugixml cannot: every node of a pugi document hangs below
// its document node, and nodes cannot move between two pugi documents. So the
// document node holds, after the visible tree, one hidden "holder" element
// that parks created elements until AppendChild/InsertBefore moves them into
// place (append_move/insert_move_before keep the node's identity, so an
// XmlNode taken before the move stays valid). The holder's name, "#created",
// is not a valid XML name, so no parsed or created element can carry it. It
// is always the document node's last child and every view of the document
// skips it: Root().ChildNodes()/FirstChild()/NextSibling()/ChildCount(),
// DocumentElement(), Text() of the document, Xml() and the results of
// SelectSingleNode(). XPath itself still walks the holder, so a count() or a
// last() over all of the document's nodes would see parked elements; only the
// node finally returned is filtered.
//
// Loading. Documents are parsed without pugixml's reference expansion: pugixml
// would leave an unknown reference such as "&nbsp;" as plain text, while a
// document that uses an entity it does not define is not well-formed. After
// parsing, the text of every text node and attribute is checked and decoded
// here: the five predefined entities and character references are expanded,
// anything else fails the load. DOCTYPE declarations are skipped by pugixml
// and nothing they name is ever fetched or expanded.
//
// The document is parsed where it lies: the bytes read from the file (or the
// UTF-8 text decoded from them) become the document's own buffer, which
// pugixml parses in place and whose strings the nodes point into, so a load
// holds the file once, as pugixml's own load_file does. UTF-8 is validated
// in that buffer without decoding it.
//
// Characters XML 1.0 does not allow (control characters, U+FFFE, U+FFFF)
// never reach a saved file: a document that holds them raw loads with each
// one replaced by U+FFFD, and so does text set by SetText. pugixml would
// write them as character references such as "&#30;", which no conforming
// parser, this one included, reads back. References to them are refused
// when loading, as XML requires.
//
// Depth. Elements nested more than kXmlMaxDepth levels deep are refused on
// load and on save. No feed needs a tenth of that, and the bound keeps the
// indented output linear in the document's size: each line's indentation
// is at most that many tabs.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>

#include "platform/failure.h"
#include "platform/filesystem.h"
#include "platform/text_encoding.h"
#include "platform/xml.h"
#include "platform/xml_encoding.h"

namespace platform {
namespace {

constexpr char kHolderName[] = "#created";

constexpr unsigned kParseOptions = (pugi::parse_default & ~pugi::parse_escapes) |
                                   pugi::parse_comments | pugi::parse_pi | pugi::parse_declaration;

pugi::xml_node ToPugi(void* node) {
  return pugi::xml_node(static_cast<pugi::xml_node_struct*>(node));
}

// The name is looked at first: no other node's name starts with "#" (text
// nodes have none), so for every other node this is one call into pugixml.
bool IsHolder(pugi::xml_node node) {
  const char* name = node.name();
  return name[0] == '#' && std::strcmp(name, kHolderName) == 0 &&
         node.type() == pugi::node_element && node.parent().type() == pugi::node_document;
}

pugi::xml_node Holder(pugi::xml_node any) {
  pugi::xml_node last = any.root().last_child();
  return IsHolder(last) ? last : pugi::xml_node();
}

// True for the holder and everything parked below it.
bool InHolder(pugi::xml_node node) {
  for (; node; node = node.parent()) {
    if (IsHolder(node)) return true;
  }
  return false;
}

pugi::xml_node Visible(pugi::xml_node node) {
  return IsHolder(node) ? pugi::xml_node() : node;
}

// Expands the references in `raw` into `out`. False, with the reason in
// `error`, on a reference that is neither a predefined entity nor a character
// reference to an XML character, and on a bare "&".
bool ExpandReferences(std::string_view raw, std::string& out, std::string& error) {
  out.clear();
  out.reserve(raw.size());
  std::size_t i = 0;
  while (i < raw.size()) {
    std::size_t amp = raw.find('&', i);
    if (amp == std::string_view::npos) {
      out.append(raw.substr(i));
      break;
    }
    out.append(raw.substr(i, amp - i));
    std::size_t semi = raw.find(';', amp + 1);
    if (semi == std::string_view::npos || semi == amp + 1) {
      error = "'&' that does not start a reference";
      return false;
    }
    std::string_view name = raw.substr(amp + 1, semi - amp - 1);
    if (name == "amp") {
      out += '&';
    } else if (name == "lt") {
      out += '<';
    } else if (name == "gt") {
      out += '>';
    } else if (name == "quot") {
      out += '"';
    } else if (name == "apos") {
      out += '\'';
    } else if (name[0] == '#') {
      bool hex = name.size() > 1 && name[1] == 'x';
      std::string_view digits = name.substr(hex ? 2 : 1);
      unsigned long code = 0;
      bool ok = !digits.empty() && digits.size() <= 8;
      for (char c : digits) {
        int value = -1;
        if (c >= '0' && c <= '9') {
          value = c - '0';
        } else if (hex && c >= 'a' && c <= 'f') {
          value = c - 'a' + 10;
        } else if (hex && c >= 'A' && c <= 'F') {
          value = c - 'A' + 10;
        }
        if (value < 0) {
          ok = false;
          break;
        }
        code = code * (hex ? 16 : 10) + static_cast<unsigned long>(value);
      }
      if (!ok || code > 0x10FFFF || !IsXmlChar(static_cast<char32_t>(code))) {
        error = "invalid character reference &" + std::string(name) + ";";
        return false;
      }
      AppendUtf8(out, static_cast<char32_t>(code));
    } else {
      error = "reference to undefined entity &" + std::string(name) + ";";
      return false;
    }
    i = semi + 1;
  }
  return true;
}

std::string DepthError() {
  return "elements nested deeper than " + std::to_string(kXmlMaxDepth) + " levels";
}

// Replaces each character XML does not allow in `value` with U+FFFD, through
// `set` when there is one.
template <typename Setter>
void MakeXmlSafe(const char* value, Setter set) {
  if (ScanUtf8(value).non_xml_chars) set(XmlSafeText(value).c_str());
}

// Checks what pugixml lets pass but a conforming parser rejects, expands the
// references of text nodes and attributes, and, when the text was found to
// hold characters XML does not allow, replaces them.
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

// True when no element below `top` (`top` itself at level 1) is nested
// deeper than kXmlMaxDepth. pugixml walks the tree; a node's type is only
// asked for near the bound, as only elements have children.
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

// Names accepted by CreateElement: XML names, the holder's name excluded.
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

// Hands pugixml's output, as it is made, to a sink, in pieces of 64 KiB:
// pugixml's own pieces are small, and each one would be a system call.
class SinkWriter : public pugi::xml_writer {
 public:
  explicit SinkWriter(ByteSink& sink) : sink_(sink) { buffer_.reserve(kPiece); }
  void write(const void* data, size_t size) override {
    if (buffer_.size() + size > kPiece) Flush();
    if (size >= kPiece) {
      sink_.Write(static_cast<const char*>(data), size);
    } else {
      buffer_.append(static_cast<const char*>(data), size);
    }
  }
  void Flush() {
    if (!buffer_.empty()) sink_.Write(buffer_.data(), buffer_.size());
    buffer_.clear();
  }

 private:
  static constexpr std::size_t kPiece = 65536;
  ByteSink& sink_;
  std::string buffer_;
};

class StringSink : public ByteSink {
 public:
  explicit StringSink(std::string& out) : out_(out) {}
  void Write(const char* data, std::size_t size) override { out_.append(data, size); }

 private:
  std::string& out_;
};

void RequireNode(pugi::xml_node node) {
  if (!node) throw Failure(err::kObjectNotSet);
}

// The document node takes at most one element and no text.
void CheckDocumentChild(pugi::xml_node parent, pugi::xml_node child) {
  if (parent.type() != pugi::node_document) return;
  if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
    throw Failure(err::kInvalidCall, "text cannot be a child of the document");
  }
  if (child.type() != pugi::node_element) return;
  for (pugi::xml_node top : parent.children()) {
    if (top.type() == pugi::node_element && top != child && !IsHolder(top)) {
      throw Failure(err::kInvalidCall, "only one top level element is allowed in a document");
    }
  }
}

}  // namespace

struct XmlDocument::Impl {
  pugi::xml_document doc;
  // The text the document was parsed from, in place: the parsed nodes point
  // into it, so it lives as long as they do.
  std::string buffer;
  std::string error;

  void Clear() {
    doc.reset();
    std::string().swap(buffer);
  }

  bool Parse(std::string text, bool non_xml_chars) {
    Clear();
    error.clear();
    buffer = std::move(text);
    pugi::xml_parse_result result =
        doc.load_buffer_inplace(buffer.data(), buffer.size(), kParseOptions, pugi::encoding_utf8);
    if (!result) {
      error = std::string(result.description()) + " at offset " + std::to_string(result.offset);
    } else if (!FinishParse(doc, buffer, non_xml_chars, error)) {
      // error set
    } else {
      return true;
    }
    Clear();
    return false;
  }

  bool Decode(std::string bytes) {
    std::string why;
    std::optional<DecodedXml> decoded =
        DecodeXmlBytes(std::move(bytes), XmlDecoding::kStrict, &why);
    if (!decoded) return Fail(why);
    return Parse(std::move(decoded->text), decoded->non_xml_chars);
  }

  bool Fail(std::string why) {
    Clear();
    error = std::move(why);
    return false;
  }

  void Write(ByteSink& sink) const;
};

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
  const Utf8Scan scan = ScanUtf8(text);
  if (!scan.valid) return impl_->Fail("text not valid UTF-8");
  return impl_->Parse(text, scan.non_xml_chars);
}

bool XmlDocument::LoadBytes(const std::string& bytes) {
  return impl_->Decode(bytes);
}

const std::string& XmlDocument::LoadError() const {
  return impl_->error;
}

XmlNode XmlDocument::DocumentElement() const {
  for (pugi::xml_node top : impl_->doc.children()) {
    if (top.type() == pugi::node_element && !IsHolder(top)) return XmlNode(top.internal_object());
  }
  return {};
}

XmlNode XmlDocument::Root() const {
  return XmlNode(impl_->doc.internal_object());
}

XmlNode XmlDocument::CreateElement(const std::string& name) {
  if (!IsXmlName(name)) throw Failure(err::kInvalidCall, "invalid element name " + name);
  pugi::xml_node holder = Holder(impl_->doc);
  if (!holder) holder = impl_->doc.append_child(kHolderName);
  pugi::xml_node element = holder.append_child(name.c_str());
  if (!element) throw Failure(err::kOutOfMemory);
  return XmlNode(element.internal_object());
}

void XmlDocument::Impl::Write(ByteSink& sink) const {
  std::string head = "<?xml version=\"";
  pugi::xml_node declaration;
  for (pugi::xml_node top : doc.children()) {
    if (top.type() == pugi::node_declaration) declaration = top;
  }
  const char* version = declaration.attribute("version").value();
  head += *version != '\0' ? version : "1.0";
  head += "\" encoding=\"UTF-8\"";
  if (pugi::xml_attribute standalone = declaration.attribute("standalone")) {
    head += " standalone=\"";
    head += standalone.value();
    head += '"';
  }
  head += "?>\n";
  sink.Write(head.data(), head.size());
  SinkWriter writer(sink);
  for (pugi::xml_node top : doc.children()) {
    if (top.type() == pugi::node_declaration || IsHolder(top)) continue;
    top.print(writer, "\t", pugi::format_default, pugi::encoding_utf8);
  }
  writer.Flush();
}

std::string XmlDocument::Xml() const {
  std::string out;
  StringSink sink(out);
  impl_->Write(sink);
  return out;
}

void XmlDocument::Save(const std::string& path) const {
  // Checked before the file is touched, so a refused save leaves it as it was.
  for (pugi::xml_node top : impl_->doc.children()) {
    if (!IsHolder(top) && !WithinDepth(top)) {
      throw Failure(err::kInvalidCall, DepthError());
    }
  }
  Files().ReplaceFileAtomicallyStreamed(path, [&](ByteSink& sink) { impl_->Write(sink); });
}

std::string XmlNode::NodeName() const {
  pugi::xml_node node = ToPugi(node_);
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

bool XmlNode::NameIs(std::string_view name) const {
  pugi::xml_node node = ToPugi(node_);
  switch (node.type()) {
    case pugi::node_element:
    case pugi::node_pi:
    case pugi::node_declaration:
      return name == node.name();
    default:
      return name == NodeName();
  }
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
    if (IsHolder(node)) break;  // the last child of the document: nothing follows
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
  RequireNode(node);
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
    if (!IsHolder(child)) children.push_back(XmlNode(child.internal_object()));
  }
  return children;
}

XmlNode XmlNode::FirstChild() const {
  pugi::xml_node child = Visible(ToPugi(node_).first_child());
  return child ? XmlNode(child.internal_object()) : XmlNode();
}

XmlNode XmlNode::FirstChildNamed(const char* name) const {
  // pugixml compares the names of the children itself; text, comments and
  // the other kinds have none, and their "#..." names are not XML names.
  if (name[0] == '#') {
    for (XmlNode child = FirstChild(); child; child = child.NextSibling()) {
      if (child.NameIs(name)) return child;
    }
    return {};
  }
  pugi::xml_node child = Visible(ToPugi(node_).child(name));
  return child ? XmlNode(child.internal_object()) : XmlNode();
}

XmlNode XmlNode::NextSiblingNamed(const char* name) const {
  if (name[0] == '#') {
    for (XmlNode next = NextSibling(); next; next = next.NextSibling()) {
      if (next.NameIs(name)) return next;
    }
    return {};
  }
  pugi::xml_node node = ToPugi(node_);
  pugi::xml_node next = node.next_sibling(name);
  if (!next || IsHolder(node.parent())) return {};
  return XmlNode(Visible(next).internal_object());
}

XmlNode XmlNode::NextSibling() const {
  pugi::xml_node node = ToPugi(node_);
  pugi::xml_node next = node.next_sibling();
  // Parked elements are not siblings of each other; the last node of a list
  // needs no more looking at.
  if (!next || IsHolder(node.parent())) return {};
  return XmlNode(Visible(next).internal_object());
}

std::size_t XmlNode::ChildCount() const {
  std::size_t count = 0;
  for (pugi::xml_node child : ToPugi(node_).children()) {
    if (!IsHolder(child)) ++count;
  }
  return count;
}

XmlNode XmlNode::AppendChild(XmlNode child) {
  pugi::xml_node parent = ToPugi(node_);
  RequireNode(parent);
  pugi::xml_node moving = ToPugi(child.node_);
  if (!moving || moving.root() != parent.root() || IsHolder(moving)) {
    throw Failure(err::kInvalidCall, "the node cannot be appended here");
  }
  CheckDocumentChild(parent, moving);
  pugi::xml_node holder = Holder(parent);
  pugi::xml_node moved = parent.type() == pugi::node_document && holder
                             ? parent.insert_move_before(moving, holder)
                             : parent.append_move(moving);
  if (!moved) throw Failure(err::kInvalidCall, "the node cannot be appended here");
  return child;
}

XmlNode XmlNode::InsertBefore(XmlNode child, XmlNode reference) {
  if (reference.IsNull()) return AppendChild(child);
  pugi::xml_node parent = ToPugi(node_);
  RequireNode(parent);
  pugi::xml_node moving = ToPugi(child.node_);
  pugi::xml_node before = ToPugi(reference.node_);
  if (!moving || moving.root() != parent.root() || IsHolder(moving) || before.parent() != parent) {
    throw Failure(err::kInvalidCall, "the node cannot be inserted here");
  }
  if (moving == before) return child;
  CheckDocumentChild(parent, moving);
  if (!parent.insert_move_before(moving, before)) {
    throw Failure(err::kInvalidCall, "the node cannot be inserted here");
  }
  return child;
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
  bool parked = InHolder(context);
  for (const pugi::xpath_node& match : found) {
    pugi::xml_node node = match.node();  // empty for attributes, which are not nodes here
    if (node && (parked || !InHolder(node))) return XmlNode(node.internal_object());
  }
  return {};
}

}  // namespace platform
