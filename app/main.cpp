// Vellix Publisher: the bookshelf window over the Vellix library.
#include <QAbstractButton>
#include <QApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QTimer>

#include "bookshelf_window.h"
#include "ikutil/ui_helper.h"
#include "qt_platform_dialogs.h"
#include "version.h"

namespace {

// A file named on the command line, as the desktop's menus and file manager
// pass it: a book file or book folder opens the bookshelf it lies on (a
// folder of books opens as one); a package or document opens Import Book
// with it, onto the bookshelf shown. The window is driven through its
// controls, as a user would.
void OpenFromCommandLine(BookshelfWindow& window, const QString& argument) {
  const QFileInfo file(argument);
  const QString suffix = file.suffix().toLower();
  auto* folder_box = window.findChild<QLineEdit*>(QStringLiteral("txtBookshelf"));
  if (!folder_box) return;
  if (file.isDir()) {
    folder_box->setText(suffix == QLatin1String("res") ? file.absolutePath() : file.absoluteFilePath());
  } else if (suffix == QLatin1String("imp")) {
    folder_box->setText(file.absolutePath());
  } else if (file.isFile()) {
    QTimer::singleShot(0, &window, [&window, path = file.absoluteFilePath()] {
      auto* import = window.findChild<QAbstractButton*>(QStringLiteral("cmdImport"));
      if (!import || !import->isEnabled()) return;
      // Runs inside the dialog's own event loop, once it is shown.
      QTimer::singleShot(0, &window, [path] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (auto* file_box = dialog ? dialog->findChild<QLineEdit*>(QStringLiteral("txtFile")) : nullptr)
          file_box->setText(path);
      });
      import->click();
    });
  }
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Vellix Publisher"));
  QApplication::setApplicationVersion(
      QStringLiteral("%1.%2.%3").arg(kProgramVersionMajor).arg(kProgramVersionMinor).arg(kProgramVersionRevision));
  QtPlatformDialogs dialogs;
  BookshelfWindow window(dialogs);
  // The engine's problems that ask to be shown now appear as messages.
  ikutil::SetDisplayFunction([&](const std::string& message, const std::string& detail, int line, int show_now) {
    if (!show_now) return 0;
    QString where = QString::fromStdString(detail);
    if (line >= 0) where += QStringLiteral(", line %1").arg(line);
    dialogs.ShowMessage(&window, QStringLiteral("Vellix Publisher"), QString::fromStdString(message) + "\n\n" + where);
    return 1;
  });
  window.show();
  const QStringList arguments = QApplication::arguments();
  if (arguments.size() > 1) OpenFromCommandLine(window, arguments.at(1));
  return app.exec();
}
