// One book, known by a path: a book file (".imp"), a book folder (a folder
// whose name ends in "res"), a package document (".opf"), an EPUB book
// (".epub") or a source document (".htm", ".html", ".odf", ".txt", ".oeb").
//
// Text fields hold UTF-8. Title, author, category and identifier read from
// a device book are stored markup-escaped ("&" -> "&amp;" ...); the same
// fields read from a package or document are stored as read. Every file is
// opened and closed within one call. Failures throw AutomationError.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "vellix/variant.h"

namespace vellix::formats {
class InputFile;
}  // namespace vellix::formats

namespace ikutil {
class CBookParams;
}  // namespace ikutil

namespace vellix {

// What a caller may hear of a book being published (Save of a document or
// package, Bookshelf::Add): the toolkit's build events, and a question
// asked between them. Every member is optional.
struct PublishEvents {
  std::function<void(const std::string& file, int32_t number, int32_t total)> source_start;
  std::function<void(int64_t done, int64_t total)> progress;  // bytes of the sources parsed
  std::function<void(const std::string& file, const std::string& message, int32_t line, int32_t column,
                     int16_t severity)>
      error;
  // Answering false stops the build; Save then throws and leaves no book.
  std::function<bool()> keep_going;
};

// The number of a failed build: the toolkit's own failure code, as any
// automation client of the Builder would see it.
inline constexpr int kBuildFailed = static_cast<int>(0x80004005u);

class Book : public Object {
 public:
  // Forgets Path and Extension, then reads what the path holds: a book
  // file's information strings, a book folder's RSRC.INF, a document's or
  // package's metadata. Other fields keep earlier values. A path that is
  // neither a file nor a folder ending in "res" leaves Path and Extension "".
  void Load(const std::string& book_path);
  // For a loaded container (Extension "oeb"): reads the title, author and
  // category its package gives, which its build uses whatever the Book
  // holds. False, with the fields as they were and *why saying it in the
  // words a build would use ("<file>: not a readable OEBFF container
  // (...)"), when the container cannot be read.
  bool ReadContainerFields(std::string* why);

  // Writes the book to `destination`: a book folder becomes one book file;
  // a document, package or EPUB book is published by the toolkit's Builder
  // (an EPUB book with the title, author and category the Book holds, so
  // that what the user typed wins over the book's own). Book
  // files, containers and text write nothing. An empty destination means
  // "<folder of the book>/<base name>.imp".
  //
  // Publishing a document first writes the package "<folder>/<base
  // name>.opf" beside it, filled from the document and this book's title,
  // author and category, and makes that package Path (or Path "" and
  // nothing else when the document does not exist). The package is then
  // completed for the build in place (book name, category, destination and
  // log folders) and built into "<folder of destination>/<base name of
  // destination>.imp". Packages and converted documents stay on disk.
  //
  // A build that fails or writes no book throws kBuildFailed, its detail
  // the words of the build's outcome, naming the file at fault ("<file>:
  // <why>", the source's own name where the engine names none); one stopped
  // through PublishEvents::keep_going throws kInvalidArgument. Neither
  // leaves a new book at the destination.
  void Save(const std::string& destination = "");
  // The same, telling `events` (when not null) how a publication goes.
  void Save(const std::string& destination, const PublishEvents* events);

  // The string `id` of the first resource whose type tag is `resource`, in
  // the book file at Path; "" when there is no such resource or string.
  std::string GetResourceString(const std::string& resource, int16_t id) const;

  // Splits a source record "SOURCEID:TYPE:data" into its fields. Always
  // returns an empty variant.
  Variant ParseRSRC(const std::string& rsrc, std::string& source_id, std::string& source_type,
                    std::string& content_feed_id, int32_t& issue_number) const;

  // One line of the book list text (no line end): "None:" + BookId, Title,
  // Author, Category, Size, base_url + FileName, "1", "17", TAB-separated.
  // Fields go in as stored.
  std::string BookshelfItem(const std::string& base_url) const;

  // Reads the title, author and genre of an HTML or XHTML document. A
  // document that is not well-formed is first rewritten in place as XHTML.
  // Returns false (arguments untouched) when it still does not parse;
  // throws 91 when its root has no "head" child, and 5 (naming the file)
  // when its markup is too deeply nested or tangled to clean up.
  bool ExtractMetadata(const std::string& document, std::string& title, std::string& author,
                       std::string& category) const;

  // Writes the text file at Path as an OEB XHTML document to `htm_file`
  // (with the library's "default.css", when present) and makes that
  // document the book: Path = htm_file, Extension = "htm". Nothing happens
  // when Path names no file. Throws 5 when the title, author or category is
  // not valid UTF-8.
  void ConvertTxtToHtm(const std::string& htm_file);

  // Writes the Markdown file at Path (CommonMark with tables and
  // strikethrough, UTF-8 or else Windows-1252) as an XHTML document to
  // `htm_file` and makes that document the book, as ConvertTxtToHtm does.
  // The title is the Book's when it has one, else the one the source gives
  // (a "% Title" line, a "title:" block, or its first level-one heading),
  // and the Book keeps it. Nothing happens when Path names no file.
  void ConvertMarkdownToHtm(const std::string& htm_file);

  // Has the toolkit build the container (".oeb") at Path into the book
  // file `destination`, the book's fields those its package holds. Throws
  // 53 when there is no such file, and as Save does when the build fails.
  void BuildContainer(const std::string& destination, const PublishEvents* events) const;

  // Writes the book file at Path, one this program built, as an EPUB 3
  // book at `epub` (through a temporary file beside it). Throws 53 when
  // there is no book file, 5 naming it when it holds no content of ours or
  // cannot be read, and the writer's error when `epub` cannot be written.
  void SaveAsEpub(const std::string& epub) const;

