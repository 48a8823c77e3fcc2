// The platform's own dialogs and services, as the windows use them.
//
// The windows never call QFileDialog, QMessageBox or QDesktopServices
// directly; they go through this interface, so that tests can stand in for
// the person in front of the screen. Every call is modal and returns when
// the user is done.
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

class QDialog;
class QWidget;

class PlatformDialogs {
 public:
  virtual ~PlatformDialogs() = default;

  // A folder picked by the user, or "" when the chooser was cancelled or
  // failed. `prompt` tells the user what to pick.
  virtual QString ChooseFolder(QWidget* parent, const QString& prompt) = 0;

  // The file name to save to, or "" when the dialog was cancelled.
  // `proposed` is the file offered at first; `filter` is one filter in
  // Qt's form, such as "Book List (*.txt)".
  virtual QString SaveFileName(QWidget* parent, const QString& caption, const QString& proposed,
                               const QString& filter) = 0;

  // The files to open, several at once if the user picks them; none when
  // the dialog was cancelled. `filter` holds Qt's filters separated by
  // ";;", the first one preselected.
  virtual QStringList OpenFileNames(QWidget* parent, const QString& caption, const QString& filter) = 0;

  // A message with an OK button only.
  virtual void ShowMessage(QWidget* parent, const QString& title, const QString& text) = 0;

  // Shows `url` in the desktop's web browser.
  virtual void OpenUrl(const QUrl& url) = 0;

  // Shows one of our own dialogs modally and returns its result code
  // (QDialog::Accepted or QDialog::Rejected) once it is closed or hidden.
  virtual int RunModal(QDialog& dialog) = 0;
};
