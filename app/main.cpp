// Vellix Publisher: the bookshelf window over the Vellix library.
#include <QApplication>

#include "bookshelf_window.h"
#include "qt_platform_dialogs.h"
#include "version.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Vellix Publisher"));
  QApplication::setApplicationVersion(
      QStringLiteral("%1.%2.%3").arg(kProgramVersionMajor).arg(kProgramVersionMinor).arg(kProgramVersionRevision));
  QtPlatformDialogs dialogs;
  BookshelfWindow window(dialogs);
  window.show();
  return app.exec();
}
