// The window driven as a user would, with every platform dialog played by
// FakePlatformDialogs: the folder box and the warning bar for damaged
// books, Browse, Add Book, both exports, the About box; then the main
// window on the sample bookshelf and both dialogs rendered to PNG files for
// a reviewer, with no button or label squeezed below what its text needs.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QtTest>
#include <filesystem>
#include <functional>
#include <memory>

#include "about_dialog.h"
#include "add_book_dialog.h"
#include "bookshelf_window.h"
#include "edit_book_dialog.h"
#include "fake_platform_dialogs.h"
#include "ikutil/device_edition.h"
#include "table_probe.h"
#include "test_util.h"
#include "vellix/book.h"

namespace {

namespace fs = std::filesystem;
using namespace vellix::fixtures;

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Points the settings at `config_home` and records the values given there.
void WriteSettings(const std::string& config_home, const std::string& bookshelf, const std::string& dsk = "",
                   const std::string& remote_url = "") {
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config_home));
  fs::create_directories(config_home + "/OrvoTools");
  WriteFile(config_home + "/OrvoTools/Vellixlibrarian.conf",
            "[Locations]\nBookShelf=" + bookshelf + "\nDsK=" + dsk +
                (remote_url.empty() ? "" : "\n[Sites]\nRemoteBookShelfUrl=" + remote_url) + "\n");
}

Info Titled(const std::string& title) { return Info{"ID42", "Fiction", "", title, "Writer", "", "Some"}; }

// A bookshelf folder holding one book file per title.
void MakeShelf(const std::string& folder, const QStringList& titles) {
  fs::create_directories(folder);
  for (int n = 0; n < titles.size(); ++n)
    WriteFile(folder + "/BOOK" + std::to_string(n + 1) + ".imp", SimpleBookFile(Titled(titles[n].toStdString())));
}

// A book file as this program builds them, of one paragraph.
void WriteOwnBook(const std::string& path, const std::string& title) {
  ikutil::DeviceEdition e;
  e.language = "en-GB";
  e.text_styles = {{}};
  e.block_styles = {{}};
  e.blocks.push_back(
      {ikutil::BlockKind::kParagraph, 0, 0, "", ikutil::kNoImage, "", {{"The tide was out.", 0, ikutil::kNoLink}}});
  ikutil::BookInformation info;
  info.book_id = "OWN1";
  info.title = title;
  info.folder_name = "OWN.RES";
  fs::create_directories(fs::path(path).parent_path());
  ikutil::WriteDeviceBook(e, info, {}, path);
}

// Every file below `folder`, to see what a command wrote.
QStringList AllFiles(const std::string& folder) {
  QStringList files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) files << Q(entry.path().string());
  files.sort();
  return files;
}

}  // namespace

class BookshelfWindowTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TempDir> tmp_;
  FakePlatformDialogs dialogs_;
  std::unique_ptr<BookshelfWindow> w_;

  std::string Path(const std::string& name) const { return *tmp_ / name; }
  BookshelfWindow& Start(const std::string& bookshelf) {
    WriteSettings(Path("config"), bookshelf.empty() ? "" : Path(bookshelf));
    w_ = std::make_unique<BookshelfWindow>(dialogs_);
    WaitLoaded(*w_);
    return *w_;
  }
  QStringList Listed() const { return Column(*w_, 0); }
  QLineEdit* Box() const { return w_->findChild<QLineEdit*>("txtBookshelf"); }
  void Click(const char* button) { QTest::mouseClick(w_->findChild<QPushButton*>(button), Qt::LeftButton); }
  void SelectRow(int row) {
    auto* table = w_->findChild<QTableView*>("lstBookshelf");
    table->selectionModel()->setCurrentIndex(table->model()->index(row, 0),
                                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }
  bool Enabled(const char* name) const {
    if (auto* action = w_->findChild<QAction*>(name)) return action->isEnabled();
    return w_->findChild<QWidget*>(name)->isEnabled();
  }

 private slots:
  void init() {
    w_.reset();  // before the folder it may still be reading
    tmp_ = std::make_unique<TempDir>();
    dialogs_ = FakePlatformDialogs();
    // Stored escapes stay in the library; the list shows what people read.
    MakeShelf(Path("shelf"), {"banana", "Cherry & Co", "a &lt; b"});
    MakeShelf(Path("s"), {"Short"});
    // "shel" holds one book file too short to hold a header.
    MakeShelf(Path("shel"), {"Kept", "Also kept"});
    WriteFile(Path("shel/SHORT.imp"), std::string("\0\2IMP", 5));
  }

  void startUp_data() {
    QTest::addColumn<QString>("recorded");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("no setting") << "" << QStringList();
    QTest::newRow("missing folder") << "gone" << QStringList();
    QTest::newRow("bookshelf") << "shelf" << QStringList({"a &lt; b", "banana", "Cherry & Co"});
  }
  void startUp() {
    QFETCH(QString, recorded);
    QFETCH(QStringList, listed);
    Start(recorded.toStdString());
    QCOMPARE(Listed(), listed);
    QVERIFY(dialogs_.messages.isEmpty());
    // Commands on a bookshelf wait for one.
    for (const char* command : {"cmdAdd", "cmdImport", "mnuExportBookList", "mnuExport"})
      QCOMPARE(Enabled(command), !listed.isEmpty());
  }

  // Every prefix that names a folder opens it; the others keep the list. A
  // damaged book is named in a bar above the list, and no dialog takes the
  // focus from the box.
  void typingOpensEachExistingFolder() {
    Start("").show();
    QVERIFY(QTest::qWaitForWindowActive(w_.get()));
    Box()->setText(Q(Path("")));  // the temporary folder itself: no books
    Box()->setFocus();
    auto* bar = w_->findChild<QFrame*>("fraUnreadable");
    const QStringList shelf = {"a &lt; b", "banana", "Cherry & Co"}, shel = {"Also kept", "Kept"};
    const std::tuple<char, QStringList, bool> steps[] = {{'s', {"Short"}, false}, {'h', {"Short"}, false},
                                                         {'e', {"Short"}, false}, {'l', shel, true},
                                                         {'f', shelf, false},     {'x', shelf, false}};
    for (const auto& [key, listed, warned] : steps) {
      QTest::keyClick(Box(), key);
      QCOMPARE(Listed(), listed);
      QCOMPARE(bar->isVisible(), warned);
      QVERIFY(!QApplication::activeModalWidget());
      QCOMPARE(QApplication::focusWidget(), Box());
      if (!warned) continue;
      QString text =
          w_->findChild<QLabel*>("lblUnreadable")->text() + "\n" + w_->findChild<QLabel*>("lblUnreadableBooks")->text();
      QVERIFY2(text.startsWith("1 book could not be read:\nSHORT.imp: "), qPrintable(text));
    }
    QCOMPARE(Box()->text(), Q(Path("shelfx")));
    QVERIFY(dialogs_.messages.isEmpty());
    QVERIFY(!QGuiApplication::overrideCursor());
  }

  void browse() {
    Start("shelf");
    dialogs_.answers = {"", Q(Path("s"))};
    Click("cmdBrowse");
    QCOMPARE(Box()->text(), Q(Path("shelf")));
    QCOMPARE(Listed().size(), 3);
    Click("cmdBrowse");
    QCOMPARE(Box()->text(), Q(Path("s")));
    QCOMPARE(Listed(), QStringList({"Short"}));
    QCOMPARE(dialogs_.asked.value(0), QString("Choose a directory with Vellix eBooks:"));
  }

  // Add Book: a folder without its information file is refused with the
  // error shown and the dialog left open; a good one is added each time
  // "&Add" is pressed, never when the dialog is closed.
  void addBookListsEachAddedBook() {
    MakeBookFolder(Path("in/MYBOOK.RES"), RsrcInf(Titled("Added")), "fork");
    fs::create_directories(Path("in/EMPTY.RES"));
    Start("s");
    dialogs_.answers = {"", Q(Path("in/EMPTY.RES"))};
    int round = 0;
    dialogs_.on_modal = [&](QDialog& dialog) {
      auto* add = dialog.findChild<QPushButton*>("cmdConvert");
      auto* box = dialog.findChild<QLineEdit*>("txtRESpath");
      if (round++ == 0) {
        auto* browse = dialog.findChild<QPushButton*>("cmdBrowse");
        QTest::mouseClick(browse, Qt::LeftButton);  // cancelled
        QCOMPARE(box->text(), QString());
        QTest::mouseClick(browse, Qt::LeftButton);
        QTest::mouseClick(add, Qt::LeftButton);
        QVERIFY(dialog.isVisible() && add->isEnabled());
        QVERIFY(!QGuiApplication::overrideCursor());
      }
      box->setText(Q(Path("in/MYBOOK.RES")));
      if (round < 3) QTest::mouseClick(add, Qt::LeftButton);
    };
    for (int i = 0; i < 3; ++i) Click("cmdAdd");
    QCOMPARE(dialogs_.asked.value(0), QString("Choose a Vellix eBook (*.RES):"));
    QCOMPARE(dialogs_.messages,
             QStringList({"Vellix Publisher: File not found (53)\n" + Q(Path("in/EMPTY.RES/RSRC.INF"))}));
    QCOMPARE(Listed(), QStringList({"Added", "Added", "Short"}));
    QStringList files = AllFiles(Path("s"));
    QCOMPARE(files.size(), 3);
    files.removeAll(Q(Path("s/BOOK1.imp")));
    for (const QString& file : files)  // two fresh, different names
      QVERIFY2(QRegularExpression("/[A-Z]{8}\\.imp$").match(file).hasMatch(), qPrintable(file));
    QVERIFY(files[0] != files[1]);
  }

  // The last bookshelf opened is opened again at the next start while it
  // exists; the library's recorded folder is the fallback and is never
  // written.
  void lastBookshelfRemembered() {
    Start("shelf");
    const std::string library_settings = ReadFile(Path("config/OrvoTools/Vellixlibrarian.conf"));
    Box()->setText(Q(Path("s")));
    QCOMPARE(Listed(), QStringList({"Short"}));
    w_ = std::make_unique<BookshelfWindow>(dialogs_);
    QCOMPARE(Listed(), QStringList({"Short"}));
    QCOMPARE(Box()->text(), Q(Path("s")));
    w_.reset();
    fs::remove_all(Path("s"));
    w_ = std::make_unique<BookshelfWindow>(dialogs_);
    QCOMPARE(Listed().size(), 3);
    QCOMPARE(ReadFile(Path("config/OrvoTools/Vellixlibrarian.conf")), library_settings);
  }

  // Several books selected and removed with Delete go to the trash and
  // leave the table; Ctrl+Z brings them back. Ctrl+F reaches the filter,
  // where Delete edits the text and removes nothing.
  void removeToTrashAndUndo() {
    qputenv("HOME", QByteArray::fromStdString(Path("home")));
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(Path("home/.local/share")));
    fs::create_directories(Path("home/.local/share"));
    Start("shelf").show();
    QVERIFY(QTest::qWaitForWindowActive(w_.get()));
    auto* table = w_->findChild<QTableView*>("lstBookshelf");
    QVERIFY(!Enabled("mnuUndoRemove"));
    table->setFocus();
    table->selectRow(0);  // "a &lt; b", BOOK3
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      table->visualRect(table->model()->index(2, 0)).center());  // "Cherry & Co", BOOK2
    QCOMPARE(table->selectionModel()->selectedRows().size(), 2);
    QCOMPARE(table->actions().size(), 4);  // the context menu
    QTest::keyClick(table, Qt::Key_Delete);
    QCOMPARE(Listed(), QStringList({"banana"}));
    QCOMPARE(AllFiles(Path("shelf")), QStringList({Q(Path("shelf/BOOK1.imp"))}));
    QStringList trashed = AllFiles(Path("home/.local/share/Trash"));
    QCOMPARE(trashed.size(), 4);  // two books and their records
    QVERIFY(Enabled("mnuUndoRemove"));

    QTest::keyClick(w_.get(), Qt::Key_F, Qt::ControlModifier);
    auto* filter = w_->findChild<QLineEdit*>("txtFilter");
    QCOMPARE(QApplication::focusWidget(), filter);
    QTest::keyClicks(filter, "ban");
    QTest::keyClick(filter, Qt::Key_Home);
    QTest::keyClick(filter, Qt::Key_Delete);
    QCOMPARE(filter->text(), QString("an"));
    filter->clear();
    QCOMPARE(Listed(), QStringList({"banana"}));

    QTest::keyClick(w_.get(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(Listed(), QStringList({"a &lt; b", "banana", "Cherry & Co"}));
    QCOMPARE(AllFiles(Path("shelf")).size(), 3);
    QVERIFY(AllFiles(Path("home/.local/share/Trash")).isEmpty());
    QVERIFY(!Enabled("mnuUndoRemove"));
    QVERIFY(dialogs_.messages.isEmpty());
  }

  // Save as EPUB proposes the title, made a file name, beside the
  // bookshelf; a book the program did not build is refused with its reason
  // and nothing written.
  void saveAsEpub() {
    WriteOwnBook(Path("own/OWN.imp"), "Tide: Tables?");
    Start("own");  // its book selected, as the first one always is
    dialogs_.answers = {Q(Path("out"))};
    w_->findChild<QAction*>("mnuSaveAsEpub")->trigger();
    QCOMPARE(dialogs_.asked, QStringList(Q(Path("Tide- Tables-.epub")) + "|EPUB Book (*.epub)"));
    QVERIFY2(dialogs_.messages.isEmpty(), qPrintable(dialogs_.messages.join('\n')));
    QVERIFY(ReadFile(Path("out.epub")).starts_with("PK"));

    Box()->setText(Q(Path("s")));
    QCOMPARE(Listed(), QStringList({"Short"}));
    dialogs_.answers = {Q(Path("short.epub"))};
    w_->findChild<QAction*>("mnuSaveAsEpub")->trigger();
    QCOMPARE(dialogs_.messages.size(), 1);
    QVERIFY2(dialogs_.messages[0].startsWith("Vellix Publisher: Not saved as EPUB:"), qPrintable(dialogs_.messages[0]));
    QVERIFY(!fs::exists(Path("short.epub")));

    // Several selected books go into a folder, each under its title, never
    // over a file already there.
    WriteOwnBook(Path("two/ONE.imp"), "First");
    WriteOwnBook(Path("two/TWO.imp"), "Second");
    fs::create_directories(Path("eps"));
    WriteFile(Path("eps/Second.epub"), "mine");
    Box()->setText(Q(Path("two")));
    QCOMPARE(Listed(), QStringList({"First", "Second"}));
    w_->findChild<QTableView*>("lstBookshelf")->selectAll();
    dialogs_ = FakePlatformDialogs();
    dialogs_.answers = {Q(Path("eps"))};
    w_->findChild<QAction*>("mnuSaveAsEpub")->trigger();
    QCOMPARE(dialogs_.asked, QStringList("Choose a folder for the 2 EPUB books:"));
    QVERIFY2(dialogs_.messages.isEmpty(), qPrintable(dialogs_.messages.join('\n')));
    QCOMPARE(ReadFile(Path("eps/Second.epub")), std::string("mine"));
    for (const char* file : {"eps/First.epub", "eps/Second (2).epub"})
      QVERIFY2(ReadFile(Path(file)).starts_with("PK"), file);
  }

  // F2 edits the current book: Save rewrites its file with the fields as
  // typed and the list follows; Cancel, or a book gone from the disk,
  // leaves everything as it was, the failure said in a message.
  void editBook() {
    Start("shelf").show();
    QVERIFY(QTest::qWaitForWindowActive(w_.get()));
    auto* table = w_->findChild<QTableView*>("lstBookshelf");
    table->setFocus();
    SelectRow(1);  // "banana", BOOK1
    QStringList shown;
    auto edit = [&](const QStringList& fields, bool save) {
      dialogs_.on_modal = [&, fields, save](QDialog& dialog) {
        QStringList boxes;
        for (const char* name : {"txtTitle", "txtAuthor", "txtCategory"}) {
          auto* box = dialog.findChild<QLineEdit*>(name);
          boxes << box->text();
          if (!fields.isEmpty()) box->setText(fields[boxes.size() - 1]);
        }
        shown = boxes;
        auto* button = dialog.findChild<QPushButton*>("cmdSave");
        QCOMPARE(button->isEnabled(), !fields.contains(""));
        if (save) QTest::mouseClick(button, Qt::LeftButton);
      };
      QTest::keyClick(table, Qt::Key_F2);
    };
    const std::string before = ReadFile(Path("shelf/BOOK1.imp"));
    edit({"Zest & Zeal", "", "Food"}, false);
    QCOMPARE(shown, QStringList({"banana", "Some Writer", "Fiction"}));
    QCOMPARE(ReadFile(Path("shelf/BOOK1.imp")), before);
    edit({"Zest & Zeal", "Ann  Lee", "Food"}, true);
    QVERIFY2(dialogs_.messages.isEmpty(), qPrintable(dialogs_.messages.join('\n')));
    QCOMPARE(Listed(), QStringList({"a &lt; b", "Cherry & Co", "Zest & Zeal"}));
    QCOMPARE(Column(*w_, 1).value(2), QString("Ann Lee"));
    QCOMPARE(table->currentIndex().row(), 2);  // still the current book
    vellix::Book reread;
    reread.Load(Path("shelf/BOOK1.imp"));
    QCOMPARE(Q(reread.PlainTitle() + "|" + reread.PlainAuthor() + "|" + reread.PlainCategory()),
             QString("Zest & Zeal|Ann Lee|Food"));
    QCOMPARE(AllFiles(Path("shelf")).size(), 3);

    fs::remove(Path("shelf/BOOK1.imp"));
    edit({"Gone", "Ann Lee", "Food"}, true);
    QCOMPARE(dialogs_.messages.size(), 1);
    QVERIFY2(dialogs_.messages[0].startsWith("Vellix Publisher: The book was not changed:\nFile not found (53)"),
             qPrintable(dialogs_.messages[0]));
    QCOMPARE(Listed(), QStringList({"a &lt; b", "Cherry & Co", "Zest & Zeal"}));
    QVERIFY(!fs::exists(Path("shelf/BOOK1.imp")));
    EditBookDialog dialog(w_.get());
    dialog.SetFields("Zest & Zeal", "Ann Lee", "Food");
    SaveScreenshot(dialog, "edit_book");
  }

  // In a dark palette the pale warning bar and the preview's white paper
  // keep dark text. The window fits the screen it opens on (the offscreen
  // screen is smaller than the window's first size, as a scaled one is).
  void darkPaletteAndSmallScreen() {
    QPalette dark;
    for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button}) dark.setColor(role, QColor(40, 40, 40));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) dark.setColor(role, Qt::white);
    const QPalette before = QApplication::palette();
    QApplication::setPalette(dark);
    Start("shel").show();
    QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
    QImage bar = w_->findChild<QFrame*>("fraUnreadable")->grab().toImage();
    int dark_pixels = 0;
    for (int y = 0; y < bar.height(); ++y)
      for (int x = 0; x < bar.width(); ++x) dark_pixels += qGray(bar.pixel(x, y)) < 110;
    QVERIFY2(dark_pixels > 20, qPrintable(QString::number(dark_pixels)));
    const QPalette paper = w_->findChild<QLabel*>("lblPreviewMessage")->palette();
    QVERIFY(paper.color(QPalette::WindowText).lightness() < 100 && paper.color(QPalette::Window).lightness() > 200);
    const QRect screen = w_->screen()->availableGeometry();
    QVERIFY2(screen.contains(w_->geometry()), qPrintable(QStringLiteral("%1x%2").arg(w_->width()).arg(w_->height())));
    SaveScreenshot(*w_, "bookshelf_dark");
    QApplication::setPalette(before);
  }

  void exports_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("remote");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QString>("message");
    const QString list = "http://h.example/r/list.txt", text = "list.txt|Book List (*.txt)",
                  web = "my.htm|Web Page (*.htm)";
    auto row = [](const char* name, const char* command, QString remote, QString answer, QString asked,
                  QByteArray written = {}, QString message = {}) {
      QTest::newRow(name) << QString(command) << remote << answer << asked << written << message;
    };
    const QString list_failed = "Vellix Publisher: The book list was not exported:\n",
                  document_failed = "Vellix Publisher: The book list document was not exported:\n";
    row("list", "mnuExportBookList", list, "out", text, "\thttp://h.example/r/BOOK1.imp\t1\t17\r\n");
    row("list, no address", "mnuExportBookList", "", "out", "|Book List (*.txt)", {},
        list_failed + "The book list needs the web address of the remote bookshelf");
    row("list, cancelled", "mnuExportBookList", list, "", text);
    row("list, unwritable", "mnuExportBookList", list, "no/out", text, {}, list_failed + "Path not found (76)");
    row("document", "mnuExport", "", "out", web, "<html>\r\n");
    row("document, cancelled", "mnuExport", "", "", web);
    row("document, unwritable", "mnuExport", "", "no/out", web, {}, document_failed + "Path not found (76)");
  }
  // A cancel writes nothing and says nothing; a missing address or a
  // failure writes nothing and says why.
  void exports() {
    QFETCH(QString, command);
    QFETCH(QString, remote);
    QFETCH(QString, answer);
    QFETCH(QString, asked);
    QFETCH(QByteArray, written);
    QFETCH(QString, message);
    MakeShelf(Path("dsk/my.shelf"), {"One"});
    // A trailing slash in the folder box still proposes the folder's name.
    WriteSettings(Path("config"), Path("dsk/my.shelf/"), Path("dsk/device"), remote.toStdString());
    w_ = std::make_unique<BookshelfWindow>(dialogs_);
    QVERIFY(WaitLoaded(*w_));
    if (!answer.isEmpty()) dialogs_.answers = {Q(Path(answer.toStdString()))};
    QStringList before = AllFiles(Path(""));
    w_->findChild<QAction*>(command)->trigger();
    QCOMPARE(dialogs_.asked, QStringList(Q(Path("dsk/")) + asked));
    if (message.isEmpty()) {
      QVERIFY2(dialogs_.messages.isEmpty(), qPrintable(dialogs_.messages.join('\n')));
    } else {
      QCOMPARE(dialogs_.messages.size(), 1);
      QVERIFY2(dialogs_.messages[0].startsWith(message), qPrintable(dialogs_.messages[0]));
    }
    if (written.isEmpty()) {
      QCOMPARE(AllFiles(Path("")), before);
    } else {
      QByteArray out = QByteArray::fromStdString(ReadFile(Path("out")));
      QVERIFY2(out.startsWith(written) || out.endsWith(written), out.constData());
    }
  }

  // Only an existing folder whose name ends in ".res", in any case, enables "&Add".
  void addFollowsThePath() {
    for (const char* folder : {"x.res", "BOOK.RESX", "XRES"}) fs::create_directories(Path(folder));
    WriteFile(Path("BOOK.RES"), "a file");
    AddBookDialog dialog(dialogs_);
    auto* add = dialog.findChild<QPushButton*>("cmdConvert");
    auto* box = dialog.findChild<QLineEdit*>("txtRESpath");
    QVERIFY(!add->isEnabled());
    const std::pair<const char*, bool> paths[] = {{"x.res", true},      {"BOOK.RES", false}, {"x.res", true},
                                                  {"BOOK.RESX", false}, {"GONE.RES", false}, {"x.res", true},
                                                  {"XRES", false}};
    for (const auto& [path, enabled] : paths) {
      box->setText(Q(Path(path)));
      QVERIFY2(add->isEnabled() == enabled, path);
    }
    box->clear();
    QVERIFY(!add->isEnabled());
  }

  // The link shows and opens the home page the build names; without one
  // there is no link. Close closes the box.
  void aboutShowsVersionAndOpensHomePage() {
    const QString home = "https://publisher.test/";
    AboutDialog dialog(dialogs_, nullptr, home);
    QCOMPARE(dialog.findChild<QLabel*>("lblVersion")->text(), QString("Version: " VELLIX_VERSION));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* site = dialog.findChild<QLabel*>("lblSite");
    QTest::mouseClick(site, Qt::LeftButton, {}, QPoint(20, site->height() / 2));
    QCOMPARE(dialogs_.opened, std::vector<QUrl>{QUrl(home)});
    QVERIFY(dialog.isVisible());
    auto* close = dialog.findChild<QDialogButtonBox*>("cmdClose")->button(QDialogButtonBox::Close);
    QTest::mouseClick(close, Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    AboutDialog plain(dialogs_);
    plain.show();
    QVERIFY(QTest::qWaitForWindowExposed(&plain));
    QCOMPARE(plain.findChild<QLabel*>("lblSite")->isVisible(), QByteArray(kProgramHomePage).size() > 0);
  }

  void screenshots() {
    QCOMPARE(QProcess::execute(MAKE_SAMPLES, {Q(Path("bookshelf"))}), 0);  // as ./run does
    MakeBookFolder(Path("MYBOOK.RES"), RsrcInf(Titled("My Book")), "fork");
    BookshelfWindow& window = Start("bookshelf");
    QCOMPARE(Listed().size(), 7);
    SaveScreenshot(window, "bookshelf");
    AddBookDialog add(dialogs_, &window);
    add.findChild<QLineEdit*>("txtRESpath")->setText(Q(Path("MYBOOK.RES")));
    SaveScreenshot(add, "add_book");
    AboutDialog about(dialogs_, &window);
    SaveScreenshot(about, "about");
  }
};

QTEST_MAIN(BookshelfWindowTest)
#include "bookshelf_window_test.moc"
