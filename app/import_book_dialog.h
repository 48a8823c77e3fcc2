// The Import Book dialog: the user picks a document of their own (a
// container, an HTML or OEB document, a package or a text file), checks
// the title, author and category found in it, and "&Import Book" adds it
// to the bookshelf the window handed in, publishing it there with a
// progress dialog that can cancel. A container carries its own title,
// author and category, which its build uses: they are shown from it,
// disabled, with a note saying so (or why they cannot be read).
//
// The dialog is made for one use. After it closes, Book() is the book that
// was imported, or null when nothing was (closed without importing, or the
// import failed or was cancelled; a failure is reported in a message box
// and the dialog stays open). A file that fails to load is reported the
// same way, and the user may choose another. Several files chosen at once
// close the dialog and are handed back by ChosenFiles().
#pragma once

#include <QDialog>
#include <QStringList>
#include <memory>

#include "import_book.h"

class PlatformDialogs;
class QLabel;
class QLineEdit;
class QPushButton;

class ImportBookDialog : public QDialog {
  Q_OBJECT

 public:
  // The open-file dialog's choices, the first one preselected.
  static QString FileFilter();

  explicit ImportBookDialog(PlatformDialogs& dialogs, QWidget* parent = nullptr);
  ~ImportBookDialog() override;

  void SetBookshelf(std::shared_ptr<vellix::Bookshelf> bookshelf);
  // Puts `path` in the file box, which loads it and fills in its fields.
  void SetFile(const QString& path);
  std::shared_ptr<vellix::Book> Book() const { return import_.imported(); }
  // The title as it was typed for the imported book.
  QString ImportedTitle() const { return imported_title_; }
  // The book file it was published to, "" when it was added as it is.
  QString BookFile() const { return import_.imported_file(); }
  // The files chosen together in Browse when they were more than one: the
  // dialog then closes at once, importing nothing, for the caller to add
  // them all.
  const QStringList& ChosenFiles() const { return chosen_files_; }

 private:
  void Browse();
  void FileChanged();
  void LoadImportFile();
  // Whether the three fields are the user's to type or the book's own.
  void ShowWhoseFields();
  void UpdateImportButton();
  void Import();

  PlatformDialogs& dialogs_;
  std::shared_ptr<vellix::Bookshelf> bookshelf_;
  BookImport import_;
  QString imported_title_;
  QStringList chosen_files_;
  QLineEdit* file_box_;
  QLineEdit* title_box_;
  QLineEdit* author_box_;
  QLineEdit* category_box_;
  QLabel* fields_note_;
  QPushButton* import_button_;
};
