// Namespace-aware names over pugixml, which itself only knows qualified
// names: a feed may bind any prefix to a vocabulary ("a:entry" is an Atom
// entry when "a" is bound to the Atom namespace), so elements are told apart
// by namespace URI and local name, never by prefix.
#pragma once

#include <optional>
#include <pugixml.hpp>
#include <string_view>

namespace feedpull {

inline constexpr std::string_view kXmlNamespace = "http://www.w3.org/XML/1998/namespace";

// The namespace URI of an element: the nearest xmlns declaration of its
// prefix (or the default one) on the element or its ancestors. "" when the
// element is in no namespace; nothing when its prefix is bound nowhere.
std::optional<std::string_view> NamespaceUri(pugi::xml_node element);

// The namespace URI bound to `prefix` ("" for the default namespace) in
// scope at `element`; "" when the default namespace is not declared; nothing
// when the prefix is bound nowhere.
std::optional<std::string_view> NamespaceOfPrefix(pugi::xml_node element, std::string_view prefix);

// The name of an element or attribute without its prefix.
std::string_view LocalName(std::string_view qualified_name);
inline std::string_view LocalName(pugi::xml_node element) {
  return LocalName(element.name());
}

// True when `element` is an element in namespace `uri` with local name
// `local`; the local name matches without regard to letter case, as some
// feeds write "pubdate" or "PubDate".
bool IsElement(pugi::xml_node element, std::string_view uri, std::string_view local);

// The first child element of `parent` for which IsElement holds.
pugi::xml_node Child(pugi::xml_node parent, std::string_view uri, std::string_view local);

// The attribute of `element` in namespace `uri` with local name `local`
// (attributes without a prefix are in no namespace; the prefix "xml" is
// always bound to kXmlNamespace).
pugi::xml_attribute Attribute(pugi::xml_node element, std::string_view uri, std::string_view local);

}  // namespace feedpull