  // Writes `title`, `author` and `category` (UTF-8, as people read them)
  // into the book file or book folder at Path, in place of the ones it
  // holds, then loads it again. The author is stored in its parts as
  // packages split theirs ("Last, First Middle" or "First Middle Last");
  // letters the device's code page lacks are written as their nearest
  // Latin ones. Everything else in the book stays as it was. The file is
  // rewritten beside itself and renamed over the old one, so a failure
  // leaves the book untouched. Throws 5 for a field that is empty, not
  // valid UTF-8 or holds NUL, or a book that is neither a book file nor a
  // book folder, and the rewrite's errors (naming the file).
  void WriteInformation(const std::string& title, const std::string& author, const std::string& category);

  // Writes the empty default package document to `opf_file`, replacing any
  // file there.
  void CreateDefaultOpf(const std::string& opf_file) const;

  // Packs the package "<directory>/<file_name>.opf" and every file its
  // manifest names into the container "<directory>/<file_name>.oeb". An
  // href that is absolute or leads out of `directory` is never read: its
  // part frames an empty body, and the href is returned so the caller can
  // say so. Hrefs are written in their URI form (see OEBFFEncodeHref).
  // Throws 94 for a manifest item without id, href or media-type, and 5,
  // before anything is written, for one whose id or media type is not a
  // single header token (or is "application/x-gzip"); throws 5 too for a
  // file that holds the part delimiter. A refused build leaves any older
  // container as it was.
  // `progress`, when given, hears (parts written, parts in all) after each
  // manifest part.
  using PackProgress = std::function<void(size_t done, size_t total)>;
  std::vector<std::string> BuildOEBFile(const std::string& file_name, const std::string& directory,
                                        const PackProgress& progress = {}) const;

  // Makes a package beside the document `document` ("<base name>.opf", or
  // "<base name>-2.opf" and so on when the user has a file of that name;
  // in the cache folder when the document's folder is read-only) and fills it from the document and this book's title,
  // author and category. Returns the package path, or "" when the document does not exist.
  std::string CreatePackageFromDocument(const std::string& document) const;
  // Makes the package of the document at Path as CreatePackageFromDocument
  // does and completes it for a build, while no other process publishes
  // from the same source. Returns the package path, or "" as above.
  std::string PackageDocument() const;
  // Copies the package `package` to a file of the suite's own beside it
  // (see CreatePackageFromDocument) and returns the copy's path.
  std::string CopyPackageAsCompanion(const std::string& package) const;

  // All bytes of the file at Path, or an empty variant on any failure.
  Variant Content() const;

  // Stores the path, then reads the book file's source record (if any).
  void SetPath(const std::string& path);

  const std::string& Path() const { return path_; }
  const std::string& FileName() const { return file_name_; }
  const std::string& Extension() const { return extension_; }
  const std::string& Title() const { return title_; }
  const std::string& Author() const { return author_; }
  const std::string& Category() const { return category_; }
  const std::string& BookId() const { return book_id_; }
  // Throw 5 for text that is not valid UTF-8; the field keeps its value.
  void SetTitle(const std::string& v);
  void SetAuthor(const std::string& v);
  void SetCategory(const std::string& v);
  void SetBookId(const std::string& v) { book_id_ = v; }
  int32_t Size() const { return size_; }
  int16_t Pages() const { return pages_; }
  bool Encrypted() const { return encrypted_; }

  // The fields as a reader sees them: markup escaping undone for fields read
  // from a device book, and the author's names single-spaced (a missing
  // middle name leaves no double space). The stored fields stay as they are
  // for the lists that insert them into markup.
  std::string PlainTitle() const;
  std::string PlainAuthor() const;
  std::string PlainCategory() const;
  // The bytes the book takes: the book file's size, or the sum of the
  // regular files in a book folder. 0 when Path names neither.
  int64_t BytesOnDisk() const;
  // The pages the typesetter lays a book file out into at the device's
  // screen settings; the stored Pages for anything else or a book that
  // cannot be laid out. Reads and lays out the whole book.
  int32_t LaidOutPages() const;

  // Source record fields, with the defaults of a book that has none.
  std::string SourceId() const { return source_id_.empty() ? "3" : source_id_; }
  std::string SourceType() const { return source_type_.empty() ? "B" : source_type_; }
  const std::string& ContentFeedId() const { return content_feed_id_; }
  int32_t IssueNumber() const { return issue_number_ == 0 ? -1 : issue_number_; }
  bool IsPeriodical() const { return issue_number_ != 0 && issue_number_ != -1; }

 private:
  void LoadBookFile(const formats::InputFile& file);
  bool LoadBookFolder();
  void SetInformation(const std::string& info_bytes);
  void LoadPackageMetadata(const std::string& package);
  // Completes the package at Path for `destination` and has the toolkit
  // build it there; nothing when Path names no file. Failures name
  // `users_file` (the document or package the user gave, when Path is a
  // companion made from it) in place of the package.
  void BuildPackage(const std::string& destination, const PublishEvents* events, const std::string& users_file = {});
  void LoadEpubMetadata(const std::string& epub);
  // The title, category, author (its parts joined) and book ID a package
  // gives.
  void SetFieldsFrom(const ikutil::CBookParams& params);
  void BuildEpub(const std::string& destination, const PublishEvents* events);

  std::string path_;
  std::string file_name_;
  std::string extension_;
  std::string title_;
  std::string author_;
  std::string category_;
  std::string book_id_;
  int32_t size_ = 0;
  int16_t pages_ = 0;
  bool markup_escaped_ = false;  // the text fields came from a device book
  bool encrypted_ = false;
  std::string content_feed_id_;
  std::string source_id_;
  std::string source_type_;
  int32_t issue_number_ = 0;
};

}  // namespace vellix
