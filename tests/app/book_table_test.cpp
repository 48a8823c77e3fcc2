// The bookshelf table and the previews, driven as a user would on the
// offscreen platform: unescaped fields, the filter, sorting, the preview
// pane following the selection, the preview window's paging, zoom and
// device sizes, a book of another tool, dropped book folders, the window's
// remembered layout; then screenshots of the main window and the preview.
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QtTest>
#include <filesystem>
#include <memory>

#include "book_preview.h"
#include "book_table.h"
#include "bookshelf_window.h"
#include "fake_platform_dialogs.h"
#include "ikpubx/qt/viewer_widget.h"
#include "ikutil/device_edition.h"
#include "page_preview.h"
#include "preview_window.h"
#include "shelf_presenter.h"
#include "table_probe.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;
using namespace vellix::fixtures;

QString Q(const std::string& s) { return QString::fromStdString(s); }

// A book of ours: a heading and `paragraphs` paragraphs, in the device
// format, with the given information strings (raw, as the device stores them).
void WritePublishedBook(const std::string& path, const std::string& title, const std::string& author,
                        const std::string& category, const std::string& id, int paragraphs = 40) {
  ikutil::DeviceEdition edition;
  edition.text_styles = {{}, {ikutil::FontFamily::kSans, 2, true}};
  edition.block_styles = {{}, {ikutil::TextAlign::kCenter, 0, 10, 10, 0, 0, 120, true}};
  edition.blocks.push_back({ikutil::BlockKind::kHeading, 1, 1, "", ikutil::kNoImage, "", {{title, 1}}});
  for (int n = 0; n < paragraphs; ++n) {
    static const char* const kSentences[] = {
        "The evening came slowly over the harbour, and the boats rocked at their moorings while the last of the "
        "fishermen carried their nets up the narrow street. ",
        "Nobody in the village remembered a winter so mild; the swallows had stayed, and the old men on the bench "
        "outside the inn argued about what it meant. ",
        "She opened the letter at the kitchen table, read it twice, and put it face down beside the bread, as if "
        "the words might change if she did not look at them. "};
    std::string text = std::string(kSentences[n % 3]) + kSentences[(n + 1) % 3];
    edition.blocks.push_back({ikutil::BlockKind::kParagraph, 0, 0, "", ikutil::kNoImage, "", {{text, 0}}});
  }
  ikutil::BookInformation info;
  info.book_id = id;
  info.category = category;
  info.title = title;
  info.author_last_name = author;
  info.folder_name = fs::path(path).stem().string() + ".RES";
  ikutil::WriteDeviceBook(edition, info, {}, path);
}

QTableView* Table(QWidget& w) { return w.findChild<QTableView*>("lstBookshelf"); }

// The row showing `title`, or -1.
int RowOf(QWidget& w, const QString& title) {
  QAbstractItemModel* model = Table(w)->model();
  for (int row = 0; row < model->rowCount(); ++row)
    if (model->index(row, BookTableModel::kTitle).data().toString() == title) return row;
  return -1;
}

PreviewWindow* OpenPreviewWindow() {
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (auto* window = qobject_cast<PreviewWindow*>(widget); window && window->isVisible()) return window;
  return nullptr;
}

}  // namespace

class BookTableTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TempDir> tmp_;
  FakePlatformDialogs dialogs_;
  std::unique_ptr<BookshelfWindow> w_;

  std::string Path(const std::string& name) const { return *tmp_ / name; }
  // The window on the shelf, its books read unless `loaded` is false.
  BookshelfWindow& Start(bool loaded = true) {
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(Path("config")));
    tmp_->Write("config/OrvoTools/Vellixlibrarian.conf", "[Locations]\nBookShelf=" + Path("shelf") + "\n");
    w_ = std::make_unique<BookshelfWindow>(dialogs_);
    if (loaded) WaitLoaded(*w_);
    return *w_;
  }
  void Select(const QString& title) {
    int row = RowOf(*w_, title);
    QVERIFY2(row >= 0, qPrintable(title));
    Table(*w_)->selectRow(row);
  }
  PagePreview& Pane() { return *w_->findChild<PagePreview*>("pagePreview"); }

 private slots:
  void init() {
    for (QWidget* widget : QApplication::topLevelWidgets())
      if (qobject_cast<PreviewWindow*>(widget)) delete widget;
    w_.reset();
    tmp_ = std::make_unique<TempDir>();
    dialogs_ = FakePlatformDialogs();
    fs::create_directories(Path("shelf"));
    WritePublishedBook(Path("shelf/SALT.imp"), "Salt & Pepper", "Cook", "Cooking", "SALT05");
    WritePublishedBook(Path("shelf/BANANA.imp"), "banana", "Zed", "Fruit", "BAN01", 12);
    // The same title twice: each row opens its own file.
    WritePublishedBook(Path("shelf/TWIN1.imp"), "Twin", "Able", "Fiction", "TW1", 3);
    WritePublishedBook(Path("shelf/TWIN2.imp"), "Twin", "Baker", "Fiction", "TW2", 30);
    WriteFile(Path("shelf/OTHER.imp"), SimpleBookFile(Info{"OTH1", "Misc", "", "Elsewhere", "Maker", "", "Some"}));
  }
  void cleanupTestCase() { init(); }

  void fieldsShowAsPeopleReadThem() {
    Start();
    QCOMPARE(Column(*w_, BookTableModel::kTitle),
             QStringList({"banana", "Elsewhere", "Salt & Pepper", "Twin", "Twin"}));
    int salt = RowOf(*w_, "Salt & Pepper");
    QAbstractItemModel* model = Table(*w_)->model();
    QCOMPARE(model->index(salt, BookTableModel::kAuthor).data().toString(), QString("Cook"));
    QCOMPARE(model->index(salt, BookTableModel::kCategory).data().toString(), QString("Cooking"));
    QCOMPARE(model->index(salt, BookTableModel::kIdentifier).data().toString(), QString("SALT05"));
    QCOMPARE(model->index(salt, BookTableModel::kKind).data().toString(), QString("Book file"));
    QCOMPARE(model->index(salt, 0).data(BookTableModel::kPathRole).toString(), Q(Path("shelf/SALT.imp")));
    QCOMPARE(w_->findChild<QLabel*>("lblBookCount")->text(), QString("5 books"));
  }

  // Every word typed must be found in one of the four fields; clearing the
  // box brings every book back.
  void filterNarrowsAndClears() {
    Start();
    auto* filter = w_->findChild<QLineEdit*>("txtFilter");
    auto* count = w_->findChild<QLabel*>("lblBookCount");
    QTest::keyClicks(filter, "PEP");
    QCOMPARE(Column(*w_, 0), QStringList({"Salt & Pepper"}));
    QCOMPARE(count->text(), QString("1 of 5 books"));
    filter->setText("fiction baker");  // category and author
    QCOMPARE(Column(*w_, BookTableModel::kIdentifier), QStringList({"TW2"}));
    filter->setText("ban01");  // identifier
    QCOMPARE(Column(*w_, 0), QStringList({"banana"}));
    filter->setText("nothing like it");
    QCOMPARE(Column(*w_, 0), QStringList());
    filter->clear();
    QCOMPARE(Column(*w_, 0).size(), 5);
    QCOMPARE(count->text(), QString("5 books"));
  }

  void sortsByAnyColumn() {
    Start();
    QHeaderView* header = Table(*w_)->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(BookTableModel::kAuthor) + 5, header->height() / 2));
    QCOMPARE(Column(*w_, BookTableModel::kAuthor), QStringList({"Able", "Baker", "Cook", "Some Maker", "Zed"}));
    Table(*w_)->sortByColumn(BookTableModel::kAuthor, Qt::DescendingOrder);
    QCOMPARE(Column(*w_, BookTableModel::kAuthor).first(), QString("Zed"));
    // Sizes sort as numbers, not as the text shown.
    Table(*w_)->sortByColumn(BookTableModel::kSize, Qt::AscendingOrder);
    QCOMPARE(Column(*w_, 0).last(), QString("Salt & Pepper"));
  }

  // The pane shows the selected book's first page; a book of another tool
  // shows why it cannot, and the next good book shows its page again.
  void previewPaneFollowsSelection() {
    Start();
    QVERIFY(!Pane().path().isEmpty());  // the first book at once
    Select("Twin");
    QString first_twin = Pane().path();
    QVERIFY(first_twin.endsWith("TWIN1.imp") || first_twin.endsWith("TWIN2.imp"));
    Table(*w_)->selectRow(RowOf(*w_, "Twin") + 1);
    QVERIFY(Pane().path() != first_twin && Pane().path().contains("TWIN"));
    QVERIFY(!Pane().viewer_widget().PageImage().isNull());

    Select("Elsewhere");
    QCOMPARE(Pane().path(), Q(Path("shelf/OTHER.imp")));
    QVERIFY(Pane().ShowsMessage());
    QVERIFY2(Pane().Message().contains("another tool"), qPrintable(Pane().Message()));
    Select("Salt & Pepper");
    QVERIFY(!Pane().ShowsMessage());
    QImage page = Pane().viewer_widget().PageImage();
    QCOMPARE(page.size(), QSize(480, 640));

    // The pane pages through the selected book, and a new selection starts
    // again at its first page.
    auto* next = Pane().findChild<QPushButton*>("cmdPaneNext");
    auto* prev = Pane().findChild<QPushButton*>("cmdPanePrev");
    auto* label = Pane().findChild<QLabel*>("lblPanePage");
    QVERIFY(next && prev && label);
    QVERIFY(!prev->isEnabled());
    QTest::mouseClick(next, Qt::LeftButton);
    QTest::mouseClick(next, Qt::LeftButton);
    int32_t page_shown = 0;
    Pane().viewer_widget().viewer().CurPage(&page_shown);
    QCOMPARE(page_shown, 3);
    QVERIFY2(label->text().startsWith("Page 3 of "), qPrintable(label->text()));
    QVERIFY(Pane().viewer_widget().PageImage() != page);
    QTest::mouseClick(prev, Qt::LeftButton);
    QVERIFY(label->text().startsWith("Page 2 of "));
    Select("banana");
    QVERIFY2(label->text().startsWith("Page 1 of "), qPrintable(label->text()));
    QVERIFY(!prev->isEnabled());
  }

  // Double-click opens the preview window; "n", the arrow keys and the
  // buttons page through it, and its label follows.
  void previewWindowPages() {
    Start().show();
    QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
    QTableView* table = Table(*w_);
    QModelIndex salt = table->model()->index(RowOf(*w_, "Salt & Pepper"), 0);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(salt).center());
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(salt).center());
    PreviewWindow* preview = OpenPreviewWindow();
    QVERIFY(preview);
    QCOMPARE(preview->path(), Q(Path("shelf/SALT.imp")));
    QVERIFY(QTest::qWaitForWindowExposed(preview));
    auto* label = preview->findChild<QLabel*>("lblPage");
    QVERIFY2(label->text().startsWith("Page 1 of "), qPrintable(label->text()));
    const QString pages = label->text().mid(QString("Page 1 of ").size());
    QVERIFY(pages.toInt() >= 3);

    auto& view = preview->preview().viewer_widget();
    QTest::keyClick(&view, 'n');
    QCOMPARE(label->text(), "Page 2 of " + pages);
    QTest::keyClick(&view, Qt::Key_Right);
    QCOMPARE(label->text(), "Page 3 of " + pages);
    QTest::keyClick(&view, 'p');
    QTest::mouseClick(preview->findChild<QPushButton*>("cmdPrevPage"), Qt::LeftButton);
    QCOMPARE(label->text(), "Page 1 of " + pages);
    QVERIFY(!preview->findChild<QPushButton*>("cmdPrevPage")->isEnabled());
    QTest::mouseClick(preview->findChild<QPushButton*>("cmdNextPage"), Qt::LeftButton);
    QCOMPARE(label->text(), "Page 2 of " + pages);

    // Enter on the same book raises the same window.
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Return);
    QCOMPARE(OpenPreviewWindow(), preview);
  }

  void zoomAndDeviceSizeKeepThePlace() {
    Start();
    PreviewWindow* preview = w_->OpenPreview(Q(Path("shelf/SALT.imp")));
    auto* label = preview->findChild<QLabel*>("lblPage");
    const QString normal = label->text();
    QTest::mouseClick(preview->findChild<QPushButton*>("cmdZoom"), Qt::LeftButton);
    QVERIFY(preview->findChild<QPushButton*>("cmdZoom")->isChecked());
    QVERIFY2(label->text() != normal, qPrintable(label->text()));  // larger type, more pages
    QTest::mouseClick(preview->findChild<QPushButton*>("cmdZoom"), Qt::LeftButton);
    QCOMPARE(label->text(), normal);

    // Another device: its page size, and the label on the page now shown
    // (that it holds the place read is the proofing window's test).
    auto& viewer = preview->preview().viewer_widget();
    viewer.viewer().SetCurPage(2);
    auto* sizes = preview->findChild<QComboBox*>("cboDeviceSize");
    QCOMPARE(sizes->currentIndex(), 0);
    sizes->setCurrentIndex(1);
    QCOMPARE(viewer.PageImage().size(), QSize(DeviceSizes()[1].width, DeviceSizes()[1].height));
    int32_t now = 0;
    viewer.viewer().CurPage(&now);
    QVERIFY2(label->text().startsWith(QStringLiteral("Page %1 of ").arg(now)), qPrintable(label->text()));
  }

  void foreignBookShowsMessageInPreviewWindow() {
    Start();
    PreviewWindow* preview = w_->OpenPreview(Q(Path("shelf/OTHER.imp")));
    QVERIFY(preview->preview().ShowsMessage() && preview->findChild<QLabel*>("lblPage")->text().isEmpty());
    for (const char* button : {"cmdNextPage", "cmdZoom"})
      QVERIFY2(!preview->findChild<QPushButton*>(button)->isEnabled(), button);
  }

  // Book folders and documents dropped together are added in one batch,
  // each as a new book file, with no Import Book dialog; what is neither
  // is named in one message.
  void droppingBookFoldersAddsBooks() {
    MakeBookFolder(Path("in/ONE.RES"), RsrcInf(Info{"D1", "Fiction", "", "Dropped One", "Writer", "", "Some"}), "fork");
    MakeBookFolder(Path("in/TWO.RES"), RsrcInf(Info{"D2", "Fiction", "", "Dropped Two", "Writer", "", "Some"}), "fork");
    WriteFile(Path("in/picture.png"), "png");
    WriteFile(Path("in/notes.txt"), "Some notes.\n");
    WriteFile(Path("in/story.htm"), "<html><head><title>A Story</title></head><body><p>Once.</p></body></html>");
    Start();
    QStringList imported;
    dialogs_.on_modal = [&](QDialog& dialog) { imported << dialog.findChild<QLineEdit*>("txtFile")->text(); };
    auto* mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile(Q(Path("in/ONE.RES"))), QUrl::fromLocalFile(Q(Path("in/TWO.RES"))),
                   QUrl::fromLocalFile(Q(Path("in/picture.png"))), QUrl::fromLocalFile(Q(Path("in/notes.txt"))),
                   QUrl::fromLocalFile(Q(Path("in/story.htm")))});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w_.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w_.get(), &drop);
    QStringList titles = Column(*w_, 0);
    QVERIFY2(titles.contains("Dropped One") && titles.contains("Dropped Two"), qPrintable(titles.join(", ")));
    QVERIFY2(titles.contains("A Story"), qPrintable(titles.join(", ")));
    QCOMPARE(titles.size(), 9);
    QVERIFY(imported.isEmpty());
    QCOMPARE(dialogs_.messages.size(), 1);
    QVERIFY(dialogs_.messages[0].contains("picture.png"));
    // Each row carries the new book file, not the dropped folder.
    for (const char* title : {"Dropped One", "Dropped Two"}) {
      QString path = Table(*w_)->model()->index(RowOf(*w_, title), 0).data(BookTableModel::kPathRole).toString();
      QVERIFY2(path.startsWith(Q(Path("shelf/"))) && path.endsWith(".imp"), qPrintable(path));
    }
    delete mime;
  }

  void sortDroppedByKind() {
    fs::create_directories(Path("in/BOOK.res"));
    fs::create_directories(Path("in/plain"));
    for (const char* name : {"a.HTM", "b.opf", "c.txt", "d.oeb", "e.imp"})
      WriteFile(Path(std::string("in/") + name), "x");
    DroppedItems items =
        SortDropped({Q(Path("in/BOOK.res/")), Q(Path("in/plain")), Q(Path("in/a.HTM")), Q(Path("in/b.opf")),
                     Q(Path("in/c.txt")), Q(Path("in/d.oeb")), Q(Path("in/e.imp")), Q(Path("in/gone.htm"))});
    QCOMPARE(items.book_folders, QStringList({Q(Path("in/BOOK.res"))}));
    QCOMPARE(items.documents.size(), 4);
    QCOMPARE(items.refused, QStringList({Q(Path("in/plain")), Q(Path("in/e.imp")), Q(Path("in/gone.htm"))}));
  }

  // The layout goes to the program's own file, never to the settings the
  // library reads, and comes back in the next window.
  void windowRemembersItsLayout() {
    Start();
    const std::string library_settings = ReadFile(Path("config/OrvoTools/Vellixlibrarian.conf"));
    Table(*w_)->sortByColumn(BookTableModel::kCategory, Qt::DescendingOrder);
    w_->resize(700, 500);  // within the offscreen screen
    w_->findChild<QSplitter*>("splBooks")->setSizes({500, 380});
    w_.reset();
    QVERIFY(fs::exists(Path("config/Vellix/Publisher.conf")));
    QCOMPARE(ReadFile(Path("config/OrvoTools/Vellixlibrarian.conf")), library_settings);

    w_ = std::make_unique<BookshelfWindow>(dialogs_);
    QCOMPARE(w_->size(), QSize(700, 500));
    QCOMPARE(Table(*w_)->horizontalHeader()->sortIndicatorSection(), int(BookTableModel::kCategory));
    QCOMPARE(Table(*w_)->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
    QCOMPARE(Column(*w_, BookTableModel::kCategory).first(), QString("Misc"));
  }

  // A large shelf is read while the window goes on taking input, with the
  // progress shown in the status bar until the table is filled.
  void largeShelfLoadsInTheBackground() {
    for (int n = 0; n < 300; ++n)
      WriteFile(Path("shelf/B" + std::to_string(n) + ".imp"),
                SimpleBookFile(Info{"N" + std::to_string(n), "Bulk", "", "Bulk " + std::to_string(n), "Many", "", ""}));
    Start(false);
    QVERIFY(w_->IsLoading());
    QVERIFY(w_->findChild<QWidget*>("prgLoading")->isVisibleTo(w_.get()));
    auto* filter = w_->findChild<QLineEdit*>("txtFilter");
    filter->setText("n29");  // typing goes on meanwhile
    QVERIFY(WaitLoaded(*w_));
    QVERIFY(!w_->findChild<QWidget*>("prgLoading")->isVisibleTo(w_.get()));
    QCOMPARE(Column(*w_, BookTableModel::kIdentifier).size(), 11);  // N29 and N290..N299
    QCOMPARE(w_->findChild<QLabel*>("lblBookCount")->text(), QString("11 of 305 books"));
  }

  void namesSortNaturally() {
    QVERIFY(CompareNaturally("Volume 2", "volume 10") < 0);
    QVERIFY(CompareNaturally("Volume 010", "Volume 9") > 0);
    QVERIFY(CompareNaturally("apple", "Banana") < 0);
    QCOMPARE(CompareNaturally("Twin", "twin"), 0);
    QVERIFY(CompareNaturally("Twin", "Twins") < 0);
  }

  void screenshots() {
    for (int n = 0; n < 12; ++n)
      WritePublishedBook(Path("shelf/MORE" + std::to_string(n) + ".imp"), "Volume " + std::to_string(n + 1),
                         n % 2 ? "Brontë" : "Dickens", n % 3 ? "Fiction" : "Classics", "VOL" + std::to_string(n), 20);
    Start();
    Select("Salt & Pepper");
    SaveScreenshot(*w_, "main_window");
    PreviewWindow* preview = w_->OpenPreview(Q(Path("shelf/SALT.imp")));
    preview->preview().viewer_widget().viewer().NextPage();
    SaveScreenshot(*preview, "preview");
  }
};

QTEST_MAIN(BookTableTest)
#include "book_table_test.moc"
