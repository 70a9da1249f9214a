#include "platform/profile.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/filesystem.h"
#include "platform/last_error.h"
#include "platform/testing/test_support.h"

using platform::ReadProfileValue;
using platform::WriteProfileValue;
using platform::testing::ReadFile;
using platform::testing::ScratchFolder;
using platform::testing::WriteFile;

namespace {

struct WriteCall {
  const char* section;
  const char* key;
  const char* value;
};

struct WriteRow {
  const char* what;
  std::optional<std::string> initial;  // none: the file does not exist
  std::vector<WriteCall> calls;
  bool ret;                               // of the last call
  std::optional<std::string> file_after;  // none: the file must not exist
};

struct ReadRow {
  const char* what;
  std::optional<std::string> file;
  const char* section;
  const char* key;
  std::size_t max_chars;
  std::string value;
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

const std::vector<WriteRow>& WriteRows() {
  static const std::vector<WriteRow> rows = {
      {"new file", std::nullopt, {{"S1", "k1", "v1"}}, true, "[S1]\r\nk1=v1\r\n"},
      {"second key",
       std::nullopt,
       {{"S1", "k1", "v1"}, {"S1", "k2", "v2"}},
       true,
       "[S1]\r\nk1=v1\r\nk2=v2\r\n"},
      {"second section",
       std::nullopt,
       {{"S1", "k1", "v1"}, {"S1", "k2", "v2"}, {"S2", "k3", "v3"}},
       true,
       "[S1]\r\nk1=v1\r\nk2=v2\r\n[S2]\r\nk3=v3\r\n"},
      {"new key at the end of its section",
       std::nullopt,
       {{"S1", "k1", "v1"}, {"S1", "k2", "v2"}, {"S2", "k3", "v3"}, {"S1", "k4", "v4"}},
       true,
       "[S1]\r\nk1=v1\r\nk2=v2\r\nk4=v4\r\n[S2]\r\nk3=v3\r\n"},
      {"empty file", "", {{"S1", "k1", "v1"}}, true, "[S1]\r\nk1=v1\r\n"},
      {"whole file normalised",
       "pre = p\n\n;top\r  [Lead]  \n  key  =  value  \r\n[  Blank  ]\r\n\r\n;c=1\nnoeq\n"
       "[Trail] junk\nx=1",
       {{"Trail", "y", "2"}},
       true,
       "pre=p\r\n;top\r\n[Lead]\r\nkey=value\r\n[Blank]\r\n;c=1\r\nnoeq\r\n[Trail]\r\nx=1\r\ny="
       "2\r\n"},
      {"blanks in the arguments of a write into a new file",
       std::nullopt,
       {{" S ", " k ", " v "}},
       true,
       "[S ]\r\nk =v \r\n"},
      {"blanks normalised by the next write",
       std::nullopt,
       {{" S ", " k ", " v "}, {"S", "j", "w"}},
       true,
       "[S]\r\nk=v\r\nj=w\r\n"},
      {"spelling of the file kept",
       "[Sec]\r\nKey=old\r\n",
       {{"SEC", "KEY", "new"}},
       true,
       "[Sec]\r\nKey=new\r\n"},
      {"value replaced in place",
       "[S]\r\na=1\r\nk=old\r\nb=2\r\n",
       {{"S", "k", "new"}},
       true,
       "[S]\r\na=1\r\nk=new\r\nb=2\r\n"},
      {"empty value", std::nullopt, {{"S", "k", ""}}, true, "[S]\r\nk=\r\n"},
      {"key holding =", std::nullopt, {{"S", "a=b", "v"}}, true, "[S]\r\na=b=v\r\n"},
      {"value with = ; #", std::nullopt, {{"S", "k", "a=b;c#d"}}, true, "[S]\r\nk=a=b;c#d\r\n"},
      {"value with CR LF written raw",
       std::nullopt,
       {{"S", "k", "line1\r\nline2"}},
       true,
       "[S]\r\nk=line1\r\nline2\r\n"},
      {"value with LF", std::nullopt, {{"S", "k", "x\ny"}}, true, "[S]\r\nk=x\ny\r\n"},
      {"LF value after a rewrite",
       std::nullopt,
       {{"S", "k", "x\ny"}, {"S", "j", "1"}},
       true,
       "[S]\r\nk=x\r\ny\r\nj=1\r\n"},
      {"padded value", std::nullopt, {{"S", "k", "  pad  "}}, true, "[S]\r\nk=pad  \r\n"},
      {"padded value after a rewrite",
       std::nullopt,
       {{"S", "k", "  pad  "}, {"S", "j", "1"}},
       true,
       "[S]\r\nk=pad\r\nj=1\r\n"},
      {"quoted value", std::nullopt, {{"S", "k", "\"q\""}}, true, "[S]\r\nk=\"q\"\r\n"},
      {"duplicate sections: the first is written",
       "[S]\r\nk=first\r\n[T]\r\nt=1\r\n[S]\r\nk=second\r\nj=only2\r\n",
       {{"S", "k", "NEW"}},
       true,
       "[S]\r\nk=NEW\r\n[T]\r\nt=1\r\n[S]\r\nk=second\r\nj=only2\r\n"},
      {"duplicate keys: the first is written",
       "[S]\r\nk=first\r\nk=second\r\n",
       {{"S", "k", "NEW"}},
       true,
       "[S]\r\nk=NEW\r\nk=second\r\n"},
      {"lines before the first section stay at the top",
       "pre=p\r\n[S]\r\nk=v\r\n",
       {{"", "q", "1"}},
       true,
       "pre=p\r\nq=1\r\n[S]\r\nk=v\r\n"},
      {"UTF-8 byte-order mark kept",
       "\xEF\xBB\xBF[S]\r\nu=\xC3\xA9\r\n",
       {{"S", "k", "\xC3\xA9"}},
       true,
       "\xEF\xBB\xBF[S]\r\nu=\xC3\xA9\r\nk=\xC3\xA9\r\n"},
      {"UTF-16 LE stays UTF-16 LE",
       "\xFF\xFE" + Utf16Le("[S]\r\nk=v\r\n"),
       {{"S", "j", "w"}},
       true,
       "\xFF\xFE" + Utf16Le("[S]\r\nk=v\r\nj=w\r\n")},
  };
  return rows;
}

const std::vector<ReadRow>& ReadRows() {
  static const std::string k_file = "[S]\r\nk=abcdefghij\r\n";
  static const std::vector<ReadRow> rows = {
      {"blanks trimmed", "[S]\nk=  v  \n", "S", "k", 19, "v"},
      {"tabs trimmed", "[S]\nk=\tt\t\n", "S", "k", 19, "t"},
      {"double quotes", "[S]\nk=\"dq\"\n", "S", "k", 19, "dq"},
      {"single quotes", "[S]\nk='sq'\n", "S", "k", 19, "sq"},
      {"blanks inside quotes", "[S]\nk=\" in \"\n", "S", "k", 19, " in "},
      {"inner quote", "[S]\nk=\"a\"b\"\n", "S", "k", 19, "a\"b"},
      {"unbalanced quote", "[S]\nk=\"unbal\n", "S", "k", 19, "\"unbal"},
      {"mixed quotes", "[S]\nk=\"mixed'\n", "S", "k", 19, "\"mixed'"},
      {"quotes not outer", "[S]\nk=x\"y\"\n", "S", "k", 19, "x\"y\""},
      {"empty value", "[S]\nk=\n", "S", "k", 19, ""},
      {"blank value", "[S]\nk=   \n", "S", "k", 19, ""},
      {"empty quotes", "[S]\nk=\"\"\n", "S", "k", 19, ""},
      {"no inline comment ;", "[S]\nk=a;b\n", "S", "k", 19, "a;b"},
      {"no inline comment blanks", "[S]\nk=a ; b\n", "S", "k", 19, "a ; b"},
      {"no inline comment #", "[S]\nk=a#b\n", "S", "k", 19, "a#b"},
      {"no trailing comment", "[S]\nk=v ; trailing\n", "S", "k", 19, "v ; trailing"},
      {"size 11", k_file, "S", "k", 10, "abcdefghij"},
      {"size 10", k_file, "S", "k", 9, "abcdefghi"},
      {"size 5", k_file, "S", "k", 4, "abcd"},
      {"size 2", k_file, "S", "k", 1, "a"},
      {"size 1", k_file, "S", "k", 0, ""},
      {"quotes cut before stripping", "[S]\nk=\"abcdef\"\n", "S", "k", 6, "abcde"},
      {"quotes fitting", "[S]\nk=\"abcdef\"\n", "S", "k", 7, "abcdef"},
      {"missing key", "[S]\nk=v\n", "S", "nokey", 19, ""},
      {"missing section", "[S]\nk=v\n", "T", "k", 19, ""},
      {"case-insensitive", "[Sec]\nKey=v\n", "sEC", "kEY", 19, "v"},
      {"blanks around names in the file", "  [ \tSec\t ]  \n \t Key \t = v\n", "Sec", "Key", 19,
       "v"},
      {"blanks around the arguments", "[Sec]\nkey=v\n", " Sec ", "  key  ", 19, "v"},
      {"brackets in the argument", "[Blank]\nk=v\n", "[Blank]", "k", 19, ""},
      {"duplicate sections: first", "[S]\nk=first\n[S]\nk=second\nj=only2\n", "S", "k", 19,
       "first"},
      {"duplicate sections: later invisible", "[S]\nk=first\n[S]\nk=second\nj=only2\n", "S", "j",
       19, ""},
      {"duplicate keys", "[S]\nk=first\nk=second\n", "S", "k", 19, "first"},
      {"comment line is a key", "[S]\n;c=1\n", "S", ";c", 19, "1"},
      {"# line is a key", "[S]\n#h=2\n", "S", "#h", 19, "2"},
      {"line without =", "[S]\nnoeq\n", "S", "noeq", 19, ""},
      {"empty key name", "[S]\n =x\n", "S", "", 19, "x"},
      {"before the first section", "pre=p\n[S]\n", "", "pre", 19, "p"},
      {"key holding = read back", "[S]\na=b=v\n", "S", "a", 19, "b=v"},
      {"CR LF value: first line", "[S]\r\nk=line1\r\nline2\r\n", "S", "k", 19, "line1"},
      {"CR LF value: second line is no key", "[S]\r\nk=line1\r\nline2\r\n", "S", "line2", 19, ""},
      {"UTF-8 with byte-order mark", "\xEF\xBB\xBF[S]\r\nu=\xC3\xA9\r\n", "S", "u", 19, "\xC3\xA9"},
      {"no byte-order mark", "[S]\r\nu=\xC3\xA9\r\n", "S", "u", 19, "\xC3\xA9"},
      {"UTF-16 LE with byte-order mark", "\xFF\xFE" + Utf16Le("[S]\r\nk=v\r\n"), "S", "k", 19, "v"},
      {"UTF-16 BE with byte-order mark", "\xFE\xFF" + Utf16Be("[S]\r\nk=v\r\n"), "S", "k", 19, ""},
      {"UTF-16 LE without byte-order mark", Utf16Le("[S]\r\nk=v\r\n"), "S", "k", 19, ""},
      {"cut inside a character", "[S]\nk=a\xC3\xA9\n", "S", "k", 2, "a"},
  };
  return rows;
}

TEST(Profile, WritesMatchTheWindowsFunctions) {
  for (const WriteRow& row : WriteRows()) {
    SCOPED_TRACE(row.what);
    ScratchFolder folder;
    std::string path = folder / "state.ini";
    if (row.initial) WriteFile(path, *row.initial);
    bool ret = !row.ret;
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
    EXPECT_EQ(ReadProfileValue(row.section, row.key, row.max_chars, path), row.value);
  }
}

TEST(Profile, MissingFileOrFolderGivesNothingAndTheLastError) {
  ScratchFolder folder;
  platform::SetLastErrorCode(0);
  EXPECT_EQ(ReadProfileValue("S", "k", 19, folder / "none.ini"), "");
  EXPECT_EQ(platform::LastErrorCode(), 2u);

  platform::SetLastErrorCode(0);
  EXPECT_EQ(ReadProfileValue("S", "k", 19, folder / "no\\none.ini"), "");
  EXPECT_EQ(platform::LastErrorCode(), 3u);

  platform::SetLastErrorCode(0);
  EXPECT_FALSE(WriteProfileValue("S", "k", "v", folder / "no/none.ini"));
  EXPECT_EQ(platform::LastErrorCode(), 3u);
  EXPECT_FALSE(platform::Files().FolderExists(folder / "no"));
}

TEST(Profile, LongValuesAndWriteThenRead) {
  ScratchFolder folder;
  std::string path = folder / "state.ini";
  std::string long_value(4003, 'x');
  long_value[0] = 'a';
  long_value.back() = 'z';
  ASSERT_TRUE(WriteProfileValue("S", "k", long_value, path));
  EXPECT_EQ(ReadProfileValue("S", "k", 4999, path), long_value);

  std::string longer(5000, 'y');
  ASSERT_TRUE(WriteProfileValue("S", "k", longer, path));
  EXPECT_EQ(ReadProfileValue("S", "k", 4999, path), std::string(4999, 'y'));

  // A key written by a Windows-style path to the same file is the same key.
  ASSERT_TRUE(WriteProfileValue("S", "k", "short", folder.path() + "\\STATE.INI"));
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
    ASSERT_TRUE(WriteProfileValue("S", "k", "new", path));
    EXPECT_EQ(ReadFile(path), "\r\n" + mark + "\r\n[S]\r\nk=new\r\n");
    ASSERT_TRUE(WriteProfileValue("S", "j", "2", path));
    EXPECT_EQ(ReadFile(path), "\r\n" + mark + "\r\n[S]\r\nk=new\r\nj=2\r\n");
    EXPECT_EQ(ReadProfileValue("S", "k", 19, path), "new");
  }
  // After a blank line, as written by a hand editor.
  ScratchFolder folder;
  std::string path = folder / "state.ini";
  WriteFile(path, "\r\n\xFF\xFE\r\n[S]\r\nk=old\r\n");
  ASSERT_TRUE(WriteProfileValue("S", "k", "new", path));
  EXPECT_EQ(ReadFile(path), "\r\n\xFF\xFE\r\n[S]\r\nk=new\r\n");
}

TEST(Profile, FailedReplacementLeavesTheFileUnchanged) {
  ScratchFolder folder;
  std::string path = folder / "state.ini";
  const std::string before = "[S]\nk = old\n\n";
  WriteFile(path, before);
  platform::testing::FullDisk full;
  bool ret = true;
  std::uint32_t error = 0;
  {
    platform::testing::ScopedFileSystem in_use(full);
    platform::SetLastErrorCode(0);
    ret = WriteProfileValue("S", "k", "new", path);
    error = platform::LastErrorCode();
  }
  EXPECT_FALSE(ret);
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
  std::optional<platform::testing::ScopedFileSystem> in_use(std::in_place, files);
  EXPECT_TRUE(WriteProfileValue("S", "k", "v", path));
  EXPECT_EQ(files.replacements, 1);
  // The same value again: the file would come out byte for byte as it is.
  EXPECT_TRUE(WriteProfileValue("S", "k", "v", path));
  EXPECT_TRUE(WriteProfileValue("s", "K", "  v", path));
  EXPECT_EQ(files.replacements, 1);
  EXPECT_EQ(ReadFile(path), "[S]\r\nk=v\r\n");
  // A new value is written, and so is an empty one.
  EXPECT_TRUE(WriteProfileValue("S", "k", "w", path));
  EXPECT_TRUE(WriteProfileValue("T", "n", "", path));
  EXPECT_EQ(files.replacements, 3);
  EXPECT_EQ(ReadFile(path), "[S]\r\nk=w\r\n[T]\r\nn=\r\n");
  // A file the profile functions would write differently is written, even
  // when the value is the one it holds: after the call it is as Windows
  // leaves it.
  WriteFile(path, "[S]\nk = w\n\n");
  EXPECT_TRUE(WriteProfileValue("S", "k", "w", path));
  EXPECT_EQ(files.replacements, 4);
  in_use.reset();
  EXPECT_EQ(ReadFile(path), "[S]\r\nk=w\r\n");
}

}  // namespace
