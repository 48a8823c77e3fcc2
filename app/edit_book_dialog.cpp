#include "edit_book_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>

EditBookDialog::EditBookDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmEditBook"));
  setWindowTitle(tr("Edit Book"));

  auto box = [this](const char* name) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMinimumWidth(320);
    connect(edit, &QLineEdit::textChanged, this, &EditBookDialog::UpdateSaveButton);
    return edit;
  };
  title_box_ = box("txtTitle");
  author_box_ = box("txtAuthor");
  category_box_ = box("txtCategory");

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
  buttons->setObjectName(QStringLiteral("cmdButtons"));
  save_button_ = buttons->button(QDialogButtonBox::Save);
  save_button_->setObjectName(QStringLiteral("cmdSave"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QFormLayout(this);
  layout->addRow(tr("&Title:"), title_box_);
  layout->addRow(tr("&Author:"), author_box_);
  layout->addRow(tr("&Category:"), category_box_);
  layout->addRow(buttons);
  UpdateSaveButton();
}

void EditBookDialog::SetFields(const QString& title, const QString& author, const QString& category) {
  title_box_->setText(title);
  author_box_->setText(author);
  category_box_->setText(category);
  title_box_->selectAll();
  title_box_->setFocus();
}

// Surrounding blanks are no part of a title.
QString EditBookDialog::Title() const { return title_box_->text().trimmed(); }
QString EditBookDialog::Author() const { return author_box_->text().simplified(); }
QString EditBookDialog::Category() const { return category_box_->text().trimmed(); }

void EditBookDialog::UpdateSaveButton() {
  save_button_->setEnabled(!Title().isEmpty() && !Author().isEmpty() && !Category().isEmpty());
}
