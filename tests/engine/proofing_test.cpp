// Proofing a built book with the viewer: the contents lead to the pages
// their headings are on, links land where they should (or say why they
// cannot), Back retraces them, and the search finds words wherever the
// typesetter put them, hyphenated across lines included.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "compiler.h"
#include "ikutil/book_viewer.h"
#include "ikutil/device_edition.h"
#include "source_files.h"
#include "test_util.h"
#include "text_search.h"

namespace ikutil {
namespace {

using vellix::fixtures::TempDir;

std::string Document(const std::string& title, const std::string& body) {
  return "<?xml version=\"1.0\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\">\n<head><title>" + title +
         "</title></head>\n<body>\n" + body + "</body>\n</html>\n";
}

// Paragraphs of plain words that fill pages, each word naming its place.
std::string Filler(const std::string& tag, int paragraphs) {
  std::string out;
  for (int p = 0; p < paragraphs; ++p) {
    out += "<p>";
    for (int w = 0; w < 50; ++w) out += (w ? " " : "") + tag + "word" + std::to_string(p * 50 + w);
    out += "</p>\n";
  }
  return out;
}

// Two chapters in two documents: nested headings, a link across to an
// anchor of the other document and one back, a link to an anchor that is
// not there, one to a document that is not part of the book (an address
// outside it, like the web link).
std::string BuildBook(const std::string& folder) {
  MemorySourceFiles files;
  files.files["one.htm"] =
      Document("One",
               "<h1>Chapter One</h1>\n<p>Start <a href=\"two.htm#deep\">to the deep section</a> and "
               "<a href=\"two.htm#gone\">a lost anchor</a> or <a href=\"three.htm\">a lost page</a> or "
               "<a href=\"https://example.com/more\">the web</a>.</p>\n" +
                   Filler("a", 8) + "<h2 id=\"oneA\">Section One A</h2>\n" + Filler("b", 8) +
                   "<h3>Part One A i</h3>\n<p>The quick brown fox.</p>\n");
  files.files["two.htm"] = Document("Two", "<h1>Chapter Two</h1>\n" + Filler("c", 8) +
                                               "<h2 id=\"deep\">Deep Section</h2>\n<p>Go <a href=\"one.htm#oneA\">back "
                                               "to one A</a> now.</p>\n" +
                                               Filler("d", 4));
  std::vector<Problem> problems;
  EditionCompiler compiler(files, {}, [&](const Problem& p) { problems.push_back(p); });
  EXPECT_EQ(compiler.AddDocument("one.htm"), CompileStatus::kCompiled);
  EXPECT_EQ(compiler.AddDocument("two.htm"), CompileStatus::kCompiled);
  DeviceEdition edition = compiler.Finish();
  edition.language = "en-US";
  EXPECT_EQ(problems.size(), 2u);  // the lost anchor (an error) and the page outside (a warning)
  BookInformation info;
  info.book_id = "PROOF1";
  info.title = "Proofs";
  info.folder_name = "PROOFS.RES";
  const std::string path = folder + "/proofs.imp";
  WriteDeviceBook(edition, info, {}, path);
  return path;
}

// The page whose text holds `words`.
int32_t PageHolding(CBookViewer& viewer, const std::string& words) {
  for (int32_t page = 1; page <= viewer.PageCount(); ++page)
    for (const TextLine& line : viewer.PageLines(page))
      if (line.text.find(words) != std::string::npos) return page;
  return 0;
}

class ProofingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = BuildBook(dir_.path());
    ASSERT_TRUE(viewer_.Create(nullptr, 0, 1, 480, 640, 4)) << viewer_.LastErrorMessage();
    viewer_.page_callback = [](int32_t page, void* self) { static_cast<std::vector<int32_t>*>(self)->push_back(page); };
    viewer_.page_context = &shown_;
  }
  TempDir dir_;
  std::string path_;
  CBookViewer viewer_{dir_ / "proofs.imp"};
  std::vector<int32_t> shown_;
};

