#include "shelf_presenter.h"

#include <QDir>
#include <QFileInfo>
#include <filesystem>
#include <system_error>
#include <vector>

#include "vellix/application.h"
#include "vellix/book.h"
#include "vellix/booklist.h"
#include "vellix/bookshelf.h"
#include "vellix/error.h"
#include "vellix/formats/markup.h"

namespace {

std::string Utf8(const QString& text) { return text.toStdString(); }

QString WithoutTrailingSlashes(QString path) {
  while (path.size() > 1 && path.endsWith(u'/')) path.chop(1);
  return path;
}

// `name` in `folder`, or `name` alone when there is no folder. An empty
// name leaves the folder with its separator, as the dialogs expect.
QString JoinPath(const QString& folder, const QString& name) {
  if (folder.isEmpty()) return name;
  if (name.isEmpty()) return folder.endsWith(u'/') ? folder : folder + u'/';
  return QDir(folder).filePath(name);
}

// The last component of `path`, extension included.
QString BaseFileName(const QString& path) { return QFileInfo(WithoutTrailingSlashes(path)).fileName(); }

}  // namespace

QString ErrorText(const std::exception& error) {
  if (const auto* automation = dynamic_cast<const vellix::AutomationError*>(&error)) {
    // The first line is the classic message; what it concerns goes below.
    QString text =
        QStringLiteral("%1 (%2)").arg(QString::fromStdString(automation->description())).arg(automation->number());
    if (!automation->detail().empty()) text += u'\n' + QString::fromStdString(automation->detail());
    return text;
  }
  return QString::fromLocal8Bit(error.what());
}

bool IsFolder(const QString& path) {
  if (path.isEmpty()) return false;
  std::error_code ec;
  return std::filesystem::is_directory(std::filesystem::path(Utf8(path)), ec);
}

QString ParentFolder(const QString& path) {
  QString trimmed = WithoutTrailingSlashes(path);
  // A bare name has no folder here (not "."), and the root has no parent.
  if (!trimmed.contains(u'/') || trimmed == u"/") return QString();
  return QFileInfo(trimmed).path();
}

QString ReadableText(const std::string& stored) { return QString::fromStdString(vellix::UnescapeMarkup(stored)); }

QString BaseName(const QString& path) {
  QFileInfo info(WithoutTrailingSlashes(path));
  // A name that only starts with a dot keeps it.
  return info.completeBaseName().isEmpty() ? info.fileName() : info.completeBaseName();
}

ShelfPresenter::ShelfPresenter() = default;
ShelfPresenter::~ShelfPresenter() = default;

QString ShelfPresenter::RecordedFolder() { return QString::fromStdString(vellix::Application::BookshelfDirectory()); }

bool ShelfPresenter::Open(const QString& folder, QString* error) {
  error->clear();
  if (!IsFolder(folder)) return false;
  try {
    auto shelf = std::make_shared<vellix::Bookshelf>();
    std::vector<vellix::UnreadableBook> unreadable = shelf->LoadTolerant(Utf8(folder));
    // The folder may have gone between the test and the load.
    if (!shelf->Books()) return false;
    bookshelf_ = std::move(shelf);
    unreadable_.clear();
    for (const vellix::UnreadableBook& book : unreadable)
      unreadable_ << QStringLiteral("%1: %2 (%3)")
                         .arg(BaseFileName(QString::fromStdString(book.path)), QString::fromStdString(book.description))
                         .arg(book.number);
    return true;
  } catch (const std::exception& e) {
    *error = ErrorText(e);
    return false;
  }
}

QStringList ShelfPresenter::Titles() const {
  QStringList titles;
  if (!bookshelf_ || !bookshelf_->Books()) return titles;
  for (const auto& book : *bookshelf_->Books()) titles << ReadableText(book->Title());
  return titles;
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

bool ShelfPresenter::WriteBookList(const BookListExport& export_info, const QString& file) const {
  if (export_info.base_url.isEmpty() || file.isEmpty() || !bookshelf_ || !bookshelf_->Books()) return false;
  try {
    vellix::WriteBookListText(*bookshelf_->Books(), Utf8(export_info.base_url), Utf8(file));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

QString ShelfPresenter::ProposedBooklistDocument() const {
  if (!bookshelf_) return QString();
  QString folder = QString::fromStdString(bookshelf_->Directory());
  return JoinPath(ParentFolder(folder), BaseName(folder) + QStringLiteral(".htm"));
}

bool ShelfPresenter::WriteBooklistDocument(const QString& file) const {
  if (file.isEmpty() || !bookshelf_) return false;
  try {
    bookshelf_->CreateBooklist(Utf8(file));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}
