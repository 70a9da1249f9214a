#include "companions/feedpull/xml_names.h"

#include <gtest/gtest.h>

namespace feedpull {
namespace {

pugi::xml_node Find(const pugi::xml_document& document, const char* xpath) {
  return document.select_node(xpath).node();
}

TEST(XmlNames, NamespacesResolveByUriNotPrefix) {
  pugi::xml_document document;
  ASSERT_TRUE(document.load_string(
      "<a:feed xmlns:a='http://www.w3.org/2005/Atom' xmlns='http://www.w3.org/1999/xhtml'>"
      "<a:entry><div><p/></div><b:x xmlns:b='urn:b'><b:y xmlns:b='urn:c'/></b:x>"
      "<plain xmlns=''/><u:z/></a:entry></a:feed>"));
  pugi::xml_node feed = document.document_element();
  EXPECT_EQ(NamespaceUri(feed), "http://www.w3.org/2005/Atom");
  EXPECT_EQ(LocalName(feed), "feed");
  EXPECT_EQ(NamespaceUri(Find(document, "//div")), "http://www.w3.org/1999/xhtml");
  EXPECT_EQ(NamespaceUri(Find(document, "//p")), "http://www.w3.org/1999/xhtml");
  EXPECT_EQ(NamespaceUri(Find(document, "//b:x")), "urn:b");
  EXPECT_EQ(NamespaceUri(Find(document, "//b:y")), "urn:c");       // the nearest declaration wins
  EXPECT_EQ(NamespaceUri(Find(document, "//plain")), "");          // default undeclared
  EXPECT_EQ(NamespaceUri(Find(document, "//u:z")), std::nullopt);  // prefix bound nowhere

  EXPECT_TRUE(IsElement(feed, "http://www.w3.org/2005/Atom", "feed"));
  EXPECT_FALSE(IsElement(feed, "", "feed"));
  EXPECT_FALSE(IsElement(feed, "http://www.w3.org/2005/Atom", "entry"));
  EXPECT_EQ(Child(feed, "http://www.w3.org/2005/Atom", "ENTRY"), Find(document, "//a:entry"));
  EXPECT_FALSE(Child(feed, "", "entry"));
}

TEST(XmlNames, NoNamespaceDocument) {
  pugi::xml_document document;
  ASSERT_TRUE(document.load_string("<rss><channel/></rss>"));
  EXPECT_EQ(NamespaceUri(document.document_element()), "");
  EXPECT_TRUE(Child(document.document_element(), "", "channel"));
}

TEST(XmlNames, Attributes) {
  pugi::xml_document document;
  ASSERT_TRUE(document.load_string(
      "<r:item xmlns:r='http://www.w3.org/1999/02/22-rdf-syntax-ns#' "
      "xmlns:s='http://www.w3.org/1999/02/22-rdf-syntax-ns#' s:about='one' about='two' "
      "xml:base='http://a/' other:about='three'/>"));
  pugi::xml_node item = document.document_element();
  EXPECT_STREQ(Attribute(item, "http://www.w3.org/1999/02/22-rdf-syntax-ns#", "about").value(),
               "one");
  EXPECT_STREQ(Attribute(item, "", "about").value(), "two");
  EXPECT_STREQ(Attribute(item, kXmlNamespace, "base").value(), "http://a/");
  EXPECT_FALSE(Attribute(item, "urn:other", "about"));
}

}  // namespace
}  // namespace feedpull
