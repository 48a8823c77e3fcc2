#include "vellix/formats/xml.h"

#include <optional>
#include <sstream>
#include <string>
#include <unordered_set>

#include "vellix/formats/ascii.h"
#include "vellix/formats/codepage.h"
#include "vellix/formats/error.h"
#include "vellix/formats/file_io.h"
#include "vellix/formats/html_cleanup.h"
#include "vellix/formats/text_decoding.h"

namespace vellix::formats {
namespace {

constexpr unsigned kParseFlags =
    pugi::parse_default | pugi::parse_declaration | pugi::parse_doctype | pugi::parse_comments | pugi::parse_pi;

// Well-formed means one document element and no stray text around it.
bool HasOneDocumentElement(const pugi::xml_document& dom) {
  int elements = 0;
  for (pugi::xml_node n : dom.children()) {
    if (n.type() == pugi::node_element) ++elements;
    if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) return false;
  }
  return elements == 1;
}

void Parse(std::string_view bytes, XmlDocument& doc) {
  doc.dom.reset();
  doc.parsed = false;
  pugi::xml_encoding encoding = pugi::encoding_utf8;
  std::string converted;
  // UTF-16 by its byte order mark or, without one, by its first "<"; the parser tells which.
  const std::string shown = DetectMarkupEncoding(bytes.substr(0, 4));
  const bool bom16 = shown == "utf-16le" || shown == "utf-16be";
  if (bom16) {
    encoding = pugi::encoding_auto;
  } else {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    std::string declared = DeclaredXmlEncoding(bytes);
    if (declared == "iso-8859-1" || declared == "latin1" || declared == "windows-1252" || declared == "cp1252" ||
        declared == "us-ascii") {
      converted = Cp1252ToUtf8(bytes);
      bytes = converted;
    } else if (!declared.empty() && declared != "utf-8" && declared != "utf8") {
      // UTF-16 or UTF-32 would have shown above: bytes that are not what they claim.
      if (declared.starts_with("utf-")) return;
      std::optional<std::string> decoded = ConvertToUtf8(bytes, declared);
      if (!decoded) return;  // an encoding nobody reads
      converted = *std::move(decoded);
      bytes = converted;
    } else if (!IsValidUtf8(bytes)) {
      return;  // bytes that are not what they claim
    }
  }
  pugi::xml_parse_result result = doc.dom.load_buffer(bytes.data(), bytes.size(), kParseFlags, encoding);
  doc.parsed = result && HasOneDocumentElement(doc.dom) && !ElementWithRepeatedAttribute(doc.dom);
}

struct StringWriter : pugi::xml_writer {
  std::string text;
  void write(const void* data, size_t size) override { text.append(static_cast<const char*>(data), size); }
};

// Past this depth a saved document is written raw, without line breaks or
// indentation: every line would carry its depth in tabs, and the time and
// the file would grow with the square of the depth.
constexpr size_t kMaxIndentedDepth = 64;

bool DeeperThan(const pugi::xml_node& root, size_t limit) {
  return !WalkTree(
      root, [limit](const pugi::xml_node&, size_t depth) { return depth > limit + 1 ? Walk::kStop : Walk::kInto; });
}

}  // namespace

namespace {

// Empties doc, then gives the file's bytes; none when it is no readable file,
// which callers report as not parsed.
std::optional<std::string> StartLoading(const std::string& path, XmlDocument& doc) {
  doc.dom.reset();
  doc.parsed = false;
  if (!IsFile(path)) return std::nullopt;
  try {
    return ReadWholeFile(path);
  } catch (const AutomationError&) {
    return std::nullopt;
  }
}

}  // namespace

void LoadXmlFile(const std::string& path, XmlDocument& doc) {
  std::optional<std::string> bytes = StartLoading(path, doc);
  if (bytes) Parse(*bytes, doc);
}

void LoadXmlText(std::string_view text, XmlDocument& doc) { Parse(text, doc); }

void LoadDocument(const std::string& path, XmlDocument& doc) {
  std::optional<std::string> bytes = StartLoading(path, doc);
  if (!bytes) return;
  Parse(*bytes, doc);
  if (doc.parsed) return;
  // The user's document stays as it is: the clean-up's XHTML lives only here.
  std::optional<std::string> cleaned = CleanUpHtmlOf(path, *bytes);
  if (cleaned) Parse(*cleaned, doc);
}

