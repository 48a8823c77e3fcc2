#include "bookshelf_window.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>

#include "about_dialog.h"
#include "add_book_dialog.h"
#include "book_table.h"
#include "bulk_add.h"
#include "busy_cursor.h"
#include "edit_book_dialog.h"
#include "import_book_dialog.h"
#include "page_preview.h"
#include "paths.h"
#include "platform_dialogs.h"
#include "preview_window.h"
#include "shelf_row.h"
#include "vellix/book.h"
#include "vellix/bookshelf.h"
#include "window_fit.h"

namespace {

QAction* AddMenuItem(QMenu* menu, const QString& text, const char* name) {
  QAction* action = menu->addAction(text);
  action->setObjectName(QString::fromLatin1(name));
  return action;
}

// The program's own settings file, "Vellix/Publisher.conf" in the user's
// configuration folder, looked up each time (Qt would keep the first
// folder it saw); never the settings the library reads.
QSettings WindowSettings() {
  QString folder = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (!folder.startsWith(u'/')) folder = QDir::homePath() + QStringLiteral("/.config");
  return QSettings(folder + QStringLiteral("/Vellix/Publisher.conf"), QSettings::IniFormat);
}

}  // namespace

BookshelfWindow::BookshelfWindow(PlatformDialogs& dialogs, QWidget* parent) : QMainWindow(parent), dialogs_(dialogs) {
  setObjectName(QStringLiteral("frmBookshelf"));
  setWindowTitle(tr("Bookshelf"));
  setAcceptDrops(true);

  auto* frame = new QFrame(this);
  frame->setObjectName(QStringLiteral("fraBooks"));
  setCentralWidget(frame);

  auto* label = new QLabel(tr("Boo&kshelf"), frame);
  label->setObjectName(QStringLiteral("lblBookshelf"));
  folder_box_ = new QLineEdit(frame);
  folder_box_->setObjectName(QStringLiteral("txtBookshelf"));
  label->setBuddy(folder_box_);
  auto* browse = new QPushButton(tr("&Browse..."), frame);
  browse->setObjectName(QStringLiteral("cmdBrowse"));

  // The warning bar: plain labels that take no focus, so whatever it shows
  // while the user types leaves the keyboard in the folder box.
  warning_bar_ = new QFrame(frame);
  warning_bar_->setObjectName(QStringLiteral("fraUnreadable"));
  warning_bar_->setFrameShape(QFrame::StyledPanel);
  // A pale bar keeps dark text, whatever the palette's text colour is.
  warning_bar_->setStyleSheet(
      QStringLiteral("#fraUnreadable { background: #fff4ce; border: 1px solid #e0c060; }"
                     " #fraUnreadable QLabel { color: #3b2f00; }"));
  warning_summary_ = new QLabel(warning_bar_);
  warning_summary_->setObjectName(QStringLiteral("lblUnreadable"));
  warning_summary_->setTextFormat(Qt::PlainText);
  QFont bold = warning_summary_->font();
  bold.setBold(true);
  warning_summary_->setFont(bold);
  warning_details_ = new QLabel;
  warning_details_->setObjectName(QStringLiteral("lblUnreadableBooks"));
  warning_details_->setTextFormat(Qt::PlainText);  // file names are no markup
  warning_details_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  // Many damaged books scroll inside the bar instead of pushing the table away.
  warning_area_ = new QScrollArea(warning_bar_);
  warning_area_->setWidget(warning_details_);
  warning_area_->setWidgetResizable(true);
  warning_area_->setFrameShape(QFrame::NoFrame);
  warning_area_->setFocusPolicy(Qt::NoFocus);
  warning_area_->setStyleSheet(QStringLiteral("background: transparent;"));
  auto* bar_layout = new QVBoxLayout(warning_bar_);
  bar_layout->setContentsMargins(8, 6, 8, 6);
  bar_layout->addWidget(warning_summary_);
  bar_layout->addWidget(warning_area_);
  warning_bar_->hide();

  filter_box_ = new QLineEdit(frame);
  filter_box_->setObjectName(QStringLiteral("txtFilter"));
  filter_box_->setPlaceholderText(tr("Filter by title, author, category or identifier"));
  filter_box_->setClearButtonEnabled(true);

  model_ = new BookTableModel(this);
  filter_ = new BookFilterModel(this);
  filter_->setSourceModel(model_);
  table_ = new QTableView(frame);
  table_->setObjectName(QStringLiteral("lstBookshelf"));
  table_->setModel(filter_);
  table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setAlternatingRowColors(true);
  table_->setWordWrap(false);
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 8);
  table_->horizontalHeader()->setHighlightSections(false);
  table_->horizontalHeader()->setStretchLastSection(false);
  table_->horizontalHeader()->setSectionResizeMode(BookTableModel::kTitle, QHeaderView::Stretch);
  table_->setColumnWidth(BookTableModel::kAuthor, 130);
  table_->setColumnWidth(BookTableModel::kCategory, 100);
  table_->setColumnWidth(BookTableModel::kIdentifier, 90);
  table_->setColumnWidth(BookTableModel::kKind, 110);
  table_->setColumnWidth(BookTableModel::kSize, 70);
  table_->setSortingEnabled(true);
  table_->sortByColumn(BookTableModel::kTitle, Qt::AscendingOrder);
  table_->installEventFilter(this);

  preview_ = new PagePreview(frame);
  preview_->setObjectName(QStringLiteral("pagePreview"));
  preview_->setMinimumWidth(180);
  preview_->ShowPagingBar();

  splitter_ = new QSplitter(Qt::Horizontal, frame);
  splitter_->setObjectName(QStringLiteral("splBooks"));
  splitter_->addWidget(table_);
  splitter_->addWidget(preview_);
  splitter_->setStretchFactor(0, 3);
  splitter_->setStretchFactor(1, 1);
  splitter_->setSizes({620, 300});

  add_button_ = new QPushButton(tr("&Add"), frame);
  add_button_->setObjectName(QStringLiteral("cmdAdd"));
  import_button_ = new QPushButton(tr("&Import"), frame);
  import_button_->setObjectName(QStringLiteral("cmdImport"));

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(add_button_);
  buttons->addWidget(import_button_);

  auto* layout = new QGridLayout(frame);
  layout->addWidget(label, 0, 0, 1, 2);
  layout->addWidget(folder_box_, 1, 0);
  layout->addWidget(browse, 1, 1);
  layout->addWidget(warning_bar_, 2, 0, 1, 2);
  layout->addWidget(filter_box_, 3, 0, 1, 2);
  layout->addWidget(splitter_, 4, 0, 1, 2);
  layout->setRowStretch(4, 1);
  layout->addLayout(buttons, 5, 0, 1, 2);

  count_label_ = new QLabel(this);
  count_label_->setObjectName(QStringLiteral("lblBookCount"));
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("prgLoading"));
  progress_->setRange(0, 0);  // a folder's books are not counted before they are read
  progress_->setMaximumWidth(160);
  progress_->hide();
  statusBar()->addPermanentWidget(progress_);
  statusBar()->addPermanentWidget(count_label_);

  QMenu* file_menu = menuBar()->addMenu(tr("&File"));
  file_menu->setObjectName(QStringLiteral("mnuFile"));
  QAction* open_shelf = AddMenuItem(file_menu, tr("&Open Bookshelf..."), "mnuOpenBookshelf");
  open_shelf->setShortcut(QKeySequence::Open);
  file_menu->addSeparator();
  open_preview_ = AddMenuItem(file_menu, tr("&Preview"), "mnuPreview");
  save_epub_ = AddMenuItem(file_menu, tr("Save as E&PUB..."), "mnuSaveAsEpub");
  edit_ = AddMenuItem(file_menu, tr("E&dit Book..."), "mnuEditBook");
  edit_->setShortcut(Qt::Key_F2);
  remove_ = AddMenuItem(file_menu, tr("&Remove Book"), "mnuRemoveBook");
  remove_->setShortcut(QKeySequence::Delete);
  file_menu->addSeparator();
  export_book_list_ = AddMenuItem(file_menu, tr("Export &Book List"), "mnuExportBookList");
  export_document_ = AddMenuItem(file_menu, tr("&Export"), "mnuExport");
  file_menu->addSeparator();
  QAction* quit = AddMenuItem(file_menu, tr("&Quit"), "mnuQuit");
  quit->setShortcut(QKeySequence::Quit);
  QMenu* edit_menu = menuBar()->addMenu(tr("&Edit"));
  edit_menu->setObjectName(QStringLiteral("mnuEdit"));
  undo_remove_ = AddMenuItem(edit_menu, tr("&Undo Remove"), "mnuUndoRemove");
  undo_remove_->setShortcut(QKeySequence::Undo);
  QAction* find = AddMenuItem(edit_menu, tr("&Find"), "mnuFind");
  find->setShortcut(QKeySequence::Find);
  // The table's context menu: the commands on the selected books.
  table_->setContextMenuPolicy(Qt::ActionsContextMenu);
  table_->addActions({open_preview_, edit_, save_epub_, remove_});
  QMenu* help_menu = menuBar()->addMenu(tr("&Help"));
  help_menu->setObjectName(QStringLiteral("mnuHelp"));
  QAction* about = AddMenuItem(help_menu, tr("&About Vellix Publisher"), "mnuAbout");

  loader_ = new QFutureWatcher<ShelfPresenter::PendingShelf>(this);
  connect(loader_, &QFutureWatcherBase::finished, this, &BookshelfWindow::Loaded);
  connect(folder_box_, &QLineEdit::textChanged, this, &BookshelfWindow::FolderChanged);
  connect(filter_box_, &QLineEdit::textChanged, filter_, &BookFilterModel::SetFilterText);
  connect(filter_, &QAbstractItemModel::modelReset, this, &BookshelfWindow::UpdateCount);
  connect(filter_, &QAbstractItemModel::layoutChanged, this, &BookshelfWindow::UpdateCount);
  connect(filter_, &QAbstractItemModel::rowsInserted, this, &BookshelfWindow::UpdateCount);
  connect(filter_, &QAbstractItemModel::rowsRemoved, this, &BookshelfWindow::UpdateCount);
  connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this, &BookshelfWindow::SelectionChanged);
  connect(filter_, &QAbstractItemModel::modelReset, this, &BookshelfWindow::SelectionChanged);
  connect(table_, &QTableView::doubleClicked, this, &BookshelfWindow::OpenSelectedPreview);
  connect(browse, &QPushButton::clicked, this, &BookshelfWindow::Browse);
  connect(add_button_, &QPushButton::clicked, this, &BookshelfWindow::AddBook);
  connect(import_button_, &QPushButton::clicked, this, &BookshelfWindow::ImportBook);
  connect(export_book_list_, &QAction::triggered, this, &BookshelfWindow::ExportBookList);
  connect(export_document_, &QAction::triggered, this, &BookshelfWindow::ExportBooklistDocument);
  connect(about, &QAction::triggered, this, &BookshelfWindow::About);
  connect(open_shelf, &QAction::triggered, this, &BookshelfWindow::Browse);
  connect(open_preview_, &QAction::triggered, this, &BookshelfWindow::OpenSelectedPreview);
  connect(save_epub_, &QAction::triggered, this, &BookshelfWindow::SaveAsEpub);
  connect(edit_, &QAction::triggered, this, &BookshelfWindow::EditSelected);
  connect(remove_, &QAction::triggered, this, &BookshelfWindow::RemoveSelected);
  connect(undo_remove_, &QAction::triggered, this, &BookshelfWindow::UndoRemove);
  connect(find, &QAction::triggered, this, &BookshelfWindow::FocusFilter);
  connect(quit, &QAction::triggered, this, &QWidget::close);

  resize(980, 640);
  RestoreLayout();
  FitOnScreen(*this);
  UpdateCommands();
  UpdateCount();
  folder_box_->setText(StartFolder());
}

