#include "book_trash.h"

#include <QFile>
#include <QFileInfo>
#include <filesystem>
#include <system_error>

namespace {

namespace fs = std::filesystem;

fs::path FsPath(const QString& path) { return fs::path(path.toStdString()); }

// The record the trash keeps beside a trashed file: "<trash>/info/<name>.trashinfo"
// for "<trash>/files/<name>".
QString TrashInfoOf(const QString& in_trash) {
  const QFileInfo file(in_trash);
  return QFileInfo(file.path()).path() + QStringLiteral("/info/") + file.fileName() + QStringLiteral(".trashinfo");
}

}  // namespace

QVector<TrashedBook> MoveBooksToTrash(const QStringList& paths, QStringList* problems) {
  QVector<TrashedBook> moved;
  for (const QString& path : paths) {
    QString in_trash;
    if (QFile::moveToTrash(path, &in_trash) && !in_trash.isEmpty())
      moved.push_back({path, in_trash});
    else
      *problems << QStringLiteral("%1: could not be moved to the trash").arg(path);
  }
  return moved;
}

QStringList RestoreBooksFromTrash(const QVector<TrashedBook>& books, QStringList* problems) {
  QStringList restored;
  for (const TrashedBook& book : books) {
    std::error_code ec;
    // Never over a file that took the book's place meanwhile.
    if (fs::exists(fs::symlink_status(FsPath(book.path), ec))) {
      *problems << QStringLiteral("%1: another file is there now; the book stays in the trash").arg(book.path);
      continue;
    }
    fs::rename(FsPath(book.in_trash), FsPath(book.path), ec);
    if (ec) {
      *problems << QStringLiteral("%1: %2").arg(book.path, QString::fromLocal8Bit(ec.message().c_str()));
      continue;
    }
    fs::remove(FsPath(TrashInfoOf(book.in_trash)), ec);  // a stale record only costs a line in the trash view
    restored << book.path;
  }
  return restored;
}
