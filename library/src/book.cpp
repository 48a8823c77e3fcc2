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

namespace vellix {
namespace {

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
    extension_ = LowerAscii(ExtensionPart(book_path));
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

void Book::SetTitle(const std::string& v) {
  RequireUtf8(v, "title");
  title_ = v;
}

void Book::SetAuthor(const std::string& v) {
  RequireUtf8(v, "author");
  author_ = v;
}

void Book::SetCategory(const std::string& v) {
  RequireUtf8(v, "category");
  category_ = v;
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
  file_name_ = FileNamePart(path_);
  if (file.size() > 0x7FFFFFFF) Raise(kOverflow);
  size_ = static_cast<int32_t>(file.size());
}

bool Book::LoadBookFolder() {
  std::string information_path = JoinPath(path_, "RSRC.INF");
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
  if (dest.empty()) dest = JoinPath(ParentPart(path_), BaseNamePart(path_) + ".imp");
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
  // Set through the checking setters, but checked again at the one place
  // where a stray byte would become a character reference.
  RequireUtf8(title_, "title");
  RequireUtf8(author_, "author");
  RequireUtf8(category_, "category");
  std::string text = DecodeText(ReadWholeFile(path_));
  std::optional<std::string> style;
  std::string css = JoinPath(LibraryFolder(), "default.css");
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
  std::string opf = JoinPath(ParentPart(document), BaseNamePart(document) + ".opf");
  CreateDefaultOpf(opf);
  Package package;
  package.initialID(18838);
  package.SetDefaultPackage(JoinPath(LibraryFolder(), "dtds/default.opf"));
  package.SetPackagePath(opf);
  package.CreatePackage(document, BaseNamePart(document), title_, author_, category_);
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

// One part per element child of the package's manifest, in document order.
// The package is parsed like every other load here: nothing is fetched.
void WriteManifestParts(MIME& writer, const std::string& opf, const std::string& directory,
                        std::vector<std::string>& skipped, const Book::PackProgress& progress) {
  XmlDocument doc;
  LoadXmlFile(opf, doc);
  if (!doc.parsed) return;
  pugi::xml_node manifest = doc.Root().child("manifest");
  if (!manifest) Raise(kObjectNotSet);
  size_t total = 0, done = 0;
  for (pugi::xml_node item : manifest.children()) total += item.type() == pugi::node_element;
  for (pugi::xml_node item : manifest.children()) {
    if (item.type() != pugi::node_element) continue;
    pugi::xml_attribute id = item.attribute("id"), href = item.attribute("href"),
                        media_type = item.attribute("media-type");
    if (!id || !href || !media_type) Raise(kInvalidUseOfNull);
    writer.PutMimeFileHeader(media_type.value(), id.value(), href.value());
    if (StaysInside(directory, href.value()))
      writer.AttachFile(JoinPath(directory, href.value()));
    else
      skipped.push_back(href.value());
    if (progress) progress(++done, total);
  }
}

}  // namespace

std::vector<std::string> Book::BuildOEBFile(const std::string& file_name,
                                            const std::string& directory,
                                            const PackProgress& progress) const {
  std::vector<std::string> skipped;
  MIME writer;
  writer.SetPath(JoinPath(directory, file_name + ".oeb"));
  writer.PutMimeHeader();
  writer.PutMimePackageHeader();
  std::string opf = JoinPath(directory, file_name + ".opf");
  writer.AttachFile(opf);
  WriteManifestParts(writer, opf, directory, skipped, progress);
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
