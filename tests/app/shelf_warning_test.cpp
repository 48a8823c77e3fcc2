// The main window while it loads a shelf with a damaged book: the readable
// books are listed, a warning bar above the list names the damaged file,
// and typing in the folder box goes on without a dialog in the way.
#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QtTest>
#include <memory>

#include "app_test_support.h"
#include "bookshelf_window.h"

using namespace apptest;

class ShelfWarningTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TempDir> tmp_;
  FakePlatformDialogs dialogs_;
  std::unique_ptr<BookshelfWindow> w_;

  std::string Path(const std::string& name) const { return *tmp_ / name; }
  QStringList Listed() const {
    QStringList titles;
    auto* list = w_->findChild<QListWidget*>("lstBookshelf");
    for (int i = 0; i < list->count(); ++i) titles << list->item(i)->text();
    return titles;
  }
  QLineEdit* Box() const { return w_->findChild<QLineEdit*>("txtBookshelf"); }
  QWidget* Bar() const { return w_->findChild<QFrame*>("fraUnreadable"); }
  QString BarText() const {
    return w_->findChild<QLabel*>("lblUnreadable")->text() + "\n" +
           w_->findChild<QLabel*>("lblUnreadableBooks")->text();
  }

 private slots:
  void init() {
    tmp_ = std::make_unique<TempDir>();
    dialogs_ = FakePlatformDialogs();
    // "shel" holds one book file too short to hold a header; "shelf" is sound.
    MakeShelf(Path("shel"), {"Kept", "Also kept"});
    WriteFile(Path("shel/SHORT.imp"), std::string("\0\2IMP", 5));
    MakeShelf(Path("shelf"), {"Salt & Pepper", "a &lt; b"});
    WriteSettings(Path("config"), "");
    w_ = std::make_unique<BookshelfWindow>(dialogs_);
    w_->show();
    QVERIFY(QTest::qWaitForWindowActive(w_.get()));
  }
  void cleanup() {
    w_.reset();
    tmp_.reset();
  }

  void damagedBookIsNamedWhileTypingGoesOn() {
    Box()->setText(Q(Path("")));  // the temporary folder itself: no books
    Box()->setFocus();
    QTest::keyClicks(Box(), "shel");
    QCOMPARE(Listed(), QStringList({"Also kept", "Kept"}));
    QVERIFY(Bar()->isVisible());
    QVERIFY2(BarText().startsWith("1 book could not be read:\nSHORT.imp: "), qPrintable(BarText()));
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(QApplication::focusWidget(), Box());

    QTest::keyClick(Box(), 'f');  // the next key lands in the box
    QCOMPARE(Box()->text(), Q(Path("shelf")));
    QVERIFY(!Bar()->isVisible());
    QVERIFY(dialogs_.messages.isEmpty());
    QCOMPARE(QApplication::focusWidget(), Box());
  }

  // Stored escapes stay in the library; the list shows what people read.
  void titlesReadAsTyped() {
    Box()->setText(Q(Path("shelf")));
    QCOMPARE(Listed(), QStringList({"a &lt; b", "Salt & Pepper"}));
  }
};

QTEST_MAIN(ShelfWarningTest)
#include "shelf_warning_test.moc"
