#include "book_table.h"

#include <utility>

int CompareNaturally(const QString& a, const QString& b) {
  qsizetype i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (a[i].isDigit() && b[j].isDigit()) {
      qsizetype i_end = i, j_end = j;
      while (i_end < a.size() && a[i_end].isDigit()) ++i_end;
      while (j_end < b.size() && b[j_end].isDigit()) ++j_end;
      // Leading zeros aside, the longer run is the larger number.
      QStringView x = QStringView(a).mid(i, i_end - i), y = QStringView(b).mid(j, j_end - j);
      while (x.size() > 1 && x[0] == u'0') x = x.mid(1);
      while (y.size() > 1 && y[0] == u'0') y = y.mid(1);
      if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
      if (int order = x.compare(y); order != 0) return order;
      i = i_end;
      j = j_end;
      continue;
    }
    const char16_t x = a[i].toCaseFolded().unicode(), y = b[j].toCaseFolded().unicode();
    if (x != y) return x < y ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

void BookTableModel::SetRows(QVector<ShelfRow> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

void BookTableModel::AddRow(ShelfRow row) {
  beginInsertRows(QModelIndex(), static_cast<int>(rows_.size()), static_cast<int>(rows_.size()));
  rows_.push_back(std::move(row));
  endInsertRows();
}

void BookTableModel::RemoveRows(const QStringList& paths) {
  for (int n = static_cast<int>(rows_.size()) - 1; n >= 0; --n) {
    if (!paths.contains(rows_[n].path)) continue;
    beginRemoveRows(QModelIndex(), n, n);
    rows_.removeAt(n);
    endRemoveRows();
  }
}

int BookTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int BookTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant BookTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rows_.size()) return {};
  const ShelfRow& row = rows_[index.row()];
  if (role == kPathRole) return row.path;
  if (role == Qt::ToolTipRole) return row.path;
  if (role == Qt::TextAlignmentRole && index.column() == kSize)
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  if (role != Qt::DisplayRole && role != kSortRole) return {};
  switch (index.column()) {
    case kTitle:
      return row.title;
    case kAuthor:
      return row.author;
    case kCategory:
      return row.category;
    case kIdentifier:
      return row.identifier;
    case kKind:
      return row.kind;
    case kSize:
      if (role == kSortRole) return QVariant(row.size);
      return row.size == 0 && row.kind == QStringLiteral("Book folder") ? QString() : SizeText(row.size);
    default:
      return {};
  }
}

QVariant BookTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
    return QAbstractTableModel::headerData(section, orientation, role);
  switch (section) {
    case kTitle:
      return tr("Title");
    case kAuthor:
      return tr("Author");
    case kCategory:
      return tr("Category");
    case kIdentifier:
      return tr("Identifier");
    case kKind:
      return tr("Kind");
    case kSize:
      return tr("Size");
    default:
      return {};
  }
}

BookFilterModel::BookFilterModel(QObject* parent) : QSortFilterProxyModel(parent) {
  setSortRole(BookTableModel::kSortRole);
}

void BookFilterModel::SetFilterText(const QString& text) {
  QStringList words = text.split(u' ', Qt::SkipEmptyParts);
  if (words == words_) return;
  words_ = std::move(words);
  invalidateFilter();
}

bool BookFilterModel::filterAcceptsRow(int source_row, const QModelIndex&) const {
  if (words_.isEmpty()) return true;
  auto* model = static_cast<const BookTableModel*>(sourceModel());
  if (source_row >= model->rows().size()) return false;
  const ShelfRow& row = model->rows()[source_row];
  for (const QString& word : words_) {
    bool found = false;
    for (const QString* field : {&row.title, &row.author, &row.category, &row.identifier})
      if (field->contains(word, Qt::CaseInsensitive)) found = true;
    if (!found) return false;
  }
  return true;
}

bool BookFilterModel::lessThan(const QModelIndex& left, const QModelIndex& right) const {
  QVariant a = left.data(BookTableModel::kSortRole), b = right.data(BookTableModel::kSortRole);
  if (a.typeId() == QMetaType::LongLong) {
    if (a.toLongLong() != b.toLongLong()) return a.toLongLong() < b.toLongLong();
  } else {
    int order = CompareNaturally(a.toString(), b.toString());
    if (order != 0) return order < 0;
    if (a.toString() != b.toString()) return a.toString() < b.toString();
  }
  // Ties: by title, then by path.
  auto* model = static_cast<const BookTableModel*>(sourceModel());
  const ShelfRow& l = model->rows()[left.row()];
  const ShelfRow& r = model->rows()[right.row()];
  int order = CompareNaturally(l.title, r.title);
  if (order != 0) return order < 0;
  return l.path < r.path;
}
