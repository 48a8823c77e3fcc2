// Renders the main window on the sample bookshelf and both dialogs to PNG
// files for a reviewer, and checks that no button or label is squeezed
// below the size its text needs.
#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QtTest>

#include "about_dialog.h"
#include "add_book_dialog.h"
#include "app_test_support.h"
#include "bookshelf_window.h"

using namespace apptest;

class ScreenshotTest : public QObject {
  Q_OBJECT

 private:
  static void Save(QWidget& widget, const QString& name) {
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    for (QWidget* child : widget.findChildren<QWidget*>()) {
      if (!child->isVisible() || !(qobject_cast<QAbstractButton*>(child) || qobject_cast<QLabel*>(child))) continue;
      QSize need = child->minimumSizeHint();
      QVERIFY2(child->width() >= need.width() && child->height() >= need.height(),
               qPrintable(name + ": " + child->objectName() + " is clipped"));
    }
    QVERIFY(QDir().mkpath(SCREENSHOT_DIR));
    QImage image = widget.grab().toImage();
    QVERIFY(!image.isNull());
    QVERIFY(image.save(QStringLiteral(SCREENSHOT_DIR "/%1.png").arg(name)));
  }

 private slots:
  void render() {
    TempDir tmp;
    QCOMPARE(QProcess::execute(MAKE_SAMPLES, {Q(tmp / "bookshelf")}), 0);  // as ./run does
    MakeBookFolder(tmp / "MYBOOK.RES", "My Book");
    WriteSettings(tmp / "config", tmp / "bookshelf");
    FakePlatformDialogs dialogs;

    BookshelfWindow window(dialogs);
    QCOMPARE(window.findChild<QListWidget*>("lstBookshelf")->count(), 7);
    Save(window, "bookshelf");

    AddBookDialog add(dialogs, &window);
    add.findChild<QLineEdit*>("txtRESpath")->setText(Q(tmp / "MYBOOK.RES"));
    Save(add, "add_book");

    AboutDialog about(dialogs, &window);
    Save(about, "about");
  }
};

QTEST_MAIN(ScreenshotTest)
#include "screenshot_test.moc"
