// The Add Book dialog: the user names a book folder ("*.RES") and "&Add"
// converts it into a new book file on the bookshelf the window handed in.
//
// The dialog is made for one use. After it closes, Book() is the book that
// was added, or null when nothing was added (closed without "&Add", or the
// add failed; a failure is reported in a message box and the dialog stays
// open).
#pragma once

#include <QDialog>
#include <memory>

class PlatformDialogs;
class QLineEdit;
class QPushButton;

namespace vellix {
class Book;
class Bookshelf;
}  // namespace vellix

class AddBookDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AddBookDialog(PlatformDialogs& dialogs, QWidget* parent = nullptr);
  ~AddBookDialog() override;

  void SetBookshelf(std::shared_ptr<vellix::Bookshelf> bookshelf);
  std::shared_ptr<vellix::Book> Book() const { return book_; }
  // The book file written for it on the shelf.
  QString BookFile() const { return book_file_; }

 private:
  void Browse();
  void UpdateAddButton();
  void Add();

  PlatformDialogs& dialogs_;
  std::shared_ptr<vellix::Bookshelf> bookshelf_;
  std::shared_ptr<vellix::Book> book_;
  QString book_file_;
  QLineEdit* path_box_;
  QPushButton* add_button_;
};
