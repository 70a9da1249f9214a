#include "companions/feedpull/xml_names.h"

#include <string>

#include "platform/ascii.h"

namespace feedpull {
namespace {

std::string_view Prefix(std::string_view name) {
  std::size_t colon = name.find(':');
  return colon == std::string_view::npos ? std::string_view() : name.substr(0, colon);
}

}  // namespace

std::optional<std::string_view> NamespaceUri(pugi::xml_node element) {
  return NamespaceOfPrefix(element, Prefix(element.name()));
}

std::optional<std::string_view> NamespaceOfPrefix(pugi::xml_node element, std::string_view prefix) {
  if (prefix == "xml") return kXmlNamespace;
  // The declaration's name, "xmlns" or "xmlns:" + prefix, made without an
  // allocation for the usual short prefix: this is asked for every element
  // a feed's reading looks at.
  char short_name[64] = "xmlns";
  std::string long_name;
  const char* name = short_name;
  if (!prefix.empty() && prefix.size() + 7 <= sizeof short_name) {
    short_name[5] = ':';
    prefix.copy(short_name + 6, prefix.size());
    short_name[6 + prefix.size()] = '\0';
  } else if (!prefix.empty()) {
    long_name = "xmlns:" + std::string(prefix);
    name = long_name.c_str();
  }
  for (pugi::xml_node node = element; node; node = node.parent()) {
    if (node.type() != pugi::node_element) continue;
    if (pugi::xml_attribute declaration = node.attribute(name)) {
      return std::string_view(declaration.value());
    }
  }
  if (prefix.empty()) return std::string_view();
  return std::nullopt;
}

std::string_view LocalName(std::string_view name) {
  std::size_t colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

bool IsElement(pugi::xml_node element, std::string_view uri, std::string_view local) {
  if (element.type() != pugi::node_element ||
      !platform::ascii::EqualsIgnoringCase(LocalName(element), local)) {
    return false;
  }
  std::optional<std::string_view> found = NamespaceUri(element);
  return found && *found == uri;
}

pugi::xml_node Child(pugi::xml_node parent, std::string_view uri, std::string_view local) {
  for (pugi::xml_node child : parent.children()) {
    if (IsElement(child, uri, local)) return child;
  }
  return {};
}

pugi::xml_attribute Attribute(pugi::xml_node element, std::string_view uri,
                              std::string_view local) {
  for (pugi::xml_attribute attribute : element.attributes()) {
    std::string_view name = attribute.name();
    if (LocalName(name) != local) continue;
    std::string_view prefix = Prefix(name);
    if (prefix == "xmlns" || name == "xmlns") continue;
    if (prefix.empty() ? uri.empty() : NamespaceOfPrefix(element, prefix) == uri) return attribute;
  }
  return {};
}

}  // namespace feedpull
