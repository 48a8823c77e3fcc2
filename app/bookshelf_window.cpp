#include "bookshelf_window.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>

#include "about_dialog.h"
#include "add_book_dialog.h"
#include "busy_cursor.h"
#include "import_book_dialog.h"
#include "platform_dialogs.h"
#include "vellix/book.h"

namespace {

// Titles sort alphabetically, ignoring letter case.
class TitleItem : public QListWidgetItem {
 public:
  using QListWidgetItem::QListWidgetItem;
  bool operator<(const QListWidgetItem& other) const override {
    int order = text().compare(other.text(), Qt::CaseInsensitive);
    return order != 0 ? order < 0 : text() < other.text();
  }
};

QAction* AddMenuItem(QMenu* menu, const QString& text, const char* name) {
  QAction* action = menu->addAction(text);
  action->setObjectName(QString::fromLatin1(name));
  return action;
}

}  // namespace

BookshelfWindow::BookshelfWindow(PlatformDialogs& dialogs, QWidget* parent) : QMainWindow(parent), dialogs_(dialogs) {
  setObjectName(QStringLiteral("frmBookshelf"));
  setWindowTitle(tr("Bookshelf"));

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
  warning_bar_->setStyleSheet(QStringLiteral("#fraUnreadable { background: #fff4ce; border: 1px solid #e0c060; }"));
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
  // Many damaged books scroll inside the bar instead of pushing the list away.
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

  list_ = new QListWidget(frame);
  list_->setObjectName(QStringLiteral("lstBookshelf"));
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSortingEnabled(true);

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
  layout->addWidget(list_, 3, 0, 1, 2);
  layout->setRowStretch(3, 1);
  layout->addLayout(buttons, 4, 0, 1, 2);

  QMenu* file_menu = menuBar()->addMenu(tr("&File"));
  file_menu->setObjectName(QStringLiteral("mnuFile"));
  export_book_list_ = AddMenuItem(file_menu, tr("Export &Book List"), "mnuExportBookList");
  export_document_ = AddMenuItem(file_menu, tr("&Export"), "mnuExport");
  QMenu* help_menu = menuBar()->addMenu(tr("&Help"));
  help_menu->setObjectName(QStringLiteral("mnuHelp"));
  QAction* about = AddMenuItem(help_menu, tr("&About Vellix Publisher"), "mnuAbout");

  connect(folder_box_, &QLineEdit::textChanged, this, &BookshelfWindow::FolderChanged);
  connect(browse, &QPushButton::clicked, this, &BookshelfWindow::Browse);
  connect(add_button_, &QPushButton::clicked, this, &BookshelfWindow::AddBook);
  connect(import_button_, &QPushButton::clicked, this, &BookshelfWindow::ImportBook);
  connect(export_book_list_, &QAction::triggered, this, &BookshelfWindow::ExportBookList);
  connect(export_document_, &QAction::triggered, this, &BookshelfWindow::ExportBooklistDocument);
  connect(about, &QAction::triggered, this, &BookshelfWindow::About);

  resize(520, 440);
  UpdateCommands();
  folder_box_->setText(ShelfPresenter::RecordedFolder());
}

BookshelfWindow::~BookshelfWindow() = default;

void BookshelfWindow::FolderChanged(const QString& text) {
  if (!IsFolder(text)) return;
  QString error;
  bool opened;
  {
    BusyCursor busy;
    opened = presenter_.Open(text, &error);
  }
  if (opened) {
    RefreshBookList();
    UpdateCommands();
    ShowWarning(presenter_.UnreadableSummary(), presenter_.UnreadableBooks());
  } else if (!error.isEmpty()) {
    // Not a message box: the user may be typing on to another folder.
    ShowWarning(tr("This folder could not be read:"), {QStringLiteral("%1: %2").arg(text, error)});
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
  if (auto book = dialog.Book()) AddTitle(ReadableText(book->Title()));
}

// The list shows the title as typed in the dialog, as it reads once the
// bookshelf is opened again.
void BookshelfWindow::ImportBook() {
  ImportBookDialog dialog(dialogs_, this);
  dialog.SetBookshelf(presenter_.bookshelf());
  dialogs_.RunModal(dialog);
  if (dialog.Book()) AddTitle(dialog.ImportedTitle());
}

void BookshelfWindow::ExportBookList() {
  ShelfPresenter::BookListExport target = presenter_.PrepareBookListExport();
  QString file = dialogs_.SaveFileName(this, tr("Export Book List"), target.proposed_file, tr("Book List (*.txt)"));
  if (file.isEmpty()) return;
  BusyCursor busy;
  presenter_.WriteBookList(target, file);  // Failures end the export silently.
}

void BookshelfWindow::ExportBooklistDocument() {
  QString file =
      dialogs_.SaveFileName(this, tr("Export"), presenter_.ProposedBooklistDocument(), tr("Web Page (*.htm)"));
  if (file.isEmpty()) return;
  BusyCursor busy;
  presenter_.WriteBooklistDocument(file);  // Failures end the export silently.
}

void BookshelfWindow::About() {
  AboutDialog dialog(dialogs_, this);
  dialogs_.RunModal(dialog);
}

void BookshelfWindow::AddTitle(const QString& title) { list_->addItem(new TitleItem(title)); }

void BookshelfWindow::RefreshBookList() {
  list_->clear();
  for (const QString& title : presenter_.Titles()) AddTitle(title);
}

void BookshelfWindow::UpdateCommands() {
  bool open = presenter_.HasBookshelf();
  add_button_->setEnabled(open);
  import_button_->setEnabled(open);
  export_book_list_->setEnabled(open);
  export_document_->setEnabled(open);
}
