#include "shelf_row.h"

#include <QLocale>

#include "vellix/book.h"
#include "vellix/formats/markup.h"

ShelfRow RowForBook(const vellix::Book& book, const QString& path) {
  ShelfRow row;
  // Device books store their fields escaped; documents and packages keep
  // them as read.
  const bool device = book.Extension() == "imp" || book.Extension() == "res";
  auto field = [device](const std::string& stored) {
    return device ? ReadableText(stored) : QString::fromStdString(stored);
  };
  row.title = field(book.Title());
  // The author is put together from its parts; a missing middle name
  // leaves two blanks.
  row.author = field(book.Author()).simplified();
  row.category = field(book.Category());
  row.identifier = field(book.BookId());
  if (book.IsPeriodical())
    row.kind = QStringLiteral("Periodical, issue %1").arg(book.IssueNumber());
  else if (book.Extension() == "imp")
    row.kind = QStringLiteral("Book file");
  else if (book.Extension() == "res")
    row.kind = QStringLiteral("Book folder");
  else
    row.kind = QStringLiteral("Document");
  row.size = book.Size();
  row.path = path.isEmpty() ? QString::fromStdString(book.Path()) : path;
  return row;
}

QString ReadableText(const std::string& stored) {
  return QString::fromStdString(vellix::formats::UnescapeMarkup(stored));
}

QString SizeText(qint64 bytes) {
  if (bytes < 1024) return QStringLiteral("%1 bytes").arg(bytes);
  if (bytes < qint64{1024} * 1024) return QStringLiteral("%1 KB").arg((bytes + 512) / 1024);
  return QStringLiteral("%1 MB").arg(QLocale::c().toString(bytes / (1024.0 * 1024.0), 'f', 1));
}