TEST_F(ProofingTest, ContentsLeadToTheirHeadingsAtEverySize) {
  for (bool zoomed : {false, true}) {
    if (zoomed) viewer_.ToggleZoom();
    const std::vector<ContentsEntry> contents = viewer_.Contents();
    ASSERT_EQ(contents.size(), 5u);
    const std::vector<std::pair<std::string, int32_t>> expected = {
        {"Chapter One", 1}, {"Section One A", 2}, {"Part One A i", 3}, {"Chapter Two", 1}, {"Deep Section", 2}};
    int32_t previous = 0;
    for (size_t i = 0; i < contents.size(); ++i) {
      EXPECT_EQ(contents[i].label, expected[i].first);
      EXPECT_EQ(contents[i].level, expected[i].second);
      EXPECT_EQ(contents[i].page, PageHolding(viewer_, expected[i].first)) << expected[i].first;
      EXPECT_GE(contents[i].page, previous);
      previous = contents[i].page;
    }
  }
}

TEST_F(ProofingTest, LinksSayWhereTheyLeadAndBrokenOnesGoNowhere) {
  const std::vector<PageLink> links = viewer_.PageLinks(1);
  ASSERT_EQ(links.size(), 4u);
  EXPECT_EQ(links[0].text, "to the deep section");
  EXPECT_EQ(links[0].target_page, PageHolding(viewer_, "Deep Section"));
  EXPECT_EQ(links[0].kind, LinkTarget::kPage);
  EXPECT_EQ(std::pair(links[1].kind, links[1].href), std::pair(LinkTarget::kBroken, std::string("two.htm#gone")));
  // A file the book lacks is a broken link too, not a page outside the book.
  EXPECT_EQ(std::pair(links[2].kind, links[2].href), std::pair(LinkTarget::kBroken, std::string("three.htm")));
  EXPECT_EQ(std::pair(links[3].kind, links[3].href),
            std::pair(LinkTarget::kOutside, std::string("https://example.com/more")));

  // Each link's rectangles lie on the lines of its words, in reading order.
  const std::vector<TextLine> lines = viewer_.PageLines(1);
  for (const PageLink& link : links) {
    ASSERT_FALSE(link.rects.empty());
    for (const PageRect& rect : link.rects) {
      EXPECT_GT(rect.width, 0);
      bool on_a_line = false;
      for (const TextLine& line : lines)
        on_a_line |=
            rect.y == line.rect.y && rect.x >= line.rect.x && rect.x + rect.width <= line.rect.x + line.rect.width;
      EXPECT_TRUE(on_a_line);
    }
    const PageRect& r = link.rects.front();
    EXPECT_EQ(viewer_.LinkAt(r.x + r.width / 2, r.y + r.height / 2), &link - links.data());
  }
  EXPECT_EQ(viewer_.LinkAt(0, 0), -1);

  // Neither a broken link nor one outside the book moves the page.
  using enum FollowResult;
  for (auto [link, result] : {std::pair{1, kBroken}, {2, kBroken}, {3, kOutside}, {4, kNoSuchLink}, {-1, kNoSuchLink}})
    EXPECT_EQ(viewer_.FollowLink(link), result) << link;
  EXPECT_EQ(viewer_.CurrentPage(), 1);
  EXPECT_TRUE(shown_.empty());
  EXPECT_FALSE(viewer_.CanGoBack());
  EXPECT_FALSE(viewer_.GoBack());
}

TEST_F(ProofingTest, BackRetracesTwoLinksEvenAcrossAZoom) {
  const int32_t deep = PageHolding(viewer_, "Deep Section");
  const int32_t one_a = PageHolding(viewer_, "Section One A");
  ASSERT_EQ(viewer_.FollowLink(0), FollowResult::kFollowed);
  EXPECT_EQ(viewer_.CurrentPage(), deep);
  // The deep section's page links back to section one A.
  const std::vector<PageLink> links = viewer_.PageLinks(deep);
  ASSERT_EQ(links.size(), 1u);
  EXPECT_EQ(links[0].target_page, one_a);
  ASSERT_EQ(viewer_.FollowLink(0), FollowResult::kFollowed);
  EXPECT_EQ(viewer_.CurrentPage(), one_a);
  EXPECT_EQ(shown_, (std::vector<int32_t>{deep, one_a}));

  EXPECT_TRUE(viewer_.GoBack());
  EXPECT_EQ(viewer_.CurrentPage(), deep);
  // Back finds the place, not the number: after a zoom it is the page that
  // holds the first page's start in the new layout.
  viewer_.ToggleZoom();
  EXPECT_TRUE(viewer_.GoBack());
  EXPECT_EQ(viewer_.CurrentPage(), 1);
  EXPECT_FALSE(viewer_.GoBack());
  EXPECT_FALSE(viewer_.CanGoBack());
}