QString BookshelfWindow::StartFolder() const {
  QString remembered = WindowSettings().value(QStringLiteral("Bookshelf/folder")).toString();
  return IsFolder(remembered) ? remembered : ShelfPresenter::RecordedFolder();
}

void BookshelfWindow::RememberFolder(const QString& folder) const {
  QSettings settings = WindowSettings();
  settings.setValue(QStringLiteral("Bookshelf/folder"), folder);
}

BookshelfWindow::~BookshelfWindow() {
  SaveLayout();
  loader_->waitForFinished();  // the worker holds nothing of ours, but should not outlive us
  for (const QPointer<PreviewWindow>& window : previews_) delete window.data();
}

bool BookshelfWindow::IsLoading() const { return loading_; }

void BookshelfWindow::FolderChanged(const QString& text) {
  if (!IsFolder(text)) return;
  wanted_folder_ = text;
  if (!loader_->isRunning()) StartLoad();
}

void BookshelfWindow::StartLoad() {
  loading_ = true;
  progress_->show();
  statusBar()->showMessage(tr("Loading %1...").arg(wanted_folder_));
  ShelfPresenter::PendingShelf pending = ShelfPresenter::Prepare(wanted_folder_);
  loader_->setFuture(QtConcurrent::run([pending]() mutable {
    ShelfPresenter::Read(&pending);
    return pending;
  }));
}

