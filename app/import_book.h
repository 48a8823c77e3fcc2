// What the Import Book dialog does apart from its widgets: loading the
// chosen file as a book, deciding when "&Import Book" may be pressed, and
// handing the edited book to the bookshelf.
//
// Nothing here shows anything; failures come back as the text a message
// box shows ("description (number)").
#pragma once

#include <QString>
#include <memory>

namespace vellix {
class Book;
class Bookshelf;
struct PublishEvents;
}  // namespace vellix

// True when a regular file of that path exists ("" never names one).
bool IsFile(const QString& path);

class BookImport {
 public:
  BookImport();
  ~BookImport();
  BookImport(const BookImport&) = delete;
  BookImport& operator=(const BookImport&) = delete;

  enum class LoadResult {
    kNoFile,  // no file of that path: the loaded book stays as it was
    kLoaded,  // a new loaded book, whose fields Title() ... now give
    kFailed,  // the file would not load: no loaded book, *error says why
  };
  LoadResult LoadFile(const QString& path, QString* error);

  // The loaded book's fields as read from the file ("" for kinds whose
  // metadata is not read, such as text, and for a container that cannot be
  // read).
  QString Title() const;
  QString Author() const;
  QString Category() const;
  bool HasLoadedBook() const { return loaded_ != nullptr; }
  // True when the loaded book is a container, whose build takes the title,
  // author and category it carries: the fields shown are then its own, and
  // nothing typed would reach the book.
  bool CarriesOwnFields() const;
  // Why such a book's own fields are not shown ("" when they are, or the
  // book's fields are the user's to edit).
  const QString& FieldsUnreadable() const { return fields_unreadable_; }

  // Whether the book may be imported with these texts: a loaded book, a
  // file at `path`, and none of the three fields empty (unless the book
  // carries its own).
  bool CanImport(const QString& path, const QString& title, const QString& author, const QString& category) const;

  // Gives the loaded book the three texts as typed (unless it carries its
  // own) and adds it to `bookshelf`, publishing it there when its kind calls
  // for it. Returns false with *error set when anything fails; the book is
  // then not imported. `events` (may be null) hear how publishing goes.
  bool Import(vellix::Bookshelf* bookshelf, const QString& title, const QString& author, const QString& category,
              const vellix::PublishEvents* events, QString* error);

  // The book added by the last successful Import(), or null.
  const std::shared_ptr<vellix::Book>& imported() const { return imported_; }
  // The book file it was published to on the shelf, "" when it was added
  // as it is (a book file or container).
  const QString& imported_file() const { return imported_file_; }

 private:
  std::shared_ptr<vellix::Book> loaded_;
  std::shared_ptr<vellix::Book> imported_;
  QString imported_file_;
  QString fields_unreadable_;
};
