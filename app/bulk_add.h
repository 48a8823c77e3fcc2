// Adding many books at once: a drop of several files or of whole folders.
//
// The books are published onto the shelf's folder by the library's batch
// add (Bookshelf::AddMany, the one `shelf add --jobs` uses) on worker
// threads, while one progress dialog counts them and can stop the rest; the
// window's event loop runs meanwhile, so it repaints and stays responsive.
// Nothing here touches the open bookshelf's collection: the caller reads
// the written book files into it afterwards.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// The dropped paths with every plain folder (one whose name does not end
// in ".res") replaced by what it holds, sorted by name; anything else stays
// as it is. A folder's own entries are not looked into further. Folders
// that hold nothing go to *empty.
QStringList ExpandDroppedFolders(const QStringList& paths, QStringList* empty);

struct BulkAddOutcome {
  QStringList book_files;  // the book files written, in the order given
  QStringList problems;    // "<path>: <why>", one per book not added
  int stopped = 0;         // books not begun because the user cancelled
};

// Publishes `paths` (book folders and documents) onto the shelf folder
// `shelf_folder` with a progress dialog over `parent`; returns when all are
// done or the user cancelled. Never throws.
BulkAddOutcome AddManyWithProgress(QWidget* parent, const QString& shelf_folder, const QStringList& paths);