void BookshelfWindow::Loaded() {
  ShelfPresenter::PendingShelf pending = loader_->result();
  // The user has typed on: the folder now named is the one to open.
  if (pending.folder != wanted_folder_) {
    StartLoad();
    return;
  }
  loading_ = false;
  progress_->hide();
  statusBar()->clearMessage();
  QString folder = pending.folder, error;
  if (presenter_.Adopt(std::move(pending), &error)) {
    RememberFolder(folder);
    last_removed_.clear();  // they belong to the shelf left
    RefreshBookList();
    UpdateCommands();
    ShowWarning(presenter_.UnreadableSummary(), presenter_.UnreadableBooks());
  } else if (!error.isEmpty()) {
    // Not a message box: the user may be typing on to another folder.
    ShowWarning(tr("This folder could not be read:"), {QStringLiteral("%1: %2").arg(folder, error)});
  }
}

void BookshelfWindow::ShowWarning(const QString& summary, const QStringList& details) {
  warning_summary_->setText(summary);
  warning_details_->setText(details.join(u'\n'));
  // As tall as the lines, up to six; more scroll.
  int most = 6 * warning_details_->fontMetrics().lineSpacing();
  warning_area_->setFixedHeight(std::min(warning_details_->sizeHint().height(), most));
  warning_bar_->setVisible(!summary.isEmpty());
}

