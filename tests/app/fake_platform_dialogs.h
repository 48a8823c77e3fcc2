// The test stand-in for the platform's dialogs, and the screenshots the
// window tests leave for a reviewer.
#pragma once

#include <QAbstractButton>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QStringList>
#include <QUrl>
#include <QtTest>
#include <functional>
#include <vector>

#include "platform_dialogs.h"

// Answers every platform dialog from a script and records what was asked.
struct FakePlatformDialogs : PlatformDialogs {
  QStringList answers;                     // folder or file per dialog, "" = cancel
  std::function<void(QDialog&)> on_modal;  // plays the user of a modal dialog
  QStringList asked;                       // prompts, open filters, "proposed|filter" of saves
  QStringList messages;                    // "title: text"
  std::vector<QUrl> opened;

  QString Answer() { return answers.isEmpty() ? QString() : answers.takeFirst(); }
  QString ChooseFolder(QWidget*, const QString& prompt) override {
    asked << prompt;
    return Answer();
  }
  QString SaveFileName(QWidget*, const QString&, const QString& proposed, const QString& filter) override {
    asked << proposed + "|" + filter;
    return Answer();
  }
  // Several files are one answer, separated by line breaks.
  QStringList OpenFileNames(QWidget*, const QString&, const QString& filter) override {
    asked << filter;
    QString answer = Answer();
    return answer.isEmpty() ? QStringList() : answer.split(u'\n');
  }
  void ShowMessage(QWidget*, const QString& title, const QString& text) override { messages << title + ": " + text; }
  void OpenUrl(const QUrl& url) override { opened.push_back(url); }
  // Left open by the script, the dialog is closed as by its close box.
  int RunModal(QDialog& dialog) override {
    dialog.show();
    if (on_modal) on_modal(dialog);
    if (dialog.isVisible()) dialog.reject();
    return dialog.result();
  }
};

// Shows `widget`, checks that no button or label is squeezed below what
// its text needs, and saves it as SCREENSHOT_DIR/<name>.png.
inline void SaveScreenshot(QWidget& widget, const QString& name) {
  widget.show();
  QVERIFY(QTest::qWaitForWindowExposed(&widget));
  for (QWidget* child : widget.findChildren<QWidget*>()) {
    if (!child->isVisible() || !(qobject_cast<QAbstractButton*>(child) || qobject_cast<QLabel*>(child))) continue;
    QVERIFY2(child->size().expandedTo(child->minimumSizeHint()) == child->size(),
             qPrintable(name + ": " + child->objectName() + " is clipped"));
  }
  QVERIFY(QDir().mkpath(SCREENSHOT_DIR));
  QVERIFY(widget.grab().save(QStringLiteral(SCREENSHOT_DIR "/%1.png").arg(name)));  // fails on an empty grab
}
