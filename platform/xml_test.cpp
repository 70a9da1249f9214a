#include "platform/xml.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <pugixml.hpp>
#include <random>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/filesystem.h"
#include "platform/testing/test_support.h"
#include "platform/xml_encoding.h"
#include "platform/xml_pugi.h"

using platform::XmlDocument;
using platform::XmlNode;
using platform::testing::ReadFile;
using platform::testing::ScratchFolder;
using platform::testing::WriteFile;

namespace {

std::vector<std::string> Names(const std::vector<XmlNode>& nodes) {
  std::vector<std::string> names;
  for (const XmlNode& node : nodes) names.push_back(node.NodeName());
  return names;
}

// The tree below `node` as one text: names and texts, nested in brackets.
std::string Shape(const XmlNode& node) {
  if (!node.IsElement()) return node.NodeName() + "'" + node.Text() + "'";
  std::string out = node.NodeName() + "(";
  for (const XmlNode& child : node.ChildNodes()) out += Shape(child) + " ";
  return out + ")";
}

XmlNode AddElement(XmlNode parent, const std::string& name, const std::string& text) {
  XmlNode element = parent.AppendElement(name);
  element.SetText(text);
  return element;
}

TEST(XmlLoad, EncodingsByMarkAndDeclaration) {
  ScratchFolder folder;
  XmlDocument doc;
  std::string utf16 = std::string("\xFF\xFE", 2);
  for (char c : std::string("<a>caf")) utf16 += std::string{c, '\0'};
  utf16 += std::string("\xE9\0<\0/\0a\0>\0", 10);
  WriteFile(folder / "utf16.xml", utf16);
  ASSERT_TRUE(doc.Load(folder / "utf16.xml")) << doc.LoadError();
  EXPECT_EQ(doc.DocumentElement().Text(), "café");
  EXPECT_EQ(doc.LoadError(), "");

  WriteFile(folder / "latin1.xml",
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<a t=\"\xE9\">caf\xE9</a>");
  ASSERT_TRUE(doc.Load(folder / "latin1.xml")) << doc.LoadError();
  EXPECT_EQ(doc.DocumentElement().Text(), "café");
  // The text is UTF-8 now, and so is the declaration written out.
  EXPECT_EQ(doc.Xml(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a t=\"é\">café</a>\n");
}

TEST(XmlLoad, FailuresLeaveAnEmptyDocument) {
  ScratchFolder folder;
  const std::vector<std::string> bad = {
      "<a><b></a>",        "not xml at all",       "<a>&nbsp;</a>",
      "<a t=\"&nbsp;\"/>", "<a>fish & chips</a>",  "<a>&#0;</a>",
      "<a/><b/>",          "<a x=\"1\" x=\"2\"/>", "",
  };
  for (const std::string& text : bad) {
    SCOPED_TRACE(text);
    XmlDocument doc;
    ASSERT_TRUE(doc.LoadXml("<old/>"));
    EXPECT_FALSE(doc.LoadXml(text));
    EXPECT_NE(doc.LoadError(), "");
    EXPECT_FALSE(doc.DocumentElement());
    EXPECT_EQ(doc.Xml(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  }
  XmlDocument doc;
  EXPECT_FALSE(doc.Load(folder / "missing.xml"));
  EXPECT_EQ(doc.LoadError(), "File not found: " + (folder / "missing.xml"));
  WriteFile(folder / "nbsp.xml", "<a>x&nbsp;y</a>");
  EXPECT_FALSE(doc.Load(folder / "nbsp.xml"));
  EXPECT_EQ(doc.LoadError(), "reference to undefined entity &nbsp;");
  // References that XML defines are expanded, in text and attributes alike.
  ASSERT_TRUE(doc.LoadXml("<a t='&lt;&#65;&apos;'>&amp;nbsp;&#233;&#x20AC;&quot;&gt;</a>"));
  EXPECT_EQ(doc.DocumentElement().Text(), "&nbsp;é€\">");
  EXPECT_EQ(doc.Xml(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a t=\"&lt;A'\">&amp;nbsp;é€\"&gt;</a>\n");
}

std::string Nested(int depth);

// A document of elements and text alone has its references expanded by the
// parser and its tree not walked after (see xml_checks.cpp); with a comment
// after it, it is walked. Both ways read each text alike or refuse it alike.
TEST(XmlLoad, DocumentsReadAlikeWithAndWithoutAWalkOfTheirTree) {
  const std::string too_deep = "<e>" + Nested(platform::kXmlMaxDepth) + "</e>";
  const std::vector<std::string> texts = {
      "<r><a>&amp;&lt;&gt;&quot;&apos;&#65;&#x42;&#x4a;&#x0010FFFF;&#00000065;</a><b/><c /></r>",
      "<?xml version=\"1.0\"?>\n<r>\n\t<a>1 > 0 = x/>y</a>\r\n</r>",
      "<r><a>&nbsp;</a></r>",
      "<r>&#X41;</r>",
      "<r>&#xD800;</r>",
      "<r>&#x110000;</r>",
      "<r>& x;</r>",
      "<r>&#;</r>",
      "<r><a x='1' x='2'/></r>",
      "<r><a x='&amp;&#65;'/></r>",
      "<r>/>/>/>" + too_deep.substr(3, too_deep.size() - 7) + "</r>",
      too_deep,
      Nested(platform::kXmlMaxDepth - 1).insert(3 * (platform::kXmlMaxDepth - 1), "<b/>"),
      Nested(platform::kXmlMaxDepth).insert(3 * platform::kXmlMaxDepth, "<b/>")};
  for (const std::string& text : texts) {
    SCOPED_TRACE(text.substr(0, 60));
    XmlDocument plain, walked;
    const bool read = plain.LoadXml(text);
    EXPECT_EQ(walked.LoadXml(text + "<!---->"), read);
    EXPECT_EQ(plain.LoadError(), walked.LoadError());
    if (read) {
      EXPECT_EQ(Shape(plain.DocumentElement()), Shape(walked.DocumentElement()));
    }
  }
}

// The one pass over a text that a load makes finds what the check of its
// UTF-8 and the check of its markup find, over random texts long enough for
// characters and references to meet every block boundary.
TEST(XmlLoad, TheLoadsOnePassOverATextFindsWhatBothChecksFind) {
  // Text that keeps a document plain, and now and then a piece that does not.
  const std::vector<std::string> plain = {"&amp;",    "&lt;", "&#233;",       "\t\n",
                                          "\xC3\xA9", "= >",  "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                                          "<b/>",     "<c />"};
  const std::vector<std::string> other = {"&#x1;",        "&nbsp;",      "&",    "<!---->",
                                          "<?p?>",        "\x01",        "\xC3", "\x80",
                                          "\xEF\xBF\xBE", "\xED\xA0\x80"};
  std::mt19937 random(20261211);
  int plain_texts = 0, valid_texts = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string text = random() % 3 == 0 ? "<?xml version=\"1.0\"?>\n<r>" : "<r>";
    const int items = static_cast<int>(random() % 30);
    for (int i = 0; i < items; ++i) {
      text += "<item>";
      for (int k = static_cast<int>(random() % 6); k > 0; --k) {
        text += random() % 40 == 0  ? other[random() % other.size()]
                : random() % 2 == 0 ? plain[random() % plain.size()]
                                    : std::string(1 + random() % 20, 'x');
      }
      text += "</item>\n";
    }
    text += "</r>";
    SCOPED_TRACE(::testing::PrintToString(text));
    const platform::Utf8Scan utf8 = platform::ScanUtf8(text);
    const platform::xml_detail::XmlTextScan found = platform::xml_detail::ScanXmlText(text);
    ASSERT_EQ(found.utf8.valid, utf8.valid);
    if (!utf8.valid) continue;
    ++valid_texts;
    ASSERT_EQ(found.utf8.non_xml_chars, utf8.non_xml_chars);
    ASSERT_EQ(found.plain, platform::xml_detail::IsPlainMarkup(text));
    plain_texts += found.plain;
  }
  // Both answers come up often, or the comparison proves little.
  EXPECT_GT(plain_texts, 1000);
  EXPECT_GT(valid_texts - plain_texts, 300);
}

TEST(XmlLoad, ExternalEntitiesAreNeverFetched) {
  ScratchFolder folder;
  WriteFile(folder / "secret.txt", "TOP-SECRET");
  for (const std::string& target :
       {"file://" + (folder / "secret.txt"), std::string("file:///etc/passwd")}) {
    SCOPED_TRACE(target);
    XmlDocument doc;
    std::string dtd = "<!DOCTYPE r [<!ENTITY x SYSTEM \"" + target + "\">]>";
    if (doc.LoadXml(dtd + "<r>&x;</r>")) {
      EXPECT_EQ(doc.Xml().find("TOP-SECRET"), std::string::npos);
      EXPECT_EQ(doc.Xml().find("root:"), std::string::npos);
    }
    // Declared but not used: the document loads and holds nothing of the file.
    ASSERT_TRUE(doc.LoadXml(dtd + "<r>plain</r>")) << doc.LoadError();
    EXPECT_EQ(doc.Xml(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r>plain</r>\n");
  }
}

TEST(XmlNodes, ChildNodesNamesAndText) {
  XmlDocument doc;
  ASSERT_TRUE(
      doc.LoadXml("<?xml version=\"1.0\"?><!--top--><r><!--c--><?pi data?> lead <![CDATA[<cd>]]>"
                  "<e>one<f>two<g>three</g></f> four</e>\n  \n<h/></r>"));
  // A comment before the document element is kept.
  EXPECT_EQ(doc.Xml().rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!--top-->\n<r>", 0), 0u);
  XmlNode root = doc.DocumentElement();
  // The blank-only text between </e> and <h/> is dropped.
  EXPECT_EQ(Names(root.ChildNodes()),
            (std::vector<std::string>{"#comment", "pi", "#text", "#cdata-section", "e", "h"}));
  EXPECT_EQ(root.ChildCount(), 6u);
  std::vector<std::string> walked;
  for (XmlNode n = root.FirstChild(); n; n = n.NextSibling()) walked.push_back(n.NodeName());
  EXPECT_EQ(walked, Names(root.ChildNodes()));
  EXPECT_EQ(root.ChildNodes()[0].Text(), "c");
  EXPECT_EQ(root.ChildNodes()[2].Text(), " lead ");
  EXPECT_EQ(root.ChildNodes()[4].Text(), "onetwothree four");
  EXPECT_EQ(root.Text(), " lead <cd>onetwothree four");
  EXPECT_TRUE(root.ChildNodes()[4].IsElement());
  EXPECT_FALSE(root.ChildNodes()[2].IsElement());
  XmlNode none;
  EXPECT_EQ(none.NodeName(), "");
  EXPECT_EQ(none.Text(), "");
  EXPECT_EQ(none.ChildCount(), 0u);

  // The walks over whole stores: names compared and text taken without copies.
  EXPECT_EQ(root.FirstChildNamed("#comment"), root.ChildNodes()[0]);
  EXPECT_EQ(root.FirstChildNamed("#cdata-section"), root.ChildNodes()[3]);
  EXPECT_FALSE(root.FirstChildNamed("E"));
  EXPECT_FALSE(root.FirstChildNamed("e "));
  EXPECT_EQ(root.FirstChildNamed("pi"), root.ChildNodes()[1]);
  EXPECT_EQ(root.FirstChildNamed("h"), root.ChildNodes()[5]);
  EXPECT_EQ(root.FirstChildNamed("#text"), root.ChildNodes()[2]);
  EXPECT_FALSE(root.FirstChildNamed("f"));  // a grandchild
  EXPECT_FALSE(none.FirstChildNamed("r"));
  EXPECT_EQ(root.ChildNodes()[0].NextSiblingNamed("e"), root.ChildNodes()[4]);
  EXPECT_EQ(root.ChildNodes()[0].NextSiblingNamed("#cdata-section"), root.ChildNodes()[3]);
  EXPECT_FALSE(root.ChildNodes()[4].NextSiblingNamed("e"));
  EXPECT_FALSE(root.ChildNodes()[4].NextSiblingNamed("pi"));  // before it
  EXPECT_FALSE(none.NextSiblingNamed("r"));
  std::string text = "left over";
  root.ChildNodes()[4].TextInto(text);
  EXPECT_EQ(text, "onetwothree four");
  root.TextInto(text);
  EXPECT_EQ(text, " lead <cd>onetwothree four");
  root.ChildNodes()[0].TextInto(text);
  EXPECT_EQ(text, "c");
  none.TextInto(text);
  EXPECT_EQ(text, "");
}

TEST(XmlNodes, SelectSingleNode) {
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadXml("<wrap><x/><rootrss><item>1</item></rootrss><rootrss/></wrap>"));
  XmlNode found = doc.DocumentElement().SelectSingleNode("//rootrss");
  ASSERT_TRUE(found);
  EXPECT_EQ(found, doc.DocumentElement().ChildNodes()[1]);
  EXPECT_EQ(found.SelectSingleNode("item").Text(), "1");
  EXPECT_FALSE(doc.DocumentElement().SelectSingleNode("//ROOTRSS"));
  ASSERT_TRUE(doc.LoadXml("<ROOTRSS><item/></ROOTRSS>"));
  EXPECT_FALSE(doc.DocumentElement().SelectSingleNode("//rootrss"));
  try {
    doc.DocumentElement().SelectSingleNode("//[");
    FAIL() << "no failure";
  } catch (const platform::Failure& failure) {
    EXPECT_EQ(failure.number(), 5);
  }
}

TEST(XmlBuild, InsertBeforeAtTheTopAndExactText) {
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadXml("<rootrss/>"));
  XmlNode root = doc.DocumentElement();
  AddElement(root, "maintitle", "T");
  for (const char* name : {"a", "b", "c"}) {
    XmlNode item = root.InsertElementBefore("item", root.FirstChild());
    AddElement(item, "title", name);
    AddElement(item, "Status", "Unread");
  }
  EXPECT_EQ(doc.Xml(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<rootrss>\n"
            "\t<item>\n\t\t<title>c</title>\n\t\t<Status>Unread</Status>\n\t</item>\n"
            "\t<item>\n\t\t<title>b</title>\n\t\t<Status>Unread</Status>\n\t</item>\n"
            "\t<item>\n\t\t<title>a</title>\n\t\t<Status>Unread</Status>\n\t</item>\n"
            "\t<maintitle>T</maintitle>\n"
            "</rootrss>\n");
  // Null reference: appended.
  XmlNode last = root.InsertElementBefore("last", XmlNode());
  EXPECT_EQ(root.ChildNodes().back(), last);
}

TEST(XmlBuild, MisuseFailsWithNumberFive) {
  XmlDocument doc;
  XmlDocument other;
  ASSERT_TRUE(doc.LoadXml("<r><a/><b/></r>"));
  ASSERT_TRUE(other.LoadXml("<o/>"));
  XmlNode root = doc.DocumentElement();
  auto expect_five = [](auto action) {
    try {
      action();
      ADD_FAILURE() << "no failure";
    } catch (const platform::Failure& failure) {
      EXPECT_EQ(failure.number(), 5);
    }
  };
  expect_five([&] { root.InsertElementBefore("x", other.DocumentElement()); });
  expect_five([&] { root.ChildNodes()[0].InsertElementBefore("x", root.ChildNodes()[1]); });
  expect_five([&] { root.AppendElement("1bad"); });
  expect_five([&] { root.AppendElement(""); });
  ASSERT_TRUE(doc.LoadXml("<r><a/>text<b/></r>"));
  root = doc.DocumentElement();
  expect_five([&] { root.ChildNodes()[1].AppendElement("x"); });
  EXPECT_EQ(Shape(root), "r(a() #text'text' b() )");
  try {
    XmlNode().AppendElement("x");
    ADD_FAILURE() << "no failure";
  } catch (const platform::Failure& failure) {
    EXPECT_EQ(failure.number(), 91);
  }
}

TEST(XmlBuild, SavedDocumentLoadsBackTheSame) {
  ScratchFolder folder;
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadXml("<rootrss/>"));
  XmlNode root = doc.DocumentElement();
  AddElement(root, "maintitle", "  Blanks both ends  ");
  AddElement(root, "mainlink", "http://h/?a=1&b=<2>");
  AddElement(root, "maindescription", "Line one\nline \"two\" 'é€'");
  XmlNode item = root.InsertElementBefore("item", root.FirstChild());
  AddElement(item, "title", " t ");
  AddElement(item, "GUID", "");
  std::string path = folder / "store.xml";
  doc.Save(path);
  EXPECT_EQ(ReadFile(path), doc.Xml());

  XmlDocument back;
  ASSERT_TRUE(back.Load(path)) << back.LoadError();
  EXPECT_EQ(Shape(back.DocumentElement()), Shape(root));
  EXPECT_EQ(Shape(root),
            "rootrss(item(title(#text' t ' ) GUID() ) maintitle(#text'  Blanks both ends  ' ) "
            "mainlink(#text'http://h/?a=1&b=<2>' ) "
            "maindescription(#text'Line one\nline \"two\" 'é€'' ) )");
  EXPECT_EQ(back.Xml(), doc.Xml());
}

// A large document element is written in parts made side by side; joined,
// they are pugixml's own text of the whole, whatever the element holds.
TEST(XmlBuild, LargeDocumentsAreWrittenAsPugixmlWritesThemWhole) {
  std::string children;
  for (int i = 0; i < 3000; ++i) {
    const std::string n = std::to_string(i);
    children += i % 3 == 0   ? "<item a=\"" + n + "\"><t>x &amp; y</t><e/></item>"
                : i % 3 == 1 ? "<!-- c" + n + " --><?pi " + n + "?>"
                             : "<deep><er>" + n + "</er></deep>";
  }
  struct Writer : pugi::xml_writer {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    void write(const void* data, size_t size) override {
      text.append(static_cast<const char*>(data), size);
    }
  };
  for (const std::string& xml :
       {"<r>" + children + "</r>", "<!--a--><r>" + children + "</r><?b?>",
        "<r>" + children + "text</r>", "<r x=\"1\">" + children + "</r>"}) {
    XmlDocument doc;
    ASSERT_TRUE(doc.LoadXml(xml)) << doc.LoadError();
    pugi::xml_document whole;
    ASSERT_TRUE(whole.load_string(xml.c_str(),
                                  pugi::parse_default | pugi::parse_comments | pugi::parse_pi));
    Writer expected;
    whole.print(expected, "\t");
    // Compared whole; shown from the first byte that differs.
    const std::string made = doc.Xml();
    const std::size_t at = static_cast<std::size_t>(
        std::mismatch(made.begin(), made.end(), expected.text.begin(), expected.text.end()).first -
        made.begin());
    EXPECT_EQ(made.substr(at, 80), expected.text.substr(at, 80)) << xml.substr(0, 40);
  }
}

// Only a file of exactly the bytes a save would write is left alone: one
// that ends early, goes on or differs in a byte is saved anew.
TEST(XmlBuild, SaveUnlessSameComparesEveryByte) {
  ScratchFolder folder;
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadXml("<rootrss><item>x</item></rootrss>"));
  const std::string path = folder / "store.xml";
  const std::string xml = doc.Xml();
  EXPECT_TRUE(doc.SaveUnlessSame(path));  // missing
  EXPECT_EQ(ReadFile(path), xml);
  EXPECT_FALSE(doc.SaveUnlessSame(path));
  for (const std::string& other :
       {xml.substr(0, xml.size() - 1), xml + "\n", std::string(xml).replace(30, 1, "?")}) {
    WriteFile(path, other);
    EXPECT_TRUE(doc.SaveUnlessSame(path));
    EXPECT_EQ(ReadFile(path), xml);
  }
}

// A save with new first children writes what a save after inserting them
// writes, small or large, also when more than new first children came in;
// every child is looked at once; with nothing new, a file that holds the
// bytes already is left alone.
TEST(XmlBuild, SaveWithNewFirstChildrenWritesWhatASaveAfterTheInsertWrites) {
  ScratchFolder folder;
  const std::string path = folder / "store.xml";
  // Small, large, and large with a text child.
  for (const int items : {3, 3000, -3000}) {
    std::string xml = "<?xml version=\"1.0\"?><rootrss><maintitle>T</maintitle>";
    for (int i = 0; i < std::abs(items); ++i) {
      xml += "<item><link>" + std::to_string(i) + "</link></item>";
      if (items < 0 && i == 2000) xml += "text";
    }
    xml += "</rootrss><!--end-->";
    // Adds two new first children, or with `more` also one at the end.
    const auto add = [](XmlNode element, bool more) {
      for (const char* text : {"new 1", "new 2"}) {
        AddElement(element.InsertElementBefore("item", element.FirstChild()), "link", text);
      }
      if (more) AddElement(element, "item", "last");
    };
    for (const bool more : {false, true}) {
      XmlDocument expected;
      ASSERT_TRUE(expected.LoadXml(xml));
      add(expected.DocumentElement(), more);
      XmlDocument doc;
      ASSERT_TRUE(doc.LoadXml(xml));
      std::vector<std::string> looked[XmlDocument::kLookParts];
      EXPECT_TRUE(doc.SaveWithNewFirstChildren(
          path, [&](std::size_t part, XmlNode child) { looked[part].push_back(child.Text()); },
          [&](XmlNode element) { add(element, more); }));
      EXPECT_EQ(ReadFile(path), expected.Xml()) << items;
      std::vector<std::string> all = {"T"};
      for (int i = 0; i < std::abs(items); ++i) all.push_back(std::to_string(i));
      if (items < 0) all.push_back("text");
      std::vector<std::string> seen;
      for (const auto& part : looked) seen.insert(seen.end(), part.begin(), part.end());
      std::sort(seen.begin(), seen.end());
      std::sort(all.begin(), all.end());
      EXPECT_EQ(seen, all);
    }
    XmlDocument doc;
    ASSERT_TRUE(doc.LoadXml(xml));
    const auto nothing = [&] {
      return doc.SaveWithNewFirstChildren(
          path, [](std::size_t, XmlNode) {}, [](XmlNode) {});
    };
    WriteFile(path, doc.Xml() + " ");
    EXPECT_TRUE(nothing());
    EXPECT_EQ(ReadFile(path), doc.Xml());
    EXPECT_FALSE(nothing());
  }
}

TEST(XmlBuild, FailedSaveKeepsTheOldFile) {
  ScratchFolder folder;
  std::string path = folder / "store.xml";
  const std::string old = "<?xml version=\"1.0\"?>\r\n<rootrss><item/></rootrss>";
  WriteFile(path, old);
  XmlDocument doc;
  ASSERT_TRUE(doc.Load(path));
  AddElement(doc.DocumentElement(), "item", "new");
  long number = 0;
  try {
    platform::testing::FullDisk full;
    platform::testing::ScopedFileSystem in_use(full);
    doc.Save(path);
  } catch (const platform::Failure& failure) {
    number = failure.number();
  }
  EXPECT_EQ(number, 61);
  EXPECT_EQ(ReadFile(path), old);
}

std::vector<std::string> FolderEntries(const ScratchFolder& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

// Characters XML 1.0 does not allow, and how the layer stores each: as
// U+FFFD. Malformed UTF-8 set as text becomes U+FFFD too.
const std::vector<std::pair<std::string, std::string>> kNotXml = {
    {"a\x1E"
     "b",
     "a\uFFFD"
     "b"},
    {std::string("\0", 1), "\uFFFD"},
    {"\x01\x08\x0B\x0C\x1F", "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"\xEF\xBF\xBE|\xEF\xBF\xBF", "\uFFFD|\uFFFD"},  // U+FFFE, U+FFFF
    {"caf\xE9", "caf\uFFFD"},
    {"\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"},  // a surrogate
    {"tab\tline\nfeed", "tab\tline\nfeed"},  // allowed; kept
};

TEST(XmlChars, TextThatXmlCannotHoldIsSavedAsReplacementCharacters) {
  ScratchFolder folder;
  for (const auto& c : kNotXml) {
    SCOPED_TRACE(testing::PrintToString(c.first));
    XmlDocument doc;
    ASSERT_TRUE(doc.LoadXml("<r/>"));
    AddElement(doc.DocumentElement(), "t", c.first);
    const std::string path = folder / "s.xml";
    doc.Save(path);
    EXPECT_EQ(ReadFile(path),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r>\n\t<t>" + c.second + "</t>\n</r>\n");
    XmlDocument back;
    ASSERT_TRUE(back.Load(path)) << back.LoadError();
    EXPECT_EQ(back.DocumentElement().Text(), c.second);
  }
}

TEST(XmlChars, RawCharactersXmlCannotHoldLoadAsReplacementsAndReferencesFail) {
  // As a converter may leave them: raw in text, attributes, CDATA and
  // comments. They load as U+FFFD, so saving gives a document that loads.
  const std::string raw =
      "<r a=\"x\x1Ey\"><!--c\x02--><t>1\x1E"
      "2</t><c><![CDATA[\x0B]]></c><u>\xEF\xBF\xBF</u></r>";
  for (bool as_bytes : {false, true}) {
    XmlDocument doc;
    ASSERT_TRUE(as_bytes ? doc.LoadBytes(raw) : doc.LoadXml(raw)) << doc.LoadError();
    EXPECT_EQ(doc.Xml(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r a=\"x\uFFFDy\">\n"
              "\t<!--c\uFFFD-->\n\t<t>1\uFFFD"
              "2</t>\n\t<c><![CDATA[\uFFFD]]></c>\n"
              "\t<u>\uFFFD</u>\n</r>\n");
    XmlDocument back;
    EXPECT_TRUE(back.LoadXml(doc.Xml())) << back.LoadError();
  }
  // UTF-16 too.
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("<a>\x1E</a>")) utf16 += std::string{c, '\0'};
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadBytes(utf16)) << doc.LoadError();
  EXPECT_EQ(doc.DocumentElement().Text(), "\uFFFD");
  // A reference to such a character is an error XML names: it stays one.
  EXPECT_FALSE(doc.LoadXml("<a>&#30;</a>"));
  EXPECT_EQ(doc.LoadError(), "invalid character reference &#30;");
  EXPECT_FALSE(doc.LoadXml("<a>&#x110000;</a>"));
}

// Property: whatever text is set, the saved document loads again and gives
// back the text with only the characters XML cannot hold replaced.
TEST(XmlChars, AnyTextSetIsSavedSoThatItLoadsAgain) {
  std::mt19937 random(20261208);
  const std::vector<std::string> pieces = {
      "&",  "<",  ">",   "]]>", "&#30;",       "\xC3\xA9", "\r\n", "\xF0\x9F\x98\x80",
      "--", "?>", "\"'", " ",   "\xEF\xBB\xBF"};
  for (int round = 0; round < 300; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 40);
    for (int i = 0; i < length; ++i) {
      if (random() % 3 == 0) {
        text += pieces[random() % pieces.size()];
      } else {
        text += static_cast<char>(random() % 256);
      }
    }
    SCOPED_TRACE(testing::PrintToString(text));
    XmlDocument doc;
    ASSERT_TRUE(doc.LoadXml("<r/>"));
    XmlNode element = AddElement(doc.DocumentElement(), "t", text);
    AddElement(element, "inner", text);
    XmlDocument back;
    ASSERT_TRUE(back.LoadBytes(doc.Xml())) << back.LoadError();
    std::string expected = platform::XmlSafeText(text);
    // XML reads every line end as a line feed.
    for (std::size_t at; (at = expected.find("\r\n")) != std::string::npos;) {
      expected.replace(at, 2, "\n");
    }
    for (char& c : expected) {
      if (c == '\r') c = '\n';
    }
    EXPECT_EQ(back.DocumentElement().SelectSingleNode("t/inner").Text(), expected);
  }
}

std::string Nested(int depth) {
  std::string text;
  for (int i = 0; i < depth; ++i) text += "<e>";
  text += "x";
  for (int i = 0; i < depth; ++i) text += "</e>";
  return text;
}

TEST(XmlDepth, DocumentsNestedDeeperThanTheBoundAreRefused) {
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadXml(Nested(platform::kXmlMaxDepth))) << doc.LoadError();
  EXPECT_EQ(doc.DocumentElement().Text(), "x");
  EXPECT_FALSE(doc.LoadXml(Nested(platform::kXmlMaxDepth + 1)));
  EXPECT_EQ(doc.LoadError(), "elements nested deeper than 256 levels");
  EXPECT_FALSE(doc.DocumentElement());
  // The store of the report: 140 KB nested 20,000 deep. It would have been
  // saved as 400 MB.
  EXPECT_FALSE(doc.LoadXml("<rootrss>" + Nested(20000) + "</rootrss>"));
  // Deep in a second branch counts as well.
  EXPECT_FALSE(doc.LoadXml("<r><a/>" + Nested(platform::kXmlMaxDepth) + "</r>"));
}

TEST(XmlDepth, SavedSizeStaysWithinTheDepthTimesTheDocument) {
  // The deepest document allowed: every line indented as far as it may be.
  ScratchFolder folder;
  XmlDocument doc;
  const std::string text = Nested(platform::kXmlMaxDepth);
  ASSERT_TRUE(doc.LoadXml(text));
  doc.Save(folder / "deep.xml");
  const std::string saved = ReadFile(folder / "deep.xml");
  EXPECT_LE(saved.size(), static_cast<std::size_t>(platform::kXmlMaxDepth) * text.size());
  XmlDocument back;
  EXPECT_TRUE(back.Load(folder / "deep.xml")) << back.LoadError();
}

TEST(XmlDepth, ADocumentBuiltTooDeepIsNotSavedAndTheOldFileStays) {
  ScratchFolder folder;
  const std::string path = folder / "store.xml";
  WriteFile(path, "<rootrss/>");
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadXml(Nested(platform::kXmlMaxDepth)));
  XmlNode deepest = doc.DocumentElement();
  while (deepest.FirstChild().IsElement()) deepest = deepest.FirstChild();
  AddElement(deepest, "one-more", "y");
  long number = 0;
  try {
    doc.Save(path);
  } catch (const platform::Failure& failure) {
    number = failure.number();
    EXPECT_EQ(failure.description(), "elements nested deeper than 256 levels");
  }
  EXPECT_EQ(number, 5);
  EXPECT_EQ(ReadFile(path), "<rootrss/>");
  EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"store.xml"});
}

}  // namespace
