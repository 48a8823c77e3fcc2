#include "qt_platform_dialogs.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

QString QtPlatformDialogs::ChooseFolder(QWidget* parent, const QString& prompt) {
  return QFileDialog::getExistingDirectory(parent, prompt);
}

QString QtPlatformDialogs::SaveFileName(QWidget* parent, const QString& caption, const QString& proposed,
                                        const QString& filter) {
  return QFileDialog::getSaveFileName(parent, caption, proposed, filter);
}

QStringList QtPlatformDialogs::OpenFileNames(QWidget* parent, const QString& caption, const QString& filter) {
  return QFileDialog::getOpenFileNames(parent, caption, QString(), filter);
}

void QtPlatformDialogs::ShowMessage(QWidget* parent, const QString& title, const QString& text) {
  QMessageBox::warning(parent, title, text, QMessageBox::Ok);
}

void QtPlatformDialogs::OpenUrl(const QUrl& url) { QDesktopServices::openUrl(url); }

int QtPlatformDialogs::RunModal(QDialog& dialog) { return dialog.exec(); }
