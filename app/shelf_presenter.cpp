#include "shelf_presenter.h"

#include <QFileInfo>
#include <utility>
#include <vector>

#include "paths.h"
#include "vellix/application.h"
#include "vellix/book.h"
#include "vellix/booklist.h"
#include "vellix/bookshelf.h"
#include "vellix/error.h"

namespace {

std::string Utf8(const QString& text) { return text.toStdString(); }

}  // namespace

QString ErrorText(const std::exception& error) {
  if (const auto* automation = dynamic_cast<const vellix::formats::AutomationError*>(&error)) {
    // The first line is the classic message; what it concerns goes below.
    QString text =
        QStringLiteral("%1 (%2)").arg(QString::fromStdString(automation->description())).arg(automation->number());
    if (!automation->detail().empty()) text += u'\n' + QString::fromStdString(automation->detail());
    return text;
  }
  return QString::fromLocal8Bit(error.what());
}

DroppedItems SortDropped(const QStringList& paths) {
  DroppedItems items;
  for (const QString& path : paths) {
    QString trimmed = WithoutTrailingSlashes(path);
    QFileInfo info(trimmed);
    if (info.isDir() && trimmed.endsWith(QStringLiteral(".res"), Qt::CaseInsensitive))
      items.book_folders << trimmed;
    else if (info.isFile() && vellix::Bookshelf::IsAddableFileKind(info.suffix().toStdString()))
      items.documents << trimmed;
    else
      items.refused << trimmed;
  }
  return items;
}

QString BookCountText(int shown, int total) {
  if (total == 0) return QStringLiteral("No books");
  QString books = total == 1 ? QStringLiteral("1 book") : QStringLiteral("%1 books").arg(total);
  return shown == total ? books : QStringLiteral("%1 of %2").arg(shown).arg(books);
}

ShelfPresenter::ShelfPresenter() = default;
ShelfPresenter::~ShelfPresenter() = default;

QString ShelfPresenter::RecordedFolder() { return QString::fromStdString(vellix::Application::BookshelfDirectory()); }

ShelfRow ShelfPresenter::Added(vellix::Book& book, const QString& book_file) {
  if (!book_file.isEmpty()) {
    try {
      vellix::Book written;
      written.Load(Utf8(book_file));
      // The collection holds `book` itself: it becomes the book file.
      if (!written.Path().empty()) book = written;
    } catch (const std::exception&) {
      // Listed as it was added; a reload names the file if it is damaged.
    }
  }
  return RowForBook(book, book_file);
}

QString ShelfPresenter::Edit(const QString& path, const QString& title, const QString& author, const QString& category,
                             ShelfRow* row) {
  if (!bookshelf_ || !bookshelf_->Books()) return QStringLiteral("No bookshelf is open.");
  for (const auto& book : *bookshelf_->Books()) {
    if (QString::fromStdString(book->Path()) != path) continue;
    try {
      book->WriteInformation(Utf8(title), Utf8(author), Utf8(category));
    } catch (const std::exception& e) {
      return ErrorText(e);
    }
    *row = RowForBook(*book);
    return QString();
  }
  return QStringLiteral("%1 is no longer on the bookshelf.").arg(path);
}

void ShelfPresenter::Forget(const QStringList& paths) {
  if (!bookshelf_ || !bookshelf_->Books()) return;
  vellix::Books& books = *bookshelf_->Books();
  for (int32_t n = books.Count(); n >= 1; --n)
    if (paths.contains(QString::fromStdString(books.Item(n)->Path()))) books.Remove(n);
}

QVector<ShelfRow> ShelfPresenter::Reload(const QStringList& paths, QStringList* problems) {
  QVector<ShelfRow> rows;
  if (!bookshelf_ || !bookshelf_->Books()) return rows;
  for (const QString& path : paths) {
    try {
      rows.push_back(RowForBook(*bookshelf_->Books()->Add(Utf8(path))));
    } catch (const std::exception& e) {
      *problems << QStringLiteral("%1: %2").arg(path, ErrorText(e));
    }
  }
  return rows;
}

bool ShelfPresenter::Open(const QString& folder, QString* error) {
  PendingShelf pending = Prepare(folder);
  Read(&pending);
  return Adopt(std::move(pending), error);
}

