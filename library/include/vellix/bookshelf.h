// The bookshelf: a folder of device books and the collection loaded from it.
//
// Load() collects every book folder (a subfolder whose name ends in ".RES",
// any case) and every book file (extension "imp", any case). Lookups by
// identifier and the bookshelf text walk the file list taken when Directory
// was last set, and see only files whose extension is exactly "imp".
// Failures throw AutomationError; the bookshelf keeps the state it reached.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "vellix/book.h"
#include "vellix/variant.h"

namespace vellix {

// An ordered, 1-based collection of books without keys.
class Books : public Object {
 public:
  using Items = std::vector<std::shared_ptr<vellix::Book>>;

  // Creates a book, loads `path` into it and appends it. When Load throws,
  // the collection is unchanged.
  std::shared_ptr<vellix::Book> Add(const std::string& path);
  void AddBook(std::shared_ptr<vellix::Book> book);
  // Throws AutomationError 5 unless `index` is an integer in 1..Count().
  std::shared_ptr<vellix::Book> Item(const Variant& index) const;
  void Remove(const Variant& index);
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }

  Items::const_iterator begin() const { return items_.begin(); }
  Items::const_iterator end() const { return items_.end(); }

 private:
  size_t PositionOf(const Variant& index) const;
  Items items_;
};

// A book that LoadTolerant() left out, and the error that stopped it.
struct UnreadableBook {
  std::string path;
  int number = 0;
  std::string description;
};

// One path of a batch add and what became of it.
struct BatchItem {
  std::string path;
  std::string book_file;    // the book file written on the shelf; "" when none was
  int error = 0;            // 0 when the book was added; else the automation error's number
  std::string description;  // the error's description and its detail, unless that is `path`
  bool added() const { return error == 0; }
};

struct BatchOptions {
  // Given values apply to every book; absent ones leave each book its own.
  std::optional<std::string> title, author, category;
  // Books built at once; 0 means one per core.
  unsigned jobs = 0;
  // Told of each book as it is finished (one call at a time, in the order
  // the books finish), with the count finished so far.
  std::function<void(size_t done, size_t total, const BatchItem& item)> finished;
  // Asked between books and during builds; false stops the batch: books
  // not yet begun fail with kInvalidArgument "stopped".
  std::function<bool()> keep_going;
};

// A kind of file the shelf publishes into a book file.
struct AddableFileKind {
  const char* extension;  // lower case, without its dot; matched in any case
  const char* group;      // what a file chooser calls files of this kind
  // The one file holds the whole book, so it can be sent on its own; a
  // package names files beside it.
  bool self_contained;
  // Its title, author and category come from the file and cannot be given.
  bool carries_own_fields;
};

// Every kind of file the shelf adds (Add, AddMany, the window, the server),
// in the order a file chooser lists them. Book folders are added as well.
std::span<const AddableFileKind> AddableFileKinds();

class Bookshelf : public Object {
 public:
  // Seeds the library's random generator from the clock.
  Bookshelf();

  // Converts the book into a book file on the shelf when its kind calls for
  // it, then appends it to Books(): a document or package is saved to
  // NewBookFilePath(); a text file is first converted to a page beside it
  // ("<base name>.htm", or the next free name when that one is the user's;
  // see CompanionPath), which becomes the book, then saved the same way; a
  // container is built there with its own fields (BuildContainer). Book
  // files and book folders are only appended. Throws 91 before a
  // successful Load(); a failing conversion or build ends Add with its
  // error and the book is not appended.
  void Add(const std::shared_ptr<vellix::Book>& new_book);
  // The same, telling `events` (when not null) how a publication goes;
  // `book_file`, when given, receives the path of the book file written,
  // or "" when none was.
  void Add(const std::shared_ptr<vellix::Book>& new_book, const PublishEvents* events,
           std::string* book_file = nullptr);

  // Adds many books at once, in parallel, without loading the shelf: each
  // path as Add() or AddBookFolder() would, and one that fails is reported
  // in its item while the others go on. A path that AddRefusal() refuses
  // fails with 5, its description the reason. Books() (when loaded) gets the added books in the order given.
  // Needs Directory() (Load, SetDirectory or OpenForAdding); throws 76
  // before anything is written when it is empty. Sources that share a
  // folder and a base name ("a.txt", "a.htm") are built one after the
  // other, since their packages are one file.
  std::vector<BatchItem> AddMany(const std::vector<std::string>& paths, const BatchOptions& options);

