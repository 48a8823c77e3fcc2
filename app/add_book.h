// What the Add Book dialog checks apart from its widgets. Putting the book
// folder on the shelf is one library call, Bookshelf::AddBookFolder, which
// the command-line tool uses too.
#pragma once

#include <QString>

// True when `path` names an existing folder and its last four characters,
// upper-cased, are ".RES".
bool IsBookFolderPath(const QString& path);
