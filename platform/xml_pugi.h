// What the files of the XML layer share: pugixml is the parser and the
// tree; these files add what a conforming DOM needs on top of it.
//   xml_references.cpp  expansion of entity and character references
//   xml_checks.cpp      the checks of a parsed tree (well-formedness that
//                       pugixml lets pass, XML characters, depth)
//   xml_pugi.cpp        loading and the node operations
//   xml_write.cpp       serialisation and saving
// Only these files include it.
#pragma once

#include <cstdint>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>

#include "platform/filesystem.h"
#include "platform/xml.h"
#include "platform/xml_encoding.h"

namespace platform::xml_detail {

// Expands the references in `raw` into `out`. False, with the reason in
// `error`, on a reference that is neither a predefined entity nor a character
// reference to an XML character, and on a bare "&".
bool ExpandReferences(std::string_view raw, std::string& out, std::string& error);
// Appends the character the reference "&`name`;" stands for to `out`; false,
// with the reason in `error`, as for ExpandReferences.
bool AppendReference(std::string_view name, std::string& out, std::string& error);

// True when `text` (before it is parsed) holds nothing but elements without
// attributes and text, after an XML declaration if any: no comment, CDATA
// section, processing instruction or DOCTYPE, no element nested deeper than
// kXmlMaxDepth, and every "&" the start of a reference that
// AppendReference accepts. Once pugixml has parsed such a text, expanding
// its references itself, FinishParse need not walk the tree: there is
// nothing in it to find or to change.
bool IsPlainMarkup(std::string_view text);

// ScanUtf8 and IsPlainMarkup in one pass, for a document's load, which looks
// at every byte of a large store: `plain` is IsPlainMarkup's answer for a
// valid text (false for any other).
struct XmlTextScan {
  Utf8Scan utf8;
  bool plain = false;
};
XmlTextScan ScanXmlText(std::string_view text);

// Checks what pugixml lets pass but a conforming parser rejects (text outside
// the document element, not exactly one document element, duplicate
// attributes, nesting deeper than kXmlMaxDepth), expands the references of
// text nodes and attributes (when `text`, the parsed text, holds a "&"), and,
// when the text was found to hold characters XML does not allow, replaces
// them with U+FFFD. False with the reason in `error`. A `plain` document
// (see IsPlainMarkup) is checked at its top level only.
bool FinishParse(pugi::xml_document& doc, std::string_view text, bool non_xml_chars, bool plain,
                 std::string& error);

// True when no element below `top` (`top` itself at level 1) is nested
// deeper than kXmlMaxDepth.
bool WithinDepth(pugi::xml_node top);
std::string DepthError();
// How many elements have been made, in any document, at a level deeper than
// kXmlMaxDepth. A document found within the bound when the count stood where
// it stands now is within it still (a load refuses anything deeper), and
// its save need not walk the whole tree to know.
std::uint64_t DeepElementsMade();
void CountDeepElement();

// The document as UTF-8 text with an XML declaration, indented, handed to
// `sink` as it is made.
void WriteDocument(const pugi::xml_document& doc, ByteSink& sink);

}  // namespace platform::xml_detail

namespace platform {

struct XmlDocument::Impl {
  pugi::xml_document doc;
  // The text the document was parsed from, in place: the parsed nodes point
  // into it, so it lives as long as they do.
  std::string buffer;
  std::string error;
  // DeepElementsMade() when the document was last found within the depth
  // bound.
  mutable std::optional<std::uint64_t> within_depth_at;

  void Clear();
  // Parses UTF-8 text, already found to be plain markup or not when
  // `plain_markup` is given; false with `error` set, the document then empty.
  bool Parse(std::string text, bool non_xml_chars, std::optional<bool> plain_markup = std::nullopt);
  // Parses bytes in the encoding they tell.
  bool Decode(std::string bytes);
  bool Fail(std::string why);
};

}  // namespace platform
