// The main window: the bookshelf folder, the titles of its books, and the
// commands on it (Add Book, Import Book, the two exports, About).
//
// At start-up the folder box takes the folder recorded in the user's
// settings. Every change of the box that names an existing folder opens
// it, typing included; a text that names no folder keeps the open
// bookshelf and its list. Books that cannot be read are named in a warning
// bar above the list, while the others are listed; the bar is no dialog and
// never takes the keyboard from the folder box, so typing goes on. A folder
// that cannot be read at all is reported in the same bar. While no
// bookshelf is open "&Add", "&Import" and both exports are disabled.
#pragma once

#include <QMainWindow>

#include "shelf_presenter.h"

class PlatformDialogs;
class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QScrollArea;

class BookshelfWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit BookshelfWindow(PlatformDialogs& dialogs, QWidget* parent = nullptr);
  ~BookshelfWindow() override;

 private:
  void FolderChanged(const QString& text);
  void Browse();
  void AddBook();
  void ImportBook();
  void ExportBookList();
  void ExportBooklistDocument();
  void About();
  void AddTitle(const QString& title);
  void RefreshBookList();
  void UpdateCommands();
  void ShowWarning(const QString& summary, const QStringList& details);

  PlatformDialogs& dialogs_;
  ShelfPresenter presenter_;
  QLineEdit* folder_box_;
  QFrame* warning_bar_;
  QLabel* warning_summary_;
  QLabel* warning_details_;
  QScrollArea* warning_area_;
  QListWidget* list_;
  QPushButton* add_button_;
  QPushButton* import_button_;
  QAction* export_book_list_;
  QAction* export_document_;
};
