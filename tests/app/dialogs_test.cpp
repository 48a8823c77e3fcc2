// The Add Book dialog on its own (which paths enable "&Add", how a failure
// is reported) and the About box.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "about_dialog.h"
#include "add_book_dialog.h"
#include "app_test_support.h"
#include "vellix/bookshelf.h"

using namespace apptest;

class DialogsTest : public QObject {
  Q_OBJECT

  FakePlatformDialogs dialogs_;

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

  // A folder without its information file cannot be converted: the error
  // is shown, the dialog stays open and nothing is added or written.
  void failedAddIsReportedAndAddsNothing() {
    TempDir tmp;
    MakeShelf(tmp / "shelf", {});
    fs::create_directories(tmp / "EMPTY.RES");
    auto shelf = std::make_shared<vellix::Bookshelf>();
    shelf->Load(tmp / "shelf");
    AddBookDialog dialog(dialogs_);
    dialog.SetBookshelf(shelf);
    dialogs_.answers = {"", Q(tmp / "EMPTY.RES")};
    dialogs_.on_modal = [&](QDialog& d) {
      auto* browse = d.findChild<QPushButton*>("cmdBrowse");
      QTest::mouseClick(browse, Qt::LeftButton);  // cancelled
      QCOMPARE(d.findChild<QLineEdit*>("txtRESpath")->text(), QString());
      QTest::mouseClick(browse, Qt::LeftButton);
      auto* add = d.findChild<QPushButton*>("cmdConvert");
      QTest::mouseClick(add, Qt::LeftButton);
      QVERIFY(d.isVisible());
      QVERIFY(add->isEnabled());
      QVERIFY(!QGuiApplication::overrideCursor());
    };
    QCOMPARE(dialogs_.RunModal(dialog), int(QDialog::Rejected));
    QCOMPARE(dialogs_.asked.value(0), QString("Choose a Vellix eBook (*.RES):"));
    QCOMPARE(dialogs_.messages,
             QStringList({"Vellix Publisher: File not found (53)\n" + Q(tmp / "EMPTY.RES/RSRC.INF")}));
    QVERIFY(!dialog.Book());
    QCOMPARE(shelf->Books()->Count(), 0);
    QCOMPARE(AllFiles(tmp / "shelf"), QStringList());
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
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
