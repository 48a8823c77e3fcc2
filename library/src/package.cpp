#include "vellix/package.h"

#include <filesystem>
#include <functional>
#include <unordered_set>

#include "vellix/error.h"
#include "vellix/formats/ascii.h"
#include "vellix/formats/codepage.h"
#include "vellix/formats/file_io.h"
#include "vellix/formats/oebff_package.h"
#include "vellix/formats/random.h"
#include "vellix/formats/xml.h"

namespace vellix {
namespace {

constexpr char kGuidPrefix[] = "ebook:guid-";

// `node`, which the package at `path` must have; `what` names it for the
// person whose package lacks it.
pugi::xml_node Required(pugi::xml_node node, const std::string& path = {}, const char* what = nullptr) {
  if (!node)
    formats::Raise(formats::kObjectNotSet, path.empty() || !what ? path : path + ": the package has no " + what);
  return node;
}

std::string MediaTypeForHref(const std::string& href) {
  std::string extension = std::filesystem::path(href).extension().string();
  if (extension == ".gif") return "image/gif";
  if (extension == ".htm" || extension == ".html" || extension == ".odf") return "text/x-oeb1-document";
  if (extension == ".jpg") return "image/jpg";
  if (extension == ".png") return "image/png";
  if (extension == ".xml") return "text/xml";
  return "";
}

// The manifest and spine of one package, with their hrefs and idrefs
// indexed, so that adding many items stays linear.
class ManifestEditor {
 public:
  ManifestEditor(pugi::xml_node manifest, pugi::xml_node spine) : manifest_(manifest), spine_(spine) {
    for (pugi::xml_node item : manifest_.children())
      if (pugi::xml_attribute href = item.attribute("href")) hrefs_.insert(href.value());
    for (pugi::xml_node ref : spine_.children())
      if (pugi::xml_attribute idref = ref.attribute("idref")) idrefs_.insert(idref.value());
  }

  bool Lists(const std::string& href) const { return hrefs_.contains(href); }

  // Appends an item unless the manifest already lists `href`.
  bool AddItem(const std::string& id, const std::string& href, const std::string& media_type) {
    if (!hrefs_.insert(href).second) return false;
    pugi::xml_node item = manifest_.append_child("item");
    item.append_attribute("id") = id.c_str();
    item.append_attribute("href") = href.c_str();
    item.append_attribute("media-type") = media_type.c_str();
    return true;
  }

  void AddSpineEntry(const std::string& id) {
    if (!idrefs_.insert(id).second) return;
    spine_.append_child("itemref").append_attribute("idref") = id.c_str();
  }

