// The Import Book dialog driven as a user would: the three fields follow
// the chosen file, "&Import Book" follows the fields, an import lands in
// the main window's list with the title as typed, and a failed or
// cancelled one leaves the dialog open and the shelf as it was.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <memory>

#include "bookshelf_window.h"
#include "epub_maker.h"
#include "fake_platform_dialogs.h"
#include "import_book_dialog.h"
#include "preview_window.h"
#include "publish_progress.h"
#include "shelf_presenter.h"
#include "table_probe.h"
#include "test_util.h"
#include "vellix/booklist.h"
#include "vellix/bookshelf.h"

namespace {

namespace fs = std::filesystem;
using namespace vellix::fixtures;

QString Q(const std::string& s) { return QString::fromStdString(s); }

std::string Document(const std::string& title, const std::string& author, const std::string& genre) {
  return "<html><head><title>" + title + "</title><meta name=\"author\" content=\"" + author +
         "\"/><meta name=\"genre\" content=\"" + genre + "\"/></head><body><p>Once upon a time.</p></body></html>";
}

QStringList FilesIn(const std::string& folder) {
  QStringList files;
  for (const auto& entry : fs::directory_iterator(folder)) files << Q(entry.path().filename().string());
  files.sort();
  return files;
}

struct Boxes {
  QLineEdit *file, *title, *author, *category;
  QPushButton* import;
  QStringList Fields() const { return {title->text(), author->text(), category->text()}; }
};

Boxes Find(QDialog& dialog) {
  return {dialog.findChild<QLineEdit*>("txtFile"), dialog.findChild<QLineEdit*>("txtTitle"),
          dialog.findChild<QLineEdit*>("txtAuthor"), dialog.findChild<QLineEdit*>("txtCategory"),
          dialog.findChild<QPushButton*>("cmdImportBook")};
}

}  // namespace

class ImportBookTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TempDir> tmp_;
  FakePlatformDialogs dialogs_;
  std::unique_ptr<BookshelfWindow> w_;

  std::string Path(const std::string& name) const { return *tmp_ / name; }

  // The main window on the shelf "s", which holds one book, "Short".
  void Start() {
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(Path("config")));
    tmp_->Write("config/OrvoTools/Vellixlibrarian.conf", "[Locations]\nBookShelf=" + Path("s") + "\n");
    w_ = std::make_unique<BookshelfWindow>(dialogs_);
    WaitLoaded(*w_);
  }
  QStringList Listed() const { return Column(*w_, 0); }
  // "&Import" in the window, with `play` as the user of the dialog.
  void ImportWith(std::function<void(QDialog&, Boxes&)> play) {
    dialogs_.on_modal = [play](QDialog& dialog) {
      Boxes boxes = Find(dialog);
      play(dialog, boxes);
    };
    QTest::mouseClick(w_->findChild<QPushButton*>("cmdImport"), Qt::LeftButton);
  }

 private slots:
  void init() {
    w_.reset();
    tmp_ = std::make_unique<TempDir>();
    dialogs_ = FakePlatformDialogs();
    tmp_->Write("doc.htm", Document("Found Title", "Found Author", "Found Genre"));
    tmp_->Write("notes.txt", "Plain words.\n");
    tmp_->Write("book.oeb", "a container");
    tmp_->Write("headless.htm", "<html><body><p>No head.</p></body></html>");
    tmp_->Write("s/BOOK1.imp", SimpleBookFile(Info{"ID42", "Fiction", "", "Short", "Writer", "", "Some"}));
  }

  // A document fills all three boxes and enables the button at once; text
  // leaves them empty until typed; any empty box, or a file box naming no
  // file, disables it.
  void fieldsAndButtonFollowTheFile() {
    ImportBookDialog dialog(dialogs_);
    Boxes b = Find(dialog);
    QVERIFY(!b.import->isEnabled());
    b.file->setText(Q(Path("doc.htm")));
    QCOMPARE(b.Fields(), QStringList({"Found Title", "Found Author", "Found Genre"}));
    QVERIFY(b.import->isEnabled());
    for (QLineEdit* box : {b.title, b.author, b.category}) {
      QString kept = box->text();
      box->clear();
      QVERIFY(!b.import->isEnabled());
      box->setText(kept);
      QVERIFY(b.import->isEnabled());
    }
    b.file->setText(Q(Path("notes.txt")));  // its title proposed, from the name
    QCOMPARE(b.Fields(), QStringList({"notes", "", ""}));
    QVERIFY(!b.import->isEnabled());
    b.title->setText("T");
    b.author->setText("A");
    QVERIFY(!b.import->isEnabled());
    b.category->setText("C");
    QVERIFY(b.import->isEnabled());
    b.file->setText(Q(Path("gone.txt")));  // keeps the book and the fields
    QCOMPARE(b.Fields(), QStringList({"T", "A", "C"}));
    QVERIFY(!b.import->isEnabled());
    QVERIFY(dialogs_.messages.isEmpty());
  }

  // Each keystroke that makes the path name a file loads it; one more keeps
  // what was loaded.
  void typingThePathLoadsOnceItNamesAFile() {
    ImportBookDialog dialog(dialogs_);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    Boxes b = Find(dialog);
    b.file->setText(Q(Path("")));
    b.file->setFocus();
    for (char key : std::string("doc.ht")) {
      QTest::keyClick(b.file, key);
      QCOMPARE(b.title->text(), QString());
    }
    QTest::keyClick(b.file, 'm');
    QCOMPARE(b.title->text(), QString("Found Title"));
    QVERIFY(b.import->isEnabled());
    QTest::keyClick(b.file, 'l');
    QCOMPARE(b.Fields(), QStringList({"Found Title", "Found Author", "Found Genre"}));
    QVERIFY(!b.import->isEnabled());
  }

  // Browse offers every kind at once first, then each kind; a cancel keeps the
  // box. A file that will not load is reported and another may be chosen.
  void browseAndUnloadableFiles() {
    ImportBookDialog dialog(dialogs_);
    Boxes b = Find(dialog);
    dialogs_.answers = {"", Q(Path("headless.htm")), Q(Path("doc.htm"))};
    auto* browse = dialog.findChild<QPushButton*>("cmdBrowseFile");
    QTest::mouseClick(browse, Qt::LeftButton);
    QCOMPARE(b.file->text(), QString());
    QCOMPARE(dialogs_.asked.value(0), QString("All books and documents (*.oeb *.odf *.htm *.html *.epub *.opf *.txt "
                                              "*.md *.markdown);;Container Files (*.oeb);;"
                                              "Document Files (*.odf *.htm *.html);;"
                                              "EPUB Books (*.epub);;Package Files (*.opf);;"
                                              "Text Files (*.txt *.md *.markdown)"));
    QTest::mouseClick(browse, Qt::LeftButton);
    QCOMPARE(dialogs_.messages.size(), 1);
    QVERIFY2(dialogs_.messages[0].startsWith("Vellix Publisher: ") && dialogs_.messages[0].contains(" (91)"),
             qPrintable(dialogs_.messages[0]));
    QVERIFY(!b.import->isEnabled());
    QTest::mouseClick(browse, Qt::LeftButton);
    QCOMPARE(b.title->text(), QString("Found Title"));
    QVERIFY(b.import->isEnabled());
  }

  // Text and Markdown get a title proposed: Markdown's own, else the file
  // name made words; a title typed first is kept only until another file.
  // Cancel closes the dialog without a book, and the keyboard is back on
  // the window's table.
  void titleProposalCancelAndFocus() {
    tmp_->Write("harbour_notes-2.txt", "The tide was out.\n");
    tmp_->Write("voyage.md", "---\ntitle: The Long Voyage\n---\n\n# Day one\n\nCalm.\n");
    tmp_->Write("log_book.md", "Just notes, no heading.\n");
    const std::pair<const char*, const char*> cases[] = {
        {"harbour_notes-2.txt", "harbour notes 2"}, {"voyage.md", "The Long Voyage"}, {"log_book.md", "log book"}};
    ImportBookDialog dialog(dialogs_);
    Boxes b = Find(dialog);
    for (const auto& [file, title] : cases) {
      b.file->setText(Q(Path(file)));
      QCOMPARE(b.title->text(), QString(title));
    }
    Start();
    w_->show();
    QVERIFY(QTest::qWaitForWindowActive(w_.get()));
    ImportWith([this](QDialog& shown, Boxes& boxes) {
      boxes.file->setText(Q(Path("voyage.md")));
      QTest::mouseClick(shown.findChild<QPushButton*>("cmdCancel"), Qt::LeftButton);
      QVERIFY(!shown.isVisible());
    });
    QCOMPARE(Listed(), QStringList({"Short"}));
    QCOMPARE(QApplication::focusWidget(), w_->findChild<QWidget*>("lstBookshelf"));
  }

  // The window lists the title as typed for a document and a text
  // published into new book files; a container the toolkit cannot read is
  // refused by name, and closing the dialog after choosing a file adds
  // nothing.
  void importListsTheEditedTitle() {
    Start();
    ImportWith([this](QDialog&, Boxes& b) { b.file->setText(Q(Path("book.oeb"))); });
    QCOMPARE(Listed(), QStringList({"Short"}));
    ImportWith([this](QDialog&, Boxes& b) {
      b.file->setText(Q(Path("book.oeb")));
      b.title->setText("Edited Title");
      b.author->setText("Me");
      b.category->setText("Mine");
      QTest::mouseClick(b.import, Qt::LeftButton);
    });
    QCOMPARE(Listed(), QStringList({"Short"}));
    QVERIFY2(dialogs_.messages.size() == 1 && dialogs_.messages[0].contains(Q(Path("book.oeb"))),
             qPrintable(dialogs_.messages.join('\n')));
    dialogs_.messages.clear();
    ImportWith([this](QDialog&, Boxes& b) {
      b.file->setText(Q(Path("doc.htm")));
      b.title->setText("Retitled");
      QTest::mouseClick(b.import, Qt::LeftButton);
    });
    QVERIFY2(dialogs_.messages.isEmpty(), qPrintable(dialogs_.messages.join('\n')));
    ImportWith([this](QDialog&, Boxes& b) {
      b.file->setText(Q(Path("notes.txt")));
      for (QLineEdit* box : {b.title, b.author, b.category}) box->setText("Typed");
      QTest::mouseClick(b.import, Qt::LeftButton);
    });
    QVERIFY2(dialogs_.messages.isEmpty(), qPrintable(dialogs_.messages.join('\n')));
    QCOMPARE(Listed(), QStringList({"Retitled", "Short", "Typed"}));
    QCOMPARE(FilesIn(Path("s")).size(), 3);
    SaveScreenshot(*w_, "after_import");
  }

  // A container's build takes the title, author and category it carries:
  // the dialog shows them from it, disabled, with a note, so nothing typed
  // is dropped; one that cannot be read says why on one line, in the note
  // and when imported.
  void containerShowsItsOwnFields() {
    Start();
    vellix::Book source;
    source.Load(Path("doc.htm"));
    const fs::path opf = source.CreatePackageFromDocument(Path("doc.htm"));
    source.BuildOEBFile(opf.stem().string(), opf.parent_path().string());
    const QString container = Q(fs::path(opf).replace_extension(".oeb").string());
    const QString unreadable = Q(Path("book.oeb")) +
                               ": not a readable OEBFF container (a header line has no name "
                               "or no colon)";
    ImportWith([&](QDialog& dialog, Boxes& b) {
      auto* note = dialog.findChild<QLabel*>("lblFieldsNote");
      QVERIFY(note);
      b.file->setText(Q(Path("book.oeb")));
      QVERIFY2(!note->isHidden() && note->text().endsWith(unreadable), qPrintable(note->text()));
      QVERIFY(b.import->isEnabled());
      QTest::mouseClick(b.import, Qt::LeftButton);
      QCOMPARE(dialogs_.messages.size(), 1);
      QVERIFY2(dialogs_.messages[0].endsWith(u'\n' + unreadable), qPrintable(dialogs_.messages[0]));
      b.file->setText(Q(Path("doc.htm")));
      QVERIFY(b.title->isEnabled() && note->isHidden());
      b.file->setText(container);  // its package names no category
      QCOMPARE(b.Fields(), QStringList({"Found Title", "Found Author", ""}));
      for (QLineEdit* box : {b.title, b.author, b.category}) QVERIFY(!box->isEnabled());
      QVERIFY(!note->isHidden() && note->text().contains("carries its own title"));
      SaveScreenshot(dialog, "import_container");
      QTest::mouseClick(b.import, Qt::LeftButton);
    });
    QCOMPARE(dialogs_.messages.size(), 1);
    QCOMPARE(Listed(), QStringList({"Found Title", "Short"}));
  }

  // Right after an import and a dropped book folder, both exports list the
  // new books as they will once the shelf is opened again: identifier, size
  // and book file.
  void exportsListTheNewBooks() {
    Start();
    tmp_->Write("config/OrvoTools/Vellixlibrarian.conf",
                "[Locations]\nBookShelf=" + Path("s") + "\n[Sites]\nRemoteBookShelfUrl=http://h.example/r/l.txt\n");
    MakeBookFolder(Path("in/MYBOOK.RES"), RsrcInf(Info{"FOLD1", "Fiction", "", "Dropped", "Writer", "", ""}), "fork");
    ImportWith([this](QDialog&, Boxes& b) {
      b.file->setText(Q(Path("doc.htm")));
      QTest::mouseClick(b.import, Qt::LeftButton);
    });
    w_->AddDropped({Q(Path("in/MYBOOK.RES"))});
    QVERIFY2(dialogs_.messages.isEmpty(), qPrintable(dialogs_.messages.join('\n')));
    auto exported = [this](const char* command) {
      dialogs_.answers = {Q(Path("out"))};
      w_->findChild<QAction*>(command)->trigger();
      return ReadFile(Path("out"));
    };
    auto lines = [](const std::string& text) {
      QStringList sorted = Q(text).split("\r\n");
      sorted.sort();
      return sorted;
    };
    const std::string list = exported("mnuExportBookList"), document = exported("mnuExport");
    vellix::Bookshelf reopened;
    reopened.Load(Path("s"));
    QCOMPARE(reopened.Books()->Count(), 3);
    QCOMPARE(lines(list), lines(vellix::BookListText(*reopened.Books(), "http://h.example/r/")));
    QVERIFY2(Q(list).contains(QRegularExpression("^None:FOLD1\tDropped\t.*\t\\d+\thttp://h.example/r/[A-Z]{8}\\.imp\t",
                                                 QRegularExpression::MultilineOption)),
             list.c_str());
    reopened.CreateBooklist(Path("out"));
    QCOMPARE(Q(document), Q(ReadFile(Path("out"))));
  }

  // A dropped folder gives its book folders and documents, and they and
  // the other dropped files are published in one batch: no Import Book
  // dialog, one progress dialog counting them while the event loop runs,
  // the sources left as they were, and anything else in the folder passed
  // over.
  void dropOfManyIsOneBatch() {
    Start();
    tmp_->Write("drop/a.htm", Document("Alpha", "Ann", "Tales"));
    tmp_->Write("drop/b.htm", Document("Beta", "Bob", "Tales"));
    tmp_->Write("drop/notes.md", "# Gamma\n\nWords.\n");
    tmp_->Write("drop/picture.jpg", "not a book");
    tmp_->Write("drop/deeper/c.htm", Document("Deeper", "Cy", "Tales"));
    MakeBookFolder(Path("drop/SUB.RES"), RsrcInf(Info{"FOLD1", "Fiction", "", "Delta", "Writer", "", ""}), "fork");
    fs::create_directories(Path("hollow"));
    const std::string source = ReadFile(Path("drop/a.htm"));
    bool import_dialog = false;
    dialogs_.on_modal = [&](QDialog&) { import_dialog = true; };  // replaced by ImportWith below
    int ticks = 0, counted = 0;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
      if (auto* progress = w_->findChild<QProgressDialog*>("dlgBulkAddProgress")) {
        ++ticks;
        counted = progress->maximum();
      }
    });
    watch.start(0);
    w_->AddDropped({Q(Path("drop/")), Q(Path("doc.htm")), Q(Path("hollow"))});
    watch.stop();
    QVERIFY(!import_dialog);
    QVERIFY(ticks > 0);
    QCOMPARE(counted, 5);
    QCOMPARE(dialogs_.messages,
             QStringList({"Vellix Publisher: Not added:\n" + Q(Path("hollow")) + ": an empty folder"}));
    QCOMPARE(Listed(), QStringList({"Alpha", "Beta", "Delta", "Found Title", "Gamma", "Short"}));
    QCOMPARE(FilesIn(Path("s")).filter(QRegularExpression("\\.imp$")).size(), 6);
    QCOMPARE(ReadFile(Path("drop/a.htm")), source);
    QVERIFY(!w_->findChild<QProgressDialog*>("dlgBulkAddProgress"));

    // Several files chosen at once in Import Book go the same way.
    tmp_->Write("more/e.htm", Document("Epsilon", "Eve", "Tales"));
    dialogs_.messages.clear();
    dialogs_.answers = {Q(Path("more/e.htm")) + "\n" + Q(Path("more/z.htm.missing"))};
    ticks = 0;
    watch.start(0);
    ImportWith([](QDialog& dialog, Boxes&) {
      QTest::mouseClick(dialog.findChild<QPushButton*>("cmdBrowseFile"), Qt::LeftButton);
      QVERIFY(!dialog.isVisible());
    });
    watch.stop();
    QVERIFY(ticks > 0);
    QCOMPARE(counted, 2);
    QCOMPARE(dialogs_.messages.size(), 1);
    QVERIFY2(dialogs_.messages[0].startsWith("Vellix Publisher: Not added:\n" + Q(Path("more/z.htm.missing")) + ": "),
             qPrintable(dialogs_.messages[0]));
    QVERIFY(Listed().contains("Epsilon"));
    QCOMPARE(Listed().size(), 7);
  }

  // A shelf folder gone since it was opened: the error is shown as
  // "description (number)", the dialog stays open with the button disabled
  // until a box changes, and nothing is listed.
  void failedImportKeepsTheDialogOpen() {
    Start();
    fs::remove_all(Path("s"));
    ImportWith([this](QDialog& dialog, Boxes& b) {
      b.file->setText(Q(Path("doc.htm")));
      QTest::mouseClick(b.import, Qt::LeftButton);
      QVERIFY(dialog.isVisible());
      QVERIFY(!b.import->isEnabled());
      b.title->setText("Other Title");
      QVERIFY(b.import->isEnabled());
    });
    QCOMPARE(dialogs_.messages.size(), 1);
    QVERIFY2(QRegularExpression("^Vellix Publisher: [^\n]+ \\(-?\\d+\\)(\n|$)").match(dialogs_.messages[0]).hasMatch(),
             qPrintable(dialogs_.messages[0]));
    QCOMPARE(Listed(), QStringList({"Short"}));
  }

  // Cancel in the progress dialog stops the publication: no book file, no
  // listed book, and the dialog stays open saying so.
  void cancelledImportLeavesNoBook() {
    Start();
    ImportWith([this](QDialog& dialog, Boxes& b) {
      b.file->setText(Q(Path("doc.htm")));
      QTimer::singleShot(0, &dialog, [&dialog] {
        auto* progress = dialog.findChild<QProgressDialog*>("dlgPublishProgress");
        QVERIFY(progress && progress->isVisible());
        QTest::mouseClick(progress->findChild<QPushButton*>(), Qt::LeftButton);
      });
      QTest::mouseClick(b.import, Qt::LeftButton);
      QVERIFY(dialog.isVisible());
      QVERIFY(!dialog.findChild<QProgressDialog*>());
    });
    QCOMPARE(dialogs_.messages, QStringList({"Vellix Publisher: The import was cancelled; no book was added."}));
    QCOMPARE(Listed(), QStringList({"Short"}));
    QCOMPARE(FilesIn(Path("s")), QStringList({"BOOK1.imp"}));
  }

  void progressFollowsTheEvents() {
    PublishProgress progress(nullptr, "My Book");
    const vellix::PublishEvents& events = *progress.events();
    events.source_start("/in/part.htm", 2, 3);
    QVERIFY2(progress.dialog().labelText().endsWith("part.htm (2 of 3)"), qPrintable(progress.dialog().labelText()));
    events.progress(3'000'000'000LL, 6'000'000'000LL);  // past what an int holds
    QCOMPARE(progress.dialog().value() * 2, progress.dialog().maximum());
    events.error("/in/part.htm", "Unclosed tag", 7, 2, 1);
    QCOMPARE(progress.Problems(), QStringList({"part.htm, line 7: Unclosed tag"}));
    QVERIFY(events.keep_going());
    progress.dialog().cancel();
    QVERIFY(!events.keep_going());
  }

  // An EPUB's fields fill the boxes; it and a Markdown text are published
  // onto the shelf, are what a drop takes as documents, and the EPUB's first
  // page is drawn in the preview.
  void importsEpubAndMarkdown() {
    Start();
    WriteZip(Path("walk.epub"), SampleEpub().Entries());
    tmp_->Write("notes.md", "# Field Notes\n\n| Tree | Height |\n|---|---|\n| Oak | 20 m |\n");
    ImportWith([this](QDialog&, Boxes& b) {
      b.file->setText(Q(Path("walk.epub")));
      QCOMPARE(b.Fields(), QStringList({"The River Walk", "Jane Quinn Doe", "Travel"}));
      QTest::mouseClick(b.import, Qt::LeftButton);
    });
    ImportWith([this](QDialog&, Boxes& b) {
      b.file->setText(Q(Path("notes.md")));  // as text: the fields are typed
      b.title->setText("Field Notes");
      b.author->setText("Me");
      b.category->setText("Notes");
      QTest::mouseClick(b.import, Qt::LeftButton);
    });
    QVERIFY2(dialogs_.messages.isEmpty(), qPrintable(dialogs_.messages.join('\n')));
    QCOMPARE(Listed(), QStringList({"Field Notes", "Short", "The River Walk"}));
    DroppedItems dropped = SortDropped({Q(Path("walk.epub")), Q(Path("notes.md")), Q(Path("notes.markdown"))});
    QCOMPARE(dropped.documents.size(), 2);  // the third is not there
    for (const QString& file : FilesIn(Path("s"))) {
      vellix::Book book;
      book.Load(Path("s/" + file.toStdString()));
      if (book.Title() != "The River Walk") continue;
      PreviewWindow* preview = w_->OpenPreview(Q(Path("s/" + file.toStdString())));
      QVERIFY(preview);
      SaveScreenshot(*preview, "epub_preview");
    }
  }

  void screenshot() {
    ImportBookDialog dialog(dialogs_);
    Find(dialog).file->setText(Q(Path("doc.htm")));
    SaveScreenshot(dialog, "import_book");
  }
};

QTEST_MAIN(ImportBookTest)
#include "import_book_test.moc"
