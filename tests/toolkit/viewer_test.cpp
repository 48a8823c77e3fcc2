#include "ikpubx/viewer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "ikpubx/module.h"
#include "ikutil/device_edition.h"
#include "test_util.h"

namespace ikpubx {
namespace {

using vellix::fixtures::TempDir;

ikutil::Block Paragraph(std::vector<ikutil::Run> runs) {
  return {ikutil::BlockKind::kParagraph, 0, 0, "", ikutil::kNoImage, "", std::move(runs)};
}

// An edition of `paragraphs` paragraphs of plain text, long enough for
// several pages at any device size the tests use.
ikutil::DeviceEdition PlainEdition(int paragraphs) {
  ikutil::DeviceEdition edition;
  edition.text_styles = {{}};
  edition.block_styles = {{}};
  for (int n = 0; n < paragraphs; ++n) {
    std::string text = "Paragraph " + std::to_string(n + 1) + ".";
    for (int word = 0; word < 40; ++word) text += " words fill the page";
    edition.blocks.push_back(Paragraph({{text, 0}}));
  }
  return edition;
}

void WriteBook(const std::string& path, int paragraphs = 60, const std::string& title = "Paged") {
  ikutil::BookInformation info;
  info.book_id = "ID1";
  info.category = "Fiction";
  info.title = title;
  info.author_last_name = "Writer";
  info.folder_name = "BOOK.RES";
  ikutil::WriteDeviceBook(PlainEdition(paragraphs), info, {}, path);
}

// A page image's width, height and depth.
std::tuple<int, int, int> Shape(const ikutil::PageImage& image) { return {image.width, image.height, image.depth}; }

// Records every event, named by the sink that received it.
struct RecordingSink : IViewerEvents {
  RecordingSink(std::string name, std::vector<std::string>* log) : name(std::move(name)), log(log) {}
  void OnNewPage(int32_t page) override { log->push_back(name + ":page " + std::to_string(page)); }
  void OnZoomChange() override { log->push_back(name + ":zoom"); }
  std::string name;
  std::vector<std::string>* log;
};

class ViewerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", (tmp_ / "config").c_str(), 1);
    book_ = tmp_ / "Books/Paged.imp";
    std::filesystem::create_directories(tmp_ / "Books");
    WriteBook(book_);
  }
  void TearDown() override { unsetenv("XDG_CONFIG_HOME"); }

  void WriteDeviceSettings(const std::string& preferences) {
    tmp_.Write("config/Inkleaf Press/Common.conf", "[Preferences]\n" + preferences);
  }
  ikutil::PageImage Page(IViewer& viewer, int32_t page = 1) {
    ikutil::PageImage image;
    EXPECT_EQ(viewer.GetPageImage(page, &image), S_OK);
    return image;
  }
  std::shared_ptr<IViewer> Opened() {
    auto viewer = NewViewer();
    EXPECT_EQ(viewer->SetBookName(book_), S_OK);
    return viewer;
  }
  int32_t Pages(IViewer& viewer) {
    int32_t pages = -1;
    EXPECT_EQ(viewer.NumPages(&pages), S_OK);
    return pages;
  }
  std::string Name(IViewer& viewer) {
    std::string name = "unset";
    EXPECT_EQ(viewer.BookName(&name), S_OK);
    return name;
  }
  int32_t Current(IViewer& viewer) {
    int32_t page = -1;
    EXPECT_EQ(viewer.CurPage(&page), S_OK);
    return page;
  }

  TempDir tmp_;
  std::string book_;
};

TEST_F(ViewerTest, RegistryCreatesViewerByEitherProgramIdentifier) {
  for (const char* name : {kViewerProgId, kViewerIndependentProgId, kViewerClassId}) {
    std::shared_ptr<IViewer> viewer;
    ASSERT_EQ(CreateObject(name, &viewer), S_OK) << name;
    EXPECT_NE(viewer, nullptr);
  }
  ASSERT_NE(FindClass(kViewerIndependentProgId), nullptr);
  EXPECT_EQ(FindClass(kViewerIndependentProgId)->name, "Viewer Class");
}

