// The Add Book dialog on its own (which paths enable "&Add"; how a failure
// is reported is the main window's test) and the About box; then the main window on the sample
// bookshelf and both dialogs rendered to PNG files for a reviewer, with no
// button or label squeezed below the size its text needs.
#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include "about_dialog.h"
#include "add_book_dialog.h"
#include "app_test_support.h"
#include "bookshelf_window.h"

using namespace apptest;

class DialogsTest : public QObject {
  Q_OBJECT

  FakePlatformDialogs dialogs_;

  static void Screenshot(QWidget& widget, const QString& name) {
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
  void init() { dialogs_ = FakePlatformDialogs(); }

  // Only an existing folder whose name ends in ".res", in any case, enables "&Add".
  void addFollowsThePath() {
    TempDir tmp;
    for (const char* folder : {"x.res", "BOOK.RESX", "XRES"}) fs::create_directories(tmp / folder);
    WriteFile(tmp / "BOOK.RES", "a file");
    AddBookDialog dialog(dialogs_);
    auto* add = dialog.findChild<QPushButton*>("cmdConvert");
    auto* box = dialog.findChild<QLineEdit*>("txtRESpath");
    QVERIFY(!add->isEnabled());
    const std::pair<const char*, bool> paths[] = {{"x.res", true},      {"BOOK.RES", false}, {"x.res", true},
                                                  {"BOOK.RESX", false}, {"GONE.RES", false}, {"x.res", true},
                                                  {"XRES", false}};
    for (const auto& [path, enabled] : paths) {
      box->setText(Q(tmp / path));
      QVERIFY2(add->isEnabled() == enabled, path);
    }
    box->clear();
    QVERIFY(!add->isEnabled());
  }

  void aboutShowsVersionAndOpensHomePage() {
    QCOMPARE(AboutDialog::VersionText(2, 0, 4), QString("Version: 2.0.4"));
    AboutDialog dialog(dialogs_);
    QCOMPARE(dialog.findChild<QLabel*>("lblVersion")->text(), QString("Version: " VELLIX_VERSION));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* site = dialog.findChild<QLabel*>("lblSite");
    QTest::mouseClick(site, Qt::LeftButton, {}, QPoint(20, site->height() / 2));
    QCOMPARE(dialogs_.opened, std::vector<QUrl>{QUrl(AboutDialog::kHomePage)});
    QVERIFY(dialog.isVisible());
  }

  void screenshots() {
    TempDir tmp;
    QCOMPARE(QProcess::execute(MAKE_SAMPLES, {Q(tmp / "bookshelf")}), 0);  // as ./run does
    MakeBookFolder(tmp / "MYBOOK.RES", "My Book");
    WriteSettings(tmp / "config", tmp / "bookshelf");
    BookshelfWindow window(dialogs_);
    QCOMPARE(Listed(window).size(), 7);
    Screenshot(window, "bookshelf");
    AddBookDialog add(dialogs_, &window);
    add.findChild<QLineEdit*>("txtRESpath")->setText(Q(tmp / "MYBOOK.RES"));
    Screenshot(add, "add_book");
    AboutDialog about(dialogs_, &window);
    Screenshot(about, "about");
  }
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