TEST_F(ProofingTest, FindIgnoresCaseAndWhiteSpaceAndMovesOn) {
  FindResult found = viewer_.Find("THE  QUICK\nbrown", 1);
  const int32_t fox = PageHolding(viewer_, "quick brown fox");
  EXPECT_EQ(found.page, fox);
  ASSERT_EQ(found.hits.size(), 1u);
  ASSERT_EQ(found.hits[0].size(), 1u);
  const PageRect hit = found.hits[0][0];
  EXPECT_GT(hit.width, 0);
  // The hit covers three words of the line, not the whole line.
  for (const TextLine& line : viewer_.PageLines(fox)) {
    if (line.text.find("quick brown fox") == std::string::npos) continue;
    EXPECT_EQ(hit.y, line.rect.y);
    EXPECT_LT(hit.width, line.rect.width);
  }
  EXPECT_EQ(viewer_.CurrentPage(), 1);  // searching does not page

  // Past the last hit there is none; backward finds it again.
  EXPECT_EQ(viewer_.Find("quick brown", fox + 1).page, 0);
  EXPECT_EQ(viewer_.FindBackward("quick brown", viewer_.PageCount()).page, fox);
  EXPECT_EQ(viewer_.FindBackward("quick brown", fox - 1).page, 0);
  // A page with several hits gives them all, in reading order.
  const FindResult words = viewer_.Find("aword1", 1);  // aword1, aword10..19, aword100..
  ASSERT_GT(words.hits.size(), 3u);
  for (size_t i = 1; i < words.hits.size(); ++i) {
    const PageRect& a = words.hits[i - 1].front();
    const PageRect& b = words.hits[i].front();
    EXPECT_TRUE(a.y < b.y || (a.y == b.y && a.x < b.x));
  }
  EXPECT_EQ(viewer_.Find("   ", 1).page, 0);
  EXPECT_EQ(viewer_.Find("not in this book", 1).page, 0);
}

TEST(ProofingFind, FindsAWordHyphenatedAcrossTwoLines) {
  TempDir dir;
  DeviceEdition e;
  e.language = "en-US";
  e.text_styles = {{}};
  e.block_styles = {{}};
  std::string text;
  const char* const words[] = {"extraordinary",    "internationalisation", "characteristically", "responsibilities",
                               "incomprehensible", "representatives",      "disproportionately", "telecommunications"};
  for (int i = 0; i < 6; ++i)
    for (const char* w : words) text += std::string(text.empty() ? "" : " ") + w + " of";
  e.blocks.push_back({BlockKind::kParagraph, 0, 0, "", kNoImage, "", {{text, 0, kNoLink}}});
  BookInformation info;
  info.title = "Long words";
  info.folder_name = "LONG.RES";
  const std::string path = dir / "long.imp";
  WriteDeviceBook(e, info, {}, path);
  CBookViewer viewer(path);
  ASSERT_TRUE(viewer.Create(nullptr, 0, 1, 240, 640, 4));

  // The first line that ends in half a word, and the word it splits.
  const std::vector<TextLine> lines = viewer.PageLines(1);
  size_t split = 0;
  while (split + 1 < lines.size() && (lines[split].text.size() < 2 || lines[split].text.back() != '-')) ++split;
  ASSERT_LT(split + 1, lines.size()) << "no line was hyphenated";
  const std::string& before = lines[split].text;
  const std::string head = before.substr(before.rfind(' ') + 1, before.size() - before.rfind(' ') - 2);
  const std::string tail = lines[split + 1].text.substr(0, lines[split + 1].text.find(' '));
  const std::string word = head + tail;

  const FindResult found = viewer.Find(word, 1);
  ASSERT_EQ(found.page, 1);
  // Of that word's hits, one covers the end of the split line and the start
  // of the next.
  bool across = false;
  for (const std::vector<PageRect>& hit : found.hits) {
    if (hit.size() != 2) continue;
    across |=
        hit[0].y == lines[split].rect.y && hit[1].y == lines[split + 1].rect.y && hit[1].x == lines[split + 1].rect.x;
  }
  EXPECT_TRUE(across) << word;
  // A soft hyphen in what is typed, or in the text, changes nothing.
  EXPECT_EQ(typeset::FoldForSearch("Extra\u00ADordinary \u2019s"), "extraordinary 's");
}

}  // namespace
}  // namespace ikutil
