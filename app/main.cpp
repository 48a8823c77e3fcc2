// Vellix Publisher: the bookshelf window over the Vellix library.
#include <QApplication>

#include "bookshelf_window.h"
#include "ikutil/ui_helper.h"
#include "qt_platform_dialogs.h"
#include "version.h"

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
  return app.exec();
}
