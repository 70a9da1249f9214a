// Placeholder until the XML DOM lands.
#include "platform/failure.h"
#include "platform/xml.h"

namespace platform {
struct XmlDocument::Impl {};
XmlDocument::XmlDocument() = default;
XmlDocument::~XmlDocument() = default;
bool XmlDocument::Load(const std::string&) {
  return false;
}
bool XmlDocument::LoadXml(const std::string&) {
  return false;
}
bool XmlDocument::LoadBytes(const std::string&) {
  return false;
}
const std::string& XmlDocument::LoadError() const {
  static const std::string kNone = "not available";
  return kNone;
}
XmlNode XmlDocument::DocumentElement() const {
  return {};
}
XmlNode XmlDocument::Root() const {
  return {};
}
XmlNode XmlDocument::CreateElement(const std::string&) {
  throw Failure(err::kNoSuchMember);
}
std::string XmlDocument::Xml() const {
  return {};
}
void XmlDocument::Save(const std::string&) const {
  throw Failure(err::kNoSuchMember);
}
std::string XmlNode::NodeName() const {
  return {};
}
bool XmlNode::IsElement() const {
  return false;
}
std::string XmlNode::Text() const {
  return {};
}
void XmlNode::SetText(const std::string&) {
  throw Failure(err::kNoSuchMember);
}
std::vector<XmlNode> XmlNode::ChildNodes() const {
  return {};
}
XmlNode XmlNode::FirstChild() const {
  return {};
}
XmlNode XmlNode::NextSibling() const {
  return {};
}
std::size_t XmlNode::ChildCount() const {
  return 0;
}
XmlNode XmlNode::AppendChild(XmlNode) {
  throw Failure(err::kNoSuchMember);
}
XmlNode XmlNode::InsertBefore(XmlNode, XmlNode) {
  throw Failure(err::kNoSuchMember);
}
XmlNode XmlNode::SelectSingleNode(const std::string&) const {
  return {};
}
}  // namespace platform
