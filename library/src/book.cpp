#include "vellix/book.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <optional>

#include "companion.h"
#include "ikpubx/viewer.h"
#include "ikutil/params.h"
#include "install.h"
#include "mime.h"
#include "text_document.h"
#include "vellix/error.h"
#include "vellix/formats/ascii.h"
#include "vellix/formats/book_format.h"
#include "vellix/formats/codepage.h"
#include "vellix/formats/file_io.h"
#include "vellix/formats/markdown.h"
#include "vellix/formats/markup.h"
#include "vellix/formats/oebff_package.h"
#include "vellix/formats/oebff_writer.h"
#include "vellix/formats/transliterate.h"
#include "vellix/formats/xml.h"
#include "vellix/package.h"

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
  return formats::EscapeMarkup(formats::Cp1252ToUtf8(formats::TrimSpaces(raw)));
}

}  // namespace

void Book::Load(const std::string& book_path) {
  path_.clear();
  extension_.clear();
  bool is_folder = false;
  std::unique_ptr<formats::InputFile> file = formats::InputFile::OpenIfFile(book_path, is_folder);
  if (file) {
    path_ = book_path;
    std::string extension = std::filesystem::path(book_path).extension().string();
    extension_ = formats::LowerAscii(extension.empty() ? extension : extension.substr(1));
    if (extension_ == "imp") {
      formats::NamingFile(book_path, [&] { LoadBookFile(*file); });
    } else if (extension_ == "htm" || extension_ == "html" || extension_ == "odf") {
      file.reset();
      std::string t, a, c;
      if (formats::NamingFile(book_path, [&] { return ExtractMetadata(book_path, t, a, c); })) {
        title_ = t;
        author_ = a;
        category_ = c;
      }
    } else if (extension_ == "opf") {
      file.reset();
      formats::NamingFile(book_path, [&] { LoadPackageMetadata(book_path); });
    } else if (extension_ == "epub") {
      file.reset();
      LoadEpubMetadata(book_path);
    }
  } else if (is_folder && book_path.size() >= 3 &&
             formats::LowerAscii(book_path.substr(book_path.size() - 3)) == "res") {
    path_ = book_path;
    extension_ = "res";
    LoadBookFolder();
  }
}

void Book::SetTitle(const std::string& v) {
  formats::RequireUtf8(v, "title");
  title_ = v;
}

void Book::SetAuthor(const std::string& v) {
  formats::RequireUtf8(v, "author");
  author_ = v;
}

void Book::SetCategory(const std::string& v) {
  formats::RequireUtf8(v, "category");
  category_ = v;
}

void Book::WriteInformation(const std::string& title, const std::string& author, const std::string& category) {
  if (extension_ != "imp" && extension_ != "res")
    formats::Raise(formats::kInvalidArgument, path_.empty() ? "no book file or book folder is loaded"
                                                            : path_ + ": only a book file or folder can be edited");
  for (auto [text, what] : {std::pair{&title, "title"}, {&author, "author"}, {&category, "category"}}) {
    formats::RequireUtf8(*text, what);
    if (text->empty()) formats::Raise(formats::kInvalidArgument, std::string("the ") + what + " is empty");
    if (text->find('\0') != std::string::npos)
      formats::Raise(formats::kInvalidArgument, std::string("the ") + what + " holds NUL");
  }
  auto device_text = [](const std::string& text) {
    return formats::Utf8ToCp1252Lossy(formats::TransliteratedForCp1252(text));
  };
  const ikutil::AuthorNameParts name = ikutil::SplitAuthorName(author);
  std::array<std::optional<std::string>, 7> strings;
  strings[1] = device_text(category);
  strings[3] = device_text(title);
  strings[4] = device_text(name.last);
  strings[5] = device_text(name.middle);
  strings[6] = device_text(name.first);
  formats::ReplaceInformationStrings(path_, strings);
  Load(std::string(path_));  // a copy: Load starts by forgetting Path
}

void Book::SetInformation(const std::string& info_bytes) {
  auto s = formats::CutInformationStrings(info_bytes);
  category_ = DeviceField(s[1]);
  title_ = DeviceField(s[3]);
  author_ = formats::EscapeMarkup(formats::Cp1252ToUtf8(formats::AuthorOf(s)));
  book_id_ = DeviceField(s[0]);
  markup_escaped_ = true;
}

std::string Book::PlainTitle() const { return markup_escaped_ ? formats::UnescapeMarkup(title_) : title_; }

std::string Book::PlainCategory() const { return markup_escaped_ ? formats::UnescapeMarkup(category_) : category_; }

std::string Book::PlainAuthor() const {
  std::string author = markup_escaped_ ? formats::UnescapeMarkup(author_) : author_;
  std::string single;
  for (char c : author)
    if (c != ' ' || (!single.empty() && single.back() != ' ')) single += c;
  while (!single.empty() && single.back() == ' ') single.pop_back();
  return single;
}

