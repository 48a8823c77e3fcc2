// Vellix Publisher: the bookshelf window over the Vellix library.
#include <QApplication>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>
#include <optional>
#include <string_view>

#include "bookshelf_window.h"
#include "ikutil/ui_helper.h"
#include "qt_platform_dialogs.h"
#include "version.h"

namespace {

// Files named on the command line, as the desktop's menus and file manager
// pass them: a book file opens in its preview window; book folders,
// packages, documents and text are added to the bookshelf shown, as if
// dropped onto the window, once the bookshelf has been read.
void OpenFromCommandLine(BookshelfWindow& window, const QStringList& arguments) {
  QStringList to_add;
  for (const QString& argument : arguments) {
    const QFileInfo file(argument);
    if (file.isFile() && file.suffix().compare(QLatin1String("imp"), Qt::CaseInsensitive) == 0)
      window.OpenPreview(file.absoluteFilePath());
    else
      to_add << file.absoluteFilePath();
  }
  if (to_add.isEmpty()) return;
  auto* wait = new QTimer(&window);
  wait->setInterval(50);
  QObject::connect(wait, &QTimer::timeout, &window, [&window, wait, to_add] {
    if (window.IsLoading()) return;
    wait->stop();
    wait->deleteLater();
    window.AddDropped(to_add);
  });
  wait->start();
}

constexpr const char* kUsage =
    "Usage: vellix-publisher [FILE...]\n"
    "Opens the bookshelf window. A book file (.imp) opens in its preview window;\n"
    "book folders, containers (.oeb), packages (.opf), documents and text are\n"
    "added to the bookshelf shown.\n"
    "\n"
    "Options:\n"
    "  -h, --help     print this help and exit\n"
    "  --version      print the version and exit\n";

// --help and --version are answered before the window system is opened, so
// that they work without a display (over ssh, from scripts and packages).
std::optional<int> AnswerWithoutWindow(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--") break;
    if (argument == "--version") {
      std::printf("vellix-publisher %d.%d.%d\n", kProgramVersionMajor, kProgramVersionMinor, kProgramVersionRevision);
      return 0;
    }
    if (argument == "--help" || argument == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  if (const auto answered = AnswerWithoutWindow(argc, argv)) return *answered;
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
  OpenFromCommandLine(window, QApplication::arguments().mid(1));
  return app.exec();
}
