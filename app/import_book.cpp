#include "import_book.h"

#include <QFileInfo>
#include <stdexcept>

#include "shelf_presenter.h"
#include "vellix/book.h"
#include "vellix/bookshelf.h"

bool IsFile(const QString& path) { return !path.isEmpty() && QFileInfo(path).isFile(); }

BookImport::BookImport() = default;
BookImport::~BookImport() = default;

BookImport::LoadResult BookImport::LoadFile(const QString& path, QString* error) {
  if (!IsFile(path)) return LoadResult::kNoFile;
  auto book = std::make_shared<vellix::Book>();
  try {
    book->Load(path.toStdString());
  } catch (const std::exception& e) {
    // A half-read book would import the wrong fields: forget it.
    loaded_.reset();
    *error = ErrorText(e);
    return LoadResult::kFailed;
  }
  loaded_ = std::move(book);
  return LoadResult::kLoaded;
}

// Documents, packages and text keep their fields as read, so they show as
// they are.
QString BookImport::Title() const { return loaded_ ? QString::fromStdString(loaded_->Title()) : QString(); }
QString BookImport::Author() const { return loaded_ ? QString::fromStdString(loaded_->Author()) : QString(); }
QString BookImport::Category() const { return loaded_ ? QString::fromStdString(loaded_->Category()) : QString(); }

bool BookImport::CanImport(const QString& path, const QString& title, const QString& author,
                           const QString& category) const {
  return loaded_ && IsFile(path) && !title.isEmpty() && !author.isEmpty() && !category.isEmpty();
}

bool BookImport::Import(vellix::Bookshelf* bookshelf, const QString& title, const QString& author,
                        const QString& category, const vellix::PublishEvents* events, QString* error) {
  imported_.reset();
  imported_file_.clear();
  std::string book_file;
  try {
    if (!bookshelf) throw std::runtime_error("No bookshelf is open.");
    if (!loaded_) throw std::runtime_error("No book is chosen.");
    loaded_->SetTitle(title.toStdString());
    loaded_->SetAuthor(author.toStdString());
    loaded_->SetCategory(category.toStdString());
    bookshelf->Add(loaded_, events, &book_file);
  } catch (const std::exception& e) {
    *error = ErrorText(e);
    return false;
  }
  imported_ = loaded_;
  imported_file_ = QString::fromStdString(book_file);
  return true;
}