int64_t Book::BytesOnDisk() const {
  std::error_code ec;
  if (path_.empty()) return 0;
  if (std::filesystem::is_regular_file(path_, ec)) {
    auto size = std::filesystem::file_size(path_, ec);
    return ec ? 0 : static_cast<int64_t>(size);
  }
  if (!std::filesystem::is_directory(path_, ec)) return 0;
  int64_t total = 0;
  for (std::filesystem::recursive_directory_iterator it(path_, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code file_ec;
    if (it->is_regular_file(file_ec) && !it->is_symlink(file_ec)) {
      auto size = it->file_size(file_ec);
      if (!file_ec) total += static_cast<int64_t>(size);
    }
  }
  return total;
}

int32_t Book::LaidOutPages() const {
  if (extension_ != "imp" || path_.empty()) return pages_;
  std::shared_ptr<ikpubx::IViewer> viewer = ikpubx::NewViewer();
  int32_t pages = 0;
  if (viewer->SetBookName(path_) != ikpubx::S_OK || viewer->NumPages(&pages) != ikpubx::S_OK) return pages_;
  return pages;
}

void Book::LoadBookFile(const formats::InputFile& file) {
  SetInformation(formats::ReadInformationStrings(file));
  file_name_ = std::filesystem::path(path_).filename().string();
  if (file.size() > 0x7FFFFFFF) formats::Raise(formats::kOverflow, file.path());
  size_ = static_cast<int32_t>(file.size());
}

bool Book::LoadBookFolder() {
  std::string information_path = (std::filesystem::path(path_) / "RSRC.INF").string();
  struct stat st;
  if (::stat(information_path.c_str(), &st) != 0) {
    // A folder without the file is no book; one we may not look into is an error.
    if (errno == EACCES || errno == EPERM) formats::RaiseFromErrno(errno, information_path);
    return false;
  }
  if (!S_ISREG(st.st_mode)) return false;
  std::string information = formats::ReadWholeFile(information_path);
  formats::NamingFile(information_path, [&] {
    SetInformation(information.size() > formats::kRsrcInfStringsOffset
                       ? information.substr(formats::kRsrcInfStringsOffset)
                       : std::string());
  });
  size_ = 0;
  pages_ = 0;
  encrypted_ = false;
  std::string full = std::filesystem::absolute(path_).lexically_normal().string();
  while (full.size() > 1 && full.back() == '/') full.pop_back();
  path_ = full;
  return true;
}

void Book::Save(const std::string& destination) { Save(destination, nullptr); }

void Book::Save(const std::string& destination, const PublishEvents* events) {
  std::string dest = destination;
  if (dest.empty()) dest = SiblingPath(path_, ".imp");
  if (extension_ == "res") {
    formats::WriteBookFile(path_, dest);
  } else if (extension_ == "htm" || extension_ == "html" || extension_ == "odf") {
    const std::string document = path_;
    path_ = CreatePackageFromDocument(document);
    BuildPackage(dest, events, document);
  } else if (extension_ == "opf") {
    // Publishing records the book's name and folders in the package: in a
    // copy beside it, so that the user's own package stays as it is.
    const std::string package = path_;
    path_ = CopyPackageAsCompanion(package);
    BuildPackage(dest, events, package);
  } else if (extension_ == "epub") {
    BuildEpub(dest, events);
  }
  // Book files, containers, text and unknown kinds: nothing to write.
}

std::string Book::GetResourceString(const std::string& resource, int16_t id) const {
  std::string tag = formats::ToCp1252OrRaise(resource);
  formats::InputFile file(path_);
  return formats::Cp1252ToUtf8(formats::ReadResourceString(file, tag, id));
}

Variant Book::ParseRSRC(const std::string& rsrc, std::string& source_id, std::string& source_type,
                        std::string& content_feed_id, int32_t& issue_number) const {
  formats::SourceRecord r = formats::ParseSourceRecord(formats::ToCp1252OrRaise(rsrc));
  source_id = formats::Cp1252ToUtf8(r.source_id);
  source_type = formats::Cp1252ToUtf8(r.source_type);
  content_feed_id = formats::Cp1252ToUtf8(r.content_feed_id);
  issue_number = r.issue_number;
  return Variant();
}

void Book::SetPath(const std::string& path) {
  path_ = path;
  formats::InputFile file(path_);
  std::string record = formats::ReadResourceString(file, "RSRC", 128);
  if (record.empty()) return;
  formats::SourceRecord r = formats::NamingFile(path_, [&] { return formats::ParseSourceRecord(record); });
  source_id_ = formats::Cp1252ToUtf8(r.source_id);
  source_type_ = formats::Cp1252ToUtf8(r.source_type);
  content_feed_id_ = formats::Cp1252ToUtf8(r.content_feed_id);
  issue_number_ = r.issue_number;
}

Variant Book::Content() const {
  try {
    std::string bytes = formats::ReadWholeFile(path_);
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
  formats::XmlDocument doc;
  formats::LoadDocument(document, doc);
  if (!doc.parsed) return false;
  pugi::xml_node head = doc.Root().child("head");
  if (!head) formats::Raise(formats::kObjectNotSet, document + ": the document has no head element");
  std::string t, a, c;
  for (pugi::xml_node child : head.children()) {
    if (child.type() != pugi::node_element) continue;
    std::string local = formats::LowerAscii(formats::LocalName(child));
    if (local == "title") {
      t = formats::TextOf(child);
    } else if (local == "meta") {
      pugi::xml_attribute name = EitherCase(child, "name", "NAME");
      pugi::xml_attribute content = EitherCase(child, "content", "CONTENT");
      if (!name || !content) continue;
      std::string key = formats::LowerAscii(name.value());
      if (key == "author")
        a = content.value();
      else if (key == "genre")
        c = content.value();
    }
  }
  title = t;
  author = a;
  category = c;
  return true;
}

void Book::ConvertTxtToHtm(const std::string& htm_file) {
  if (!formats::IsFile(path_)) return;
  // Set through the checking setters, but checked again at the one place
  // where a stray byte would become a character reference.
  formats::RequireUtf8(title_, "title");
  formats::RequireUtf8(author_, "author");
  formats::RequireUtf8(category_, "category");
  std::string css = (std::filesystem::path(DataFolder()) / "default.css").string();
  formats::RefuseOverwritingInput(htm_file, {path_, css});
  // Two passes in bounded pieces, so memory does not grow with the text:
  // whether it is UTF-8 depends on every byte, and only then can the
  // document be written as it is made.
  constexpr size_t kPiece = 1 << 18;
  formats::InputFile text(path_);
  TextEncodingScan scan;
  for (uint64_t at = 0; at < text.size(); at += kPiece) scan.Feed(text.ReadUpTo(at, kPiece));
  std::optional<std::string> style;
  if (formats::IsFile(css)) style = DecodeText(formats::ReadWholeFile(css));
  formats::AtomicFileWriter out(htm_file, formats::Durability::kUnsynced);  // made again from the text
  DocumentWriter document([&out](std::string_view bytes) { out.Write(bytes); });
  document.Begin(title_, author_, category_, style);
  TextDecoder decoder(scan.Result());
  for (uint64_t at = 0; at < text.size(); at += kPiece) document.Text(decoder.Feed(text.ReadUpTo(at, kPiece)));
  document.Text(decoder.Finish());
  document.End();
  out.Commit();
  path_ = htm_file;
  extension_ = "htm";
}

void Book::ConvertMarkdownToHtm(const std::string& htm_file) {
  if (!formats::IsFile(path_)) return;
  formats::RefuseOverwritingInput(htm_file, {path_});
  formats::MarkdownDocument document = formats::ConvertMarkdown(DecodeText(formats::ReadWholeFile(path_)));
  if (title_.empty()) title_ = document.title;
  if (author_.empty()) author_ = document.author;
  formats::AtomicFileWriter out(htm_file);
  out.Write(formats::MarkdownXhtml(document, title_, author_, category_));
  out.Commit();
  path_ = htm_file;
  extension_ = "htm";
}

void Book::CreateDefaultOpf(const std::string& opf_file) const {
  formats::XmlDocument doc;
  formats::LoadXmlText(kDefaultPackageProlog, doc);
  pugi::xml_node package = doc.Root();
  package.append_attribute("unique-identifier") = "Package-ID";
  pugi::xml_node metadata = package.append_child("metadata");
  pugi::xml_node dc = metadata.append_child("dc-metadata");
  dc.append_attribute("xmlns:dc") = formats::kDublinCoreNamespace;
  dc.append_child("dc:Identifier").append_attribute("id") = "Package-ID";
  dc.append_child("dc:Title");
  dc.append_child("dc:Creator").append_attribute("role") = "aut";
  metadata.append_child("x-metadata");
  package.append_child("manifest");
  package.append_child("spine");
  formats::SaveXmlFile(doc, opf_file, formats::Durability::kUnsynced);
}

std::string Book::CreatePackageFromDocument(const std::string& document) const {
  if (!formats::IsFile(document)) return "";
  std::string opf = CompanionPath(document, ".opf");
  CreateDefaultOpf(opf);
  MarkAsCompanion(opf);
  Package package;
  package.initialID(18838);
  package.SetDefaultPackage((std::filesystem::path(DataFolder()) / "dtds/default.opf").string());
  package.SetPackagePath(opf);
  package.CreatePackage(document, std::filesystem::path(document).stem().string(), title_, author_, category_);
  return opf;
}

std::string Book::PackageDocument() const {
  CompanionLock companions(path_);
  formats::RemoveStaleTemporaries(std::filesystem::absolute(path_).parent_path().string());
  std::string opf = CreatePackageFromDocument(path_);
  if (!opf.empty()) Package().CompletePackage(opf, "", category_);
  return opf;
}

std::string Book::CopyPackageAsCompanion(const std::string& package) const {
  // One the suite made (from a document) is its own to complete.
  if (!formats::IsFile(package) || IsCompanionFile(package)) return package;
  std::string copy = CompanionPath(package, ".opf");
  std::string bytes = formats::ReadWholeFile(package);
  formats::AtomicFileWriter out(copy, formats::Durability::kUnsynced);
  out.Write(bytes);
  out.Commit();
  MarkAsCompanion(copy);
  return copy;
}

std::vector<std::string> Book::BuildOEBFile(const std::string& file_name, const std::string& directory,
                                            const PackProgress& progress) const {
  std::string opf = (std::filesystem::path(directory) / (file_name + ".opf")).string();
  std::string container = (std::filesystem::path(directory) / (file_name + ".oeb")).string();
  formats::InputFile package_file(opf);  // a missing package or a folder fails before anything is written
  // Refused items stop the build before anything is written.
  std::vector<formats::OEBFFManifestPart> parts = formats::ReadOEBFFManifest(opf, directory);
  std::vector<std::string> inputs{opf};
  for (const formats::OEBFFManifestPart& part : parts)
    if (part.inside) inputs.push_back((std::filesystem::path(directory) / part.href).string());
  formats::RefuseOverwritingInput(container, inputs);

  std::vector<std::string> skipped;
  MIME writer;
  writer.SetPath(container);
  writer.PutMimeHeader();
  writer.PutMimePackageHeader();
  writer.AttachFile(opf);
  size_t done = 0;
  for (const formats::OEBFFManifestPart& part : parts) {
    writer.PutMimeFileHeader(part.media_type, part.id, part.href);
    if (part.inside)
      writer.AttachFile((std::filesystem::path(directory) / part.href).string());
    else
      skipped.push_back(part.href);
    if (progress) progress(++done, parts.size());
  }
  writer.PutMimeFooter();
  writer.Complete();
  return skipped;
}

void Book::LoadPackageMetadata(const std::string& package_path) {
  // The user's own package is only read: it is completed in a scratch copy
  // (publishing completes a copy beside it).
  std::string read_from = package_path;
  std::string scratch;
  if (!IsCompanionFile(package_path) && formats::IsFile(package_path)) {
    scratch = (std::filesystem::temp_directory_path() / "vellix-package-XXXXXX").string();
    int fd = ::mkstemp(scratch.data());
    if (fd < 0) formats::RaiseFromErrno(errno, scratch);
    ::close(fd);
    std::string bytes = formats::ReadWholeFile(package_path);
    formats::AtomicFileWriter copy(scratch, formats::Durability::kUnsynced);
    copy.Write(bytes);
    copy.Commit();
    read_from = scratch;
  }
  struct Scratch {
    const std::string& path;
    ~Scratch() {
      std::error_code ec;
      if (!path.empty()) std::filesystem::remove(path, ec);
    }
  } remove_scratch{scratch};
  formats::OnCopyOf(package_path, scratch, [&] { Package().CompletePackage(read_from, "", ""); });
  formats::XmlDocument doc;
  formats::LoadXmlFile(read_from, doc);
  if (!doc.parsed) {
    path_.clear();
    return;
  }
  path_ = package_path;
  pugi::xml_node metadata = doc.dom.child("package").child("metadata");
  pugi::xml_node dc = metadata.child("dc-metadata");
  pugi::xml_node title = formats::DcChild(dc, "Title");
  pugi::xml_node author;
  for (pugi::xml_node n : dc.children())
    if (formats::IsDcElement(n, "Creator") && std::string_view(n.attribute("role").value()) == "aut") {
      author = n;
      break;
    }
  pugi::xml_node category;
  for (pugi::xml_node meta : metadata.child("x-metadata").children("meta"))
    if (std::string_view(meta.attribute("name").value()) == "x-IKL-category") {
      category = meta;
      break;
    }
  if (!title || !author || !category)
    formats::Raise(formats::kObjectNotSet, package_path + ": the package gives no " +
                                               (!title    ? "title (dc:Title)"
                                                : !author ? "author (a dc:Creator whose role is \"aut\")"
                                                          : "category (the x-IKL-category meta)"));
  title_ = formats::TextOf(title);
  author_ = formats::TextOf(author);
  category_ = category.attribute("content").value();
}

}  // namespace vellix