void BookshelfWindow::Browse() {
  QString folder = dialogs_.ChooseFolder(this, tr("Choose a directory with Vellix eBooks:"));
  if (!folder.isEmpty()) folder_box_->setText(folder);
}

void BookshelfWindow::AddBook() {
  AddBookDialog dialog(dialogs_, this);
  dialog.SetBookshelf(presenter_.bookshelf());
  dialogs_.RunModal(dialog);
  ReturnFocus();
  if (auto book = dialog.Book()) model_->AddRow(presenter_.Added(*book, dialog.BookFile()));
}

void BookshelfWindow::ImportBook() { ImportFile(QString()); }

// The table and the exports show the book as they will once the bookshelf
// is opened again.
void BookshelfWindow::ImportFile(const QString& path) {
  ImportBookDialog dialog(dialogs_, this);
  dialog.SetBookshelf(presenter_.bookshelf());
  if (!path.isEmpty()) dialog.SetFile(path);
  dialogs_.RunModal(dialog);
  ReturnFocus();
  if (dialog.ChosenFiles().size() > 1) {
    QStringList problems;
    AddInBulk(dialog.ChosenFiles(), &problems);
    if (!problems.isEmpty())
      dialogs_.ShowMessage(this, tr("Vellix Publisher"), tr("Not added:\n%1").arg(problems.join(u'\n')));
    return;
  }
  if (auto book = dialog.Book()) {
    ShelfRow row = presenter_.Added(*book, dialog.BookFile());
    if (dialog.BookFile().isEmpty()) row.title = dialog.ImportedTitle();
    model_->AddRow(std::move(row));
  }
}

// One document alone is imported through Import Book, where its fields
// are checked; anything more is added in one batch, the documents with the
// fields they hold.
void BookshelfWindow::AddDropped(const QStringList& paths) {
  if (!presenter_.HasBookshelf()) {
    dialogs_.ShowMessage(this, tr("Vellix Publisher"), tr("Open a bookshelf before adding books to it."));
    return;
  }
  QStringList problems, empty;
  DroppedItems items = SortDropped(ExpandDroppedFolders(paths, &empty));
  for (const QString& folder : empty) problems << tr("%1: an empty folder").arg(folder);
  // What a dropped folder holds besides books and documents is passed over;
  // only what was dropped itself is named.
  QStringList dropped;
  for (const QString& path : paths) dropped << WithoutTrailingSlashes(path);
  for (const QString& path : items.refused)
    if (dropped.contains(path))
      problems << QStringLiteral("%1: %2").arg(path, QString::fromStdString(vellix::Bookshelf::NotAddableText()));
  if (items.book_folders.isEmpty() && items.documents.size() == 1)
    ImportFile(items.documents.first());
  else if (!items.book_folders.isEmpty() || !items.documents.isEmpty())
    AddInBulk(items.book_folders + items.documents, &problems);
  if (!problems.isEmpty())
    dialogs_.ShowMessage(this, tr("Vellix Publisher"), tr("Not added:\n%1").arg(problems.join(u'\n')));
}