ShelfPresenter::PendingShelf ShelfPresenter::Prepare(const QString& folder) {
  PendingShelf pending;
  pending.folder = folder;
  try {
    pending.bookshelf = std::make_shared<vellix::Bookshelf>();
  } catch (const std::exception& e) {
    pending.error = ErrorText(e);
  }
  return pending;
}

void ShelfPresenter::Read(PendingShelf* pending) {
  if (!pending->bookshelf || !IsFolder(pending->folder)) return;
  try {
    std::vector<vellix::UnreadableBook> unreadable = pending->bookshelf->LoadTolerant(Utf8(pending->folder));
    // The folder may have gone between the test and the load.
    pending->found = pending->bookshelf->Books() != nullptr;
    for (const vellix::UnreadableBook& book : unreadable)
      pending->unreadable << QStringLiteral("%1: %2 (%3)")
                                 .arg(FileName(QString::fromStdString(book.path)),
                                      QString::fromStdString(book.description))
                                 .arg(book.number);
  } catch (const std::exception& e) {
    pending->found = false;
    pending->error = ErrorText(e);
  }
}

bool ShelfPresenter::Adopt(PendingShelf pending, QString* error) {
  error->clear();
  if (!pending.found) {
    *error = pending.error;
    return false;
  }
  bookshelf_ = std::move(pending.bookshelf);
  unreadable_ = std::move(pending.unreadable);
  return true;
}

QStringList ShelfPresenter::Titles() const {
  QStringList titles;
  if (!bookshelf_ || !bookshelf_->Books()) return titles;
  for (const auto& book : *bookshelf_->Books()) titles << ReadableText(book->Title());
  return titles;
}

QVector<ShelfRow> ShelfPresenter::Rows() const {
  QVector<ShelfRow> rows;
  if (!bookshelf_ || !bookshelf_->Books()) return rows;
  rows.reserve(static_cast<qsizetype>(bookshelf_->Books()->Count()));
  for (const auto& book : *bookshelf_->Books()) rows.push_back(RowForBook(*book));
  return rows;
}

QString ShelfPresenter::UnreadableSummary() const {
  if (unreadable_.isEmpty()) return QString();
  if (unreadable_.size() == 1) return QStringLiteral("1 book could not be read:");
  return QStringLiteral("%1 books could not be read:").arg(unreadable_.size());
}

ShelfPresenter::BookListExport ShelfPresenter::PrepareBookListExport() const {
  BookListExport result;
  try {
    vellix::RemoteBookShelf remote = vellix::RemoteBookShelfLocation();
    result.base_url = QString::fromStdString(remote.base_url);
    result.proposed_file = JoinPath(ParentFolder(QString::fromStdString(vellix::Application::DskDirectory())),
                                    QString::fromStdString(remote.file_name));
  } catch (const std::exception&) {
    // An unreadable setting counts as a missing one.
  }
  return result;
}

QString ShelfPresenter::WriteBookList(const BookListExport& export_info, const QString& file) const {
  if (export_info.base_url.isEmpty())
    return QStringLiteral(
        "The book list needs the web address of the remote bookshelf, and none is set "
        "(RemoteBookShelfUrl in the [Sites] section of the library's settings).");
  if (!bookshelf_ || !bookshelf_->Books()) return QStringLiteral("No bookshelf is open.");
  try {
    vellix::WriteBookListText(*bookshelf_->Books(), Utf8(export_info.base_url), Utf8(file));
    return QString();
  } catch (const std::exception& e) {
    return ErrorText(e);
  }
}

QString ShelfPresenter::ProposedBooklistDocument() const {
  if (!bookshelf_) return QString();
  QString folder = QString::fromStdString(bookshelf_->Directory());
  return JoinPath(ParentFolder(folder), BaseName(folder) + QStringLiteral(".htm"));
}

QString ShelfPresenter::WriteBooklistDocument(const QString& file) const {
  if (!bookshelf_ || !bookshelf_->Books()) return QStringLiteral("No bookshelf is open.");
  try {
    bookshelf_->CreateBooklist(Utf8(file));
    return QString();
  } catch (const std::exception& e) {
    return ErrorText(e);
  }
}