// Everything that needs a book fails alike without one, the page image and
// a device change included; the info tray alone succeeds quietly.
TEST_F(ViewerTest, WithoutBookOperationsFail) {
  auto viewer = NewViewer();
  int32_t value = 7;
  ikutil::PageImage image;
  EXPECT_EQ(viewer->NumPages(&value), E_FAIL);
  EXPECT_EQ(viewer->CurPage(&value), E_FAIL);
  EXPECT_EQ(value, 7);
  const HRESULT paging[] = {viewer->SetCurPage(2), viewer->ToggleZoom(), viewer->NextPage(), viewer->PrevPage(),
                            viewer->HandleChar('n')};
  for (const HRESULT& result : paging) EXPECT_EQ(result, E_FAIL) << "call " << &result - paging;
  EXPECT_EQ(viewer->GetPageImage(1, &image), E_FAIL);
  EXPECT_TRUE(image.pixels.empty());
  EXPECT_EQ(viewer->ChangeDeviceSettings(600, 800, 8), E_FAIL);
  EXPECT_EQ(viewer->ShowInfoTray(), S_OK);
  EXPECT_EQ(viewer->NumPages(nullptr), E_POINTER);
  EXPECT_EQ(Name(*viewer), "");
  // A device change with no book leaves nothing behind for the next open.
  EXPECT_EQ(viewer->SetBookName(book_), S_OK);
  EXPECT_EQ(Page(*viewer).width, 480);
}

TEST_F(ViewerTest, DeviceSettingsAreReadAtEachOpen) {
  auto viewer = Opened();  // no settings file
  EXPECT_EQ(Shape(Page(*viewer)), std::tuple(480, 640, 4));

  WriteDeviceSettings("Device Width=600\nDevice Height=800\nDevice Depth=8\n");
  EXPECT_EQ(viewer->SetBookName(book_), S_OK);  // the same name: not opened again
  EXPECT_EQ(Page(*viewer).width, 480);
  auto second = Opened();
  ikutil::PageImage image = Page(*second);
  EXPECT_EQ(Shape(image), std::tuple(600, 800, 8));
  EXPECT_EQ(image.pixels.size(), 600u * 800u);

  // A value that is no number, or missing, keeps its default.
  WriteDeviceSettings("Device Width=wide\nDevice Depth=2\n");
  EXPECT_EQ(Shape(Page(*Opened())), std::tuple(480, 640, 2));
}

TEST_F(ViewerTest, SameNameInOtherCaseDoesNothingAndKeepsPage) {
  auto viewer = Opened();
  std::vector<std::string> log;
  uint32_t cookie = 0;
  ASSERT_EQ(viewer->SetCurPage(3), S_OK);
  ASSERT_EQ(viewer->Advise(std::make_shared<RecordingSink>("a", &log), &cookie), S_OK);

  std::string upper = book_;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ASSERT_NE(upper, book_);
  EXPECT_EQ(viewer->SetBookName(upper), S_OK);  // no such file: opening it would fail
  EXPECT_EQ(Current(*viewer), 3);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(Name(*viewer), book_);
}