void BookshelfWindow::AddInBulk(const QStringList& sources, QStringList* problems) {
  const BulkAddOutcome outcome =
      AddManyWithProgress(this, QString::fromStdString(presenter_.bookshelf()->Directory()), sources);
  ReturnFocus();
  for (ShelfRow& row : presenter_.Reload(outcome.book_files, problems)) model_->AddRow(std::move(row));
  *problems << outcome.problems;
  QString done = tr("%1 of %2 books added").arg(outcome.book_files.size()).arg(sources.size());
  if (outcome.stopped > 0) done += tr("; cancelled before the other %1").arg(outcome.stopped);
  statusBar()->showMessage(done, 10000);
}

void BookshelfWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!presenter_.HasBookshelf() || !event->mimeData()->hasUrls()) return;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) {
      event->acceptProposedAction();
      return;
    }
  }
}

void BookshelfWindow::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  event->acceptProposedAction();
  AddDropped(paths);
}

bool BookshelfWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == table_ && event->type() == QEvent::KeyPress) {
    int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      OpenSelectedPreview();
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

// The current book when it is selected, else the first selected one.
QString BookshelfWindow::SelectedPath() const {
  QItemSelectionModel* selection = table_->selectionModel();
  if (selection->isRowSelected(selection->currentIndex().row(), QModelIndex()))
    return selection->currentIndex().data(BookTableModel::kPathRole).toString();
  QModelIndexList rows = selection->selectedRows();
  return rows.isEmpty() ? QString() : rows.first().data(BookTableModel::kPathRole).toString();
}

// In the order the table shows them.
QStringList BookshelfWindow::SelectedPaths() const {
  QModelIndexList rows = table_->selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  QStringList paths;
  for (const QModelIndex& row : rows) paths << row.data(BookTableModel::kPathRole).toString();
  return paths;
}

void BookshelfWindow::SelectionChanged() {
  QString path = SelectedPath();
  if (path != preview_->path()) preview_->ShowBook(path);
  UpdateCommands();
}

// After a dialog the keyboard is the window's again, on the books.
void BookshelfWindow::ReturnFocus() {
  activateWindow();
  table_->setFocus(Qt::OtherFocusReason);
}

// Not selectRow(), which adds to the selection while Ctrl is held.
void BookshelfWindow::SelectOnly(int row) {
  table_->selectionModel()->setCurrentIndex(filter_->index(row, 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void BookshelfWindow::FocusFilter() {
  filter_box_->setFocus(Qt::ShortcutFocusReason);
  filter_box_->selectAll();
}

void BookshelfWindow::RemoveSelected() {
  const QStringList paths = SelectedPaths();
  if (paths.isEmpty()) return;
  const int first_row = table_->selectionModel()->selectedRows().value(0).row();
  QStringList problems;
  QVector<TrashedBook> moved = MoveBooksToTrash(paths, &problems);
  if (!moved.isEmpty()) {
    QStringList gone;
    for (const TrashedBook& book : moved) gone << book.path;
    presenter_.Forget(gone);
    model_->RemoveRows(gone);
    last_removed_ = std::move(moved);
    statusBar()->showMessage(gone.size() == 1
                                 ? tr("1 book moved to the trash (Ctrl+Z brings it back)")
                                 : tr("%1 books moved to the trash (Ctrl+Z brings them back)").arg(gone.size()));
    // The next book takes the place of those removed.
    if (filter_->rowCount() > 0) SelectOnly(std::min(first_row, filter_->rowCount() - 1));
  }
  UpdateCommands();
  if (!problems.isEmpty())
    dialogs_.ShowMessage(this, tr("Vellix Publisher"), tr("Not removed:\n%1").arg(problems.join(u'\n')));
}

void BookshelfWindow::UndoRemove() {
  if (last_removed_.isEmpty()) return;
  QStringList problems;
  const QStringList restored = RestoreBooksFromTrash(last_removed_, &problems);
  last_removed_.clear();
  for (ShelfRow& row : presenter_.Reload(restored, &problems)) model_->AddRow(std::move(row));
  statusBar()->clearMessage();
  UpdateCommands();
  if (!problems.isEmpty())
    dialogs_.ShowMessage(this, tr("Vellix Publisher"), tr("Not brought back:\n%1").arg(problems.join(u'\n')));
}

// The file name an EPUB book of the book at `path` is proposed under: its
// title, made a file name, or else the book file's base name.
QString BookshelfWindow::EpubName(const QString& path) const {
  QString name;
  for (const ShelfRow& row : model_->rows())
    if (row.path == path) name = row.title;
  // A title is no path: what a file name cannot hold becomes a dash.
  static const QRegularExpression kNotInNames(QStringLiteral("[/\\\\:*?\"<>|\\x00-\\x1f]"));
  name = name.replace(kNotInNames, QStringLiteral("-")).trimmed();
  if (name.isEmpty() || name.startsWith(u'.')) name = BaseName(path);
  return name + QStringLiteral(".epub");
}

// One book is saved where the user names, proposed beside the bookshelf
// folder; several go into a folder the user picks, each under its own
// title, beside any file already there rather than over it.
void BookshelfWindow::SaveAsEpub() {
  const QStringList paths = SelectedPaths();
  if (paths.isEmpty()) return;
  QStringList targets;
  if (paths.size() == 1) {
    const QString folder = ParentFolder(QString::fromStdString(presenter_.bookshelf()->Directory()));
    QString file = dialogs_.SaveFileName(this, tr("Save as EPUB"), JoinPath(folder, EpubName(paths.first())),
                                         tr("EPUB Book (*.epub)"));
    if (file.isEmpty()) return;
    if (!file.endsWith(QStringLiteral(".epub"), Qt::CaseInsensitive)) file += QStringLiteral(".epub");
    targets << file;
  } else {
    const QString folder = dialogs_.ChooseFolder(this, tr("Choose a folder for the %1 EPUB books:").arg(paths.size()));
    if (folder.isEmpty()) return;
    for (const QString& path : paths) {
      const QString name = EpubName(path);
      QString file = JoinPath(folder, name);
      for (int n = 2; QFileInfo::exists(file) || targets.contains(file); ++n)
        file = JoinPath(folder, QStringLiteral("%1 (%2).epub").arg(name.chopped(5)).arg(n));
      targets << file;
    }
  }
  QStringList problems;
  int saved = 0;
  {
    BusyCursor busy;
    for (int n = 0; n < paths.size(); ++n) {
      try {
        vellix::Book book;
        book.Load(paths[n].toStdString());
        book.SaveAsEpub(targets[n].toStdString());
        ++saved;
      } catch (const std::exception& e) {
        problems << (paths.size() == 1 ? ErrorText(e) : QStringLiteral("%1: %2").arg(paths[n], ErrorText(e)));
      }
    }
  }
  if (saved > 0)
    statusBar()->showMessage(
        saved == 1 && paths.size() == 1 ? tr("Saved %1").arg(targets.first()) : tr("%1 books saved as EPUB").arg(saved),
        5000);
  if (!problems.isEmpty())
    dialogs_.ShowMessage(this, tr("Vellix Publisher"), tr("Not saved as EPUB:\n%1").arg(problems.join(u'\n')));
}

void BookshelfWindow::EditSelected() {
  const QString path = SelectedPath();
  if (path.isEmpty()) return;
  EditBookDialog dialog(this);
  for (const ShelfRow& row : model_->rows())
    if (row.path == path) dialog.SetFields(row.title, row.author, row.category);
  const bool accepted = dialogs_.RunModal(dialog) == QDialog::Accepted;
  ReturnFocus();
  if (!accepted) return;
  ShelfRow row;
  QString problem;
  {
    BusyCursor busy;
    problem = presenter_.Edit(path, dialog.Title(), dialog.Author(), dialog.Category(), &row);
  }
  if (!problem.isEmpty()) {
    dialogs_.ShowMessage(this, tr("Vellix Publisher"), tr("The book was not changed:\n%1").arg(problem));
    return;
  }
  model_->RemoveRows({path});
  model_->AddRow(std::move(row));
  SelectPath(path);
}

// The book stays the current one wherever its new title sorts it.
void BookshelfWindow::SelectPath(const QString& path) {
  for (int n = 0; n < filter_->rowCount(); ++n)
    if (filter_->index(n, 0).data(BookTableModel::kPathRole).toString() == path) SelectOnly(n);
}

void BookshelfWindow::OpenSelectedPreview() {
  QString path = SelectedPath();
  if (!path.isEmpty()) OpenPreview(path);
}

PreviewWindow* BookshelfWindow::OpenPreview(const QString& path) {
  previews_.removeAll(nullptr);
  for (const QPointer<PreviewWindow>& window : previews_) {
    if (window->path() == path) {
      window->show();
      window->raise();
      window->activateWindow();
      return window;
    }
  }
  QString title;
  for (const ShelfRow& row : model_->rows())
    if (row.path == path) title = row.title;
  auto* window = new PreviewWindow(path, title.isEmpty() ? BaseName(path) : title);
  previews_ << window;
  window->show();
  return window;
}

void BookshelfWindow::ExportBookList() {
  ShelfPresenter::BookListExport target = presenter_.PrepareBookListExport();
  QString file = dialogs_.SaveFileName(this, tr("Export Book List"), target.proposed_file, tr("Book List (*.txt)"));
  if (file.isEmpty()) return;
  QString problem;
  {
    BusyCursor busy;
    problem = presenter_.WriteBookList(target, file);
  }
  if (!problem.isEmpty())
    dialogs_.ShowMessage(this, tr("Vellix Publisher"), tr("The book list was not exported:\n%1").arg(problem));
}

void BookshelfWindow::ExportBooklistDocument() {
  QString file =
      dialogs_.SaveFileName(this, tr("Export"), presenter_.ProposedBooklistDocument(), tr("Web Page (*.htm)"));
  if (file.isEmpty()) return;
  QString problem;
  {
    BusyCursor busy;
    problem = presenter_.WriteBooklistDocument(file);
  }
  if (!problem.isEmpty())
    dialogs_.ShowMessage(this, tr("Vellix Publisher"), tr("The book list document was not exported:\n%1").arg(problem));
}

void BookshelfWindow::About() {
  AboutDialog dialog(dialogs_, this);
  dialogs_.RunModal(dialog);
}

void BookshelfWindow::RefreshBookList() {
  model_->SetRows(presenter_.Rows());
  // The first book is previewed at once.
  if (filter_->rowCount() > 0) SelectOnly(0);
}

void BookshelfWindow::UpdateCommands() {
  bool open = presenter_.HasBookshelf();
  add_button_->setEnabled(open);
  import_button_->setEnabled(open);
  export_book_list_->setEnabled(open);
  export_document_->setEnabled(open);
  const bool selected = open && table_->selectionModel()->hasSelection();
  open_preview_->setEnabled(selected);
  save_epub_->setEnabled(selected);
  edit_->setEnabled(selected);
  remove_->setEnabled(selected);
  undo_remove_->setEnabled(open && !last_removed_.isEmpty());
}

void BookshelfWindow::UpdateCount() {
  count_label_->setText(presenter_.HasBookshelf() ? BookCountText(filter_->rowCount(), model_->rowCount())
                                                  : tr("No bookshelf open"));
}

void BookshelfWindow::RestoreLayout() {
  QSettings settings = WindowSettings();
  settings.beginGroup(QStringLiteral("MainWindow"));
  if (settings.contains(QStringLiteral("geometry")))
    restoreGeometry(settings.value(QStringLiteral("geometry")).toByteArray());
  if (settings.contains(QStringLiteral("splitter")))
    splitter_->restoreState(settings.value(QStringLiteral("splitter")).toByteArray());
  int column = settings.value(QStringLiteral("sortColumn"), int(BookTableModel::kTitle)).toInt();
  if (column < 0 || column >= BookTableModel::kColumnCount) column = BookTableModel::kTitle;
  auto order = settings.value(QStringLiteral("sortOrder"), 0).toInt() == 1 ? Qt::DescendingOrder : Qt::AscendingOrder;
  table_->sortByColumn(column, order);
}

void BookshelfWindow::SaveLayout() const {
  QSettings settings = WindowSettings();
  settings.beginGroup(QStringLiteral("MainWindow"));
  settings.setValue(QStringLiteral("geometry"), saveGeometry());
  settings.setValue(QStringLiteral("splitter"), splitter_->saveState());
  settings.setValue(QStringLiteral("sortColumn"), table_->horizontalHeader()->sortIndicatorSection());
  settings.setValue(QStringLiteral("sortOrder"),
                    table_->horizontalHeader()->sortIndicatorOrder() == Qt::DescendingOrder ? 1 : 0);
}
