#include "import_book.h"

#include <QFileInfo>
#include <algorithm>
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
  fields_unreadable_.clear();
  try {
    book->Load(path.toStdString());
    // A container's fields are read for the dialog to show: its build uses
    // them, whatever is typed.
    std::string why;
    if (book->Extension() == "oeb" && !book->ReadContainerFields(&why))
      fields_unreadable_ = QString::fromStdString(why);
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

bool BookImport::CarriesOwnFields() const {
  if (!loaded_) return false;
  const std::string& extension = loaded_->Extension();
  return std::any_of(
      vellix::AddableFileKinds().begin(), vellix::AddableFileKinds().end(),
      [&](const vellix::AddableFileKind& kind) { return kind.carries_own_fields && extension == kind.extension; });
}

bool BookImport::CanImport(const QString& path, const QString& title, const QString& author,
                           const QString& category) const {
  if (!loaded_ || !IsFile(path)) return false;
  return CarriesOwnFields() || (!title.isEmpty() && !author.isEmpty() && !category.isEmpty());
}

bool BookImport::Import(vellix::Bookshelf* bookshelf, const QString& title, const QString& author,
                        const QString& category, const vellix::PublishEvents* events, QString* error) {
  imported_.reset();
  imported_file_.clear();
  std::string book_file;
  try {
    if (!bookshelf) throw std::runtime_error("No bookshelf is open.");
    if (!loaded_) throw std::runtime_error("No book is chosen.");
    if (!CarriesOwnFields()) {
      loaded_->SetTitle(title.toStdString());
      loaded_->SetAuthor(author.toStdString());
      loaded_->SetCategory(category.toStdString());
    }
    bookshelf->Add(loaded_, events, &book_file);
  } catch (const std::exception& e) {
    *error = ErrorText(e);
    return false;
  }
  imported_ = loaded_;
  imported_file_ = QString::fromStdString(book_file);
  return true;
}
