// What a row of the bookshelf table shows: a book's fields as people read
// them, its kind and its size.
//
// Rows are plain values made from the library's books (RowForBook), so a
// shelf can be read on a worker thread and handed to the model whole. Every
// row keeps the path of its book: titles may repeat, paths do not.
#pragma once

#include <QString>
#include <QtGlobal>
#include <string>

namespace vellix {
class Book;
}  // namespace vellix

struct ShelfRow {
  QString title;
  QString author;
  QString category;
  QString identifier;
  QString kind;  // "Book file", "Book folder", "Periodical, issue 3", ...
  qint64 size = 0;
  QString path;
};

// The row of `book`, its device fields as people read them (the stored
// markup escapes undone). `path` overrides the book's own path, for a book
// published onto the shelf whose file differs from what was loaded.
ShelfRow RowForBook(const vellix::Book& book, const QString& path = QString());

// A title, author or category as people read it: the stored markup escapes
// undone.
QString ReadableText(const std::string& stored);

// "0 bytes", "512 bytes", "12 KB", "3.4 MB".
QString SizeText(qint64 bytes);
