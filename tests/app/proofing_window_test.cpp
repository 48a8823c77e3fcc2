// Proofing a book in the preview window, driven as a publisher would on the
// offscreen platform: the contents pane, links followed by a click and by
// the keyboard and Back, the search box with Enter and Shift+Enter, the page
// number box and the info tray; then screenshots of the window with its
// contents pane and a marked hit.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

#include "fake_platform_dialogs.h"
#include "ikpubx/qt/viewer_widget.h"
#include "ikutil/device_edition.h"
#include "page_preview.h"
#include "preview_window.h"
#include "test_util.h"

namespace {

using namespace vellix::fixtures;
using ikutil::Block;
using ikutil::BlockKind;
using ikutil::kNoImage;
using ikutil::kNoLink;

Block Paragraph(std::vector<ikutil::Run> runs) {
  return {BlockKind::kParagraph, 0, 0, "", kNoImage, "", std::move(runs)};
}

Block Heading(int level, const std::string& text) {
  return {BlockKind::kHeading, static_cast<uint8_t>(level), 1, "", kNoImage, "", {{text, 1, kNoLink}}};
}

void Filler(ikutil::DeviceEdition& e, int paragraphs, int first) {
  static const char* const kSentences[] = {
      "The evening came slowly over the harbour, and the boats rocked at their moorings while the last of the "
      "fishermen carried their nets up the narrow street. ",
      "Nobody in the village remembered a winter so mild; the swallows had stayed, and the old men on the bench "
      "outside the inn argued about what it meant. ",
      "Out on the point the Lighthouse Keeper wound the clock of the lamp and wrote the weather in his book. "};
  for (int n = first; n < first + paragraphs; ++n)
    e.blocks.push_back(Paragraph({{std::string(kSentences[n % 3]) + kSentences[(n + 1) % 2], 0, kNoLink}}));
}

// Two chapters and a section, with a link from the first page to chapter
// two and one back, a link outside the book and a broken one.
std::string WriteProofBook(const std::string& path) {
  ikutil::DeviceEdition e;
  e.language = "en-GB";
  e.text_styles = {{}, {ikutil::FontFamily::kSans, 2, true}};
  e.block_styles = {{}, {ikutil::TextAlign::kCenter, 0, 10, 10, 0, 0, 120, true}};
  e.blocks.push_back(Heading(1, "Chapter One"));
  e.blocks.push_back(Paragraph({{"Read ", 0, kNoLink},
                                {"the second chapter", 0, 0},
                                {" next, or ", 0, kNoLink},
                                {"the harbour's site", 0, 1},
                                {", or ", 0, kNoLink},
                                {"a lost page", 0, 2},
                                {".", 0, kNoLink}}));
  Filler(e, 12, 0);
  e.toc.push_back({1, "Chapter One", {0, 0}});
  e.toc.push_back({2, "A Quiet Harbour", {static_cast<uint32_t>(e.blocks.size()), 0}});
  e.blocks.push_back(Heading(2, "A Quiet Harbour"));
  Filler(e, 12, 12);
  const auto two = static_cast<uint32_t>(e.blocks.size());
  e.toc.push_back({1, "Chapter Two", {two, 0}});
  e.blocks.push_back(Heading(1, "Chapter Two"));
  e.blocks.push_back(
      Paragraph({{"Go ", 0, kNoLink}, {"back to the first chapter", 0, 3}, {" when you like.", 0, kNoLink}}));
  Filler(e, 10, 24);
  e.links = {{false, {two, 0}, "", false},
             {true, {}, "https://example.com/harbour", false},
             {false, {}, "missing.htm#nowhere", true},
             {false, {0, 0}, "", false}};
  ikutil::BookInformation info;
  info.book_id = "PROOF";
  info.title = "Harbour Proofs";
  info.folder_name = "PROOF.RES";
  ikutil::WriteDeviceBook(e, info, {}, path);
  return path;
}

// A book whose every word is its own ("p7w3": paragraph 7, word 3), so that
// the first word of a page tells where in the text it is.
std::string WriteNumberedBook(const std::string& path) {
  ikutil::DeviceEdition e;
  e.language = "en-GB";
  e.text_styles = {{}};
  e.block_styles = {{}};
  for (int p = 0; p < 80; ++p) {
    std::string text;
    for (int w = 0; w < 14; ++w) text += "p" + std::to_string(p) + "w" + std::to_string(w) + " ";
    e.blocks.push_back(Paragraph({{text, 0, kNoLink}}));
  }
  ikutil::BookInformation info;
  info.book_id = "NUMBERED";
  info.title = "Numbered";
  info.folder_name = "NUMBERED.RES";
  ikutil::WriteDeviceBook(e, info, {}, path);
  return path;
}

int32_t PageOf(ikpubx::IViewer& viewer) {
  int32_t page = 0;
  viewer.CurPage(&page);
  return page;
}

QPoint CentreOf(ikpubx::ViewerWidget& view, const ikutil::PageRect& r) {
  return view.WidgetPointOf(QPoint(r.x + r.width / 2, r.y + r.height / 2));
}

}  // namespace

class ProofingWindowTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TempDir> tmp_;
  PreviewWindow* window_ = nullptr;

  ikpubx::ViewerWidget& View() { return window_->preview().viewer_widget(); }
  ikpubx::IViewer& Viewer() { return View().viewer(); }

 private slots:
  void init() {
    tmp_ = std::make_unique<TempDir>();
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(*tmp_ / "config"));
    const std::string path = WriteProofBook(*tmp_ / "PROOF.imp");
    window_ = new PreviewWindow(QString::fromStdString(path), "Harbour Proofs");
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_));
  }
  void cleanup() {
    delete window_;
    window_ = nullptr;
  }

  // Entries nest by level and show their pages; clicking one goes there,
  // and paging selects the entry of the page shown.
  void contentsEntryGoesToItsPage() {
    auto* tree = window_->findChild<QTreeWidget*>("treContents");
    QVERIFY(tree && tree->isVisible());
    QCOMPARE(tree->topLevelItemCount(), 2);
    QTreeWidgetItem* one = tree->topLevelItem(0);
    QCOMPARE(one->text(0), QString("Chapter One"));
    QCOMPARE(one->childCount(), 1);
    QTreeWidgetItem* two = tree->topLevelItem(1);
    QCOMPARE(two->text(0), QString("Chapter Two"));
    const int two_page = two->text(1).toInt();
    QVERIFY(two_page > one->child(0)->text(1).toInt());

    tree->scrollToItem(two);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(two).center());
    QCOMPARE(PageOf(Viewer()), two_page);
    QCOMPARE(window_->findChild<QSpinBox*>("spnPage")->value(), two_page);
    bool heading_shown = false;
    std::vector<ikutil::TextLine> lines;
    Viewer().GetPageText(two_page, &lines);
    for (const ikutil::TextLine& line : lines) heading_shown |= line.text == "Chapter Two";
    QVERIFY(heading_shown);

    // By keyboard: the tree takes focus and Enter opens its entry.
    tree->setFocus();
    tree->setCurrentItem(one->child(0));
    QTest::keyClick(tree, Qt::Key_Return);
    QCOMPARE(PageOf(Viewer()), one->child(0)->text(1).toInt());
    Viewer().SetCurPage(two_page + 1);
    QCOMPARE(tree->currentItem(), two);
  }

  // A click on a link follows it (a hand over it first), Back returns;
  // links outside the book and broken ones stay put and say why.
  void linkIsFollowedAndBackReturns() {
    auto* back = window_->findChild<QPushButton*>("cmdBack");
    auto* status = window_->findChild<QLabel*>("lblStatus");
    QVERIFY(!back->isEnabled());
    std::vector<ikutil::PageLink> links;
    QCOMPARE(Viewer().GetPageLinks(&links), ikpubx::S_OK);
    QCOMPARE(links.size(), size_t{3});
    const int32_t target = links[0].target_page;
    QVERIFY(target > 1);

    const QPoint over = CentreOf(View(), links[0].rects.front());
    QTest::mouseMove(&View(), over);
    QTRY_COMPARE(View().cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(View().toolTip(), QString("Page %1").arg(target));
    QTest::mouseClick(&View(), Qt::LeftButton, {}, over);
    QCOMPARE(PageOf(Viewer()), target);
    QVERIFY(back->isEnabled());

    // On chapter two's page, the link back to chapter one: two links deep.
    QCOMPARE(Viewer().GetPageLinks(&links), ikpubx::S_OK);
    QCOMPARE(links.size(), size_t{1});
    QTest::mouseClick(&View(), Qt::LeftButton, {}, CentreOf(View(), links[0].rects.front()));
    QCOMPARE(PageOf(Viewer()), 1);
    QTest::mouseClick(back, Qt::LeftButton);
    QCOMPARE(PageOf(Viewer()), target);
    QTest::keyClick(window_, Qt::Key_Left, Qt::AltModifier);
    QCOMPARE(PageOf(Viewer()), 1);
    QVERIFY(!back->isEnabled());

    QCOMPARE(Viewer().GetPageLinks(&links), ikpubx::S_OK);
    QTest::mouseClick(&View(), Qt::LeftButton, {}, CentreOf(View(), links[1].rects.front()));
    QCOMPARE(PageOf(Viewer()), 1);
    QVERIFY2(status->text().contains("https://example.com/harbour"), qPrintable(status->text()));
    QTest::mouseClick(&View(), Qt::LeftButton, {}, CentreOf(View(), links[2].rects.front()));
    QCOMPARE(PageOf(Viewer()), 1);
    QVERIFY2(status->text().contains("broken"), qPrintable(status->text()));

    // By keyboard: Tab visits the page's links, Enter follows the one in focus.
    View().setFocus(Qt::OtherFocusReason);
    QTest::keyClick(&View(), Qt::Key_Tab);
    QCOMPARE(View().FocusedLink(), 0);
    QVERIFY(View().hasFocus());
    QTest::keyClick(&View(), Qt::Key_Return);
    QCOMPARE(PageOf(Viewer()), target);
  }

  // Typing marks the hits on the page; Enter moves through them and on
  // through the book, Shift+Enter back, coming round at the ends.
  void searchMarksAndMovesThroughHits() {
    auto* find = window_->findChild<QLineEdit*>("txtFind");
    auto* label = window_->findChild<QLabel*>("lblFind");
    QVERIFY(find);
    QTest::keyClick(window_, Qt::Key_F, Qt::ControlModifier);
    QVERIFY(find->hasFocus());
    QTest::keyClicks(find, "lighthouse  KEEPER");
    QTest::keyClick(find, Qt::Key_Return);
    const int first_page = PageOf(Viewer());
    QVERIFY(window_->HitCount() > 0);
    QCOMPARE(window_->CurrentHit(), 0);
    QVERIFY2(label->text().startsWith("1 of "), qPrintable(label->text()));

    // Enter through every hit of the book comes round to the first again.
    QList<QPair<int, int>> seen;
    do {
      seen << qMakePair(PageOf(Viewer()), window_->CurrentHit());
      QTest::keyClick(find, Qt::Key_Return);
    } while (seen.size() < 200 && !(PageOf(Viewer()) == first_page && window_->CurrentHit() == 0));
    QVERIFY(seen.size() > 3 && seen.size() < 200);
    QVERIFY(seen.last().first > first_page);
    // Shift+Enter goes back over the same hits in reverse.
    QTest::keyClick(find, Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(qMakePair(PageOf(Viewer()), window_->CurrentHit()), seen.last());
    QTest::keyClick(find, Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(qMakePair(PageOf(Viewer()), window_->CurrentHit()), seen[seen.size() - 2]);

    find->clear();
    QTest::keyClicks(find, "no such words anywhere");
    QTest::keyClick(find, Qt::Key_Return);
    QCOMPARE(label->text(), QString("Not found"));
    QCOMPARE(window_->HitCount(), 0);
  }

  void pageBoxAndInfoTray() {
    auto* box = window_->findChild<QSpinBox*>("spnPage");
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, "3");
    QTest::keyClick(box, Qt::Key_Return);
    QCOMPARE(PageOf(Viewer()), 3);

    const QImage plain = View().PageImage();
    QTest::keyClick(window_, Qt::Key_I, Qt::ControlModifier);
    QVERIFY(window_->findChild<QPushButton*>("cmdInfoTray")->isChecked());
    QVERIFY(View().PageImage() != plain);
    QTest::mouseClick(window_->findChild<QPushButton*>("cmdInfoTray"), Qt::LeftButton);
    QVERIFY(!window_->findChild<QPushButton*>("cmdInfoTray")->isChecked());
    QCOMPARE(View().PageImage(), plain);
  }

  // Every other device size shows the page holding the first word of the
  // page read before, wherever its number lands.
  void deviceSizeKeepsThePlace() {
    delete window_;
    window_ = new PreviewWindow(QString::fromStdString(WriteNumberedBook(*tmp_ / "NUMBERED.imp")), "Numbered");
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_));
    auto* sizes = window_->findChild<QComboBox*>("cboDeviceSize");
    QVERIFY(sizes->count() >= 2);
    for (int step = 0; step < sizes->count(); ++step) {
      int32_t pages = 0;
      Viewer().NumPages(&pages);
      Viewer().SetCurPage(pages * 2 / 3);
      std::vector<ikutil::TextLine> lines;
      QCOMPARE(Viewer().GetPageText(PageOf(Viewer()), &lines), ikpubx::S_OK);
      const std::string first = " " + lines.at(0).text.substr(0, lines.at(0).text.find(' ')) + " ";
      sizes->setCurrentIndex((sizes->currentIndex() + 1) % sizes->count());
      lines.clear();
      QCOMPARE(Viewer().GetPageText(PageOf(Viewer()), &lines), ikpubx::S_OK);
      std::string shown = " ";
      for (const ikutil::TextLine& line : lines) shown += line.text + " ";
      QVERIFY2(shown.find(first) != std::string::npos, (sizes->currentText().toStdString() + ":" + first).c_str());
    }
  }

  void screenshots() {
    window_->resize(820, 860);
    auto* find = window_->findChild<QLineEdit*>("txtFind");
    QTest::keyClicks(find, "lighthouse keeper");
    QTest::keyClick(find, Qt::Key_Return);
    QVERIFY(window_->HitCount() > 0);
    SaveScreenshot(*window_, "preview_proofing");
  }
};

QTEST_MAIN(ProofingWindowTest)
#include "proofing_window_test.moc"
