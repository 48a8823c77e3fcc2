// The main window: the bookshelf folder, its books in a table beside a
// preview of the selected book's first page, and the commands on it (Add
// Book, Import Book, the two exports, About).
//
// At start-up the folder box takes the folder recorded in the user's
// settings. Every change of the box that names an existing folder opens
// it, typing included; a text that names no folder keeps the open
// bookshelf and its table. The folder is read on a worker thread while the
// status bar shows that it is loading, so a shelf of thousands of books
// leaves the window responsive; when the user types on, only the last
// folder named is opened. Books that cannot be read are named in a warning
// bar above the table, while the others are listed; the bar is no dialog
// and never takes the keyboard from the folder box. A folder that cannot be
// read at all is reported in the same bar. While no bookshelf is open
// "&Add", "&Import" and both exports are disabled. An export that cannot
// be written, or a book list without the remote bookshelf's address, is
// reported in a message box; a cancelled one says nothing.
//
// The table sorts by any column (by title, ignoring case, at first) and
// narrows to the books whose title, author, category or identifier hold
// what is typed in the filter box. Double-click or Enter on a book opens
// its preview window. One document dropped onto the window opens Import
// Book on it; more, book folders, and folders of them are published in one
// batch on worker threads under one progress dialog (bulk_add.h). The window's size, its splitter and the sort column
// are kept in the program's own settings file, and so is the last bookshelf opened: the next start opens it again while
// it exists, and falls back to the folder the library's settings record otherwise (which are only ever read).
//
// Edit Book (F2) changes the current book's title, author and category,
// rewriting its file. Several books may be selected. Remove Book (Delete)
// moves their files to
// the desktop's trash and Undo Remove (Ctrl+Z) brings the last ones back;
// Save as EPUB writes the selected books as EPUB books. The table's
// context menu offers the same commands.
#pragma once

#include <QFutureWatcher>
#include <QMainWindow>
#include <QPointer>

#include "book_trash.h"
#include "shelf_presenter.h"

class BookFilterModel;
class BookTableModel;
class PagePreview;
class PlatformDialogs;
class PreviewWindow;
class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QSplitter;
class QTableView;

class BookshelfWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit BookshelfWindow(PlatformDialogs& dialogs, QWidget* parent = nullptr);
  ~BookshelfWindow() override;

  // True while a folder is being read.
  bool IsLoading() const;
  // Adds dropped files and folders (what a drop onto the window does).
  void AddDropped(const QStringList& paths);
  // Opens (or raises) the preview window of the book at `path`.
  PreviewWindow* OpenPreview(const QString& path);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FolderChanged(const QString& text);
  void StartLoad();
  void Loaded();
  void Browse();
  void AddBook();
  void ImportBook();
  void ImportFile(const QString& path);
  void AddInBulk(const QStringList& sources, QStringList* problems);
  void ExportBookList();
  void ExportBooklistDocument();
  void About();
  void RemoveSelected();
  void UndoRemove();
  void SaveAsEpub();
  QString EpubName(const QString& path) const;
  void EditSelected();
  void SelectPath(const QString& path);
  void FocusFilter();
  void SelectOnly(int row);
  void ReturnFocus();
  QStringList SelectedPaths() const;
  QString StartFolder() const;
  void RememberFolder(const QString& folder) const;
  void RefreshBookList();
  void UpdateCommands();
  void UpdateCount();
  void SelectionChanged();
  void OpenSelectedPreview();
  QString SelectedPath() const;
  void ShowWarning(const QString& summary, const QStringList& details);
  void RestoreLayout();
  void SaveLayout() const;

  PlatformDialogs& dialogs_;
  ShelfPresenter presenter_;
  // The folder being read; a later change of the box supersedes it.
  QFutureWatcher<ShelfPresenter::PendingShelf>* loader_;
  QString wanted_folder_;
  bool loading_ = false;
  BookTableModel* model_;
  BookFilterModel* filter_;
  QLineEdit* folder_box_;
  QLineEdit* filter_box_;
  QFrame* warning_bar_;
  QLabel* warning_summary_;
  QLabel* warning_details_;
  QScrollArea* warning_area_;
  QSplitter* splitter_;
  QTableView* table_;
  PagePreview* preview_;
  QPushButton* add_button_;
  QPushButton* import_button_;
  QAction* export_book_list_;
  QAction* export_document_;
  QAction* open_preview_;
  QAction* save_epub_;
  QAction* edit_;
  QAction* remove_;
  QAction* undo_remove_;
  // The books the last removal moved to the trash, for Undo Remove.
  QVector<TrashedBook> last_removed_;
  QLabel* count_label_;
  QProgressBar* progress_;
  QList<QPointer<PreviewWindow>> previews_;
};
