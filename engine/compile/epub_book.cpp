#include "epub_book.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "ikutil/params.h"
#include "source_document.h"
#include "vellix/formats/ascii.h"
#include "vellix/formats/html_cleanup.h"
#include "vellix/formats/oebff_writer.h"
#include "vellix/formats/xml.h"

namespace ikutil {
namespace {

// Navigation documents and NCX files nest their entries; deeper than this
// the entries are left out rather than followed.
constexpr int kMaxContentsDepth = 16;
constexpr size_t kMaxContentsEntries = 100000;

std::string Collapsed(std::string_view text) {
  std::string out;
  bool space = false;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
      space = !out.empty();
      continue;
    }
    if (space) out += ' ';
    space = false;
    out += c;
  }
  return out;
}

std::string Text(const pugi::xml_node& node) { return Collapsed(DecodeHtmlEntities(vellix::formats::TextOf(node))); }

// An attribute by its local name, whatever its prefix ("opf:role", "role").
pugi::xml_attribute AttributeByLocalName(const pugi::xml_node& node, std::string_view local) {
  for (pugi::xml_attribute a : node.attributes()) {
    std::string_view name = a.name();
    size_t colon = name.find(':');
    if ((colon == std::string_view::npos ? name : name.substr(colon + 1)) == local) return a;
  }
  return {};
}

pugi::xml_node ChildByLocalName(const pugi::xml_node& parent, std::string_view local) {
  for (pugi::xml_node child : parent.children())
    if (child.type() == pugi::node_element && vellix::formats::LocalName(child) == local) return child;
  return {};
}

bool HasWord(std::string_view list, std::string_view word) {
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find(' ', start);
    if (end == std::string_view::npos) end = list.size();
    if (list.substr(start, end - start) == word) return true;
    start = end + 1;
  }
  return false;
}

struct Creator {
  std::string name, file_as, role, id;
};

// The words of a name, lower case and in order, commas and spaces parting them.
std::vector<std::string> SortedNameWords(std::string_view name) {
  std::vector<std::string> words;
  std::string word;
  for (char c : std::string(name) + " ") {
    if (c == ' ' || c == ',') {
      if (!word.empty()) words.push_back(vellix::formats::LowerAscii(word));
      word.clear();
    } else {
      word += c;
    }
  }
  std::sort(words.begin(), words.end());
  return words;
}

// Some tools write a placeholder such as "Unknown" as the sort name when none
// was given; the sort name is trusted only when it orders the display name's
// own words ("Doe, Jane" for "Jane Doe").
bool SortNameAgrees(std::string_view name, std::string_view file_as) {
  return SortedNameWords(name) == SortedNameWords(file_as);
}

// Parses a document of the book (navigation document, NCX) leniently.
bool ParseLenient(std::string_view bytes, SourceDocument& doc) {
  if (ParseSource(bytes, doc).parsed) return true;
  std::optional<std::string> cleaned = vellix::formats::CleanUpHtml(doc.text);
  return cleaned && ParseSourceText(*cleaned, doc).parsed;
}

// The name in the container of a file `href` names (relative to the
// package's folder, perhaps climbing out of it with leading "../").
std::string ContainerName(const std::string& package_folder, const std::string& href) {
  std::string_view folder = package_folder, rest = href;
  while (rest.starts_with("../") && !folder.empty()) {
    rest.remove_prefix(3);
    folder.remove_suffix(1);
    size_t slash = folder.rfind('/');
    folder = slash == std::string_view::npos ? std::string_view() : folder.substr(0, slash + 1);
  }
  return std::string(folder) + std::string(rest);
}

size_t FolderDepth(const std::string& package_folder) {
  return static_cast<size_t>(std::count(package_folder.begin(), package_folder.end(), '/'));
}

class PackageReader {
 public:
  PackageReader(EpubBook& book, const vellix::formats::OcfContainer& container) : book_(book), container_(container) {}

  bool Read(std::string& error);

