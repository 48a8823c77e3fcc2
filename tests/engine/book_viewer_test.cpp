// The book viewer as its clients drive it: opening books (and refusing
// what it cannot show), paging by keys and calls with the callbacks, zoom,
// the info tray, the page images and their PNG files; the rasteriser over
// display lists that reach outside the page; the device settings file.
#include <gtest/gtest.h>
#include <png.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "fonts.h"
#include "ikutil/book_viewer.h"
#include "ikutil/builder.h"
#include "ikutil/device_edition.h"
#include "ikutil/device_settings.h"
#include "page_layout.h"
#include "page_raster.h"
#include "test_util.h"
#include "vellix/book.h"
#include "vellix/package.h"

namespace ikutil {
namespace {

using vellix::fixtures::ReadFile;
using vellix::fixtures::TempDir;
using vellix::fixtures::WriteFile;

const char* const kWords[] = {"river",  "lantern", "meadow", "quiet",  "harbour", "stone",  "window",  "garden",
                              "letter", "morning", "shadow", "copper", "winter",  "candle", "orchard", "thread"};

// Words that name their place: "meadow37" is the 37th word of the book, so
// a word seen on a page says exactly where in the book the page is.
std::string Words(int first, int count) {
  std::string text;
  for (int i = first; i < first + count; ++i) {
    if (i > first) text += ' ';
    text += kWords[i % 16] + std::to_string(i);
  }
  return text;
}

DeviceEdition TextEdition(int paragraphs, int words_each = 60) {
  DeviceEdition e;
  e.language = "en-US";
  e.text_styles = {{}, {FontFamily::kSerif, 2, true, false, false, VerticalAlign::kBaseline}};
  e.block_styles = {{}, {TextAlign::kCenter, 0, 10, 5, 0, 0, 120, true}};
  e.blocks.push_back({BlockKind::kHeading, 1, 1, "", kNoImage, "", {{"The Title Page", 1, kNoLink}}});
  for (int p = 0; p < paragraphs; ++p)
    e.blocks.push_back(
        {BlockKind::kParagraph, 0, 0, "", kNoImage, "", {{Words(p * words_each, words_each), 0, kNoLink}}});
  return e;
}

// A short edition with one linked phrase.
DeviceEdition LinkEdition(bool underline) {
  DeviceEdition e = TextEdition(1, 5);
  e.settings.underline_links = underline;
  const std::vector<Run> runs = {{"See ", 0, kNoLink}, {"the other chapter", 0, 0}, {" now.", 0, kNoLink}};
  e.blocks.push_back({BlockKind::kParagraph, 0, 0, "", kNoImage, "", runs});
  e.links = {{false, {1, 0}, ""}};
  return e;
}

BookInformation Info(const std::string& title = "Quiet Harbour") {
  BookInformation info;
  info.book_id = "VIEW1";
  info.title = title;
  info.author_last_name = "Writer";
  info.folder_name = "VIEW.RES";
  return info;
}

// Page changes seen through the callbacks, in order; a zoom is recorded as 0.
struct Calls {
  std::vector<int32_t> seen;
  explicit Calls(CBookViewer& viewer) {
    viewer.page_callback = [](int32_t page, void* self) { static_cast<Calls*>(self)->seen.push_back(page); };
    viewer.page_context = this;
    viewer.zoom_callback = [](void* self) { static_cast<Calls*>(self)->seen.push_back(0); };
    viewer.zoom_context = this;
  }
  std::vector<int32_t> Take() { return std::exchange(seen, {}); }
};

struct Tally {
  size_t dark = 0, light = 0, total = 0;
};

// Pixels of `image` (in the rows from `top` to `bottom`) darker than half
// and lighter than half its white.
Tally Count(const PageImage& image, int32_t top = 0, int32_t bottom = -1) {
  if (bottom < 0) bottom = image.height;
  const int white = (1 << image.depth) - 1;
  Tally t;
  for (int32_t y = top; y < bottom; ++y)
    for (int32_t x = 0; x < image.width; ++x) {
      const int v = image.pixels[static_cast<size_t>(y) * image.width + x];
      ++t.total;
      if (v * 2 < white) ++t.dark;
      if (v == white) ++t.light;
    }
  return t;
}

// True when the page's text holds `piece` (a word, or the part of one that
// begins a page after a hyphenated break).
bool Contains(const std::vector<std::string>& lines, const std::string& piece) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text.find(piece) != std::string::npos;
}

class ViewerTest : public ::testing::Test {
 protected:
  std::string Write(const DeviceEdition& e, const std::string& name = "book.imp",
                    const BookInformation& info = Info()) {
    const std::string path = dir_ / name;
    WriteDeviceBook(e, info, {}, path);
    return path;
  }
  TempDir dir_;
};

TEST_F(ViewerTest, PagesAreDrawnAtTheScreensSizeAndDepth) {
  const std::string path = Write(TextEdition(3));
  for (int16_t depth : {1, 2, 4, 8}) {
    CBookViewer viewer(path);
    ASSERT_TRUE(viewer.Create(nullptr, 0, 1, 300, 420, depth)) << viewer.LastErrorMessage();
    PageImage image;
    ASSERT_TRUE(viewer.GetPageImage(1, &image));
    EXPECT_EQ(std::tuple(image.width, image.height, image.depth), std::tuple(300, 420, depth));
    ASSERT_EQ(image.pixels.size(), size_t{300} * 420);
    const int white = (1 << depth) - 1;
    EXPECT_LE(*std::max_element(image.pixels.begin(), image.pixels.end()), white) << depth;
    EXPECT_EQ(*std::min_element(image.pixels.begin(), image.pixels.end()), 0) << depth;
    // Text: some ink, on a page that stays mostly paper.
    Tally t = Count(image);
    EXPECT_GT(t.dark, t.total / 100) << depth;
    EXPECT_GT(t.light, t.total * 3 / 4) << depth;
    if (depth > 1) {
      // Anti-aliased: edges in between black and white.
      EXPECT_TRUE(std::any_of(image.pixels.begin(), image.pixels.end(), [&](uint8_t v) { return v > 0 && v < white; }))
          << depth;
    }
  }
}

TEST_F(ViewerTest, CreateSaysWhyItCannotShowABook) {
  const std::string good = Write(TextEdition(2));
  const std::string bytes = ReadFile(good);
  const std::string text = dir_.Write("notes.txt", "Just some notes, not a book.\n");
  const std::string foreign =
      dir_.Write("foreign.imp", vellix::fixtures::SimpleBookFile({"ID", "Cat", "", "T", "A", "", ""}));
  const std::string truncated = dir_.Write("truncated.imp", bytes.substr(0, bytes.size() - 40));
  std::string damaged_bytes = bytes;
  damaged_bytes[damaged_bytes.size() / 2 + 30] ^= 0x5A;
  const std::string damaged = dir_.Write("damaged.imp", damaged_bytes);
  // A later version: both the carried bytes and the data fork say 2.
  std::string newer_bytes = ReadFile(Write(TextEdition(2), "plain.imp"));
  const size_t fork = newer_bytes.find("VXED", 30);
  ASSERT_NE(fork, std::string::npos);
  newer_bytes[24 + 5] = newer_bytes[fork + 5] = 2;
  const std::string newer = dir_.Write("newer.imp", newer_bytes);

  struct Case {
    std::string name, path;
    int32_t width, height;
    int16_t depth;
    int32_t error;
  };
  const std::vector<Case> cases = {
      {"missing", dir_ / "missing.imp", 480, 640, 4, kViewerNotFound},
      {"folder", dir_.path(), 480, 640, 4, kViewerNotFound},
      {"text file", text, 480, 640, 4, kViewerNotABookFile},
      {"book of another maker", foreign, 480, 640, 4, kViewerNotOurs},
      {"newer version", newer, 480, 640, 4, kViewerNewerVersion},
      {"truncated", truncated, 480, 640, 4, kViewerCorrupt},
      {"damaged", damaged, 480, 640, 4, kViewerCorrupt},
      {"narrow", good, kMinPageSide - 1, 640, 4, kViewerBadSize},
      {"tall", good, 480, kMaxPageSide + 1, 4, kViewerBadSize},
      {"zero", good, 0, 0, 4, kViewerBadSize},
      {"depth 3", good, 480, 640, 3, kViewerBadDepth},
      {"depth 0", good, 480, 640, 0, kViewerBadDepth},
      {"depth 16", good, 480, 640, 16, kViewerBadDepth},
  };
  for (const Case& c : cases) {
    CBookViewer viewer(c.path);
    EXPECT_EQ(viewer.LastError(), kViewerNoBook);
    EXPECT_FALSE(viewer.Create(nullptr, 0, 1, c.width, c.height, c.depth)) << c.name;
    EXPECT_EQ(viewer.LastError(), c.error) << c.name << ": " << viewer.LastErrorMessage();
    EXPECT_FALSE(viewer.LastErrorMessage().empty()) << c.name;
    EXPECT_FALSE(viewer.IsOpen()) << c.name;
    EXPECT_EQ(viewer.PageCount(), 0) << c.name;
    PageImage image;
    EXPECT_FALSE(viewer.GetPageImage(1, &image)) << c.name;
    EXPECT_TRUE(viewer.PageText(1).empty()) << c.name;
  }
  // The sides' limits themselves are allowed.
  CBookViewer smallest(good);
  EXPECT_TRUE(smallest.Create(nullptr, 0, 1, kMinPageSide, kMinPageSide, 1)) << smallest.LastErrorMessage();
  // Without fonts no page can be drawn.
  const char* old = std::getenv("VELLIX_FONT_DIR");
  const std::string saved = old != nullptr ? old : "";
  setenv("VELLIX_FONT_DIR", (dir_ / "no-fonts").c_str(), 1);
  CBookViewer fontless(good);
  EXPECT_FALSE(fontless.Create(nullptr, 0, 1, 480, 640, 4));
  EXPECT_EQ(fontless.LastError(), kViewerNoFonts);
  if (old != nullptr)
    setenv("VELLIX_FONT_DIR", saved.c_str(), 1);
  else
    unsetenv("VELLIX_FONT_DIR");
}

// A book is read only as far as it is shown, so damage deep inside it is
// found late: the first page still opens, and the page count, a later page
// or a search that reaches the damage closes the book with the reader's
// error; no call shows a book cut short at the damage.
TEST_F(ViewerTest, DamageDeepInABookSurfacesWhenTheViewerReachesIt) {
  const DeviceEdition edition = TextEdition(400);
  // Stored as it is: text that is no longer UTF-8 in paragraph 390.
  WriteDeviceBook(edition, Info(), {false, 25}, dir_ / "plain.imp");
  std::string plain = ReadFile(dir_ / "plain.imp");
  const size_t word = plain.find(Words(390 * 60, 1) + " ");
  ASSERT_NE(word, std::string::npos);
  plain[word] = static_cast<char>(0xFF);
  const std::string utf8 = dir_.Write("utf8.imp", plain);
  // Compressed: the deflated stream damaged near its end.
  std::string packed = ReadFile(Write(edition, "packed.imp"));
  const size_t fork = packed.find("VXED", 48);
  ASSERT_NE(fork, std::string::npos);
  packed[fork + (packed.size() - fork) * 9 / 10] ^= 0x55;
  const std::string stream = dir_.Write("stream.imp", packed);

  for (const std::string& path : {utf8, stream}) {
    EXPECT_EQ(ReadDeviceEdition(path).error, EditionError::kCorrupt) << path;
    using Reach = std::function<void(CBookViewer&)>;
    const std::vector<std::pair<const char*, Reach>> reaches = {
        {"page count", [](CBookViewer& v) { EXPECT_EQ(v.PageCount(), 0); }},
        {"a late page", [](CBookViewer& v) { v.GotoPage(1000); }},
        {"the contents", [](CBookViewer& v) { EXPECT_TRUE(v.Contents().empty()); }},
        {"a search", [](CBookViewer& v) { EXPECT_EQ(v.Find("nowhere in the book", 1).page, 0); }},
    };
    for (const auto& [what, reach] : reaches) {
      CBookViewer viewer(path);
      ASSERT_TRUE(viewer.Create(nullptr, 0, 1, 300, 400, 4)) << path << ": " << viewer.LastErrorMessage();
      PageImage image;
      EXPECT_TRUE(viewer.GetPageImage(1, &image)) << path;
      EXPECT_TRUE(Contains(viewer.PageText(1), "The Title Page")) << path;
      reach(viewer);
      EXPECT_FALSE(viewer.IsOpen()) << path << ", " << what;
      EXPECT_EQ(viewer.LastError(), kViewerCorrupt) << path << ", " << what;
      EXPECT_NE(viewer.LastErrorMessage().find(path + " is damaged"), std::string::npos)
          << what << ": " << viewer.LastErrorMessage();
      EXPECT_FALSE(viewer.GetPageImage(1, &image)) << path << ", " << what;
    }
  }
}

TEST_F(ViewerTest, KeysAndCallsTurnPagesAndReportEachChange) {
  CBookViewer viewer(Write(TextEdition(12)));
  ASSERT_TRUE(viewer.Create(nullptr, 0, 2, 240, 320, 4)) << viewer.LastErrorMessage();
  Calls calls(viewer);
  EXPECT_EQ(viewer.CurrentPage(), 2);  // Create shows the first page asked for, quietly
  EXPECT_TRUE(calls.Take().empty());

  // Forward by 'n' and space, back by 'p' and backspace; the last 'p' on the
  // first page, then keys that mean nothing.
  for (char32_t key : {U'n', U' ', U'p', U'\b', U'\b', U'p', U'x', U'N'}) viewer.HandleChar(key);
  EXPECT_EQ(calls.Take(), (std::vector<int32_t>{3, 4, 3, 2, 1}));
  EXPECT_EQ(viewer.CurrentPage(), 1);

  const int32_t count = viewer.PageCount();
  ASSERT_GE(count, 5);
  viewer.GotoPage(3);
  viewer.GotoPage(3);  // no change, no call
  viewer.GotoPage(count + 50);
  viewer.HandleChar('n');  // past the last page
  viewer.HandleChar(' ');
  viewer.GotoPage(-7);
  viewer.GotoPage(0);
  EXPECT_EQ(calls.Take(), (std::vector<int32_t>{3, count, 1}));

  // Create clamps the first page too.
  CBookViewer late(viewer.BookName());
  ASSERT_TRUE(late.Create(nullptr, 0, 9999, 240, 320, 4));
  EXPECT_EQ(late.CurrentPage(), count);
  EXPECT_EQ(late.PageCount(), count);

  viewer.HandleChar('q');
  EXPECT_FALSE(viewer.IsOpen());
  EXPECT_EQ(viewer.LastError(), kViewerNoBook);
  EXPECT_EQ(viewer.PageCount(), 0);
  viewer.HandleChar('n');
  viewer.GotoPage(2);
  viewer.ToggleZoom();
  EXPECT_TRUE(calls.Take().empty());
  PageImage image;
  EXPECT_FALSE(viewer.GetPageImage(1, &image));
}

TEST_F(ViewerTest, ZoomKeepsTheReadingPlaceAndMakesMorePages) {
  CBookViewer viewer(Write(TextEdition(30)));
  ASSERT_TRUE(viewer.Create(nullptr, 0, 1, 300, 400, 4)) << viewer.LastErrorMessage();
  Calls calls(viewer);
  EXPECT_FALSE(viewer.IsZoomed());
  const int32_t normal_count = viewer.PageCount();
  ASSERT_GE(normal_count, 6);
  int32_t zoomed_count = 0;
  // The words that begin the page shown, without a hyphen that breaks one.
  auto first_word = [&] {
    std::string word;
    std::vector<std::string> lines = viewer.PageText(viewer.CurrentPage());
    if (!lines.empty()) std::istringstream(lines.front()) >> word;
    if (!word.empty() && word.back() == '-') word.pop_back();
    return word;
  };
  for (int32_t page : {1, normal_count / 2, normal_count}) {
    viewer.GotoPage(page);
    calls.Take();
    const std::string before = first_word();
    ASSERT_FALSE(before.empty());

    viewer.ToggleZoom();
    EXPECT_TRUE(viewer.IsZoomed());
    // The zoom first; the larger type moves the place to a later page (but for the first).
    const std::vector<int32_t> zoom_then_page = {0, viewer.CurrentPage()};
    EXPECT_EQ(calls.Take(), page > 1 ? zoom_then_page : std::vector<int32_t>{0});
    EXPECT_TRUE(Contains(viewer.PageText(viewer.CurrentPage()), before))
        << before << " left page " << page << " for page " << viewer.CurrentPage();
    zoomed_count = viewer.PageCount();
    EXPECT_GT(zoomed_count, normal_count);

    // And back, keeping the zoomed page's first word in view.
    const std::string zoomed = first_word();
    viewer.ToggleZoom();
    EXPECT_FALSE(viewer.IsZoomed());
    EXPECT_EQ(viewer.PageCount(), normal_count);
    EXPECT_TRUE(Contains(viewer.PageText(viewer.CurrentPage()), zoomed)) << zoomed;
  }

  // A book that allows one size only keeps it.
  for (uint8_t states : {0, 1}) {
    DeviceEdition e = TextEdition(30);
    e.settings.zoom_states = states;
    CBookViewer fixed(Write(e, "fixed.imp"));
    ASSERT_TRUE(fixed.Create(nullptr, 0, 1, 300, 400, 4));
    Calls fixed_calls(fixed);
    EXPECT_EQ(fixed.IsZoomed(), states == 1);
    EXPECT_EQ(fixed.PageCount(), states == 1 ? zoomed_count : normal_count);
    fixed.ToggleZoom();
    EXPECT_EQ(fixed.IsZoomed(), states == 1);
    EXPECT_TRUE(fixed_calls.Take().empty());
  }
}

// Scripts whose faces have no bold cut are still drawn bold: more ink than
// the same words set regular.
TEST_F(ViewerTest, BoldHoldsInEveryScript) {
  auto ink = [&](const std::string& text, bool bold) {
    DeviceEdition e = TextEdition(0);
    e.text_styles[0].bold = bold;
    e.blocks = {{BlockKind::kParagraph, 0, 0, "", kNoImage, "", {{text, 0, kNoLink}}}};
    CBookViewer viewer(Write(e, bold ? "bold.imp" : "regular.imp"));
    EXPECT_TRUE(viewer.Create(nullptr, 0, 1, 400, 300, 8)) << viewer.LastErrorMessage();
    PageImage image;
    viewer.GetPageImage(1, &image);
    uint64_t sum = 0;
    for (uint8_t p : image.pixels) sum += 255 - p;
    return static_cast<double>(sum);
  };
  for (const std::string text : {"中文的粗体字样", "한국어 굵은 글자", "日本語の太字", "نص عربي غامق"}) {
    SCOPED_TRACE(text);
    EXPECT_GT(ink(text, true), 1.15 * ink(text, false));
  }
}

TEST_F(ViewerTest, LinksAreUnderlinedOnlyWhenTheBookSaysSo) {
  auto draw = [&](bool underline) {
    CBookViewer viewer(Write(LinkEdition(underline), underline ? "under.imp" : "plain.imp"));
    EXPECT_TRUE(viewer.Create(nullptr, 0, 1, 400, 300, 8)) << viewer.LastErrorMessage();
    PageImage image;
    viewer.GetPageImage(1, &image);
    return image;
  };
  PageImage under = draw(true), plain = draw(false);
  ASSERT_EQ(under.pixels.size(), plain.pixels.size());
  // The same words in the same places; only the rule below the link differs,
  // as a run of dark pixels along one row.
  size_t added = 0, removed = 0;
  int32_t widest = 0;
  for (int32_t y = 0; y < under.height; ++y) {
    int32_t run = 0;
    for (int32_t x = 0; x < under.width; ++x) {
      const size_t i = static_cast<size_t>(y) * under.width + x;
      if (under.pixels[i] < 128 && plain.pixels[i] >= 128) {
        ++added;
        widest = std::max(widest, ++run);
      } else {
        run = 0;
      }
      if (plain.pixels[i] < 128 && under.pixels[i] >= 128) ++removed;
    }
  }
  EXPECT_EQ(removed, 0u);
  EXPECT_GT(added, 40u) << "no underline under \"the other chapter\"";
  EXPECT_GT(widest, 15);
}

TEST_F(ViewerTest, TheInfoTrayShowsOnlyWhenAsked) {
  CBookViewer viewer(Write(TextEdition(1, 10)));
  ASSERT_TRUE(viewer.Create(nullptr, 0, 1, 320, 480, 4));
  PageImage plain, tray, hidden_again;
  const std::vector<std::string> lines = viewer.PageText(1);
  // Each call toggles the tray: hidden, shown, hidden again, and left shown.
  for (PageImage* image : {&plain, &tray, &hidden_again}) {
    EXPECT_EQ(viewer.InfoTrayShown(), image == &tray);
    viewer.GetPageImage(1, image);
    viewer.ShowInfoTray();
  }

  // A short page leaves its foot empty; the tray writes there.
  const int32_t foot = 480 - 480 / 12;
  EXPECT_EQ(Count(plain, foot).dark, 0u);
  EXPECT_GT(Count(tray, foot).dark, 100u);
  EXPECT_EQ(hidden_again.pixels, plain.pixels);
  // The tray is drawn, not laid out: the page's lines stay as they were.
  ASSERT_TRUE(viewer.InfoTrayShown());
  EXPECT_EQ(viewer.PageText(1), lines);
  // A new Create hides it again.
  ASSERT_TRUE(viewer.Create(nullptr, 0, 1, 320, 480, 4));
  EXPECT_FALSE(viewer.InfoTrayShown());
}

// --- a real text, published and shown ---

// The road a text takes onto the shelf: converted to a document, packaged,
// built by the engine. Returns the book file.
std::string PublishText(const std::string& txt, const TempDir& dir) {
  const std::string htm = dir / "licence.htm", opf = dir / "licence.opf", out = dir / "out";
  std::filesystem::create_directories(out);
  vellix::Book book;
  book.Load(txt);
  book.SetTitle("Apache License 2.0");
  book.ConvertTxtToHtm(htm);
  WriteFile(opf, vellix::fixtures::DefaultPackageText());
  vellix::Package package;
  package.initialID(18838);
  package.SetPackagePath(opf);
  package.CreatePackage(htm, "licence", "Apache License 2.0", "The Apache Software Foundation", "Licences");
  package.CompletePackage(opf, "LICENCE", "Licences");
  package.SetDirectory(opf, out, dir.path());
  CBookParams params;
  EXPECT_TRUE(params.Load(opf, false));
  CBookBuilder builder(&params, nullptr);
  EXPECT_EQ(builder.OutputBook(false, false), 0);
  return out + "/LICENCE.imp";
}

// Writes the pages a person would look at first into the build's
// screenshots folder.
TEST_F(ViewerTest, APublishedLicenceReadsFromFirstPageToLast) {
  const std::string path = PublishText(VELLIX_TEST_TEXT, dir_);
  const std::string shots = VELLIX_SCREENSHOTS;
  std::filesystem::create_directories(shots);
  std::string error;
  auto shoot = [&](CBookViewer& viewer, int32_t page, const std::string& name) {
    PageImage image;
    ASSERT_TRUE(viewer.GetPageImage(page, &image));
    const Tally t = Count(image);
    EXPECT_GT(t.dark, t.total / 200) << name;
    EXPECT_GT(t.light, t.total / 2) << name;
    EXPECT_TRUE(SavePageImagePng(image, shots + "/" + name + ".png", &error)) << error;
  };

  CBookViewer viewer(path);
  ASSERT_TRUE(viewer.Create(nullptr, 0, 1, 480, 640, 4)) << viewer.LastErrorMessage();
  const int32_t count = viewer.PageCount();
  EXPECT_GE(count, 5);
  std::string first, last;
  for (const std::string& line : viewer.PageText(1)) first += line + " ";
  for (const std::string& line : viewer.PageText(count)) last += line + " ";
  EXPECT_NE(first.find("Apache License"), std::string::npos) << first;
  EXPECT_NE(last.find("License."), std::string::npos) << last;

  const int32_t middle = (count + 1) / 2;
  shoot(viewer, 1, "licence-first-depth4");
  shoot(viewer, middle, "licence-middle-depth4");
  viewer.ShowInfoTray();
  shoot(viewer, middle, "licence-middle-tray");
  viewer.GotoPage(middle);
  viewer.ToggleZoom();
  shoot(viewer, viewer.CurrentPage(), "licence-middle-zoomed");

  CBookViewer mono(path);
  ASSERT_TRUE(mono.Create(nullptr, 0, middle, 480, 640, 1));
  shoot(mono, middle, "licence-middle-depth1");
  CBookViewer fine(path);
  ASSERT_TRUE(fine.Create(nullptr, 0, 1, 600, 800, 8));
  shoot(fine, 1, "licence-first-600x800-depth8");
}

// Every kind of block and style, small enough for a fuzz seed.
DeviceEdition MixedEdition() {
  DeviceEdition e;
  e.settings = {2, 2, 2, true, false};
  e.text_styles = {{},
                   {FontFamily::kSans, 2, true, false, false, VerticalAlign::kBaseline},
                   {FontFamily::kMono, -1, false, true, true, VerticalAlign::kSuper},
                   {FontFamily::kSerif, -2, false, false, false, VerticalAlign::kSub}};
  e.block_styles = {{},
                    {TextAlign::kCenter, 0, 10, 5, 0, 0, 140, true},
                    {TextAlign::kLeft, -15, 0, 0, 20, 10, 100},
                    {TextAlign::kRight, 0, 0, 0, 0, 0, 120, false}};
  GreyImage gradient{6, 4, {}};
  for (int i = 0; i < 24; ++i) gradient.pixels.push_back(static_cast<uint8_t>(i * 11));
  e.images = {gradient};
  e.blocks = {
      {BlockKind::kHeading, 1, 1, "", kNoImage, "", {{"Heading", 1, kNoLink}}},
      {BlockKind::kParagraph, 0, 0, "", kNoImage, "", {{"Plain, ", 0, kNoLink}, {"code", 2, 0}, {"2", 3, kNoLink}}},
      {BlockKind::kListItem, 1, 2, "1.", kNoImage, "", {{"first item", 0, kNoLink}}},
      {BlockKind::kListItem, 2, 2, "\u2022", kNoImage, "", {{"nested", 0, kNoLink}}},
      {BlockKind::kPreformatted, 0, 2, "", kNoImage, "", {{"  a = 1;\n  b = 2;", 2, kNoLink}}},
      {BlockKind::kImage, 0, 1, "", 0, "a gradient", {}},
      {BlockKind::kRule, 0, 0, "", kNoImage, "", {}},
      {BlockKind::kPageBreak, 0, 0, "", kNoImage, "", {}},
      {BlockKind::kParagraph, 0, 3, "", kNoImage, "", {{"Right, after the break.", 0, kNoLink}}},
  };
  e.links = {{false, {8, 0}, ""}};
  e.toc = {{1, "Heading", {0, 0}}};
  return e;
}

// The fuzz target's seeds: books that show every kind of block. They must
// keep opening and drawing as the viewer evolves; VELLIX_UPDATE_GOLDEN=1
// writes them afresh.
TEST_F(ViewerTest, SeedBooksStillShow) {
  const std::string corpus = VELLIX_VIEWER_CORPUS;
  if (const char* update = std::getenv("VELLIX_UPDATE_GOLDEN"); update && std::string(update) == "1") {
    std::filesystem::create_directories(corpus);
    const WriteOptions plain{false, 25};
    WriteDeviceBook(TextEdition(3, 20), Info(), plain, corpus + "/text.imp");
    WriteDeviceBook(LinkEdition(true), Info(), plain, corpus + "/links.imp");
    WriteDeviceBook(MixedEdition(), Info(), plain, corpus + "/mixed.imp");
    DeviceEdition large = TextEdition(2, 30);
    large.settings = {2, 2, 1, false, false};
    WriteDeviceBook(large, Info(), plain, corpus + "/large-only.imp");
  }
  size_t seeds = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    CBookViewer viewer(entry.path().string());
    ASSERT_TRUE(viewer.Create(nullptr, 0, 1, 160, 200, 2)) << entry.path() << ": " << viewer.LastErrorMessage();
    PageImage image;
    for (int32_t page = 1; page <= viewer.PageCount(); ++page) {
      ASSERT_TRUE(viewer.GetPageImage(page, &image));
      EXPECT_GT(Count(image).dark, 0u) << entry.path() << " page " << page;
    }
    ++seeds;
  }
  EXPECT_GE(seeds, 4u);
}

