// The XML DOM: documents and node references.
//
// Loading never fetches anything: no external entities, no DTDs. A document
// loads from a file whose encoding is told by its byte-order mark or, failing
// that, by the encoding of its XML declaration (UTF-8 when there is none);
// UTF-16 LE/BE with BOM, UTF-8, ISO-8859-1, windows-1252 and every other
// encoding the C library's iconv knows are understood. Text comes out as
// UTF-8. Comments and processing instructions are kept as nodes; text nodes
// that hold only white space are dropped.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The deepest nesting of elements a document may have (the document element
// is level 1). Feeds and stores need fewer than ten levels; a document nested
// deeper does not load, and one built deeper does not save.
inline constexpr int kXmlMaxDepth = 256;

class XmlDocument;

// A reference to a node of a live document; it stays valid while the node is
// in its document and the document exists. A null reference stands for "no
// node" and answers every question with an empty result.
class XmlNode {
 public:
  XmlNode() = default;
  explicit operator bool() const { return node_ != nullptr; }

  // The qualified name of an element or a processing instruction's target;
  // "#text", "#cdata-section", "#comment", "#document" for those kinds.
  std::string NodeName() const;
  bool IsElement() const;
  // NodeName() == name, without making a copy of the name.
  bool IsNamed(const char* name) const;
  // The text content: the text of all text and CDATA descendants, in
  // document order, joined without separators.
  std::string Text() const;
  // Text() into `out`, whose room is reused: for walks over many nodes.
  void TextInto(std::string& out) const;
  // Replaces the element's children with one text node holding `text`.
  // Malformed UTF-8 and characters XML 1.0 does not allow (control
  // characters other than tab, line feed and carriage return; U+FFFE,
  // U+FFFF) become U+FFFD, so that whatever is set can be saved and loaded
  // again.
  void SetText(const std::string& text);

  // All child nodes in document order (a snapshot).
  std::vector<XmlNode> ChildNodes() const;
  XmlNode FirstChild() const;
  // The first child whose NodeName() is `name` (an element's or a processing
  // instruction's), or null.
  XmlNode FirstChildNamed(const char* name) const;
  // The next sibling whose NodeName() is `name`, or null.
  XmlNode NextSiblingNamed(const char* name) const;
  XmlNode NextSibling() const;
  std::size_t ChildCount() const;

  // A new element `name` at the end of this element's children / before
  // `reference`, which must be a child of this element or null (then it is
  // appended). Throws Failure 5 when `name` is no XML name, when this node is
  // no element, and on a foreign reference.
  XmlNode AppendElement(const std::string& name);
  XmlNode InsertElementBefore(const std::string& name, XmlNode reference);
  // Removes `child`, a child of this node, with everything below it; `child`
  // and every reference into it are then null. Throws Failure 5 on a node
  // that is not a child of this one.
  void RemoveChild(XmlNode& child);

  // The first node in document order matching an XPath 1.0 expression, with
  // this node as the context; null when none matches. Throws Failure 5 on an
  // expression that does not parse.
  XmlNode SelectSingleNode(const std::string& xpath) const;

  bool operator==(const XmlNode& other) const { return node_ == other.node_; }

 private:
  friend class XmlDocument;
  explicit XmlNode(void* node) : node_(node) {}
  void* node_ = nullptr;
};

class XmlDocument {
 public:
  XmlDocument();
  ~XmlDocument();
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // Parses the file; the whole file is read before this returns. False when
  // the file is missing, unreadable, not well-formed or nested deeper than
  // kXmlMaxDepth; the document is then empty. Characters XML 1.0 does not
  // allow, found raw in the text, are read as U+FFFD.
  bool Load(const std::string& path);
  // Parses a text held in memory (UTF-8).
  bool LoadXml(const std::string& text);
  // Parses bytes as if they were a file's content (encoding detected as for
  // Load).
  bool LoadBytes(const std::string& bytes);
  // Why the last load failed, for messages; empty after a success.
  const std::string& LoadError() const;

  XmlNode DocumentElement() const;

  // The document as UTF-8 text with an XML declaration, indented.
  std::string Xml() const;
  // Writes Xml() to the file as it is made, replacing the file atomically
  // through Files(). Throws Failure on any error, and Failure 5 for a
  // document nested deeper than kXmlMaxDepth; the old file is then
  // unchanged.
  void Save(const std::string& path) const;
  // Save, unless the file already holds exactly the bytes it would write:
  // that file is left alone (same file, same time stamp), which spares a
  // document that did not change its replacement and flushes. True when the
  // file was written.
  bool SaveUnlessSame(const std::string& path) const;
  // Whether the file holds exactly the bytes Save would write (false when it
  // cannot be read), so that a caller may find it out ahead of the save.
  bool IsSavedIn(const std::string& path) const;

  // Save, for a document whose document element gains new first children
  // once every child it already holds has been looked at: the look then
  // costs a large document no walk of its own. `look` is called with each
  // child of the document element while the text of the children is made,
  // by up to kLookParts threads at once, each with a `part` of its own
  // (below kLookParts) and blocks of the children of its own; then `add` is
  // called, on this thread, with the document element, and may insert new
  // children before its first child and change nothing else. The text made
  // is held in memory until it is written (a document loaded from more than
  // 32 MiB is looked at by this thread alone and then saved as by Save).
  // When `add` inserted nothing, a file that holds the bytes already is left
  // alone, as by SaveUnlessSame. True when the file was written; throws as
  // Save.
  static constexpr std::size_t kLookParts = 4;
  using Look = std::function<void(std::size_t part, XmlNode child)>;
  bool SaveWithNewFirstChildren(const std::string& path, const Look& look,
                                const std::function<void(XmlNode)>& add);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
