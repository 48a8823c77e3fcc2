#include "add_book_dialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "add_book.h"
#include "busy_cursor.h"
#include "platform_dialogs.h"
#include "shelf_presenter.h"
#include "vellix/book.h"
#include "vellix/bookshelf.h"

AddBookDialog::AddBookDialog(PlatformDialogs& dialogs, QWidget* parent) : QDialog(parent), dialogs_(dialogs) {
  setObjectName(QStringLiteral("frmConvertRES"));
  setWindowTitle(tr("Add Book"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);

  auto* label = new QLabel(tr("Vellix &eBook (*.RES)"), this);
  label->setObjectName(QStringLiteral("lblRESpath"));
  path_box_ = new QLineEdit(this);
  path_box_->setObjectName(QStringLiteral("txtRESpath"));
  path_box_->setMinimumWidth(340);
  label->setBuddy(path_box_);
  auto* browse = new QPushButton(tr("&Browse..."), this);
  browse->setObjectName(QStringLiteral("cmdBrowse"));
  browse->setAutoDefault(false);
  add_button_ = new QPushButton(tr("&Add"), this);
  add_button_->setObjectName(QStringLiteral("cmdConvert"));
  add_button_->setEnabled(false);

  auto* layout = new QGridLayout(this);
  layout->addWidget(label, 0, 0, 1, 2);
  layout->addWidget(path_box_, 1, 0);
  layout->addWidget(browse, 1, 1);
  layout->setRowMinimumHeight(2, 6);
  layout->addWidget(add_button_, 3, 1);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(browse, &QPushButton::clicked, this, &AddBookDialog::Browse);
  connect(path_box_, &QLineEdit::textChanged, this, &AddBookDialog::UpdateAddButton);
  connect(add_button_, &QPushButton::clicked, this, &AddBookDialog::Add);
}

AddBookDialog::~AddBookDialog() = default;

void AddBookDialog::SetBookshelf(std::shared_ptr<vellix::Bookshelf> bookshelf) { bookshelf_ = std::move(bookshelf); }

void AddBookDialog::Browse() {
  QString folder = dialogs_.ChooseFolder(this, tr("Choose a Vellix eBook (*.RES):"));
  if (!folder.isEmpty()) path_box_->setText(folder);
}

void AddBookDialog::UpdateAddButton() { add_button_->setEnabled(IsBookFolderPath(path_box_->text())); }

void AddBookDialog::Add() {
  add_button_->setEnabled(false);
  book_.reset();
  try {
    if (!bookshelf_) throw std::runtime_error("No bookshelf is open.");
    BusyCursor busy;
    std::string book_file;
    book_ = bookshelf_->AddBookFolder(path_box_->text().toStdString(), &book_file);
    book_file_ = QString::fromStdString(book_file);
  } catch (const std::exception& e) {
    dialogs_.ShowMessage(this, tr("Vellix Publisher"), ErrorText(e));
    UpdateAddButton();
    return;
  }
  UpdateAddButton();
  accept();
}
