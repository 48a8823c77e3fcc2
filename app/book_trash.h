// Books taken off the shelf go to the desktop's trash (the freedesktop.org
// trash under the user's data folder, or the trash of the file's own
// volume), so that the user can take them back: at once with Undo, or
// later from the file manager.
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

struct TrashedBook {
  QString path;      // where the book file or folder was
  QString in_trash;  // where the trash keeps it now
};

// Moves each book file or folder to the trash. Returns those moved, in the
// order given; a path that cannot be moved stays where it is and is named
// in *problems ("<path>: <reason>").
QVector<TrashedBook> MoveBooksToTrash(const QStringList& paths, QStringList* problems);

// Puts trashed books back where they were and drops their trash records.
// A book whose place has been taken meanwhile, or that is no longer in the
// trash, stays there and is named in *problems. Returns the paths restored.
QStringList RestoreBooksFromTrash(const QVector<TrashedBook>& books, QStringList* problems);
