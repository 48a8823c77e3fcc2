// The Edit Book dialog: the title, author and category of one book on the
// shelf, as people read them. "&Save" is enabled while none of the three is
// empty; the window writes what was typed into the book (see
// ShelfPresenter::Edit) once the dialog is accepted.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

class EditBookDialog : public QDialog {
  Q_OBJECT

 public:
  explicit EditBookDialog(QWidget* parent = nullptr);

  void SetFields(const QString& title, const QString& author, const QString& category);
  QString Title() const;
  QString Author() const;
  QString Category() const;

 private:
  void UpdateSaveButton();

  QLineEdit* title_box_;
  QLineEdit* author_box_;
  QLineEdit* category_box_;
  QPushButton* save_button_;
};
