// The main window driven as a user would: the folder box, Browse, Add Book
// through the window, and both exports, with every platform dialog played
// by FakePlatformDialogs.
#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>
#include <memory>

#include "app_test_support.h"
#include "bookshelf_window.h"

using namespace apptest;

class BookshelfWindowTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TempDir> tmp_;
  FakePlatformDialogs dialogs_;
  std::unique_ptr<BookshelfWindow> w_;

  std::string Path(const std::string& name) const { return *tmp_ / name; }
  BookshelfWindow& Start() {
    w_ = std::make_unique<BookshelfWindow>(dialogs_);
    return *w_;
  }
  QStringList Listed() const {
    QStringList titles;
    auto* list = w_->findChild<QListWidget*>("lstBookshelf");
    for (int i = 0; i < list->count(); ++i) titles << list->item(i)->text();
    return titles;
  }
  QLineEdit* Box() const { return w_->findChild<QLineEdit*>("txtBookshelf"); }
  void Click(const char* button) { QTest::mouseClick(w_->findChild<QPushButton*>(button), Qt::LeftButton); }
  bool Enabled(const char* name) const {
    if (auto* action = w_->findChild<QAction*>(name)) return action->isEnabled();
    return w_->findChild<QWidget*>(name)->isEnabled();
  }

 private slots:
  void init() {
    tmp_ = std::make_unique<TempDir>();
    dialogs_ = FakePlatformDialogs();
    MakeShelf(Path("shelf"), {"banana", "Cherry", "apple"});
    MakeShelf(Path("s"), {"Short"});
  }
  void cleanup() {
    w_.reset();
    tmp_.reset();
  }

  void startUp_data() {
    QTest::addColumn<QString>("recorded");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("no setting") << "" << QStringList();
    QTest::newRow("missing folder") << "gone" << QStringList();
    QTest::newRow("bookshelf") << "shelf" << QStringList({"apple", "banana", "Cherry"});
  }
  void startUp() {
    QFETCH(QString, recorded);
    QFETCH(QStringList, listed);
    WriteSettings(Path("config"), recorded.isEmpty() ? "" : Path(recorded.toStdString()));
    Start();
    QCOMPARE(Listed(), listed);
    QVERIFY(dialogs_.messages.isEmpty());
    // Commands on a bookshelf wait for one; importing is not there yet.
    for (const char* command : {"cmdAdd", "mnuExportBookList", "mnuExport"})
      QCOMPARE(Enabled(command), !listed.isEmpty());
    QVERIFY(!Enabled("cmdImport"));
    QVERIFY(!w_->findChild<QPushButton*>("cmdImport")->toolTip().isEmpty());
  }

  // Every prefix that names a folder opens it; the others keep the list.
  void typingOpensEachExistingFolder() {
    WriteSettings(Path("config"), "");
    Start().show();
    Box()->setText(Q(Path("")));  // the temporary folder itself: no books
    Box()->setFocus();
    const std::pair<char, QStringList> steps[] = {{'s', {"Short"}},
                                                  {'h', {"Short"}},
                                                  {'e', {"Short"}},
                                                  {'l', {"Short"}},
                                                  {'f', {"apple", "banana", "Cherry"}},
                                                  {'x', {"apple", "banana", "Cherry"}}};
    for (const auto& [key, listed] : steps) {
      QTest::keyClick(Box(), key);
      QCOMPARE(Listed(), listed);
    }
    QVERIFY(dialogs_.messages.isEmpty());
    QVERIFY(!QGuiApplication::overrideCursor());
  }

  void browse() {
    WriteSettings(Path("config"), Path("shelf"));
    Start();
    dialogs_.answers = {"", Q(Path("s"))};
    Click("cmdBrowse");
    QCOMPARE(Box()->text(), Q(Path("shelf")));
    QCOMPARE(Listed().size(), 3);
    Click("cmdBrowse");
    QCOMPARE(Box()->text(), Q(Path("s")));
    QCOMPARE(Listed(), QStringList({"Short"}));
    QCOMPARE(dialogs_.asked.value(0), QString("Choose a directory with Vellix eBooks:"));
  }

  void addBookListsEachAddedBook() {
    MakeBookFolder(Path("in/MYBOOK.RES"), "Added");
    WriteSettings(Path("config"), Path("s"));
    Start();
    bool press = true;
    dialogs_.on_modal = [&](QDialog& dialog) {
      dialog.findChild<QLineEdit*>("txtRESpath")->setText(Q(Path("in/MYBOOK.RES")));
      if (press) QTest::mouseClick(dialog.findChild<QPushButton*>("cmdConvert"), Qt::LeftButton);
    };
    Click("cmdAdd");
    Click("cmdAdd");
    press = false;  // closed without "&Add": nothing changes
    Click("cmdAdd");
    QCOMPARE(Listed(), QStringList({"Added", "Added", "Short"}));
    QStringList files = AllFiles(Path("s"));
    QCOMPARE(files.size(), 3);
    files.removeAll(Q(Path("s/BOOK1.imp")));
    for (const QString& file : files)  // two fresh, different names
      QVERIFY2(QRegularExpression("/[A-Z]{8}\\.imp$").match(file).hasMatch(), qPrintable(file));
    QVERIFY(files[0] != files[1]);
  }

  void exports_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("remote");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<QByteArray>("written");
    const QString list = "http://books.example/remote/list.txt";
    const QString text = "list.txt|Book List (*.txt)", web = "my.htm|Web Page (*.htm)";
    QTest::newRow("list") << "mnuExportBookList" << list << "out" << text
                          << QByteArray("\thttp://books.example/remote/BOOK1.imp\t1\t17\r\n");
    QTest::newRow("list, no address") << "mnuExportBookList"
                                      << ""
                                      << "out"
                                      << "|Book List (*.txt)" << QByteArray();
    QTest::newRow("list, cancelled") << "mnuExportBookList" << list << "" << text << QByteArray();
    QTest::newRow("list, unwritable") << "mnuExportBookList" << list << "no/out" << text << QByteArray();
    QTest::newRow("document") << "mnuExport"
                              << ""
                              << "out" << web << QByteArray("<html>\r\n");
    QTest::newRow("document, cancelled") << "mnuExport"
                                         << ""
                                         << "" << web << QByteArray();
    QTest::newRow("document, unwritable") << "mnuExport"
                                          << ""
                                          << "no/out" << web << QByteArray();
  }
  // A cancel, a missing address or a failure writes nothing and says nothing.
  void exports() {
    QFETCH(QString, command);
    QFETCH(QString, remote);
    QFETCH(QString, answer);
    QFETCH(QString, asked);
    QFETCH(QByteArray, written);
    MakeShelf(Path("dsk/my.shelf"), {"One"});
    // A trailing slash in the folder box still proposes the folder's name.
    WriteSettings(Path("config"), Path("dsk/my.shelf/"), Path("dsk/device"), remote.toStdString());
    Start();
    if (!answer.isEmpty()) dialogs_.answers = {Q(Path(answer.toStdString()))};
    QStringList before = AllFiles(Path(""));
    w_->findChild<QAction*>(command)->trigger();
    QCOMPARE(dialogs_.asked, QStringList(Q(Path("dsk/")) + asked));
    QVERIFY(dialogs_.messages.isEmpty());
    if (written.isEmpty()) {
      QCOMPARE(AllFiles(Path("")), before);
    } else {
      QByteArray out = QByteArray::fromStdString(ReadFile(Path("out")));
      QVERIFY2(out.startsWith(written) || out.endsWith(written), out.constData());
    }
  }
};

QTEST_MAIN(BookshelfWindowTest)
#include "bookshelf_window_test.moc"
