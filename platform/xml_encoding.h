// Decoding of XML documents held as bytes into UTF-8 text.
#pragma once

#include <optional>
#include <string>

namespace platform {

struct DecodedXml {
  std::string text;      // the document as UTF-8, without a byte-order mark
  std::string encoding;  // the encoding it was read in ("UTF-8", "UTF-16LE", "windows-1252", ...)
};

// How strictly bytes that do not fit the encoding are treated.
enum class XmlDecoding {
  // As an XML parser must: a document whose bytes are not valid in its
  // encoding does not decode.
  kStrict,
  // For documents from the wild: a document that declares no encoding but is
  // not valid UTF-8 is read as windows-1252 (the usual cause), and white
  // space before the XML declaration is dropped.
  kLenient,
};

// The encoding is told by a byte-order mark (UTF-8, UTF-16 LE/BE, UTF-32
// LE/BE), else by the byte pattern of "<?xml" in UTF-16 or UTF-32 without a
// mark, else by the encoding of the XML declaration, else it is UTF-8. Every
// encoding the C library's iconv knows is understood; ISO-8859-1 and
// US-ASCII are read as windows-1252, its superset, as browsers do.
// Returns nothing, with a reason in `error`, when the bytes cannot be
// decoded. The XML declaration stays in the text; its encoding label no
// longer describes the text, which is UTF-8.
std::optional<DecodedXml> DecodeXmlBytes(const std::string& bytes, XmlDecoding mode,
                                         std::string* error = nullptr);

}  // namespace platform
