#include "add_book.h"

#include "shelf_presenter.h"
#include "vellix/book.h"
#include "vellix/bookshelf.h"

bool IsBookFolderPath(const QString& path) {
  return IsFolder(path) && path.right(4).toUpper() == u".RES";
}

std::shared_ptr<vellix::Book> AddBookFolder(vellix::Bookshelf& bookshelf, const QString& path) {
  auto book = std::make_shared<vellix::Book>();
  book->Load(path.toStdString());
  book->Save(bookshelf.NewBookFilePath());
  bookshelf.Add(book);
  return book;
}