 private:
  void ReadMetadata(const pugi::xml_node& metadata);
  void ReadManifest(const pugi::xml_node& manifest);
  void ReadSpine(const pugi::xml_node& spine);
  void ReadNav(const EpubManifestItem& item);
  void ReadNavList(const pugi::xml_node& list, const std::string& from);
  void ReadNcx(const EpubManifestItem& item);
  void ReadNavPoints(const pugi::xml_node& nav_map, const std::string& from);
  void AddContents(const std::string& from, std::string_view href, std::string label, int depth);
  std::optional<std::string> ReadFile(const std::string& href) const {
    std::optional<std::string_view> bytes = container_.Read(ContainerName(container_.PackageFolder(), href));
    if (!bytes) return std::nullopt;
    return std::string(*bytes);
  }
  const EpubManifestItem* ItemById(const std::string& id) const {
    auto it = by_id_.find(id);
    return it == by_id_.end() ? nullptr : &book_.manifest[it->second];
  }

  EpubBook& book_;
  const vellix::formats::OcfContainer& container_;
  std::map<std::string, size_t> by_id_;
  std::string unique_id_;
  std::string ncx_id_;
};

void PackageReader::ReadMetadata(const pugi::xml_node& metadata) {
  std::vector<Creator> creators;
  std::map<std::string, std::map<std::string, std::string>> refinements;  // id -> property -> value
  std::vector<std::pair<std::string, std::string>> titles;                // id, text
  // EPUB 2 may nest the Dublin Core elements in dc-metadata, as OEB did.
  std::vector<pugi::xml_node> holders{metadata};
  if (pugi::xml_node dc = ChildByLocalName(metadata, "dc-metadata")) holders.push_back(dc);
  for (const pugi::xml_node& holder : holders) {
    for (pugi::xml_node e : holder.children()) {
      if (e.type() != pugi::node_element) continue;
      std::string local = vellix::formats::LowerAscii(vellix::formats::LocalName(e));
      std::string id = e.attribute("id").value();
      if (local == "title") {
        titles.emplace_back(id, Text(e));
      } else if (local == "creator") {
        Creator c;
        c.name = Text(e);
        c.file_as = Collapsed(AttributeByLocalName(e, "file-as").value());
        c.role = vellix::formats::LowerAscii(Collapsed(AttributeByLocalName(e, "role").value()));
        c.id = id;
        if (!c.name.empty()) creators.push_back(std::move(c));
      } else if (local == "language") {
        if (book_.language.empty()) book_.language = Text(e);
      } else if (local == "identifier") {
        if ((!unique_id_.empty() && id == unique_id_) || book_.identifier.empty()) book_.identifier = Text(e);
      } else if (local == "subject") {
        if (book_.category.empty()) book_.category = Text(e);
      } else if (local == "meta") {
        std::string refines = e.attribute("refines").value();
        std::string property = e.attribute("property").value();
        if (refines.size() > 1 && refines[0] == '#' && !property.empty())
          refinements[refines.substr(1)].emplace(property, Text(e));
      }
    }
  }
  for (Creator& c : creators) {
    if (c.id.empty()) continue;
    auto it = refinements.find(c.id);
    if (it == refinements.end()) continue;
    if (c.file_as.empty() && it->second.count("file-as")) c.file_as = it->second["file-as"];
    if (c.role.empty() && it->second.count("role")) c.role = vellix::formats::LowerAscii(it->second["role"]);
  }
  // The main title when EPUB 3 says which one it is, else the first.
  for (const auto& [id, text] : titles) {
    auto it = refinements.find(id);
    if (!id.empty() && it != refinements.end() && it->second["title-type"] == "main") {
      book_.title = text;
      break;
    }
  }
  if (book_.title.empty() && !titles.empty()) book_.title = titles.front().second;

  const Creator* author = nullptr;
  for (const Creator& c : creators)
    if (c.role == "aut") {
      author = &c;
      break;
    }
  if (!author)
    for (const Creator& c : creators)
      if (c.role.empty()) {
        author = &c;
        break;
      }
  if (!author && !creators.empty()) author = &creators.front();
  if (author) {
    book_.author = author->name;
    bool sort_name = !author->file_as.empty() && SortNameAgrees(author->name, author->file_as);
    AuthorNameParts parts = SplitAuthorName(sort_name ? author->file_as : author->name);
    book_.author_first = parts.first;
    book_.author_middle = parts.middle;
    book_.author_last = parts.last;
  }
}