TEST_F(ViewerTest, FailedOpenKeepsNameAndIsNotRetried) {
  auto viewer = Opened();
  const std::string missing = tmp_ / "Books/Later.imp";
  EXPECT_EQ(viewer->SetBookName(missing), ViewerFailure(ikutil::kViewerNotFound));
  EXPECT_EQ(static_cast<uint32_t>(ViewerFailure(ikutil::kViewerNotFound)), 0x80000001u);
  EXPECT_EQ(Name(*viewer), missing);
  int32_t pages = 0;
  EXPECT_EQ(viewer->NumPages(&pages), E_FAIL);  // the earlier book is closed too

  WriteBook(missing);
  EXPECT_EQ(viewer->SetBookName(missing), S_OK);  // stored: no second try
  EXPECT_EQ(viewer->NumPages(&pages), E_FAIL);
  EXPECT_EQ(viewer->SetBookName(book_), S_OK);  // another name opens
  EXPECT_GT(Pages(*viewer), 1);
  EXPECT_EQ(viewer->SetBookName(missing), S_OK);
  EXPECT_GT(Pages(*viewer), 1);

  // A book file made by another tool, and a file that is no book at all.
  vellix::fixtures::WriteFile(tmp_ / "Books/Foreign.imp", vellix::fixtures::SimpleBookFile({}));
  EXPECT_EQ(viewer->SetBookName(tmp_ / "Books/Foreign.imp"), ViewerFailure(ikutil::kViewerNotOurs));
  EXPECT_NE(viewer->LastErrorMessage(), "");
  vellix::fixtures::WriteFile(tmp_ / "Books/Text.imp", "just some text");
  EXPECT_EQ(viewer->SetBookName(tmp_ / "Books/Text.imp"), ViewerFailure(ikutil::kViewerNotABookFile));
}

// The paging calls and the typed characters leave the same trail of pages
// and events, at both ends of the book too.
TEST_F(ViewerTest, NextAndPrevPageActAsTypedCharacters) {
  auto called = Opened();
  auto typed = Opened();
  std::vector<std::string> called_log, typed_log;
  uint32_t cookie;
  called->Advise(std::make_shared<RecordingSink>("", &called_log), &cookie);
  typed->Advise(std::make_shared<RecordingSink>("", &typed_log), &cookie);

  const int32_t pages = Pages(*called);
  ASSERT_GE(pages, 3);
  EXPECT_EQ(called->PrevPage(), S_OK);  // already on the first page
  typed->HandleChar('p');
  for (int32_t n = 0; n < pages + 1; ++n) {
    EXPECT_EQ(called->NextPage(), S_OK);
    typed->HandleChar('n');
  }
  EXPECT_EQ(called->PrevPage(), S_OK);
  typed->HandleChar('p');

  EXPECT_EQ(called_log, typed_log);
  ASSERT_EQ(called_log.size(), static_cast<size_t>(pages));  // pages - 1 forward, one back
  EXPECT_EQ(called_log.front(), ":page 2");
  EXPECT_EQ(called_log.back(), ":page " + std::to_string(pages - 1));
  EXPECT_EQ(Current(*called), pages - 1);
  EXPECT_EQ(Current(*typed), pages - 1);
}

// The page shown after a change holds the first line of the page shown
// before (its page number changes with the size).
TEST_F(ViewerTest, ChangeDeviceSettingsKeepsPlace) {
  auto viewer = Opened();
  ASSERT_EQ(viewer->SetCurPage(3), S_OK);
  std::vector<ikutil::TextLine> before, after;
  ASSERT_EQ(viewer->GetPageText(3, &before), S_OK);
  ASSERT_FALSE(before.empty());
  EXPECT_EQ(viewer->ChangeDeviceSettings(600, 800, 8), S_OK);
  const int32_t now = Current(*viewer);
  EXPECT_EQ(Shape(Page(*viewer, now)), std::tuple(600, 800, 8));
  ASSERT_EQ(viewer->GetPageText(now, &after), S_OK);
  std::string shown;
  for (const ikutil::TextLine& line : after) shown += line.text + " ";
  const std::string first_word = before[0].text.substr(0, before[0].text.find(' '));
  EXPECT_NE(shown.find(first_word), std::string::npos) << first_word;

  // The new engine window reports to the same sinks.
  std::vector<std::string> log;
  uint32_t cookie;
  viewer->Advise(std::make_shared<RecordingSink>("a", &log), &cookie);
  viewer->NextPage();
  EXPECT_EQ(log, std::vector<std::string>{"a:page " + std::to_string(now + 1)});

  // A size or depth no device has is refused; the book stays as it was.
  int32_t pages = 0;
  ASSERT_EQ(viewer->NumPages(&pages), S_OK);
  for (auto [w, h, d] : {std::tuple{0, 0, 0}, {10, 10, 4}, {600, 800, 3}, {-1, 800, 8}, {600, 1 << 30, 8}})
    EXPECT_EQ(viewer->ChangeDeviceSettings(w, h, static_cast<int16_t>(d)), E_INVALIDARG) << w << "x" << h << "x" << d;
  EXPECT_TRUE(viewer->HasBook());
  EXPECT_EQ(Current(*viewer), now + 1);
  EXPECT_EQ(Page(*viewer, now + 1).width, 600);

  // Pages outside 1..NumPages are refused, not drawn as another page.
  ikutil::PageImage outside;
  for (int32_t page : {0, -1, pages + 1, INT32_MAX, INT32_MIN})
    EXPECT_EQ(viewer->GetPageImage(page, &outside), E_INVALIDARG) << page;
  EXPECT_TRUE(outside.pixels.empty());
  EXPECT_EQ(viewer->GetPageImage(pages, &outside), S_OK);
}

