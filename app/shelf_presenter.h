// The main window's state and commands, kept apart from the widgets.
//
// The presenter holds the one open bookshelf and turns the window's
// commands into calls on the library. It shows nothing itself: the window
// asks it what to propose, shows the dialogs, and hands the answers back.
// Paths are handled as paths.h says; the rows of the books are made as
// shelf_row.h says.
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>
#include <exception>
#include <memory>

#include "shelf_row.h"

namespace vellix {
class Book;
class Bookshelf;
}  // namespace vellix

// How an error reads in a message box: "description (number)" for a
// library error, with its detail (the file it concerns) on a second line;
// the plain message for anything else.
QString ErrorText(const std::exception& error);

// Files and folders dropped onto the window, by what becomes of them: book
// folders are added as Add Book adds them, documents, packages, containers
// and text are imported one by one, anything else is refused.
struct DroppedItems {
  QStringList book_folders;
  QStringList documents;
  QStringList refused;
};
DroppedItems SortDropped(const QStringList& paths);

// The status bar's count: "No books", "1 book", "12 books"; "3 of 12 books"
// while a filter hides some.
QString BookCountText(int shown, int total);

class ShelfPresenter {
 public:
  ShelfPresenter();
  ~ShelfPresenter();
  ShelfPresenter(const ShelfPresenter&) = delete;
  ShelfPresenter& operator=(const ShelfPresenter&) = delete;

  // The bookshelf folder recorded in the user's settings ("" when unset).
  static QString RecordedFolder();

  // Loads `folder` into a new bookshelf and makes it the open one. Books
  // that cannot be read are left out and named by UnreadableBooks(), so one
  // damaged book does not hide the others. Returns false and keeps the open
  // bookshelf when no such folder exists (with *error "") or when the
  // folder itself cannot be read (with *error describing it).
  bool Open(const QString& folder, QString* error);

  // Open() in two steps, so that a large shelf is read off the
  // user-interface thread: Prepare (on that thread) makes an empty shelf
  // for `folder`, Read (on any thread, touching nothing else) reads the
  // books into it, and Adopt (on the interface thread again) opens it when
  // it was read, with the same results as Open().
  struct PendingShelf {
    QString folder;
    std::shared_ptr<vellix::Bookshelf> bookshelf;
    QStringList unreadable;
    bool found = false;
    QString error;
  };
  static PendingShelf Prepare(const QString& folder);
  static void Read(PendingShelf* pending);
  bool Adopt(PendingShelf pending, QString* error);

  // The books of the open bookshelf that could not be read, one line each:
  // "<file name>: <description> (<number>)". Empty when all were read.
  const QStringList& UnreadableBooks() const { return unreadable_; }
  // "1 book could not be read:", "2 books could not be read:" ...; "" when
  // every book was read.
  QString UnreadableSummary() const;

  bool HasBookshelf() const { return bookshelf_ != nullptr; }
  // The open bookshelf, or null.
  const std::shared_ptr<vellix::Bookshelf>& bookshelf() const { return bookshelf_; }

  // The titles of the open bookshelf's books in collection order, as people
  // read them ("Salt & Pepper", not the stored "Salt &amp; Pepper"); none
  // while no bookshelf is open.
  QStringList Titles() const;
  // The same books as table rows.
  QVector<ShelfRow> Rows() const;

  // Takes in a book the dialogs or a drop just added to the open
  // bookshelf: when a book file was written for it on the shelf, the
  // collection's book becomes that file as read back (identifier, size and
  // file name included), so the exports list it as they will after a
  // reload. Returns its table row.
  ShelfRow Added(vellix::Book& book, const QString& book_file);

  // Writes the title, author and category into the book at `path` (a book
  // file or book folder of the open bookshelf), rewriting it safely, and
  // puts its new row in *row. Returns "" when it was written, and otherwise
  // what stopped it, for a message box; the book is then as it was.
  QString Edit(const QString& path, const QString& title, const QString& author, const QString& category,
               ShelfRow* row);

  // Takes the books at `paths` out of the open bookshelf's collection, so
  // that the exports no longer list them; their files are the caller's.
  void Forget(const QStringList& paths);
  // Reads the books at `paths` into the collection again (after an undone
  // removal) and returns their rows; one that cannot be read is named in
  // *problems and left out.
  QVector<ShelfRow> Reload(const QStringList& paths, QStringList* problems);

  // The book list text export. Prepare reads the remote address and the
  // device folder from the settings and proposes "<parent of the device
  // folder>/<file name of the address>"; Write then writes one line per
  // book with the address's base. Write writes nothing without a remote
  // address or an open bookshelf. Both writes return "" when the file was
  // written and otherwise what stopped them, for a message box; they never
  // throw.
  struct BookListExport {
    QString base_url;
    QString proposed_file;
  };
  BookListExport PrepareBookListExport() const;
  QString WriteBookList(const BookListExport& export_info, const QString& file) const;

  // The book list document export: proposes "<parent of the bookshelf
  // folder>/<its base name>.htm" ("" without a bookshelf).
  QString ProposedBooklistDocument() const;
  QString WriteBooklistDocument(const QString& file) const;

 private:
  std::shared_ptr<vellix::Bookshelf> bookshelf_;
  QStringList unreadable_;
};
