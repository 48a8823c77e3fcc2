// What the Add Book dialog does, apart from its widgets: it takes a book
// folder (the form the reader keeps its books in) and puts it on the
// bookshelf as one new book file.
#pragma once

#include <QString>
#include <memory>

namespace vellix {
class Book;
class Bookshelf;
}  // namespace vellix

// True when `path` names an existing folder and its last four characters,
// upper-cased, are ".RES".
bool IsBookFolderPath(const QString& path);

// Loads the book folder at `path`, saves it as a book file under a fresh
// name in the bookshelf's folder and appends the book to the bookshelf.
// Returns the book. Throws vellix::AutomationError when any step fails;
// a book file written before the failure stays.
std::shared_ptr<vellix::Book> AddBookFolder(vellix::Bookshelf& bookshelf, const QString& path);
