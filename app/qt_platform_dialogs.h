// PlatformDialogs for a real desktop: Qt's standard dialogs and the
// desktop's default web browser.
#pragma once

#include "platform_dialogs.h"

class QtPlatformDialogs : public PlatformDialogs {
 public:
  QString ChooseFolder(QWidget* parent, const QString& prompt) override;
  QString SaveFileName(QWidget* parent, const QString& caption, const QString& proposed,
                       const QString& filter) override;
  QStringList OpenFileNames(QWidget* parent, const QString& caption, const QString& filter) override;
  void ShowMessage(QWidget* parent, const QString& title, const QString& text) override;
  void OpenUrl(const QUrl& url) override;
  int RunModal(QDialog& dialog) override;
};
