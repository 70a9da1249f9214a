// Conversion to UTF-8 on Windows: the system's code pages through
// MultiByteToWideChar.
//
// Two encodings have no code page of their own that MultiByteToWideChar
// takes everywhere:
// - EUC-JP: the system's 51932 is converted by the browser's library only;
//   20932, the same double-byte table, is what MultiByteToWideChar knows.
//   It is lenient about trail bytes (Wine's takes "\xC6<" for one
//   character, swallowing the markup), so the byte structure of EUC-JP is
//   checked first.
// - GB18030: 54936 is missing on some systems (Wine among them). There the
//   document is read as GBK (936), which GB18030 extends: every character
//   GBK has decodes as it should, and a document that uses GB18030's
//   four-byte forms fails as "bytes not valid in GB18030" instead of
//   decoding wrongly.
#include "platform/encoding_conversion.h"

#include <windows.h>

#include <climits>
#include <cstdint>
#include <cstring>

#include "platform/win32/wide_text.h"

namespace platform {
namespace {

struct Named {
  const char* name;
  UINT code_page;
};

// Names feeds use, as iconv spells them (in capitals), and their code pages.
constexpr Named kCodePages[] = {
    {"ISO-8859-2", 28592},   {"ISO-8859-3", 28593},  {"ISO-8859-4", 28594}, {"ISO-8859-5", 28595},
    {"ISO-8859-6", 28596},   {"ISO-8859-7", 28597},  {"ISO-8859-8", 28598}, {"ISO-8859-9", 28599},
    {"ISO-8859-13", 28603},  {"ISO-8859-15", 28605}, {"LATIN2", 28592},     {"LATIN-2", 28592},
    {"LATIN5", 28599},       {"LATIN-9", 28605},     {"LATIN9", 28605},     {"KOI8-R", 20866},
    {"KOI8-U", 21866},       {"KOI8-RU", 21866},     {"SHIFT_JIS", 932},    {"SHIFT-JIS", 932},
    {"SJIS", 932},           {"MS_KANJI", 932},      {"CSSHIFTJIS", 932},   {"WINDOWS-31J", 932},
    {"EUC-JP", 20932},       {"EUCJP", 20932},       {"EUC_JP", 20932},     {"ISO-2022-JP", 50220},
    {"CSISO2022JP", 50220},  {"ISO-2022-KR", 50225}, {"GB2312", 936},       {"EUC-CN", 936},
    {"EUCCN", 936},          {"CSGB2312", 936},      {"GBK", 936},          {"MS936", 936},
    {"GB18030", 54936},      {"BIG5", 950},          {"BIG-5", 950},        {"CN-BIG5", 950},
    {"CSBIG5", 950},         {"BIG5-HKSCS", 950},    {"EUC-KR", 949},       {"EUCKR", 949},
    {"KS_C_5601-1987", 949}, {"UHC", 949},           {"KSC5601", 949},      {"TIS-620", 874},
    {"MACINTOSH", 10000},    {"MAC", 10000},         {"MACROMAN", 10000},   {"UTF-7", 65000},
    {"CSIBM866", 866},
};

bool AllDigits(const std::string& text) {
  if (text.empty() || text.size() > 5) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// The code page of an encoding name; 0 when there is none.
UINT CodePageOf(const std::string& name) {
  for (const Named& entry : kCodePages) {
    if (name == entry.name) return entry.code_page;
  }
  // "windows-1251", "cp866", "ibm850", "x-cp1250": the number is the code page.
  for (const char* prefix : {"WINDOWS-", "CP", "IBM", "X-CP", "MS-CP"}) {
    const std::size_t length = std::strlen(prefix);
    if (name.compare(0, length, prefix) == 0 && AllDigits(name.substr(length))) {
      return static_cast<UINT>(std::stoul(name.substr(length)));
    }
  }
  return 0;
}

// Code pages whose conversion takes no flags: invalid bytes cannot be
// detected in them.
bool TakesNoFlags(UINT code_page) {
  return code_page == 42 || (code_page >= 50220 && code_page <= 50229) ||
         (code_page >= 57002 && code_page <= 57011) || code_page == 65000;
}

bool Invalid(const std::string& from, std::string* error) {
  if (error) *error = "bytes not valid in " + from;
  return false;
}

// EUC-JP's structure: ASCII, two bytes A1-FE, 8E and one byte A1-DF (half-
// width katakana), or 8F and two bytes A1-FE.
bool EucJpWellFormed(const std::string& bytes) {
  auto high = [&](std::size_t i) {
    return i < bytes.size() && static_cast<unsigned char>(bytes[i]) >= 0xA1 &&
           static_cast<unsigned char>(bytes[i]) <= 0xFE;
  };
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      i += 1;
    } else if (lead == 0x8E) {
      if (i + 1 >= bytes.size() || static_cast<unsigned char>(bytes[i + 1]) < 0xA1 ||
          static_cast<unsigned char>(bytes[i + 1]) > 0xDF) {
        return false;
      }
      i += 2;
    } else if (lead == 0x8F) {
      if (!high(i + 1) || !high(i + 2)) return false;
      i += 3;
    } else {
      if (!high(i) || !high(i + 1)) return false;
      i += 2;
    }
  }
  return true;
}

}  // namespace

bool SystemConvertToUtf8(const std::string& bytes, const std::string& from, std::string& out,
                         std::string* error) {
  UINT code_page = CodePageOf(from);
  if (code_page == 54936 && !::IsValidCodePage(code_page)) code_page = 936;
  if (code_page == 0 || !::IsValidCodePage(code_page)) {
    if (error) *error = "unknown encoding " + from;
    return false;
  }
  if (code_page == 20932 && !EucJpWellFormed(bytes)) return Invalid(from, error);
  out.clear();
  if (bytes.empty()) return true;
  if (bytes.size() > INT_MAX / 2) return Invalid(from, error);
  const int length = static_cast<int>(bytes.size());
  const DWORD flags = TakesNoFlags(code_page) ? 0 : MB_ERR_INVALID_CHARS;
  const int needed = ::MultiByteToWideChar(code_page, flags, bytes.data(), length, nullptr, 0);
  if (needed <= 0) return Invalid(from, error);
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  if (::MultiByteToWideChar(code_page, flags, bytes.data(), length, wide.data(), needed) <= 0) {
    return Invalid(from, error);
  }
  out = Narrow(wide);
  return true;
}

}  // namespace platform