std::string XmlText(const XmlDocument& doc) {
  // What we write is UTF-8, whatever the file was read from.
  pugi::xml_node decl = doc.dom.first_child();
  if (decl.type() == pugi::node_declaration) {
    pugi::xml_attribute encoding = decl.attribute("encoding");
    if (encoding && LowerAscii(encoding.value()) != "utf-8") encoding.set_value("UTF-8");
  }
  StringWriter writer;
  unsigned layout = DeeperThan(doc.dom, kMaxIndentedDepth) ? pugi::format_raw : pugi::format_default;
  doc.dom.save(writer, "\t", layout | pugi::format_no_declaration, pugi::encoding_utf8);
  return std::move(writer.text);
}

void SaveXmlFile(const XmlDocument& doc, const std::string& path, Durability durability) {
  std::string text = XmlText(doc);
  AtomicFileWriter out(path, durability);
  out.Write(text);
  out.Commit();
}

std::string DeclaredXmlEncoding(std::string_view bytes) {
  auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  if (bytes.substr(0, 5) != "<?xml" || bytes.size() < 6 || !space(bytes[5])) return "";
  std::string_view decl = bytes.substr(0, bytes.find("?>"));
  size_t at = 5;
  while (true) {
    while (at < decl.size() && space(decl[at])) ++at;
    size_t name_start = at;
    while (at < decl.size() && !space(decl[at]) && decl[at] != '=') ++at;
    std::string_view name = decl.substr(name_start, at - name_start);
    while (at < decl.size() && space(decl[at])) ++at;
    if (name.empty() || at >= decl.size() || decl[at] != '=') return "";
    ++at;
    while (at < decl.size() && space(decl[at])) ++at;
    if (at >= decl.size() || (decl[at] != '"' && decl[at] != '\'')) return "";
    size_t close = decl.find(decl[at], at + 1);
    if (close == std::string_view::npos) return "";
    if (name == "encoding") return LowerAscii(std::string(decl.substr(at + 1, close - at - 1)));
    at = close + 1;
  }
}

pugi::xml_node ElementWithRepeatedAttribute(const pugi::xml_node& root) {
  std::unordered_set<std::string_view> seen;
  auto repeats = [&seen](const pugi::xml_node& node) {
    if (node.type() != pugi::node_element || !node.first_attribute()) return false;
    // A set keeps a tag with thousands of attributes linear.
    seen.clear();
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute())
      if (!seen.insert(a.name()).second) return true;
    return false;
  };
  if (repeats(root)) return root;
  pugi::xml_node found;
  WalkTree(root, [&](const pugi::xml_node& node, size_t) {
    if (!repeats(node)) return Walk::kInto;
    found = node;
    return Walk::kStop;
  });
  return found;
}

std::string_view LocalName(const pugi::xml_node& node) {
  std::string_view name = node.name();
  size_t colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

std::string NamespaceOf(const pugi::xml_node& element) {
  std::string_view name = element.name();
  size_t colon = name.find(':');
  std::string attribute = colon == std::string_view::npos ? "xmlns" : "xmlns:" + std::string(name.substr(0, colon));
  for (pugi::xml_node n = element; n && n.type() == pugi::node_element; n = n.parent())
    if (pugi::xml_attribute a = n.attribute(attribute.c_str())) return a.value();
  return "";
}

bool IsDcElement(const pugi::xml_node& node, std::string_view local_name) {
  if (node.type() != pugi::node_element || LocalName(node) != local_name) return false;
  std::string ns = NamespaceOf(node);
  // An undeclared "dc" prefix is taken to mean Dublin Core as well.
  return ns == kDublinCoreNamespace || (ns.empty() && std::string_view(node.name()).substr(0, 3) == "dc:");
}

pugi::xml_node DcChild(const pugi::xml_node& parent, std::string_view local_name) {
  for (pugi::xml_node child : parent.children())
    if (IsDcElement(child, local_name)) return child;
  return {};
}

std::string TextOf(const pugi::xml_node& element) {
  std::string text;
  WalkTree(element, [&text](const pugi::xml_node& n, size_t) {
    if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) text += n.value();
    return Walk::kInto;
  });
  return text;
}

}  // namespace vellix::formats