// --- PNG files ---

struct DecodedPng {
  uint32_t width = 0, height = 0;
  int bit_depth = 0, color_type = -1;
  std::vector<uint8_t> pixels;  // one byte a pixel, unpacked
};

std::optional<DecodedPng> ReadPng(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  DecodedPng out;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return std::nullopt;
  }
  png_init_io(png, file);
  png_read_info(png, info);
  out.width = png_get_image_width(png, info);
  out.height = png_get_image_height(png, info);
  out.bit_depth = png_get_bit_depth(png, info);
  out.color_type = png_get_color_type(png, info);
  if (out.bit_depth < 8) png_set_packing(png);
  png_read_update_info(png, info);
  out.pixels.resize(size_t{out.width} * out.height);
  for (uint32_t y = 0; y < out.height; ++y) png_read_row(png, &out.pixels[size_t{y} * out.width], nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  return out;
}

TEST_F(ViewerTest, PageImagesSaveAsGreyPngsOfTheirDepth) {
  // Grey PNGs of the page's depth, packed as rows repeated from the row
  // above and runs of one byte: blank rows, runs of every length around
  // deflate's limits (3 and 258), noise, the widest row and rows too narrow
  // to copy all come back, at every depth.
  uint32_t seed = 7;
  auto noise = [&seed] { return static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16); };
  struct Shape {
    int32_t width, height;
    int16_t depth;
  };
  PageImage image_of_depth_1;
  for (const Shape& shape : {Shape{1, 9, 8}, Shape{3, 4, 1}, Shape{700, 40, 4}, Shape{8192, 3, 8}, Shape{333, 7, 2},
                             Shape{258, 9, 8}, Shape{259, 9, 8}, Shape{260, 9, 8}}) {
    PageImage page{shape.width, shape.height, shape.depth, {}};
    const int white = (1 << shape.depth) - 1;
    for (int32_t y = 0; y < shape.height; ++y) {
      for (int32_t x = 0; x < shape.width; ++x) {
        uint8_t value = static_cast<uint8_t>(white);
        if (y % 4 == 1) value = static_cast<uint8_t>(noise() & white);            // noise
        if (y % 4 == 2) value = static_cast<uint8_t>((x / (1 + y)) % 2 * white);  // runs growing with y
        page.pixels.push_back(value);                                             // rows 0 and 3: blank, repeated
      }
    }
    const std::string packed = dir_ / "packed.png";
    std::string error;
    ASSERT_TRUE(SavePageImagePng(page, packed, &error)) << error;
    std::optional<DecodedPng> png = ReadPng(packed);
    ASSERT_TRUE(png.has_value()) << shape.width;
    EXPECT_EQ(std::tuple(png->width, png->height, png->bit_depth, png->color_type),
              std::tuple(uint32_t(shape.width), uint32_t(shape.height), int{shape.depth}, PNG_COLOR_TYPE_GRAY));
    EXPECT_EQ(png->pixels, page.pixels) << shape.width << "x" << shape.height;
    if (shape.depth == 1) image_of_depth_1 = page;
  }

  // A file there is replaced whole; nothing is left beside it.
  const std::string path = dir_ / "page.png";
  WriteFile(path, "old");
  PageImage white{64, 64, 4, std::vector<uint8_t>(64 * 64, 15)};
  std::string error;
  ASSERT_TRUE(SavePageImagePng(white, path, &error)) << error;
  ASSERT_TRUE(ReadPng(path).has_value());
  EXPECT_EQ(ReadPng(path)->pixels, white.pixels);

  // A link is followed and stays a link.
  std::filesystem::create_symlink("page.png", dir_ / "link.png");
  ASSERT_TRUE(SavePageImagePng(image_of_depth_1, dir_ / "link.png", &error)) << error;
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "link.png"));
  EXPECT_EQ(ReadPng(path)->bit_depth, 1);

  // Nothing is written for an image that is not one, or into a folder that
  // does not exist.
  const std::vector<std::string> before = vellix::fixtures::Names(dir_.path());
  EXPECT_FALSE(SavePageImagePng(PageImage{64, 64, 3, std::vector<uint8_t>(64 * 64)}, dir_ / "bad.png", &error));
  EXPECT_FALSE(SavePageImagePng(PageImage{64, 64, 4, std::vector<uint8_t>(10)}, dir_ / "bad.png", &error));
  EXPECT_FALSE(SavePageImagePng(white, dir_ / "none/page.png", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(vellix::fixtures::Names(dir_.path()), before);
}

// --- the rasteriser over any display list ---

TEST(PageRasterizerTest, DrawsOnlyInsideTheImageWhateverThePageSays) {
  std::string font_error;
  std::unique_ptr<typeset::FontSet> fonts = typeset::FontSet::Open(&font_error);
  ASSERT_NE(fonts, nullptr) << font_error;
  DeviceEdition edition;
  GreyImage black{4, 4, std::vector<uint8_t>(16, 0)};
  GreyImage grey{3, 3, std::vector<uint8_t>(9, 128)};
  edition.images = {black, grey};
  typeset::Page page;
  page.rects = {{-100, -100, 1000000, 102, 0}, {95, -5, 1 << 30, 1 << 30, 0}, {INT32_MIN, INT32_MIN, 5, 5, 0}};
  page.images = {{0, -50, 2, 90, 10}, {1, 10, 10, 40, 40}, {7, 0, 0, 50, 50}, {0, 60, 60, INT32_MAX, INT32_MAX}};
  typeset::GlyphRun run{0, 40, {}};
  for (int32_t x : {-64 * 30, 0, 64 * 90, INT32_MAX, INT32_MIN})
    for (int32_t y : {-64 * 30, 64 * 10, 64 * 120, INT32_MAX, INT32_MIN}) run.glyphs.push_back({36, x, y});
  run.glyphs.push_back({0xFFFFFF, 64 * 20, 64 * 50});  // no such glyph
  page.runs = {run, {0, 0, {{36, 640, 640}}}, {200, 1 << 20, {{36, 640, 640}}}};

  typeset::PageRasterizer rasterizer(*fonts);
  for (int16_t depth : {1, 8}) {
    PageImage image;
    typeset::InfoTray tray{std::string(500, 'W'), 3, 9};
    rasterizer.Draw(page, edition, 100, 100, depth, &tray, &image);
    ASSERT_EQ(image.pixels.size(), 10000u);
    // The first rectangle blackens the top two rows, the second the right
    // edge; the black image lands left of the page's middle.
    for (int32_t x = 0; x < 100; ++x) EXPECT_EQ(image.pixels[x], 0) << x;
    EXPECT_EQ(image.pixels[50 * 100 + 99], 0);
    EXPECT_EQ(image.pixels[5 * 100 + 10], 0);
    // The grey image: half ink at one bit, mid-grey at eight.
    size_t ink = 0;
    for (int32_t y = 12; y < 48; ++y)
      for (int32_t x = 12; x < 48; ++x) ink += image.pixels[y * 100 + x] == 0;
    if (depth == 1)
      EXPECT_NEAR(static_cast<double>(ink) / (36 * 36), 0.5, 0.1);
    else
      EXPECT_EQ(image.pixels[30 * 100 + 30], 128);
  }
}

// --- device settings ---

// Reading the file itself is the tool's test.
TEST(DeviceSettingsTest, ValuesComeFromThePreferencesSectionOnly) {
  auto parsed = [](const std::string& text) {
    const DeviceSettings s = ParseDeviceSettings(text);
    return std::tuple<int, int, int>{s.width, s.height, s.depth};
  };
  EXPECT_EQ(parsed(""), std::tuple(480, 640, 4));
  EXPECT_EQ(parsed("[General]\nDevice Width=1\n\n[Preferences]\r\nDevice%20Width = 600\r\n; Device Height=2\n"
                   "Device Height=\"800\"\nDevice Depth=8\n[Other]\nDevice Depth=2\n"),
            std::tuple(600, 800, 8));
  EXPECT_EQ(
      parsed("[Preferences]\nDevice Width=wide\nDevice Height=99999999999\nDevice Depth=70000\nDevice Width=12px\n"),
      std::tuple(480, 640, 4));
  // Out-of-range sizes are passed on for the viewer to refuse.
  EXPECT_EQ(ParseDeviceSettings("[Preferences]\nDevice Width=-5\n").width, -5);
}

}  // namespace
}  // namespace ikutil