void PackageReader::ReadManifest(const pugi::xml_node& manifest) {
  for (pugi::xml_node item : manifest.children()) {
    if (item.type() != pugi::node_element || vellix::formats::LocalName(item) != "item") continue;
    EpubManifestItem entry;
    entry.id = item.attribute("id").value();
    std::optional<std::string> href =
        ResolveHref("", item.attribute("href").value(), FolderDepth(container_.PackageFolder()));
    if (!href || href->empty()) {
      book_.warnings.push_back(std::string("the manifest item \"") + item.attribute("href").value() +
                               "\" lies outside the book; left out");
      continue;
    }
    entry.href = *href;
    entry.media_type = vellix::formats::LowerAscii(Collapsed(item.attribute("media-type").value()));
    entry.properties = Collapsed(item.attribute("properties").value());
    if (!entry.id.empty() && by_id_.count(entry.id)) continue;
    if (!entry.id.empty()) by_id_[entry.id] = book_.manifest.size();
    book_.manifest.push_back(std::move(entry));
  }
}

void PackageReader::ReadSpine(const pugi::xml_node& spine) {
  ncx_id_ = spine.attribute("toc").value();
  std::vector<std::string> linear, nonlinear;
  std::set<std::string> seen;
  for (pugi::xml_node itemref : spine.children()) {
    if (itemref.type() != pugi::node_element || vellix::formats::LocalName(itemref) != "itemref") continue;
    const EpubManifestItem* item = ItemById(itemref.attribute("idref").value());
    if (!item) {
      book_.warnings.push_back(std::string("the spine names \"") + itemref.attribute("idref").value() +
                               "\", which the manifest does not hold");
      continue;
    }
    if (!IsEpubDocumentType(item->media_type)) {
      book_.warnings.push_back("the spine item \"" + item->href + "\" (" + item->media_type +
                               ") is not a document; left out");
      continue;
    }
    if (!seen.insert(item->href).second) continue;
    (vellix::formats::LowerAscii(itemref.attribute("linear").value()) == "no" ? nonlinear : linear)
        .push_back(item->href);
  }
  book_.spine = std::move(linear);
  book_.spine.insert(book_.spine.end(), nonlinear.begin(), nonlinear.end());
}

void PackageReader::AddContents(const std::string& from, std::string_view href, std::string label, int depth) {
  if (book_.contents.size() >= kMaxContentsEntries) return;
  label = Collapsed(label);
  std::string target(href);
  if (label.empty() || target.empty()) return;
  std::optional<std::string> document = ResolveHref(from, target, FolderDepth(container_.PackageFolder()));
  if (!document) return;
  EpubContentsEntry entry;
  entry.document = *document;
  if (size_t hash = target.find('#'); hash != std::string::npos)
    entry.fragment = vellix::formats::OEBFFDecodeHref(target.substr(hash + 1));
  entry.label = std::move(label);
  entry.level = static_cast<uint8_t>(std::clamp(depth, 1, 255));
  book_.contents.push_back(std::move(entry));
}

