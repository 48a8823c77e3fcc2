#include "vellix/book.h"

#include <sys/stat.h>

#include <filesystem>

#include "vellix/formats/book_format.h"
#include "vellix/formats/file_io.h"
#include "vellix/formats/codepage.h"
#include "vellix/error.h"
#include "vellix/formats/markup.h"
#include "install.h"
#include "vellix/package.h"
#include "text_document.h"
#include "vellix/formats/ascii.h"
#include "mime.h"
#include "vellix/formats/xml.h"
#include "vellix/formats/oebff_writer.h"

namespace vellix {
namespace {

// The file beside `path` with the same stem and `extension` (".imp"); a
// path without a folder gets "./" as its folder.
std::string SiblingPath(const std::string& path, const std::string& extension) {
  std::filesystem::path p(path);
  std::filesystem::path folder = p.parent_path();
  if (folder.empty()) folder = ".";
  return (folder / (p.stem().string() + extension)).string();
}

std::string DeviceField(std::string_view raw) {
  return EscapeMarkup(Cp1252ToUtf8(TrimSpaces(raw)));
}

}  // namespace

void Book::Load(const std::string& book_path) {
  path_.clear();
  extension_.clear();
  bool is_folder = false;
  std::unique_ptr<InputFile> file = InputFile::OpenIfFile(book_path, is_folder);
  if (file) {
    path_ = book_path;
    std::string extension = std::filesystem::path(book_path).extension().string();
    extension_ = LowerAscii(extension.empty() ? extension : extension.substr(1));
    if (extension_ == "imp") {
      LoadBookFile(*file);
    } else if (extension_ == "htm" || extension_ == "html" || extension_ == "odf") {
      file.reset();
      std::string t, a, c;
      if (ExtractMetadata(book_path, t, a, c)) {
        title_ = t;
        author_ = a;
        category_ = c;
      }
    } else if (extension_ == "opf") {
      file.reset();
      LoadPackageMetadata(book_path);
    }
  } else if (is_folder && book_path.size() >= 3 &&
             LowerAscii(book_path.substr(book_path.size() - 3)) == "res") {
    path_ = book_path;
    extension_ = "res";
    LoadBookFolder();
  }
}

void Book::SetInformation(const std::string& info_bytes) {
  auto s = CutInformationStrings(info_bytes);
  category_ = DeviceField(s[1]);
  title_ = DeviceField(s[3]);
  author_ = EscapeMarkup(Cp1252ToUtf8(AuthorOf(s)));
  book_id_ = DeviceField(s[0]);
}

void Book::LoadBookFile(const InputFile& file) {
  SetInformation(ReadInformationStrings(file));
  file_name_ = std::filesystem::path(path_).filename().string();
  if (file.size() > 0x7FFFFFFF) Raise(kOverflow);
  size_ = static_cast<int32_t>(file.size());
}

bool Book::LoadBookFolder() {
  std::string information_path = (std::filesystem::path(path_) / "RSRC.INF").string();
  if (!IsFile(information_path)) return false;
  std::string information = ReadWholeFile(information_path);
  SetInformation(information.size() > kRsrcInfStringsOffset
                     ? information.substr(kRsrcInfStringsOffset)
                     : std::string());
  size_ = 0;
  pages_ = 0;
  encrypted_ = false;
  std::string full = std::filesystem::absolute(path_).lexically_normal().string();
  while (full.size() > 1 && full.back() == '/') full.pop_back();
  path_ = full;
  return true;
}

void Book::Save(const std::string& destination) {
  std::string dest = destination;
  if (dest.empty()) dest = SiblingPath(path_, ".imp");
  if (extension_ == "res") {
    WriteBookFile(path_, dest);
  } else if (extension_ == "htm" || extension_ == "html" || extension_ == "odf" ||
             extension_ == "opf") {
    Raise(kNotSupported, "Publishing documents and packages is not available in this build");
  }
  // Book files, containers, text and unknown kinds: nothing to write.
}

std::string Book::GetResourceString(const std::string& resource, int16_t id) const {
  InputFile file(path_);
  return Cp1252ToUtf8(ReadResourceString(file, ToCp1252OrRaise(resource), id));
}

Variant Book::ParseRSRC(const std::string& rsrc, std::string& source_id, std::string& source_type,
                        std::string& content_feed_id, int32_t& issue_number) const {
  SourceRecord r = ParseSourceRecord(ToCp1252OrRaise(rsrc));
  source_id = Cp1252ToUtf8(r.source_id);
  source_type = Cp1252ToUtf8(r.source_type);
  content_feed_id = Cp1252ToUtf8(r.content_feed_id);
  issue_number = r.issue_number;
  return Variant();
}

void Book::SetPath(const std::string& path) {
  path_ = path;
  InputFile file(path_);
  std::string record = ReadResourceString(file, "RSRC", 128);
  if (record.empty()) return;
  SourceRecord r = ParseSourceRecord(record);
  source_id_ = Cp1252ToUtf8(r.source_id);
  source_type_ = Cp1252ToUtf8(r.source_type);
  content_feed_id_ = Cp1252ToUtf8(r.content_feed_id);
  issue_number_ = r.issue_number;
}

Variant Book::Content() const {
  try {
    std::string bytes = ReadWholeFile(path_);
    return Variant(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  } catch (const std::exception&) {  // no such file, a folder, too large
    return Variant();
  }
}

}  // namespace vellix

namespace vellix {
namespace {

constexpr char kDefaultPackageProlog[] =
    "<?xml version=\"1.0\"?>\r\n"
    "<!DOCTYPE package PUBLIC \"+//ISBN 0-9673008-1-9//DTD OEB 1.0 Package//EN\"\r\n"
    "\"http://openebook.org/dtds/oeb-1.0.1/oebpkg101.dtd\">\r\n"
    "<package/>";

// "name" or else "NAME"; other spellings are not looked at.
pugi::xml_attribute EitherCase(const pugi::xml_node& node, const char* lower, const char* upper) {
  pugi::xml_attribute a = node.attribute(lower);
  return a ? a : node.attribute(upper);
}

}  // namespace

bool Book::ExtractMetadata(const std::string& document, std::string& title, std::string& author,
                           std::string& category) const {
  XmlDocument doc;
  LoadDocument(document, doc);
  if (!doc.parsed) return false;
  pugi::xml_node head = doc.Root().child("head");
  if (!head) Raise(kObjectNotSet);
  std::string t, a, c;
  for (pugi::xml_node child : head.children()) {
    if (child.type() != pugi::node_element) continue;
    std::string local = LowerAscii(LocalName(child));
    if (local == "title") {
      t = TextOf(child);
    } else if (local == "meta") {
      pugi::xml_attribute name = EitherCase(child, "name", "NAME");
      pugi::xml_attribute content = EitherCase(child, "content", "CONTENT");
      if (!name || !content) continue;
      std::string key = LowerAscii(name.value());
      if (key == "author") a = content.value();
      else if (key == "genre") c = content.value();
    }
  }
  title = t;
  author = a;
  category = c;
  return true;
}

void Book::ConvertTxtToHtm(const std::string& htm_file) {
  if (!IsFile(path_)) return;
  std::string text = DecodeText(ReadWholeFile(path_));
  std::optional<std::string> style;
  std::string css = (std::filesystem::path(LibraryFolder()) / "default.css").string();
  if (IsFile(css)) style = DecodeText(ReadWholeFile(css));
  AtomicFileWriter out(htm_file, "htm");
  out.Write(ConvertedDocument(text, title_, author_, category_, style));
  out.Commit();
  path_ = htm_file;
  extension_ = "htm";
}

void Book::CreateDefaultOpf(const std::string& opf_file) const {
  XmlDocument doc;
  LoadXmlText(kDefaultPackageProlog, doc);
  pugi::xml_node package = doc.Root();
  package.append_attribute("unique-identifier") = "Package-ID";
  pugi::xml_node metadata = package.append_child("metadata");
  pugi::xml_node dc = metadata.append_child("dc-metadata");
  dc.append_attribute("xmlns:dc") = kDublinCoreNamespace;
  dc.append_child("dc:Identifier").append_attribute("id") = "Package-ID";
  dc.append_child("dc:Title");
  dc.append_child("dc:Creator").append_attribute("role") = "aut";
  metadata.append_child("x-metadata");
  package.append_child("manifest");
  package.append_child("spine");
  SaveXmlFile(doc, opf_file);
}

std::string Book::CreatePackageFromDocument(const std::string& document) const {
  if (!IsFile(document)) return "";
  std::string opf = SiblingPath(document, ".opf");
  CreateDefaultOpf(opf);
  Package package;
  package.initialID(18838);
  package.SetDefaultPackage((std::filesystem::path(LibraryFolder()) / "dtds/default.opf").string());
  package.SetPackagePath(opf);
  package.CreatePackage(document, std::filesystem::path(document).stem().string(), title_, author_,
                        category_);
  return opf;
}

namespace {

// True when `href` names a file inside `folder`: relative, never climbing
// out, and not leaving it through a symbolic link either.
bool StaysInside(const std::string& folder, const std::string& href) {
  if (href.empty() || href[0] == '/') return false;
  std::filesystem::path relative(href);
  for (const auto& part : relative)
    if (part == "..") return false;
  std::error_code ec;
  std::filesystem::path base = std::filesystem::weakly_canonical(folder, ec);
  if (ec) return false;
  std::filesystem::path target = std::filesystem::weakly_canonical(base / relative, ec);
  if (ec) return false;
  auto b = base.begin(), t = target.begin();
  for (; b != base.end(); ++b, ++t)
    if (t == target.end() || *b != *t) return false;
  return true;
}

struct ManifestItem {
  std::string id, href, media_type;
};

// The element children of the package's manifest, in document order, each
// checked for what a container part header can carry. The package is
// parsed like every other load here: nothing is fetched.
std::vector<ManifestItem> ReadManifest(const std::string& opf) {
  std::vector<ManifestItem> items;
  XmlDocument doc;
  LoadXmlFile(opf, doc);
  if (!doc.parsed) return items;
  pugi::xml_node manifest = doc.Root().child("manifest");
  if (!manifest) Raise(kObjectNotSet);
  for (pugi::xml_node item : manifest.children()) {
    if (item.type() != pugi::node_element) continue;
    pugi::xml_attribute id = item.attribute("id"), href = item.attribute("href"),
                        media_type = item.attribute("media-type");
    if (!id || !href || !media_type) Raise(kInvalidUseOfNull);
    items.push_back({id.value(), href.value(), media_type.value()});
    // Id and media type are written unquoted, so each must be one header
    // token; a gzip part would need a header this writer does not write.
    const ManifestItem& added = items.back();
    std::string where = "Manifest item " + std::to_string(items.size()) + " (id \"" + added.id + "\")";
    if (!OEBFFIsHeaderToken(Utf8ToCp1252Lossy(added.id)))
      Raise(kInvalidArgument, where + ": a container cannot carry this id");
    if (!OEBFFIsHeaderToken(Utf8ToCp1252Lossy(added.media_type)) ||
        LowerAscii(added.media_type) == "application/x-gzip")
      Raise(kInvalidArgument,
            where + ": a container cannot carry the media type \"" + added.media_type + "\"");
  }
  return items;
}

// One part per manifest item; an href that leads out of `directory` frames
// an empty body and is reported in `skipped`.
void WriteManifestParts(MIME& writer, const std::vector<ManifestItem>& items,
                        const std::string& directory, std::vector<std::string>& skipped,
                        const Book::PackProgress& progress) {
  size_t done = 0;
  for (const ManifestItem& item : items) {
    writer.PutMimeFileHeader(item.media_type, item.id, item.href);
    if (StaysInside(directory, item.href))
      writer.AttachFile((std::filesystem::path(directory) / item.href).string());
    else
      skipped.push_back(item.href);
    if (progress) progress(++done, items.size());
  }
}

}  // namespace

std::vector<std::string> Book::BuildOEBFile(const std::string& file_name,
                                            const std::string& directory,
                                            const PackProgress& progress) const {
  std::string opf = (std::filesystem::path(directory) / (file_name + ".opf")).string();
  // Refused items stop the build before anything is written.
  std::vector<ManifestItem> items = ReadManifest(opf);
  std::vector<std::string> skipped;
  MIME writer;
  writer.SetPath((std::filesystem::path(directory) / (file_name + ".oeb")).string());
  writer.PutMimeHeader();
  writer.PutMimePackageHeader();
  writer.AttachFile(opf);
  WriteManifestParts(writer, items, directory, skipped, progress);
  writer.PutMimeFooter();
  writer.Complete();
  return skipped;
}

void Book::LoadPackageMetadata(const std::string& package_path) {
  Package().CompletePackage(package_path, "", "");
  XmlDocument doc;
  LoadXmlFile(package_path, doc);
  if (!doc.parsed) {
    path_.clear();
    return;
  }
  path_ = package_path;
  pugi::xml_node metadata = doc.dom.child("package").child("metadata");
  pugi::xml_node dc = metadata.child("dc-metadata");
  pugi::xml_node title = DcChild(dc, "Title");
  pugi::xml_node author;
  for (pugi::xml_node n : dc.children())
    if (IsDcElement(n, "Creator") && std::string_view(n.attribute("role").value()) == "aut") {
      author = n;
      break;
    }
  pugi::xml_node category;
  for (pugi::xml_node meta : metadata.child("x-metadata").children("meta"))
    if (std::string_view(meta.attribute("name").value()) == "x-IKL-category") {
      category = meta;
      break;
    }
  if (!title || !author || !category) Raise(kObjectNotSet);
  title_ = TextOf(title);
  author_ = TextOf(author);
  category_ = category.attribute("content").value();
}

}  // namespace vellix