TEST_F(ViewerTest, EventsReachSinksInConnectionOrderUntilUnadvised) {
  auto viewer = Opened();
  std::vector<std::string> log;
  uint32_t first = 0, second = 0;
  ASSERT_EQ(viewer->Advise(std::make_shared<RecordingSink>("first", &log), &first), S_OK);
  ASSERT_EQ(viewer->Advise(std::make_shared<RecordingSink>("second", &log), &second), S_OK);
  EXPECT_EQ(viewer->Advise(nullptr, &first), E_POINTER);

  viewer->SetCurPage(2);
  const int32_t normal_pages = Pages(*viewer);
  EXPECT_EQ(viewer->ToggleZoom(), S_OK);
  EXPECT_TRUE(viewer->IsZoomed());
  EXPECT_NE(Pages(*viewer), normal_pages);
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(std::vector(log.begin(), log.begin() + 4),
            (std::vector<std::string>{"first:page 2", "second:page 2", "first:zoom", "second:zoom"}));

  log.clear();
  EXPECT_EQ(viewer->Unadvise(first), S_OK);
  EXPECT_EQ(viewer->Unadvise(first), CONNECT_E_NOCONNECTION);
  viewer->SetCurPage(1);
  viewer->ToggleZoom();
  EXPECT_EQ(log, (std::vector<std::string>{"second:page 1", "second:zoom"}));
  viewer->Unadvise(second);
  log.clear();
  viewer->NextPage();
  EXPECT_TRUE(log.empty());
}

// A sink that opens another book from inside an event: the engine window
// that fired it is still running and must live until it returns.
TEST_F(ViewerTest, SinkMayOpenAnotherBookFromAnEvent) {
  const std::string other = tmp_ / "Books/Other.imp";
  WriteBook(other, 5, "Other");
  auto viewer = Opened();
  struct Reopening : IViewerEvents {
    IViewer* viewer;
    std::string other;
    void OnNewPage(int32_t) override { viewer->SetBookName(other); }
  };
  auto sink = std::make_shared<Reopening>();
  sink->viewer = viewer.get();
  sink->other = other;
  uint32_t cookie;
  viewer->Advise(sink, &cookie);
  EXPECT_EQ(viewer->NextPage(), S_OK);
  EXPECT_EQ(Name(*viewer), other);
  EXPECT_EQ(Current(*viewer), 1);
}

// A book whose first page links to its last paragraph, outside the book and
// nowhere, for the proofing members' answers.
std::string WriteLinkedBook(const std::string& path) {
  ikutil::DeviceEdition edition = PlainEdition(40);
  edition.blocks.insert(
      edition.blocks.begin(),
      Paragraph({{"To ", 0}, {"the end", 0, 0}, {", ", 0}, {"away", 0, 1}, {", ", 0}, {"nowhere", 0, 2}}));
  edition.blocks.push_back(Paragraph({{"The end.", 0}}));
  edition.links = {{false, {static_cast<uint32_t>(edition.blocks.size() - 1), 0}, ""},
                   {true, {}, "https://example.com/"},
                   {false, {}, "gone.htm", true}};
  edition.toc = {{1, "Start", {0, 0}}, {1, "End", {static_cast<uint32_t>(edition.blocks.size() - 1), 0}}};
  ikutil::BookInformation info;
  info.title = "Linked";
  info.folder_name = "LINKED.RES";
  ikutil::WriteDeviceBook(edition, info, {}, path);
  return path;
}