void PackageReader::ReadNavList(const pugi::xml_node& list, const std::string& from) {
  // The list items still to read, the next on top; a nested list's items
  // go on top of the rest, so entries come in document order.
  std::vector<std::pair<pugi::xml_node, int>> pending;
  auto push_items = [&](const pugi::xml_node& of, int depth) {
    if (depth > kMaxContentsDepth) return;
    for (pugi::xml_node li = of.last_child(); li; li = li.previous_sibling())
      if (li.type() == pugi::node_element && ElementName(li) == "li") pending.emplace_back(li, depth);
  };
  push_items(list, 1);
  while (!pending.empty()) {
    auto [li, depth] = pending.back();
    pending.pop_back();
    pugi::xml_node sublist;
    for (pugi::xml_node child : li.children()) {
      if (child.type() != pugi::node_element) continue;
      std::string name = ElementName(child);
      if (name == "a") {
        AddContents(from, child.attribute("href").value(), Text(child), depth);
      } else if (name == "span" && sublist.empty()) {
        // A heading without a link of its own leads to its first entry.
        pugi::xml_node first_link = li.find_node([](const pugi::xml_node& n) { return ElementName(n) == "a"; });
        if (first_link) AddContents(from, first_link.attribute("href").value(), Text(child), depth);
      } else if (name == "ol" || name == "ul") {
        sublist = child;
      }
    }
    if (sublist) push_items(sublist, depth + 1);
  }
}

void PackageReader::ReadNav(const EpubManifestItem& item) {
  std::optional<std::string> bytes = ReadFile(item.href);
  SourceDocument doc;
  if (!bytes || !ParseLenient(*bytes, doc)) {
    book_.warnings.push_back("the navigation document \"" + item.href + "\" cannot be read");
    return;
  }
  pugi::xml_node toc, first;
  // Every <nav>, in document order: the one typed "toc" wins.
  pugi::xml_node n = doc.Root();
  while (n) {
    if (n.type() == pugi::node_element && ElementName(n) == "nav") {
      if (!first) first = n;
      if (HasWord(AttributeByLocalName(n, "type").value(), "toc")) {
        toc = n;
        break;
      }
    }
    if (n.first_child()) {
      n = n.first_child();
      continue;
    }
    while (n && !n.next_sibling()) n = n.parent();
    if (n) n = n.next_sibling();
  }
  if (!toc) toc = first;
  if (!toc) return;
  for (pugi::xml_node child : toc.children())
    if (child.type() == pugi::node_element && (ElementName(child) == "ol" || ElementName(child) == "ul"))
      ReadNavList(child, item.href);
}

void PackageReader::ReadNavPoints(const pugi::xml_node& nav_map, const std::string& from) {
  vellix::formats::WalkTree(nav_map, [&](const pugi::xml_node& point, size_t depth) {
    if (point.type() != pugi::node_element || vellix::formats::LocalName(point) != "navPoint")
      return vellix::formats::Walk::kOver;
    if (depth > static_cast<size_t>(kMaxContentsDepth)) return vellix::formats::Walk::kOver;
    std::string label = Text(ChildByLocalName(ChildByLocalName(point, "navLabel"), "text"));
    AddContents(from, ChildByLocalName(point, "content").attribute("src").value(), label, static_cast<int>(depth));
    return vellix::formats::Walk::kInto;
  });
}

void PackageReader::ReadNcx(const EpubManifestItem& item) {
  std::optional<std::string> bytes = ReadFile(item.href);
  vellix::formats::XmlDocument doc;
  if (bytes) vellix::formats::LoadXmlText(*bytes, doc);
  if (!doc.parsed) {
    book_.warnings.push_back("the NCX \"" + item.href + "\" cannot be read");
    return;
  }
  ReadNavPoints(ChildByLocalName(doc.Root(), "navMap"), item.href);
}

size_t CountElements(const pugi::xml_node& parent) {
  size_t count = 0;
  for (pugi::xml_node child : parent.children()) count += child.type() == pugi::node_element;
  return count;
}

