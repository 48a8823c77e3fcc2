// The library's XML layer, on pugixml.
//
// Every load keeps the document type declaration and never fetches or
// resolves anything outside the file: no DTDs, no external entities.
// Text is UTF-8 inside; files declared (or found to be) in another 8-bit
// encoding are decoded first. Saving goes through a temporary file in the
// same folder, so a document on disk is always whole.
#pragma once

#include <pugixml.hpp>
#include <string>
#include <string_view>

#include "vellix/formats/file_io.h"

namespace vellix::formats {

// The Dublin Core 1.0 element namespace of package metadata.
inline constexpr char kDublinCoreNamespace[] = "http://purl.org/dc/elements/1.0/";

struct XmlDocument {
  pugi::xml_document dom;
  bool parsed = false;  // false: the file is missing or not well-formed XML
  pugi::xml_node Root() const { return dom.document_element(); }
};

// Loads an XML file. Never throws for bad content; `parsed` says whether it
// was well-formed. A missing file is simply not parsed.
void LoadXmlFile(const std::string& path, XmlDocument& doc);
void LoadXmlText(std::string_view text, XmlDocument& doc);

// Loads a document; when it is not well-formed XML, loads the HTML
// clean-up's XHTML of it instead. The file itself is never written. The
// result may still be unparsed; a document past the clean-up's limits
// throws AutomationError 5 naming the file.
void LoadDocument(const std::string& path, XmlDocument& doc);

// Saves `doc` to `path` (UTF-8, indented; on one line when it nests more
// than 64 elements deep), replacing the file atomically.
// Throws AutomationError when the file cannot be written.
void SaveXmlFile(const XmlDocument& doc, const std::string& path, Durability durability = Durability::kSynced);
// The bytes SaveXmlFile writes.
std::string XmlText(const XmlDocument& doc);

// The encoding the XML declaration at the start of `bytes` names, lower
// case ("" without one): the value of its pseudo-attribute "encoding", read
// name by name, so that an "encoding" inside another name or a processing
// instruction such as <?xml-stylesheet?> is not taken for it.
std::string DeclaredXmlEncoding(std::string_view bytes);

// The first element at or below `root`, in document order, that carries
// one attribute name twice (which makes a document not well-formed, though
// pugixml reads it); null when there is none.
pugi::xml_node ElementWithRepeatedAttribute(const pugi::xml_node& root);

// The local part of a node name ("dc:Title" -> "Title").
std::string_view LocalName(const pugi::xml_node& node);
// The namespace URI of an element, from the xmlns declarations in scope.
std::string NamespaceOf(const pugi::xml_node& element);
// First element child with this local name in the Dublin Core namespace.
pugi::xml_node DcChild(const pugi::xml_node& parent, std::string_view local_name);
bool IsDcElement(const pugi::xml_node& node, std::string_view local_name);

// Text content of an element: all text below it, in document order.
std::string TextOf(const pugi::xml_node& element);

// What a tree walk does after a node: go into its children, pass over
// them, or stop.
enum class Walk { kInto, kOver, kStop };

// Visits the nodes below `root` (not `root` itself) depth first in
// document order, as `visit(node, depth)` with depth 1 for `root`'s
// children. Without recursion: documents may nest deeper than the stack
// allows. False when `visit` stopped the walk.
template <typename Visit>
bool WalkTree(const pugi::xml_node& root, Visit&& visit) {
  size_t depth = 1;
  pugi::xml_node n = root.first_child();
  while (n) {
    Walk next = visit(n, depth);
    if (next == Walk::kStop) return false;
    if (next == Walk::kInto && n.first_child()) {
      n = n.first_child();
      ++depth;
      continue;
    }
    while (n != root && !n.next_sibling()) {
      n = n.parent();
      --depth;
    }
    if (n == root) break;
    n = n.next_sibling();
  }
  return true;
}

}  // namespace vellix::formats