  // Add() without Books(): converts and publishes onto the shelf; needs
  // only Directory(). Safe to call from several threads at once.
  void Publish(const std::shared_ptr<vellix::Book>& new_book, const PublishEvents* events,
               std::string* book_file) const;
  // AddBookFolder() likewise; returns the book.
  std::shared_ptr<vellix::Book> PublishBookFolder(const std::string& folder, std::string* book_file) const;
  // True for the kinds (Book::Extension()) the shelf adds: those of
  // AddableFileKinds() and book folders ("res").
  static bool IsAddableKind(const std::string& kind);
  // True for an extension (without its dot, any case) of AddableFileKinds().
  static bool IsAddableFileKind(const std::string& extension);
  // Why a kind is refused, the same text wherever a user meets it:
  // "not a kind of file the shelf can add (a book folder, or a file ending
  // in .oeb, ... or .markdown)".
  static std::string NotAddableText();
  // The one rule for what an add of a book of kind `kind` ("res" for a
  // folder) is given: why it is refused, for the caller to put after the
  // book's path, or "" when it may go on. A kind the shelf does not add is
  // refused (NotAddableText), and so is a title, author or category for a
  // book that carries its own (a book folder, a container), however many
  // paths are added at once.
  static std::string AddRefusal(const std::string& kind, const BatchOptions& options);

  // Sets Directory without reading the folder: all that adding needs.
  // Throws 76 when it is not a folder.
  void OpenForAdding(const std::string& directory);

  // Puts the book folder at `folder` on the shelf: loads it, writes it as a
  // book file at NewBookFilePath() and appends it to Books(). Returns the
  // book, whose Path stays the folder; `book_file`, when given, receives
  // the path written. Throws 91 before a successful Load() and 53 when
  // `folder` is no book folder, both before anything is written; a book
  // file written before a later failure stays.
  std::shared_ptr<vellix::Book> AddBookFolder(const std::string& folder, std::string* book_file = nullptr);

  // Sets Directory and keeps the folder's file list; a missing folder sets
  // Directory to "" and keeps the old list.
  void SetDirectory(const std::string& directory);
  const std::string& Directory() const { return directory_; }
  void SetBaseURL(const std::string& base_url) { base_url_ = base_url; }

  // The bookshelf text: "1", then one record per file of the kept file list
  // whose extension is exactly "imp", every line ended by LF, then one more
  // LF. Throws 91 when no file list was ever kept.
  std::string BookshelfText() const;

  // Sorts Books(), then writes the book list document to `path`. Does
  // nothing before a successful Load().
  void CreateBooklist(const std::string& path);

  // The book file whose identifier is `book_id` (first match in the kept
  // file list), or null.
  std::shared_ptr<vellix::Book> Book(const std::string& book_id) const;

  // The length L of a book file's information area (bytes 22-23).
  static int16_t BookInformationLength(const std::string& file_path);

  // Loads every device book of the folder into a new collection. A missing
  // folder sets Directory to "" and Books() to null.
  void Load(const std::string& directory);
  // As Load(), but a book that fails to load is left out of Books() and
  // returned instead of ending the load, so one damaged book does not hide
  // the others. Books() keeps the order Load() gives the readable books.
  // A folder that cannot be listed still throws.
  std::vector<UnreadableBook> LoadTolerant(const std::string& directory);
  // Does nothing.
  void Backup(const std::string& directory);
  // Orders Books() by category, title and author (dates first, by date).
  void Sort();
  std::shared_ptr<vellix::Books> Books() const { return books_; }

  // "<Directory>/<eight random capitals>.imp", never an existing file.
  std::string NewBookFilePath() const;
  // The same, with the name taken: an empty file is created there at once
  // (O_EXCL), so another thread or process adding to the same shelf can
  // never draw it too. The book written there replaces it.
  std::string ReserveBookFilePath() const;

 private:
  BatchItem AddOne(const std::string& path, const BatchOptions& options, std::shared_ptr<vellix::Book>& book) const;

  // Load() when `unreadable` is null, LoadTolerant() otherwise.
  void LoadBooks(const std::string& directory, std::vector<UnreadableBook>* unreadable);

  std::string directory_;
  std::string base_url_;
  std::optional<std::vector<std::string>> file_list_;  // full paths
  std::shared_ptr<vellix::Books> books_;
};

}  // namespace vellix