bool PackageReader::Read(std::string& error) {
  std::optional<std::string_view> bytes = container_.Read(container_.PackagePath());
  vellix::formats::XmlDocument doc;
  if (bytes) vellix::formats::LoadXmlText(*bytes, doc);
  if (!doc.parsed || vellix::formats::LocalName(doc.Root()) != "package") {
    error = "the package document \"" + container_.PackagePath() + "\" cannot be read";
    return false;
  }
  pugi::xml_node package = doc.Root();
  std::string version = package.attribute("version").value();
  book_.version = version.size() > 0 && version[0] == '3' ? 3 : 2;
  unique_id_ = package.attribute("unique-identifier").value();
  ReadMetadata(ChildByLocalName(package, "metadata"));
  pugi::xml_node manifest = ChildByLocalName(package, "manifest");
  pugi::xml_node spine = ChildByLocalName(package, "spine");
  for (const auto& [list, what] : {std::pair{manifest, "manifest"}, std::pair{spine, "spine"}}) {
    if (CountElements(list) > kMaxEpubItems) {
      error = std::string("the ") + what + " names more than " + std::to_string(kMaxEpubItems) +
              " items, more than a book holds";
      return false;
    }
  }
  ReadManifest(manifest);
  ReadSpine(spine);
  if (book_.spine.empty()) {
    error = "the book has no document to read in its spine";
    return false;
  }
  for (const EpubManifestItem& item : book_.manifest)
    if (HasWord(item.properties, "nav")) {
      ReadNav(item);
      break;
    }
  if (book_.contents.empty()) {
    const EpubManifestItem* ncx = ItemById(ncx_id_);
    if (!ncx)
      for (const EpubManifestItem& item : book_.manifest)
        if (item.media_type == "application/x-dtbncx+xml") ncx = &item;
    if (ncx) ReadNcx(*ncx);
  }
  return true;
}

}  // namespace

bool IsEpubDocumentType(const std::string& media_type) {
  return media_type == "application/xhtml+xml" || media_type == "text/html" || media_type == "text/x-oeb1-document" ||
         media_type.empty();
}

EpubReadResult ReadEpubPackage(std::shared_ptr<const vellix::formats::OcfContainer> container,
                               const std::string& path) {
  EpubReadResult result;
  try {
    auto book = std::make_shared<EpubBook>();
    book->path = path;
    book->container = container;
    PackageReader reader(*book, *container);
    std::string error;
    if (!reader.Read(error)) {
      result.error = path + ": " + error;
      return result;
    }
    for (const std::string& font : container->ObfuscatedFonts())
      book->warnings.push_back("the obfuscated font \"" + font + "\" is left out; the device has fonts of its own");
    result.book = std::move(book);
  } catch (const std::bad_alloc&) {
    result.error = path + ": out of memory";
  }
  return result;
}

EpubReadResult ReadEpubBook(const std::string& path, bool package_only) {
  vellix::formats::OcfLimits limits;
  limits.package_only = package_only;
  vellix::formats::OcfOpenResult opened = vellix::formats::OpenOcfContainer(path, limits);
  if (!opened.container) return {nullptr, opened.error};
  return ReadEpubPackage(std::shared_ptr<const vellix::formats::OcfContainer>(std::move(opened.container)), path);
}

EpubSourceFiles::EpubSourceFiles(std::shared_ptr<const vellix::formats::OcfContainer> container)
    : container_(std::move(container)), folder_(container_->PackageFolder()) {}

Status EpubSourceFiles::Read(const std::string& href, std::string& bytes) {
  std::optional<std::string_view> held = container_->Read(ContainerName(folder_, href));
  if (!held) return {Status::Code::kNotFound, "not found", href};
  if (held->size() > kMaxSourceFileBytes) return TooLarge(href);
  bytes.assign(*held);
  return {};
}

uint64_t EpubSourceFiles::SizeOf(const std::string& href) const {
  std::optional<std::string_view> bytes = container_->Read(ContainerName(folder_, href));
  return bytes ? bytes->size() : 0;
}

size_t EpubSourceFiles::MayClimb() const { return FolderDepth(folder_); }

}  // namespace ikutil