// The proofing members keep the Viewer's rules: E_FAIL without a book,
// E_POINTER for a missing out-parameter, E_INVALIDARG for a link that is not
// on the page, S_FALSE when nothing moves.
TEST_F(ViewerTest, ProofingMembersAnswerAsTheOthersDo) {
  auto empty = NewViewer();
  std::vector<ikutil::ContentsEntry> entries;
  std::vector<ikutil::PageLink> links;
  std::vector<ikutil::TextLine> lines;
  ikutil::FindResult found;
  EXPECT_EQ(empty->GetContents(&entries), E_FAIL);
  EXPECT_EQ(empty->GetPageLinks(&links), E_FAIL);
  EXPECT_EQ(empty->GetPageText(1, &lines), E_FAIL);
  EXPECT_EQ(empty->FollowLink(0), E_FAIL);
  EXPECT_EQ(empty->GoBack(), E_FAIL);
  EXPECT_EQ(empty->Find("x", 1, 1, &found), E_FAIL);

  auto viewer = NewViewer();
  ASSERT_EQ(viewer->SetBookName(WriteLinkedBook(tmp_ / "linked.imp")), S_OK);
  const HRESULT no_out[] = {viewer->GetContents(nullptr), viewer->GetPageLinks(nullptr),
                            viewer->GetPageText(1, nullptr), viewer->Find("x", 1, 1, nullptr)};
  for (const HRESULT& result : no_out) EXPECT_EQ(result, E_POINTER) << "call " << &result - no_out;

  ASSERT_EQ(viewer->GetContents(&entries), S_OK);
  ASSERT_EQ(entries.size(), 2u);
  const int32_t last = Pages(*viewer);
  EXPECT_EQ(entries[1].page, last);
  ASSERT_EQ(viewer->GetPageLinks(&links), S_OK);
  ASSERT_EQ(links.size(), 3u);
  EXPECT_EQ(links[0].target_page, last);

  std::vector<std::string> log;
  uint32_t cookie = 0;
  ASSERT_EQ(viewer->Advise(std::make_shared<RecordingSink>("a", &log), &cookie), S_OK);
  EXPECT_EQ(viewer->FollowLink(1), S_FALSE);
  EXPECT_EQ(viewer->FollowLink(2), S_FALSE);
  EXPECT_EQ(viewer->FollowLink(3), E_INVALIDARG);
  EXPECT_EQ(viewer->GoBack(), S_FALSE);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(viewer->FollowLink(0), S_OK);
  EXPECT_EQ(viewer->GoBack(), S_OK);
  EXPECT_EQ(log, (std::vector<std::string>{"a:page " + std::to_string(last), "a:page 1"}));

  // Opening the book for another device forgets where links left.
  EXPECT_EQ(viewer->FollowLink(0), S_OK);
  EXPECT_EQ(viewer->ChangeDeviceSettings(320, 480, 4), S_OK);
  EXPECT_EQ(viewer->GoBack(), S_FALSE);

  EXPECT_EQ(viewer->Find("THE END.", 1, 1, &found), S_OK);
  EXPECT_EQ(found.page, Pages(*viewer));
  EXPECT_EQ(viewer->Find("the end.", found.page, 0, &found), S_OK);
  EXPECT_EQ(found.hits.size(), 1u);
  EXPECT_EQ(viewer->Find("the end.", 1, -1, &found), S_OK);
  EXPECT_EQ(found.page, 0);  // not at or before page 1
  EXPECT_EQ(viewer->Find("the end.", Pages(*viewer), -1, &found), S_OK);
  EXPECT_EQ(found.page, Pages(*viewer));
}

}  // namespace
}  // namespace ikpubx
