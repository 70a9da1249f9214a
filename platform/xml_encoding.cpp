// Decoding of XML documents into UTF-8. Portable code: only the conversion
// from an encoding the document names is the system's (encoding_conversion.h).
#include "platform/xml_encoding.h"

#include <cstring>
#include <optional>
#include <string_view>

#include "platform/ascii.h"
#include "platform/encoding_conversion.h"
#include "platform/text_encoding.h"

namespace platform {
namespace {

bool StartsWith(const std::string& bytes, const char* prefix, std::size_t length) {
  return bytes.size() >= length && std::memcmp(bytes.data(), prefix, length) == 0;
}

// The encoding named in the XML declaration at the start of ASCII-compatible
// bytes; "" when there is no declaration or it names none.
std::string DeclaredEncoding(const std::string& bytes) {
  std::size_t start = 0;
  while (start < bytes.size() && std::strchr(" \t\r\n", bytes[start]) != nullptr) ++start;
  if (bytes.compare(start, 5, "<?xml") != 0) return {};
  std::size_t end = bytes.find("?>", start);
  if (end == std::string::npos) return {};
  std::string declaration = bytes.substr(start, end - start);
  std::size_t key = declaration.find("encoding");
  if (key == std::string::npos) return {};
  std::size_t i = key + 8;
  while (i < declaration.size() && std::strchr(" \t\r\n", declaration[i]) != nullptr) ++i;
  if (i >= declaration.size() || declaration[i] != '=') return {};
  ++i;
  while (i < declaration.size() && std::strchr(" \t\r\n", declaration[i]) != nullptr) ++i;
  if (i >= declaration.size() || (declaration[i] != '"' && declaration[i] != '\'')) return {};
  char quote = declaration[i];
  std::size_t close = declaration.find(quote, i + 1);
  if (close == std::string::npos) return {};
  return declaration.substr(i + 1, close - i - 1);
}

// windows-1252 as browsers read it: the five bytes the code page leaves
// undefined stand for the C1 code points of the same value. (iconv refuses
// them, and falling back to Latin-1 for the whole document would turn every
// euro sign and curly quote in it into a control character.)
std::string Windows1252ToUtf8(std::string_view bytes) {
  static constexpr char16_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (unsigned char c : bytes) {
    char32_t code_point = c;
    if (c >= 0x80 && c < 0xA0) code_point = kHigh[c - 0x80];
    AppendUtf8(out, code_point);
  }
  return out;
}

// Converts `bytes` in the encoding `from` (in capitals) to UTF-8; false
// when the bytes are not valid in it or the encoding is unknown.
bool Convert(std::string_view bytes, const std::string& from, std::string& out, std::string* error,
             std::optional<bool>* non_xml_chars) {
  if (from == "WINDOWS-1252") {
    out = Windows1252ToUtf8(bytes);
    return true;
  }
  return ConvertToUtf8(bytes, from, out, error, non_xml_chars);
}

}  // namespace

std::optional<DecodedXml> DecodeXmlBytes(std::string bytes, XmlDecoding mode, std::string* error,
                                         const Utf8Scanner& scan_utf8) {
  std::string encoding;
  std::size_t bom = 0;
  if (StartsWith(bytes, "\xEF\xBB\xBF", 3)) {
    encoding = "UTF-8", bom = 3;
  } else if (StartsWith(bytes, "\xFF\xFE\x00\x00", 4)) {
    encoding = "UTF-32LE", bom = 4;
  } else if (StartsWith(bytes, "\x00\x00\xFE\xFF", 4)) {
    encoding = "UTF-32BE", bom = 4;
  } else if (StartsWith(bytes, "\xFF\xFE", 2)) {
    encoding = "UTF-16LE", bom = 2;
  } else if (StartsWith(bytes, "\xFE\xFF", 2)) {
    encoding = "UTF-16BE", bom = 2;
  } else if (StartsWith(bytes, "<\0?\0", 4)) {
    encoding = "UTF-16LE";
  } else if (StartsWith(bytes, "\0<\0?", 4)) {
    encoding = "UTF-16BE";
  }

  DecodedXml result;
  // Told by the decoders of the Unicode encodings as they go.
  std::optional<bool> converted_non_xml_chars;
  // UTF-8 text is checked in one pass where it lies; converted text is
  // valid UTF-8 by construction and is only looked through for characters
  // XML does not allow.
  bool scanned = false;
  if (!encoding.empty()) {
    if (encoding == "UTF-8") {
      bytes.erase(0, bom);
      Utf8Scan scan = scan_utf8(bytes);
      if (!scan.valid) {
        if (mode == XmlDecoding::kStrict) {
          if (error) *error = "bytes not valid in UTF-8";
          return std::nullopt;
        }
        bytes = ValidUtf8(bytes);
        scan = scan_utf8(bytes);
      }
      result.text = std::move(bytes);
      result.non_xml_chars = scan.non_xml_chars;
      scanned = true;
    } else if (!Convert(std::string_view(bytes).substr(bom), encoding, result.text, error,
                        &converted_non_xml_chars)) {
      return std::nullopt;
    }
    result.encoding = encoding;
  } else {
    if (mode == XmlDecoding::kLenient) {
      std::size_t start = bytes.find_first_not_of(" \t\r\n");
      if (start != std::string::npos && bytes.compare(start, 5, "<?xml") == 0)
        bytes.erase(0, start);
    }
    std::string declared = ascii::UpperCase(DeclaredEncoding(bytes));
    if (declared.empty() || declared == "UTF-8" || declared == "UTF8") {
      if (const Utf8Scan scan = scan_utf8(bytes); scan.valid) {
        result.text = std::move(bytes);
        result.encoding = "UTF-8";
        result.non_xml_chars = scan.non_xml_chars;
        scanned = true;
      } else if (mode == XmlDecoding::kLenient && declared.empty()) {
        Convert(bytes, "WINDOWS-1252", result.text, error, nullptr);
        result.encoding = "windows-1252";
      } else if (mode == XmlDecoding::kLenient) {
        result.text = ValidUtf8(bytes);
        result.encoding = "UTF-8";
      } else {
        if (error) *error = "bytes not valid in UTF-8";
        return std::nullopt;
      }
    } else {
      std::string from = declared;
      if (from == "ISO-8859-1" || from == "LATIN1" || from == "LATIN-1" || from == "US-ASCII" ||
          from == "ASCII" || from == "ISO_8859-1" || from == "CP1252") {
        from = "WINDOWS-1252";
      }
      if (!Convert(bytes, from, result.text, error, &converted_non_xml_chars)) return std::nullopt;
      result.encoding = from == "WINDOWS-1252" ? "windows-1252" : DeclaredEncoding(bytes);
    }
  }
  if (!scanned) {
    result.non_xml_chars =
        converted_non_xml_chars ? *converted_non_xml_chars : scan_utf8(result.text).non_xml_chars;
  }
  return result;
}

}  // namespace platform
