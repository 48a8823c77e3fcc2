// Shared by the window tests: a stand-in for the person at the screen, and
// settings and bookshelves made on the spot.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QStringList>
#include <QUrl>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform_dialogs.h"
#include "test_util.h"

// Answers every platform dialog from a script and records what was asked.
struct FakePlatformDialogs : PlatformDialogs {
  QStringList answers;                     // folder or file per dialog, "" = cancel
  std::function<void(QDialog&)> on_modal;  // plays the user of a modal dialog
  QStringList asked;                       // prompts, and "proposed|filter" of saves
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

namespace apptest {

namespace fs = std::filesystem;
using namespace vellix::fixtures;

inline QString Q(const std::string& s) { return QString::fromStdString(s); }

// Points the settings at `config_home` and records the values given there.
inline void WriteSettings(const std::string& config_home, const std::string& bookshelf, const std::string& dsk = "",
                          const std::string& remote_url = "") {
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config_home));
  fs::create_directories(config_home + "/OrvoTools");
  WriteFile(config_home + "/OrvoTools/Vellixlibrarian.conf",
            "[Locations]\nBookShelf=" + bookshelf + "\nDsK=" + dsk +
                (remote_url.empty() ? "" : "\n[Sites]\nRemoteBookShelfUrl=" + remote_url) + "\n");
}

inline Info Titled(const std::string& title) { return Info{"ID42", "Fiction", "", title, "Writer", "", "Some"}; }

// A bookshelf folder holding one book file per title.
inline void MakeShelf(const std::string& folder, const QStringList& titles) {
  fs::create_directories(folder);
  for (int n = 0; n < titles.size(); ++n)
    WriteFile(folder + "/BOOK" + std::to_string(n + 1) + ".imp", SimpleBookFile(Titled(titles[n].toStdString())));
}

inline void MakeBookFolder(const std::string& path, const std::string& title) {
  vellix::fixtures::MakeBookFolder(path, RsrcInf(Titled(title)), "fork");
}

// The titles the main window lists, top to bottom, and its folder box.
inline QStringList Listed(const QWidget& window) {
  QStringList titles;
  auto* list = window.findChild<QListWidget*>("lstBookshelf");
  for (int i = 0; i < list->count(); ++i) titles << list->item(i)->text();
  return titles;
}
inline QLineEdit* FolderBox(const QWidget& window) { return window.findChild<QLineEdit*>("txtBookshelf"); }

// Every file below `folder`, to see what a command wrote.
inline QStringList AllFiles(const std::string& folder) {
  QStringList files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) files << Q(entry.path().string());
  files.sort();
  return files;
}

}  // namespace apptest
