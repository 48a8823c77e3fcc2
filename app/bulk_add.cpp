#include "bulk_add.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QPointer>
#include <QProgressDialog>
#include <QtConcurrent/QtConcurrentRun>
#include <atomic>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "paths.h"
#include "shelf_presenter.h"
#include "vellix/bookshelf.h"
#include "vellix/error.h"

QStringList ExpandDroppedFolders(const QStringList& paths, QStringList* empty) {
  QStringList expanded;
  for (const QString& dropped : paths) {
    const QString path = WithoutTrailingSlashes(dropped);
    if (!IsFolder(path) || path.endsWith(QStringLiteral(".res"), Qt::CaseInsensitive)) {
      expanded << path;
      continue;
    }
    const QFileInfoList entries =
        QDir(path).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    if (entries.isEmpty()) *empty << path;
    for (const QFileInfo& entry : entries) expanded << entry.filePath();
  }
  return expanded;
}

namespace {

struct BatchResult {
  std::vector<vellix::BatchItem> items;
  QString failure;  // what stopped the whole batch, "" when it ran
};

}  // namespace

BulkAddOutcome AddManyWithProgress(QWidget* parent, const QString& shelf_folder, const QStringList& paths) {
  const int total = static_cast<int>(paths.size());
  QProgressDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("dlgBulkAddProgress"));
  dialog.setWindowTitle(QObject::tr("Vellix Publisher"));
  dialog.setWindowModality(Qt::WindowModal);
  dialog.setLabelText(QObject::tr("Adding %1 books...").arg(total));
  dialog.setRange(0, total);
  dialog.setAutoClose(false);
  dialog.setAutoReset(false);
  dialog.setMinimumDuration(0);
  dialog.setMinimumWidth(360);
  dialog.setValue(0);
  dialog.show();

  // Read by the workers between books; set by Cancel on this thread.
  auto stop = std::make_shared<std::atomic<bool>>(false);
  QObject::connect(&dialog, &QProgressDialog::canceled, [stop] { *stop = true; });

  std::vector<std::string> sources;
  for (const QString& path : paths) sources.push_back(path.toStdString());
  QFutureWatcher<BatchResult> watcher;
  QEventLoop loop;
  QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
  QPointer<QProgressDialog> shown(&dialog);
  watcher.setFuture(QtConcurrent::run([sources, shelf = shelf_folder.toStdString(), stop, shown] {
    BatchResult result;
    vellix::BatchOptions options;
    options.keep_going = [stop] { return !*stop; };
    // Called on a worker: the dialog is told on its own thread. A call
    // still queued when the dialog is gone is dropped with it.
    options.finished = [shown](size_t done, size_t all, const vellix::BatchItem& item) {
      const QString name = FileName(QString::fromStdString(item.path));
      QMetaObject::invokeMethod(
          shown.data(),
          [shown, done, all, name] {
            if (!shown) return;
            shown->setValue(static_cast<int>(done));
            shown->setLabelText(QObject::tr("Adding %1 books...\n%2 of %1 done: %3").arg(all).arg(done).arg(name));
          },
          Qt::QueuedConnection);
    };
    try {
      vellix::Bookshelf bookshelf;
      bookshelf.OpenForAdding(shelf);
      result.items = bookshelf.AddMany(sources, options);
    } catch (const std::exception& e) {
      result.failure = ErrorText(e);
    }
    return result;
  }));
  if (!watcher.isFinished()) loop.exec();
  const BatchResult result = watcher.result();

  BulkAddOutcome outcome;
  if (!result.failure.isEmpty()) {
    outcome.problems << QStringLiteral("%1: %2").arg(shelf_folder, result.failure);
    return outcome;
  }
  for (const vellix::BatchItem& item : result.items) {
    const QString path = QString::fromStdString(item.path);
    if (item.added()) {
      if (!item.book_file.empty()) outcome.book_files << QString::fromStdString(item.book_file);
    } else if (*stop && item.error == vellix::formats::kInvalidArgument) {
      ++outcome.stopped;
    } else {
      outcome.problems
          << QStringLiteral("%1: %2 (%3)").arg(path, QString::fromStdString(item.description)).arg(item.error);
    }
  }
  return outcome;
}