 private:
  pugi::xml_node manifest_;
  pugi::xml_node spine_;
  std::unordered_set<std::string> hrefs_;
  std::unordered_set<std::string> idrefs_;
};

pugi::xml_node XMetadata(const formats::XmlDocument& doc) {
  pugi::xml_node package = doc.dom.child("package");
  return package.child("metadata").child("x-metadata");
}

pugi::xml_node FindMeta(pugi::xml_node x_metadata, std::string_view name) {
  for (pugi::xml_node meta : x_metadata.children("meta"))
    if (name == meta.attribute("name").value() && meta.attribute("name")) return meta;
  return {};
}

void SetMeta(const formats::XmlDocument& doc, std::string_view name, const std::string& value) {
  pugi::xml_node x_metadata = Required(XMetadata(doc));
  if (pugi::xml_node meta = FindMeta(x_metadata, name)) {
    if (!value.empty()) {
      pugi::xml_attribute content = meta.attribute("content");
      if (!content) content = meta.append_attribute("content");
      content = value.c_str();
    }
    return;
  }
  pugi::xml_node meta = x_metadata.append_child("meta");
  meta.append_attribute("name") = std::string(name).c_str();
  meta.append_attribute("content") = value.c_str();
}

// Makes sure the identifier after the unique one carries a book identifier.
// A package without the pieces this needs is left as it is.
void EnsureGuidIdentifier(const formats::XmlDocument& doc) {
  pugi::xml_node package = doc.dom.child("package");
  pugi::xml_attribute uid = package.attribute("unique-identifier");
  if (!uid) return;
  pugi::xml_node dc_metadata = package.child("metadata").child("dc-metadata");
  pugi::xml_node identifier;
  for (pugi::xml_node n : dc_metadata.children())
    if (formats::IsDcElement(n, "Identifier") && std::string_view(n.attribute("id").value()) == uid.value() &&
        n.attribute("id")) {
      identifier = n;
      break;
    }
  if (!identifier) return;
  pugi::xml_node next;
  for (pugi::xml_node n = identifier.next_sibling(); n; n = n.next_sibling())
    if (formats::IsDcElement(n, "Identifier")) {
      next = n;
      break;
    }
  if (!next) {
    next = dc_metadata.append_child("dc:Identifier");
    next.append_child(pugi::node_pcdata).set_value((kGuidPrefix + formats::NewGuidString()).c_str());
  } else if (formats::TextOf(next).empty()) {
    next.append_child(pugi::node_pcdata).set_value((kGuidPrefix + formats::NewGuidString()).c_str());
  }
}

void AppendText(pugi::xml_node element, const std::string& text) {
  element.append_child(pugi::node_pcdata).set_value(text.c_str());
}

void ForEachElement(const pugi::xml_node& root, const char* name, const std::function<void(pugi::xml_node)>& visit) {
  formats::WalkTree(root, [&](const pugi::xml_node& n, size_t) {
    if (n.type() == pugi::node_element && std::string_view(n.name()) == name) visit(n);
    return formats::Walk::kInto;
  });
}

}  // namespace

std::string Package::NextItemId() {
  if (counter_ == INT16_MAX) formats::Raise(formats::kOverflow);
  ++counter_;
  return "i" + std::to_string(counter_);
}

void Package::CreatePackage(const std::string& source, const std::string& package_name, const std::string& title,
                            const std::string& author, const std::string& category) {
  formats::RequireUtf8(title, "title");
  formats::RequireUtf8(author, "author");
  formats::RequireUtf8(category, "category");
  formats::XmlDocument doc;
  formats::LoadXmlFile(package_path_, doc);
  if (!doc.parsed) return;
  pugi::xml_node root = doc.Root();
  pugi::xml_node spine = Required(root.child("spine"), package_path_, "spine");
  pugi::xml_node manifest = Required(root.child("manifest"), package_path_, "manifest");

  // The source document, its images and the documents it links to.
  ManifestEditor editor(manifest, spine);
  const int room = INT16_MAX - counter_;
  try {
    formats::XmlDocument src;
    formats::LoadDocument(source, src);
    std::string id = NextItemId();
    std::string href = std::filesystem::path(source).filename().string();
    if (editor.AddItem(id, href, MediaTypeForHref(href))) editor.AddSpineEntry(id);
    if (src.parsed) {
      // Only files in the document's own folder tree go into the book: a link
      // or image naming "/etc/passwd" or "../private" is left out, so a
      // document (an upload above all) cannot carry in files beside it.
      std::string folder = std::filesystem::path(source).parent_path().string();
      if (folder.empty()) folder = ".";
      // Pictures and sheets may also come from one folder up ("../images/"),
      // where a set of pages in several folders keeps what they share; those
      // sheets are listed so that the build may read them. An id is taken
      // only for a file not listed yet, so a page linking to its own anchors
      // or to one picture thousands of times still fits.
      auto may_carry = [&](const char* href) {
        return formats::StaysInsideFolder(folder, href) || formats::StaysInsideParentFolder(folder, href);
      };
      ForEachElement(src.dom, "img", [&](pugi::xml_node img) {
        pugi::xml_attribute src_attr = img.attribute("src");
        if (!src_attr || editor.Lists(src_attr.value()) || !may_carry(src_attr.value()))
          return;  // nothing (new) to carry
        std::string img_href = src_attr.value();
        editor.AddItem(NextItemId(), img_href, MediaTypeForHref(img_href));
      });
      ForEachElement(src.dom, "link", [&](pugi::xml_node link) {
        pugi::xml_attribute href = link.attribute("href");
        if (!href || formats::LowerAscii(link.attribute("rel").value()).find("stylesheet") == std::string::npos ||
            editor.Lists(href.value()) || !formats::StaysInsideParentFolder(folder, href.value()))
          return;
        editor.AddItem(NextItemId(), href.value(), "text/css");
      });
      ForEachElement(src.dom, "a", [&](pugi::xml_node a) {
        pugi::xml_attribute link = a.attribute("href");
        if (!link || editor.Lists(link.value()) || !formats::StaysInsideFolder(folder, link.value()) ||
            !formats::IsFile((std::filesystem::path(folder) / link.value()).string()))
          return;
        std::string link_href = link.value();
        std::string link_id = NextItemId();
        if (editor.AddItem(link_id, link_href, MediaTypeForHref(link_href))) editor.AddSpineEntry(link_id);
      });
    }
  } catch (const formats::AutomationError& e) {
    // Said in the user's terms: a bare "Overflow" names no cause.
    if (e.number() != formats::kOverflow || counter_ != INT16_MAX) throw;
    formats::Raise(formats::kOverflow, source + " names more pictures and linked pages than one book can hold (" +
                                           std::to_string(room - 1) + ")");
  }

  std::string g1 = formats::NewGuidString(), g2 = formats::NewGuidString(), g3 = formats::NewGuidString();
  std::string folder = std::filesystem::path(source).parent_path().string();
  if (folder.empty()) folder = ".";  // a document named without its folder
  pugi::xml_node metadata = root.child("metadata");
  for (pugi::xml_node meta : Required(metadata.child("x-metadata"), package_path_, "x-metadata").children()) {
    if (meta.type() != pugi::node_element) continue;
    pugi::xml_attribute name = meta.attribute("name");
    if (!name) formats::Raise(formats::kObjectNotSet, package_path_ + ": a meta of its x-metadata has no name");
    std::string_view n = name.value();
    const std::string* value = nullptr;
    std::string publication = kGuidPrefix + g1, build = kGuidPrefix + g2;
    if (n == "x-IKL-nameondisk")
      value = &package_name;
    else if (n == "x-IKLMera-Publication-ID")
      value = &publication;
    else if (n == "x-IKLMera-Build-ID")
      value = &build;
    else if (n == "x-IKL-category")
      value = &category;
    else if (n == "x-IKL-logdir" || n == "x-IKL-destdir")
      value = &folder;
    if (!value) continue;
    pugi::xml_attribute content = meta.attribute("content");
    if (!content) content = meta.append_attribute("content");
    content = value->c_str();
  }
  for (pugi::xml_node dc : Required(metadata.child("dc-metadata"), package_path_, "dc-metadata").children()) {
    if (dc.type() != pugi::node_element) continue;
    std::string_view local = formats::LocalName(dc);
    if (local == "Identifier")
      AppendText(dc, dc.attribute("id") ? kGuidPrefix + g1 : g3);
    else if (local == "Title")
      AppendText(dc, title);
    else if (local == "Creator")
      AppendText(dc, author);
  }
  formats::SaveXmlFile(doc, package_path_, formats::Durability::kUnsynced);
}

void Package::CompletePackage(const std::string& package, const std::string& book_name, const std::string& category) {
  formats::XmlDocument doc;
  formats::LoadXmlFile(package, doc);
  if (!doc.parsed) return;
  if (!XMetadata(doc))
    Required(doc.dom.child("package").child("metadata"), package, "metadata").append_child("x-metadata");
  EnsureGuidIdentifier(doc);
  SetMeta(doc, "x-IKL-category", category);
  SetMeta(doc, "x-IKL-nameondisk", book_name);
  SetMeta(doc, "x-IKL-logdir", "");
  SetMeta(doc, "x-IKL-logging", "on");
  SetMeta(doc, "x-IKL-encrypt", "off");
  SetMeta(doc, "x-IKL-compress", "on");
  SetMeta(doc, "x-IKL-widow", "1");
  SetMeta(doc, "x-IKL-orphan", "1");
  SetMeta(doc, "x-IKL-zoomstate", "both");
  SetMeta(doc, "x-IKL-undlinks", "on");
  SetMeta(doc, "x-IKL-destdir", "");
  SetMeta(doc, "x-IKL-RLEtrigger", "25");
  SetMeta(doc, "x-IKL-csssupport", "2");
  formats::SaveXmlFile(doc, package, formats::Durability::kUnsynced);
}

Variant Package::SetDirectory(const std::string& package, const std::string& destination, const std::string& logging) {
  formats::XmlDocument doc;
  formats::LoadXmlFile(package, doc);
  pugi::xml_node x_metadata = doc.Root().child("metadata").child("x-metadata");
  pugi::xml_node dest = Required(FindMeta(x_metadata, "x-IKL-destdir"), package, "x-IKL-destdir meta");
  pugi::xml_node log = Required(FindMeta(x_metadata, "x-IKL-logdir"), package, "x-IKL-logdir meta");
  for (auto [meta, value] : {std::pair{dest, &destination}, std::pair{log, &logging}}) {
    pugi::xml_attribute content = meta.attribute("content");
    if (!content) content = meta.append_attribute("content");
    content = value->c_str();
  }
  formats::SaveXmlFile(doc, package, formats::Durability::kUnsynced);
  return Variant();
}

}  // namespace vellix
