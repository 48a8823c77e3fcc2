// Reading the main window's book table as a user sees it, once the folder
// being read has been opened.
#pragma once

#include <QAbstractItemModel>
#include <QTableView>
#include <QtTest>

#include "bookshelf_window.h"

// Waits until the window has no folder left to read.
inline bool WaitLoaded(const BookshelfWindow& window) {
  return QTest::qWaitFor([&] { return !window.IsLoading(); }, 10000);
}

// The cells of `column` from top to bottom.
inline QStringList Column(const BookshelfWindow& window, int column) {
  QStringList cells;
  if (!WaitLoaded(window)) return {"(still loading)"};
  QAbstractItemModel* model = window.findChild<QTableView*>("lstBookshelf")->model();
  for (int row = 0; row < model->rowCount(); ++row) cells << model->index(row, column).data().toString();
  return cells;
}
