// The bookshelf as a table: one row per book with the fields a publisher
// looks for, a filter that narrows it as one types, and a sort on any
// column. What a row shows is in shelf_row.h.
#pragma once

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QString>
#include <QStringList>
#include <QVector>

#include "shelf_row.h"

// Orders texts as people expect in a list: letter case aside, and runs of
// digits by their value ("Volume 2" before "Volume 10"). <0, 0 or >0.
int CompareNaturally(const QString& a, const QString& b);

class BookTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kTitle, kAuthor, kCategory, kIdentifier, kKind, kSize, kColumnCount };
  // The book's path, on every cell of its row.
  static constexpr int kPathRole = Qt::UserRole + 1;
  // What the column sorts by: the size as a number, texts folded to one case.
  static constexpr int kSortRole = Qt::UserRole + 2;

  using QAbstractTableModel::QAbstractTableModel;

  void SetRows(QVector<ShelfRow> rows);
  void AddRow(ShelfRow row);
  // Drops the rows of the books at `paths`.
  void RemoveRows(const QStringList& paths);
  const QVector<ShelfRow>& rows() const { return rows_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  QVector<ShelfRow> rows_;
};

// Keeps the rows whose title, author, category or identifier holds every
// word of the filter text, in any letter case; sorts by kSortRole (texts
// ignoring case, numbers in them by value), equal keys by title then path,
// so that the order never depends on load order.
class BookFilterModel : public QSortFilterProxyModel {
  Q_OBJECT

 public:
  explicit BookFilterModel(QObject* parent = nullptr);
  void SetFilterText(const QString& text);

 protected:
  bool filterAcceptsRow(int source_row, const QModelIndex& source_parent) const override;
  bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

 private:
  QStringList words_;
};
