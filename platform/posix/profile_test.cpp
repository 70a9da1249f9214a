#include "platform/profile.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/filesystem.h"
#include "platform/posix/test_support.h"
#include "platform/system.h"

using platform::ReadProfileValue;
using platform::WriteProfileValue;
using platform::testing::ReadFile;
using platform::testing::ScratchFolder;
using platform::testing::WriteFile;

namespace {

// Null arguments are spelled with this marker in the tables below.
constexpr const char* kNull = nullptr;

struct WriteCall {
  const char* section;
  const char* key;
  const char* value;
};

struct WriteRow {
  const char* what;
  std::optional<std::string> initial;  // none: the file does not exist
  std::vector<WriteCall> calls;
  std::uint32_t ret;                      // of the last call
  std::optional<std::string> file_after;  // none: the file must not exist
};

struct ReadRow {
  const char* what;
  std::optional<std::string> file;
  const char* section;
  const char* key;
  const char* default_value;
  std::uint32_t size;
  std::string written;  // the bytes stored from the start of the buffer
  std::uint32_t ret;
};

std::string Utf16Le(const std::string& ascii) {
  std::string out;
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

std::string Utf16Be(const std::string& ascii) {
  std::string out;
  for (char c : ascii) {
    out += '\0';
    out += c;
  }
  return out;
}

std::string S(const char* bytes, std::size_t length) {
  return std::string(bytes, length);
}

const std::vector<WriteRow>& WriteRows() {
  static const std::vector<WriteRow> rows = {
      {"new file", std::nullopt, {{"S1", "k1", "v1"}}, 1, "[S1]\r\nk1=v1\r\n"},
      {"second key",
       std::nullopt,
       {{"S1", "k1", "v1"}, {"S1", "k2", "v2"}},
       1,
       "[S1]\r\nk1=v1\r\nk2=v2\r\n"},
      {"second section",
       std::nullopt,
       {{"S1", "k1", "v1"}, {"S1", "k2", "v2"}, {"S2", "k3", "v3"}},
       1,
       "[S1]\r\nk1=v1\r\nk2=v2\r\n[S2]\r\nk3=v3\r\n"},
      {"new key at the end of its section",
       std::nullopt,
       {{"S1", "k1", "v1"}, {"S1", "k2", "v2"}, {"S2", "k3", "v3"}, {"S1", "k4", "v4"}},
       1,
       "[S1]\r\nk1=v1\r\nk2=v2\r\nk4=v4\r\n[S2]\r\nk3=v3\r\n"},
      {"empty file", "", {{"S1", "k1", "v1"}}, 1, "[S1]\r\nk1=v1\r\n"},
      {"whole file normalised",
       "pre = p\n\n;top\r  [Lead]  \n  key  =  value  \r\n[  Blank  ]\r\n\r\n;c=1\nnoeq\n"
       "[Trail] junk\nx=1",
       {{"Trail", "y", "2"}},
       1,
       "pre=p\r\n;top\r\n[Lead]\r\nkey=value\r\n[Blank]\r\n;c=1\r\nnoeq\r\n[Trail]\r\nx=1\r\ny="
       "2\r\n"},
      {"blanks in the arguments of a write into a new file",
       std::nullopt,
       {{" S ", " k ", " v "}},
       1,
       "[S ]\r\nk =v \r\n"},
      {"blanks normalised by the next write",
       std::nullopt,
       {{" S ", " k ", " v "}, {"S", "j", "w"}},
       1,
       "[S]\r\nk=v\r\nj=w\r\n"},
      {"spelling of the file kept",
       "[Sec]\r\nKey=old\r\n",
       {{"SEC", "KEY", "new"}},
       1,
       "[Sec]\r\nKey=new\r\n"},
      {"value replaced in place",
       "[S]\r\na=1\r\nk=old\r\nb=2\r\n",
       {{"S", "k", "new"}},
       1,
       "[S]\r\na=1\r\nk=new\r\nb=2\r\n"},
      {"empty value", std::nullopt, {{"S", "k", ""}}, 1, "[S]\r\nk=\r\n"},
      {"null value deletes the key",
       "[S]\r\na=1\r\nk=v\r\nb=2\r\n",
       {{"S", "k", kNull}},
       1,
       "[S]\r\na=1\r\nb=2\r\n"},
      {"deleting a missing key", "[S]\r\na=1\r\n", {{"S", "zz", kNull}}, 1, "[S]\r\na=1\r\n"},
      {"deleting in a missing file creates nothing",
       std::nullopt,
       {{"S", "k", kNull}},
       1,
       std::nullopt},
      {"null key deletes the section",
       "[A]\r\na=1\r\n[S]\r\nk=v\r\nj=w\r\n[B]\r\nb=2\r\n",
       {{"s", kNull, "ignored"}},
       1,
       "[A]\r\na=1\r\n[B]\r\nb=2\r\n"},
      {"deleting a missing section", "[A]\r\na=1\r\n", {{"S", kNull, kNull}}, 1, "[A]\r\na=1\r\n"},
      {"key holding =", std::nullopt, {{"S", "a=b", "v"}}, 1, "[S]\r\na=b=v\r\n"},
      {"value with = ; #", std::nullopt, {{"S", "k", "a=b;c#d"}}, 1, "[S]\r\nk=a=b;c#d\r\n"},
      {"value with CR LF written raw",
       std::nullopt,
       {{"S", "k", "line1\r\nline2"}},
       1,
       "[S]\r\nk=line1\r\nline2\r\n"},
      {"value with LF", std::nullopt, {{"S", "k", "x\ny"}}, 1, "[S]\r\nk=x\ny\r\n"},
      {"LF value after a rewrite",
       std::nullopt,
       {{"S", "k", "x\ny"}, {"S", "j", "1"}},
       1,
       "[S]\r\nk=x\r\ny\r\nj=1\r\n"},
      {"padded value", std::nullopt, {{"S", "k", "  pad  "}}, 1, "[S]\r\nk=pad  \r\n"},
      {"padded value after a rewrite",
       std::nullopt,
       {{"S", "k", "  pad  "}, {"S", "j", "1"}},
       1,
       "[S]\r\nk=pad\r\nj=1\r\n"},
      {"quoted value", std::nullopt, {{"S", "k", "\"q\""}}, 1, "[S]\r\nk=\"q\"\r\n"},
      {"duplicate sections: the first is written",
       "[S]\r\nk=first\r\n[T]\r\nt=1\r\n[S]\r\nk=second\r\nj=only2\r\n",
       {{"S", "k", "NEW"}},
       1,
       "[S]\r\nk=NEW\r\n[T]\r\nt=1\r\n[S]\r\nk=second\r\nj=only2\r\n"},
      {"duplicate keys: the first is written",
       "[S]\r\nk=first\r\nk=second\r\n",
       {{"S", "k", "NEW"}},
       1,
       "[S]\r\nk=NEW\r\nk=second\r\n"},
      {"lines before the first section stay at the top",
       "pre=p\r\n[S]\r\nk=v\r\n",
       {{"", "q", "1"}},
       1,
       "pre=p\r\nq=1\r\n[S]\r\nk=v\r\n"},
      {"UTF-8 byte-order mark kept",
       "\xEF\xBB\xBF[S]\r\nu=\xC3\xA9\r\n",
       {{"S", "k", "\xC3\xA9"}},
       1,
       "\xEF\xBB\xBF[S]\r\nu=\xC3\xA9\r\nk=\xC3\xA9\r\n"},
      {"UTF-16 LE stays UTF-16 LE",
       "\xFF\xFE" + Utf16Le("[S]\r\nk=v\r\n"),
       {{"S", "j", "w"}},
       1,
       "\xFF\xFE" + Utf16Le("[S]\r\nk=v\r\nj=w\r\n")},
      {"null section", "[S]\r\nk=v\r\n", {{kNull, "k", "v"}}, 0, "[S]\r\nk=v\r\n"},
  };
  return rows;
}

const std::vector<ReadRow>& ReadRows() {
  static const std::string k_file = "[S]\r\nk=abcdefghij\r\n";
  static const std::vector<ReadRow> rows = {
      {"blanks trimmed", "[S]\nk=  v  \n", "S", "k", "DEF", 20, S("v\0", 2), 1},
      {"tabs trimmed", "[S]\nk=\tt\t\n", "S", "k", "DEF", 20, S("t\0", 2), 1},
      {"double quotes", "[S]\nk=\"dq\"\n", "S", "k", "DEF", 20, S("dq\0", 3), 2},
      {"single quotes", "[S]\nk='sq'\n", "S", "k", "DEF", 20, S("sq\0", 3), 2},
      {"blanks inside quotes", "[S]\nk=\" in \"\n", "S", "k", "DEF", 20, S(" in \0", 5), 4},
      {"inner quote", "[S]\nk=\"a\"b\"\n", "S", "k", "DEF", 20, S("a\"b\0", 4), 3},
      {"unbalanced quote", "[S]\nk=\"unbal\n", "S", "k", "DEF", 20, S("\"unbal\0", 7), 6},
      {"mixed quotes", "[S]\nk=\"mixed'\n", "S", "k", "DEF", 20, S("\"mixed'\0", 8), 7},
      {"quotes not outer", "[S]\nk=x\"y\"\n", "S", "k", "DEF", 20, S("x\"y\"\0", 5), 4},
      {"empty value", "[S]\nk=\n", "S", "k", "DEF", 20, S("\0", 1), 0},
      {"blank value", "[S]\nk=   \n", "S", "k", "DEF", 20, S("\0", 1), 0},
      {"empty quotes", "[S]\nk=\"\"\n", "S", "k", "DEF", 20, S("\0", 1), 0},
      {"no inline comment ;", "[S]\nk=a;b\n", "S", "k", "DEF", 20, S("a;b\0", 4), 3},
      {"no inline comment blanks", "[S]\nk=a ; b\n", "S", "k", "DEF", 20, S("a ; b\0", 6), 5},
      {"no inline comment #", "[S]\nk=a#b\n", "S", "k", "DEF", 20, S("a#b\0", 4), 3},
      {"no trailing comment", "[S]\nk=v ; trailing\n", "S", "k", "DEF", 20, S("v ; trailing\0", 13),
       12},
      {"size 11", k_file, "S", "k", "DEF", 11, S("abcdefghij\0", 11), 10},
      {"size 10", k_file, "S", "k", "DEF", 10, S("abcdefghi\0", 10), 9},
      {"size 5", k_file, "S", "k", "DEF", 5, S("abcd\0", 5), 4},
      {"size 2", k_file, "S", "k", "DEF", 2, S("a\0", 2), 1},
      {"size 1", k_file, "S", "k", "DEF", 1, S("\0", 1), 0},
      {"size 0", k_file, "S", "k", "DEF", 0, "", 0},
      {"quotes cut before stripping", "[S]\nk=\"abcdef\"\n", "S", "k", "DEF", 7, S("abcde\0", 6),
       5},
      {"quotes fitting", "[S]\nk=\"abcdef\"\n", "S", "k", "DEF", 8, S("abcdef\0", 7), 6},
      {"missing key", "[S]\nk=v\n", "S", "nokey", "DEF", 20, S("DEF\0", 4), 3},
      {"missing section", "[S]\nk=v\n", "T", "k", "DEF", 20, S("DEF\0", 4), 3},
      {"default cut", "[S]\n", "S", "k", "defaultvalue", 5, S("defa\0", 5), 4},
      {"default cut, missing file", std::nullopt, "S", "k", "defaultvalue", 5, S("defa\0", 5), 4},
      {"default cut, size 1, missing file", std::nullopt, "S", "k", "defaultvalue", 1, S("\0", 1),
       0},
      {"default cut, missing key", "[S]\nj=1\n", "S", "k", "defaultvalue", 8, S("default\0", 8), 7},
      {"quoted default cut", "[S]\n", "S", "k", "\"defaultvalue\"", 5, S("defa\0", 5), 4},
      {"empty default", "[S]\n", "S", "k", "", 20, S("\0", 1), 0},
      {"null default", "[S]\n", "S", "k", kNull, 20, S("\0", 1), 0},
      {"padded default", "[S]\n", "S", "k", "  pad  ", 20, S("  pad\0", 6), 5},
      {"quoted default", "[S]\n", "S", "k", "\"dq\"", 20, S("dq\0", 3), 2},
      {"case-insensitive", "[Sec]\nKey=v\n", "sEC", "kEY", "DEF", 20, S("v\0", 2), 1},
      {"blanks around names in the file", "  [ \tSec\t ]  \n \t Key \t = v\n", "Sec", "Key", "DEF",
       20, S("v\0", 2), 1},
      {"blanks around the arguments", "[Sec]\nkey=v\n", " Sec ", "  key  ", "DEF", 20, S("v\0", 2),
       1},
      {"brackets in the argument", "[Blank]\nk=v\n", "[Blank]", "k", "DEF", 20, S("DEF\0", 4), 3},
      {"section list", "pre=p\n[A]\n[B]\nb=1\n[A]\n", kNull, "k", "DEF", 20, S("A\0B\0A\0\0", 7),
       6},
      {"section list exactly fitting", "[k]\n[sh]\n", kNull, kNull, "DEF", 6, S("k\0sh\0\0", 6), 5},
      {"section list cut", "[k]\n[short]\n", kNull, kNull, "DEF", 6, S("k\0sh\0\0", 6), 4},
      {"section list without room for the final NUL", "[k]\n[sh]\n", kNull, kNull, "DEF", 5,
       S("k\0s\0\0", 5), 3},
      {"key list", "[S]\nk=1\n;c=1\nnoeq\n#h=2\nj=\n", "S", kNull, "DEF", 20, S("k\0#h\0j\0\0", 8),
       7},
      {"key list cut", "[S]\nk=1\nshort=2\n", "S", kNull, "DEF", 6, S("k\0sh\0\0", 6), 4},
      {"key list of a missing section", "[S]\nk=1\n", "T", kNull, "DEF", 20, S("DEF\0", 4), 3},
      {"duplicate sections: first", "[S]\nk=first\n[S]\nk=second\nj=only2\n", "S", "k", "DEF", 20,
       S("first\0", 6), 5},
      {"duplicate sections: later invisible", "[S]\nk=first\n[S]\nk=second\nj=only2\n", "S", "j",
       "DEF", 20, S("DEF\0", 4), 3},
      {"duplicate keys", "[S]\nk=first\nk=second\n", "S", "k", "DEF", 20, S("first\0", 6), 5},
      {"comment line is a key", "[S]\n;c=1\n", "S", ";c", "DEF", 20, S("1\0", 2), 1},
      {"# line is a key", "[S]\n#h=2\n", "S", "#h", "DEF", 20, S("2\0", 2), 1},
      {"line without =", "[S]\nnoeq\n", "S", "noeq", "DEF", 20, S("DEF\0", 4), 3},
      {"empty key name", "[S]\n =x\n", "S", "", "DEF", 20, S("x\0", 2), 1},
      {"before the first section", "pre=p\n[S]\n", "", "pre", "DEF", 20, S("p\0", 2), 1},
      {"key holding = read back", "[S]\na=b=v\n", "S", "a", "DEF", 20, S("b=v\0", 4), 3},
      {"CR LF value: first line", "[S]\r\nk=line1\r\nline2\r\n", "S", "k", "DEF", 20,
       S("line1\0", 6), 5},
      {"CR LF value: second line is no key", "[S]\r\nk=line1\r\nline2\r\n", "S", "line2", "DEF", 20,
       S("DEF\0", 4), 3},
      {"UTF-8 with byte-order mark", "\xEF\xBB\xBF[S]\r\nu=\xC3\xA9\r\n", "S", "u", "DEF", 20,
       S("\xC3\xA9\0", 3), 2},
      {"no byte-order mark", "[S]\r\nu=\xC3\xA9\r\n", "S", "u", "DEF", 20, S("\xC3\xA9\0", 3), 2},
      {"UTF-16 LE with byte-order mark", "\xFF\xFE" + Utf16Le("[S]\r\nk=v\r\n"), "S", "k", "DEF",
       20, S("v\0", 2), 1},
      {"UTF-16 BE with byte-order mark", "\xFE\xFF" + Utf16Be("[S]\r\nk=v\r\n"), "S", "k", "DEF",
       20, S("DEF\0", 4), 3},
      {"UTF-16 LE without byte-order mark", Utf16Le("[S]\r\nk=v\r\n"), "S", "k", "DEF", 20,
       S("DEF\0", 4), 3},
      {"cut inside a character", "[S]\nk=a\xC3\xA9\n", "S", "k", "DEF", 3, S("a\0", 2), 1},
  };
  return rows;
}

TEST(Profile, WritesMatchTheWindowsFunctions) {
  for (const WriteRow& row : WriteRows()) {
    SCOPED_TRACE(row.what);
    ScratchFolder folder;
    std::string path = folder / "state.ini";
    if (row.initial) WriteFile(path, *row.initial);
    std::uint32_t ret = 99;
    for (const WriteCall& call : row.calls) {
      ret = WriteProfileValue(call.section, call.key, call.value, path);
    }
    EXPECT_EQ(ret, row.ret);
    if (row.file_after) {
      EXPECT_EQ(ReadFile(path), *row.file_after);
    } else {
      EXPECT_FALSE(platform::Files().FileExists(path));
    }
  }
}

TEST(Profile, ReadsMatchTheWindowsFunctions) {
  for (const ReadRow& row : ReadRows()) {
    SCOPED_TRACE(row.what);
    ScratchFolder folder;
    std::string path = folder / "state.ini";
    if (row.file) WriteFile(path, *row.file);
    std::string buffer(row.size + 4, '#');
    std::uint32_t ret =
        ReadProfileValue(row.section, row.key, row.default_value, buffer.data(), row.size, path);
    EXPECT_EQ(ret, row.ret);
    std::string expected = row.written + std::string(buffer.size() - row.written.size(), '#');
    EXPECT_EQ(buffer, expected);
  }
}

TEST(Profile, MissingFileOrFolderGivesTheDefaultAndTheLastError) {
  ScratchFolder folder;
  char buffer[20];
  platform::SetLastErrorCode(0);
  EXPECT_EQ(ReadProfileValue("S", "k", "DEF", buffer, sizeof buffer, folder / "none.ini"), 3u);
  EXPECT_EQ(std::string(buffer), "DEF");
  EXPECT_EQ(platform::LastErrorCode(), 2u);

  platform::SetLastErrorCode(0);
  EXPECT_EQ(ReadProfileValue("S", "k", "DEF", buffer, sizeof buffer, folder / "no\\none.ini"), 3u);
  EXPECT_EQ(std::string(buffer), "DEF");
  EXPECT_EQ(platform::LastErrorCode(), 3u);

  // A default longer than the buffer is cut to size - 1 characters, the
  // NUL after them and nothing written beyond.
  for (const std::string& path : {folder / "none.ini", folder / "no\\none.ini"}) {
    SCOPED_TRACE(path);
    std::string cut(8, '#');
    EXPECT_EQ(ReadProfileValue("S", "k", "defaultvalue", cut.data(), 5, path), 4u);
    EXPECT_EQ(cut, std::string("defa\0###", 8));
  }

  platform::SetLastErrorCode(0);
  EXPECT_EQ(WriteProfileValue("S", "k", "v", folder / "no/none.ini"), 0u);
  EXPECT_EQ(platform::LastErrorCode(), 3u);
  EXPECT_FALSE(platform::Files().FolderExists(folder / "no"));
}

TEST(Profile, LongValuesAndWriteThenRead) {
  ScratchFolder folder;
  std::string path = folder / "state.ini";
  std::string long_value(4003, 'x');
  long_value[0] = 'a';
  long_value.back() = 'z';
  ASSERT_EQ(WriteProfileValue("S", "k", long_value.c_str(), path), 1u);
  std::string buffer(5000, ' ');
  ASSERT_EQ(ReadProfileValue("S", "k", "", buffer.data(), 5000, path), 4003u);
  EXPECT_EQ(buffer.substr(0, 4004), long_value + '\0');

  std::string longer(5000, 'y');
  ASSERT_EQ(WriteProfileValue("S", "k", longer.c_str(), path), 1u);
  ASSERT_EQ(ReadProfileValue("S", "k", "", buffer.data(), 5000, path), 4999u);
  EXPECT_EQ(buffer, std::string(4999, 'y') + '\0');

  // A key written by a Windows-style path to the same file is the same key.
  ASSERT_EQ(WriteProfileValue("S", "k", "short", folder.path() + "\\STATE.INI"), 1u);
  EXPECT_EQ(ReadFile(path), "[S]\r\nk=short\r\n");
}

TEST(Profile, RewriteNeverTurnsCodePageTextIntoAByteOrderMark) {
  // A code-page file whose first line is blanks and the bytes of a UTF-16 LE
  // or UTF-8 mark: trimming that line on a rewrite must not make the file
  // start with the mark, or the next read would take it for Unicode.
  for (const char* mark_bytes : {"\xFF\xFE", "\xEF\xBB\xBF"}) {
    const std::string mark = mark_bytes;
    ScratchFolder folder;
    std::string path = folder / "state.ini";
    WriteFile(path, " " + mark + "\r\n[S]\r\nk=old\r\n");
    ASSERT_EQ(WriteProfileValue("S", "k", "new", path), 1u);
    EXPECT_EQ(ReadFile(path), "\r\n" + mark + "\r\n[S]\r\nk=new\r\n");
    ASSERT_EQ(WriteProfileValue("S", "j", "2", path), 1u);
    EXPECT_EQ(ReadFile(path), "\r\n" + mark + "\r\n[S]\r\nk=new\r\nj=2\r\n");
    std::string buffer(20, '#');
    EXPECT_EQ(ReadProfileValue("S", "k", "DEF", buffer.data(), 20, path), 3u);
    EXPECT_EQ(buffer.substr(0, 4), std::string("new\0", 4));
  }
  // After a blank line, as written by a hand editor.
  ScratchFolder folder;
  std::string path = folder / "state.ini";
  WriteFile(path, "\r\n\xFF\xFE\r\n[S]\r\nk=old\r\n");
  ASSERT_EQ(WriteProfileValue("S", "k", "new", path), 1u);
  EXPECT_EQ(ReadFile(path), "\r\n\xFF\xFE\r\n[S]\r\nk=new\r\n");
}

TEST(Profile, FailedReplacementLeavesTheFileUnchanged) {
  ScratchFolder folder;
  std::string path = folder / "state.ini";
  const std::string before = "[S]\nk = old\n\n";
  WriteFile(path, before);
  platform::testing::FullDisk full;
  std::uint32_t ret = 0;
  std::uint32_t error = 0;
  {
    platform::testing::ScopedFileSystem in_use(full);
    platform::SetLastErrorCode(0);
    ret = WriteProfileValue("S", "k", "new", path);
    error = platform::LastErrorCode();
  }
  EXPECT_EQ(ret, 0u);
  EXPECT_EQ(error, 112u);
  EXPECT_EQ(ReadFile(path), before);
}

// Passes everything to the real file system and counts the replacements.
class CountingFiles : public platform::testing::ForwardingFileSystem {
 public:
  int replacements = 0;
  void ReplaceFileAtomically(const std::string& p, const std::string& bytes) override {
    ++replacements;
    real.ReplaceFileAtomically(p, bytes);
  }
};

TEST(Profile, AWriteThatChangesNoByteLeavesTheFileAlone) {
  ScratchFolder folder;
  std::string path = folder / "state.ini";
  CountingFiles files;
  platform::testing::ScopedFileSystem in_use(files);
  EXPECT_EQ(WriteProfileValue("S", "k", "v", path), 1u);
  EXPECT_EQ(files.replacements, 1);
  // The same value again, and a key deleted that is not there: the file
  // would come out byte for byte as it is.
  EXPECT_EQ(WriteProfileValue("S", "k", "v", path), 1u);
  EXPECT_EQ(WriteProfileValue("s", "K", "  v", path), 1u);
  EXPECT_EQ(WriteProfileValue("S", "absent", kNull, path), 1u);
  EXPECT_EQ(files.replacements, 1);
  EXPECT_EQ(ReadFile(path), "[S]\r\nk=v\r\n");
  // A new value is written, and so is an empty one.
  EXPECT_EQ(WriteProfileValue("S", "k", "w", path), 1u);
  EXPECT_EQ(WriteProfileValue("T", "n", "", path), 1u);
  EXPECT_EQ(files.replacements, 3);
  EXPECT_EQ(ReadFile(path), "[S]\r\nk=w\r\n[T]\r\nn=\r\n");
  // A file the profile functions would write differently is written, even
  // when the value is the one it holds: after the call it is as Windows
  // leaves it.
  WriteFile(path, "[S]\nk = w\n\n");
  EXPECT_EQ(WriteProfileValue("S", "k", "w", path), 1u);
  EXPECT_EQ(files.replacements, 4);
  EXPECT_EQ(ReadFile(path), "[S]\r\nk=w\r\n");
}

}  // namespace
