// The main window: the bookshelf folder, the titles of its books, and the
// commands on it (Add Book, the two exports, About).
//
// At start-up the folder box takes the folder recorded in the user's
// settings. Every change of the box that names an existing folder opens
// it, typing included; a text that names no folder keeps the open
// bookshelf and its list. While no bookshelf is open "&Add" and both
// exports are disabled. "&Import" is present but not yet available.
#pragma once

#include <QMainWindow>

#include "shelf_presenter.h"

class PlatformDialogs;
class QAction;
class QLineEdit;
class QListWidget;
class QPushButton;

class BookshelfWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit BookshelfWindow(PlatformDialogs& dialogs, QWidget* parent = nullptr);
  ~BookshelfWindow() override;

 private:
  void FolderChanged(const QString& text);
  void Browse();
  void AddBook();
  void ExportBookList();
  void ExportBooklistDocument();
  void About();
  void AddTitle(const QString& title);
  void RefreshBookList();
  void UpdateCommands();

  PlatformDialogs& dialogs_;
  ShelfPresenter presenter_;
  QLineEdit* folder_box_;
  QListWidget* list_;
  QPushButton* add_button_;
  QAction* export_book_list_;
  QAction* export_document_;
};
