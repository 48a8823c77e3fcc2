// The typesetter, checked by properties of its pages rather than by the
// pixels of a font version: every word in order, no line too wide, widows,
// orphans and headings kept as the settings ask, images fitted, links
// underlined, hyphenation on narrow pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "compiled_patterns.h"
#include "fonts.h"
#include "hyphenation.h"
#include "ikutil/device_edition.h"
#include "line_breaker.h"
#include "page_layout.h"
#include "test_util.h"
#include "vellix/formats/file_io.h"

namespace ikutil::typeset {
namespace {

// Text styles of the editions below.
constexpr uint16_t kBody = 0, kHeadingText = 1, kLinkText = 2, kUnderlined = 3, kMonoText = 4;
// Block styles.
constexpr uint16_t kJustified = 0, kHeadingBlock = 1, kPlain = 2;

DeviceEdition EmptyEdition() {
  DeviceEdition e;
  e.language = "en-US";
  // In the order of the constants above; a link is underlined by the setting alone.
  e.text_styles = {{},
                   {FontFamily::kSerif, 2, true, false, false, VerticalAlign::kBaseline},
                   {},
                   {FontFamily::kSerif, 0, false, false, true, VerticalAlign::kBaseline},
                   {FontFamily::kMono, 0, false, false, false, VerticalAlign::kBaseline}};
  e.block_styles = {{TextAlign::kJustify, 0, 4, 4, 0, 0, 120, false},
                    {TextAlign::kLeft, 0, 10, 5, 0, 0, 120, true},
                    {TextAlign::kLeft, 0, 0, 0, 0, 0, 120, false}};
  return e;
}

using vellix::fixtures::SplitWords;

// Words of varied length, some long enough to hyphenate.
const std::vector<std::string>& Vocabulary() {
  static const std::vector<std::string> words = SplitWords(
      "the reader typesetting of paragraphs extraordinary and a line international breaking hyphenation is page "
      "quietly considerable with understanding margins to book remarkable letters in responsibility words justified "
      "on screen uncharacteristically it beautifully demonstration for text");
  return words;
}

std::string Words(uint32_t seed, int count) {
  std::string text;
  const auto& vocabulary = Vocabulary();
  for (int i = 0; i < count; ++i) {
    seed = seed * 1103515245u + 12345u;
    if (i > 0) text += ' ';
    text += vocabulary[(seed >> 16) % vocabulary.size()];
  }
  return text + ".";
}

Block Paragraph(const std::string& text, uint16_t style = kJustified) {
  return {BlockKind::kParagraph, 0, style, "", kNoImage, "", {{text, kBody, kNoLink}}};
}

// Adds a justified block style of these indents and margins (in tenths of
// an em) to `e`; returns its index.
uint16_t AddStyle(DeviceEdition& e, int16_t text_indent, int16_t margin_left, int16_t margin_right = 0) {
  e.block_styles.push_back({TextAlign::kJustify, text_indent, 0, 0, margin_left, margin_right, 120, false});
  return static_cast<uint16_t>(e.block_styles.size() - 1);
}

Block PageBreak() { return {BlockKind::kPageBreak, 0, 0, "", kNoImage, "", {}}; }

Block Heading(const std::string& text) {
  return {BlockKind::kHeading, 1, kHeadingBlock, "", kNoImage, "", {{text, kHeadingText, kNoLink}}};
}

// A book of chapters: a heading, then paragraphs of 1 to 60 words.
DeviceEdition Book(int chapters, uint32_t seed = 1) {
  DeviceEdition e = EmptyEdition();
  for (int c = 0; c < chapters; ++c) {
    e.blocks.push_back(Heading("Chapter " + std::to_string(c + 1)));
    for (int p = 0; p < 8; ++p) {
      seed = seed * 69069u + 1u;
      e.blocks.push_back(Paragraph(Words(seed, 1 + static_cast<int>((seed >> 8) % 60))));
    }
  }
  return e;
}

class TypesetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    fonts_ = FontSet::Open(&error);
    ASSERT_NE(fonts_, nullptr) << error;
  }

  // The type scaled with the screen, so that narrow screens stay narrow
  // for words, not absurd.
  static LayoutSettings Screen(int32_t width, int32_t height, bool large = false) {
    return {width, height, large, std::max<int32_t>(kMinFontSize, static_cast<int32_t>(std::lround(width / 24.0)))};
  }
  std::unique_ptr<Typesetter> Make(const DeviceEdition& e, int32_t width, int32_t height, bool large = false) {
    return std::make_unique<Typesetter>(e, *fonts_, Screen(width, height, large));
  }

  // Every page's lines, in order.
  static std::vector<std::vector<PageLine>> AllLines(Typesetter& t) {
    std::vector<std::vector<PageLine>> pages;
    const int32_t count = t.PageCount();
    for (int32_t n = 1; n <= count; ++n) {
      const Page* page = t.GetPage(n);
      EXPECT_NE(page, nullptr) << n;
      if (page == nullptr) break;
      pages.push_back(page->lines);
    }
    EXPECT_EQ(t.GetPage(count + 1), nullptr);
    return pages;
  }

  // The words of the laid-out text, hyphenated words joined back.
  static std::vector<std::string> LaidOutWords(const std::vector<std::vector<PageLine>>& pages) {
    std::vector<std::string> lines;
    for (const auto& page : pages)
      for (const PageLine& line : page) lines.push_back(line.text);
    return vellix::fixtures::JoinedWords(lines);
  }

  std::unique_ptr<FontSet> fonts_;
};

TEST_F(TypesetTest, EveryWordInOrderAndNoLineTooWide) {
  DeviceEdition e = Book(6);
  std::vector<std::string> source;
  for (const Block& b : e.blocks)
    for (const std::string& w : SplitWords(b.runs[0].text)) source.push_back(w);

  struct Size {
    int32_t width, height;
    bool large;
  };
  for (Size screen : {Size{480, 640, false}, Size{480, 640, true}, Size{200, 300, false}, Size{120, 400, true},
                      Size{800, 600, false}}) {
    SCOPED_TRACE(std::to_string(screen.width) + "x" + std::to_string(screen.height));
    auto t = Make(e, screen.width, screen.height, screen.large);
    auto pages = AllLines(*t);
    EXPECT_EQ(LaidOutWords(pages), source);
    for (const auto& lines : pages) {
      for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].left >= 0 && lines[i].right <= screen.width && lines[i].bottom <= screen.height)
            << lines[i].text;
        if (i > 0) {
          EXPECT_GE(lines[i].top, lines[i - 1].bottom) << lines[i].text;
        }
      }
      // Justified: every line of a paragraph but its last reaches the right
      // edge (consecutive lines touch; paragraphs are apart).
      int32_t right_edge = 0;
      for (const PageLine& line : lines) right_edge = std::max(right_edge, line.right);
      for (size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].heading || lines[i + 1].top != lines[i].bottom) continue;
        if (lines[i].text.find(' ') == std::string::npos) continue;  // a word alone cannot fill a narrow line
        // ... unless its gaps would grow by more than two ems each: then it
        // is set ragged.
        const auto gaps = std::count(lines[i].text.begin(), lines[i].text.end(), ' ');
        const int32_t em = BodyPixelSize(Screen(screen.width, screen.height, screen.large));
        if ((right_edge + 2 - lines[i].right) / gaps > 2 * em) continue;
        EXPECT_GE(lines[i].right, right_edge - 2) << lines[i].text;
      }
    }
  }
}

TEST_F(TypesetTest, WidowsOrphansAndHeadings) {
  DeviceEdition e = Book(5, 7);
  int single_lines_allowed = 0;
  for (int lines_kept : {1, 2}) {
    e.settings.widow_lines = e.settings.orphan_lines = static_cast<uint8_t>(lines_kept);
    for (int32_t height = 260; height <= 640; height += 19) {
      SCOPED_TRACE("height " + std::to_string(height) + " lines " + std::to_string(lines_kept));
      auto t = Make(e, 360, height);
      const int32_t count = t->PageCount();
      std::vector<Page> pages;
      for (int32_t n = 1; n <= count; ++n) pages.push_back(*t->GetPage(n));
      for (size_t n = 0; n < pages.size(); ++n) {
        const auto& lines = pages[n].lines;
        ASSERT_FALSE(lines.empty());
        if (n + 1 < pages.size()) {
          EXPECT_FALSE(lines.back().heading) << "page " << n + 1 << " ends in a heading";
        }
        // A paragraph's lines touch each other; blocks are apart.
        size_t top_group = 1, bottom_group = 1;
        while (top_group < lines.size() && lines[top_group].top == lines[top_group - 1].bottom) ++top_group;
        while (bottom_group < lines.size() &&
               lines[lines.size() - bottom_group].top == lines[lines.size() - bottom_group - 1].bottom)
          ++bottom_group;
        const bool continued = n > 0 && pages[n].first.offset > 0;
        const bool continues = n + 1 < pages.size() && pages[n + 1].first.offset > 0;
        const bool widow = continued && top_group == 1 && lines.size() > 1;
        const bool orphan = continues && bottom_group == 1 && lines.size() > 1;
        if (lines_kept == 2) {
          EXPECT_FALSE(widow) << "page " << n + 1 << " starts with a widow: " << lines[0].text;
          EXPECT_FALSE(orphan) << "page " << n + 1 << " ends with an orphan: " << lines.back().text;
        } else {
          single_lines_allowed += widow || orphan;
        }
      }
    }
  }
  EXPECT_GT(single_lines_allowed, 0) << "the book never tests the rule";
}

// Headings that keep with what follows, more than a page of them (a contents
// list set as headings or <dt>s): the chain breaks where the page is full,
// whether it starts a page or follows a paragraph, and no page is left near empty.
TEST_F(TypesetTest, KeptChainsLongerThanAPageBreak) {
  for (bool after_paragraph : {false, true}) {
    SCOPED_TRACE(after_paragraph ? "after a paragraph" : "from the top");
    DeviceEdition e = EmptyEdition();
    if (after_paragraph) e.blocks.push_back(Paragraph(Words(3, 12)));
    for (int i = 0; i < 60; ++i) e.blocks.push_back(Heading("Entry " + std::to_string(i + 1)));
    e.blocks.push_back(Paragraph(Words(5, 40)));
    auto t = Make(e, 360, 480);
    const auto pages = AllLines(*t);
    ASSERT_GT(pages.size(), 2u);
    int32_t deepest = 0;
    for (const auto& lines : pages) deepest = std::max(deepest, lines.back().bottom);
    for (size_t n = 0; n + 1 < pages.size(); ++n)
      EXPECT_GT(pages[n].back().bottom, deepest / 2) << "page " << n + 1 << " of " << pages.size() << " near empty";
    EXPECT_EQ(LaidOutWords(pages).size(), SplitWords(Words(5, 40)).size() + 120 + (after_paragraph ? 12 : 0));
  }
}

TEST_F(TypesetTest, PagesFollowTheFlow) {
  DeviceEdition e = Book(8);
  e.blocks.insert(e.blocks.begin() + 5, PageBreak());
  auto normal = Make(e, 480, 640);
  auto large = Make(e, 480, 640, true);
  const int32_t normal_count = normal->PageCount();
  EXPECT_GT(large->PageCount(), normal_count);
  for (Typesetter* t : {normal.get(), large.get()}) {
    bool broke = false;
    for (int32_t n = 1; n <= t->PageCount(); ++n) {
      const FlowPosition first = t->GetPage(n)->first;
      EXPECT_EQ(t->PageOf(first), n);
      broke |= first.block == 6 && first.offset == 0;
    }
    EXPECT_TRUE(broke) << "the page break starts no page";
    EXPECT_EQ(t->PageOf({static_cast<uint32_t>(e.blocks.size()) + 3, 0}), t->PageCount());
  }
  // Asked lazily or after the whole count, a page is the same.
  auto lazy = Make(e, 480, 640);
  const std::vector<PageLine> third = lazy->GetPage(3)->lines;
  ASSERT_EQ(normal->GetPage(3)->lines.size(), third.size());
  for (size_t i = 0; i < third.size(); ++i) EXPECT_EQ(normal->GetPage(3)->lines[i].text, third[i].text);
  // A position found on the zoomed layout lies on the page that shows it.
  const FlowPosition zoomed_first = large->GetPage(7)->first;
  const Page* page = normal->GetPage(normal->PageOf(zoomed_first));
  EXPECT_FALSE(zoomed_first.block < page->first.block ||
               (zoomed_first.block == page->first.block && zoomed_first.offset < page->first.offset));
}

TEST_F(TypesetTest, EmptyBooksHaveOnePage) {
  DeviceEdition e = EmptyEdition();
  for (int breaks = 0; breaks < 3; ++breaks) {
    auto t = Make(e, 480, 640);
    EXPECT_EQ(t->PageCount(), 1);
    ASSERT_NE(t->GetPage(1), nullptr);
    EXPECT_TRUE(t->GetPage(1)->lines.empty());
    EXPECT_TRUE(t->GetPage(2) == nullptr && t->GetPage(0) == nullptr);
    EXPECT_EQ(t->PageOf({0, 0}), 1);
    e.blocks.push_back(PageBreak());
  }
  // A page break at the end makes no page of its own.
  e.blocks.insert(e.blocks.begin() + 1, Paragraph("Alone."));
  EXPECT_EQ(Make(e, 480, 640)->PageCount(), 1);
}

TEST_F(TypesetTest, ImagesFitThePage) {
  DeviceEdition e = EmptyEdition();
  auto image = [&](uint16_t w, uint16_t h) {
    e.images.push_back({w, h, std::vector<uint8_t>(size_t{w} * h, 128)});
    const std::string alt = "picture " + std::to_string(w) + "x" + std::to_string(h);
    e.blocks.push_back({BlockKind::kImage, 0, 0, "", static_cast<uint32_t>(e.images.size() - 1), alt, {}});
  };
  e.blocks.push_back(Paragraph(Words(3, 30)));
  image(100, 2000);  // taller than the page
  image(2000, 100);  // wider than it
  image(40, 30);     // small: kept as it is
  auto t = Make(e, 480, 640);
  std::vector<PlacedImage> placed;
  for (int32_t n = 1; n <= t->PageCount(); ++n) {
    const Page* page = t->GetPage(n);
    for (const PlacedImage& p : page->images) {
      placed.push_back(p);
      EXPECT_TRUE(p.x >= 0 && p.y >= 0 && p.x + p.width <= 480 && p.y + p.height <= 640)
          << p.x << "," << p.y << " " << p.width << "x" << p.height;
      const GreyImage& source = e.images[p.image];
      EXPECT_NEAR(static_cast<double>(p.width) / p.height, static_cast<double>(source.width) / source.height,
                  0.05 * source.width / source.height + 1.0 / p.height);
      bool has_line = false;
      for (const PageLine& line : page->lines)
        has_line |= line.image && line.text == "[" + e.blocks[p.image + 1].alt + "]";
      EXPECT_TRUE(has_line);
    }
  }
  ASSERT_EQ(placed.size(), 3u);
  EXPECT_LT(placed[0].height, 2000);
  EXPECT_LT(placed[1].width, 2000);
  EXPECT_EQ(std::pair(placed[2].width, placed[2].height), std::pair(40, 30));
}

TEST_F(TypesetTest, LinksUnderlinedAsTheSettingsSay) {
  DeviceEdition e = EmptyEdition();
  e.links.push_back(Link{false, {0, 0}, ""});
  Block b = Paragraph("Follow ");
  b.runs.push_back({"this link", kLinkText, 0});
  b.runs.push_back({" to the start.", kBody, kNoLink});
  e.blocks.push_back(b);
  auto rects = [&](const DeviceEdition& edition) { return Make(edition, 480, 640)->GetPage(1)->rects; };
  e.settings.underline_links = true;
  std::vector<FilledRect> on = rects(e);
  ASSERT_EQ(on.size(), 1u);  // one rectangle across both words and the space
  const PageLine line = Make(e, 480, 640)->GetPage(1)->lines[0];
  EXPECT_GT(on[0].width, (line.right - line.left) / 4);
  EXPECT_LT(on[0].width, (line.right - line.left) * 3 / 4);
  EXPECT_GE(on[0].y, line.top);
  EXPECT_LE(on[0].y + on[0].height, line.bottom);
  e.settings.underline_links = false;
  EXPECT_TRUE(rects(e).empty());
  e.blocks[0].runs[1].style = kUnderlined;  // underlined by its style
  EXPECT_EQ(rects(e).size(), 1u);
}

TEST_F(TypesetTest, StruckTextIsCrossedThroughItsMiddle) {
  DeviceEdition e = EmptyEdition();
  e.text_styles.push_back(e.text_styles[kBody]);
  e.text_styles.back().line_through = true;
  Block b = Paragraph("Keep ");
  b.runs.push_back({"these two words", static_cast<uint16_t>(e.text_styles.size() - 1), kNoLink});
  b.runs.push_back({" and go on.", kBody, kNoLink});
  e.blocks.push_back(b);
  auto typesetter = Make(e, 480, 640);
  const Page* page = typesetter->GetPage(1);
  ASSERT_EQ(page->rects.size(), 1u);  // one line across the words and their spaces
  const FilledRect& strike = page->rects[0];
  const PageLine& line = page->lines[0];
  EXPECT_GT(strike.width, (line.right - line.left) / 4);
  EXPECT_LT(strike.width, (line.right - line.left) * 3 / 4);
  EXPECT_GT(strike.y, line.top + (line.bottom - line.top) / 4);
  EXPECT_LT(strike.y + strike.height, line.top + (line.bottom - line.top) * 3 / 4);
}

TEST_F(TypesetTest, NarrowPagesHyphenate) {
  DeviceEdition e = Book(4, 3);
  for (bool hyphenate : {true, false}) {
    e.language = hyphenate ? "en-US" : "";
    auto t = Make(e, 200, 320);
    int hyphenated = 0;
    for (const auto& lines : AllLines(*t)) {
      int run = 0;
      for (const PageLine& line : lines) {
        const bool ends_in_hyphen = line.text.size() > 1 && line.text.back() == '-';
        hyphenated += ends_in_hyphen;
        run = ends_in_hyphen ? run + 1 : 0;
        EXPECT_LE(run, 2) << line.text;
      }
    }
    EXPECT_EQ(hyphenated > 0, hyphenate) << hyphenated;
  }
}

// A block in a language of its own is hyphenated with that language's
// patterns, the others with the book's: the same compounds break where each
// language's patterns say, the words remembered apart.
TEST_F(TypesetTest, BlocksAreHyphenatedInTheirOwnLanguage) {
  vellix::fixtures::TempDir dir;
  dir.Write("hyph_en.dic", "UTF-8\nLEFTHYPHENMIN 2\nRIGHTHYPHENMIN 3\nf1f\nr1u\n");
  dir.Write("hyph_de.dic", "UTF-8\nLEFTHYPHENMIN 2\nRIGHTHYPHENMIN 3\ns1g\ns1v\nt1s\n");
  const char* saved = std::getenv("VELLIX_HYPHEN_DIR");
  const std::string restore = saved != nullptr ? saved : "";
  setenv("VELLIX_HYPHEN_DIR", dir.path().c_str(), 1);

  const std::string compounds =
      "Die Donaudampfschifffahrtsgesellschaft und die Rechtsschutzversicherungsgesellschaften nach dem "
      "Arbeiterunfallversicherungsgesetz.";
  DeviceEdition e = EmptyEdition();
  e.language = "en";
  for (const char* language : {"", "de", "", "de-DE"}) {
    for (int i = 0; i < 3; ++i) e.blocks.push_back(Paragraph(compounds));
    for (size_t b = e.blocks.size() - 3; b < e.blocks.size(); ++b) e.blocks[b].language = language;
  }
  // Where each hyphenated line breaks its word: the letters either side.
  std::map<bool, std::set<std::string>> breaks;  // by whether the block is German
  for (const auto& lines : AllLines(*Make(e, 200, 480))) {
    for (size_t l = 0; l + 1 < lines.size(); ++l) {
      const std::string& text = lines[l].text;
      if (text.size() < 2 || text.back() != '-' || lines[l + 1].block != lines[l].block) continue;
      const std::string& next = lines[l + 1].text;
      breaks[!e.blocks[lines[l].block].language.empty()].insert(std::string(1, text[text.size() - 2]) + "|" +
                                                                next.substr(0, 1));
    }
  }
  const std::map<bool, std::set<std::string>> allowed = {{false, {"f|f", "r|u"}}, {true, {"s|g", "s|v", "t|s"}}};
  for (const auto& [german, points] : allowed) {
    EXPECT_FALSE(breaks[german].empty()) << german;
    for (const std::string& at : breaks[german]) EXPECT_TRUE(points.count(at)) << at << (german ? " in German" : "");
  }
  if (saved != nullptr)
    setenv("VELLIX_HYPHEN_DIR", restore.c_str(), 1);
  else
    unsetenv("VELLIX_HYPHEN_DIR");
}

// Compounds wider than a narrow page break at their hyphenation points,
// loose as the line may be, and only where a part alone is too wide
// between letters; every line that ends inside a word ends in a hyphen.
TEST_F(TypesetTest, CompoundsWiderThanTheLineBreakAtTheirPointsAndMarked) {
  vellix::fixtures::TempDir dir;
  dir.Write("hyph_de.dic", "UTF-8\nLEFTHYPHENMIN 2\nRIGHTHYPHENMIN 3\ns1g\n");
  const char* saved = std::getenv("VELLIX_HYPHEN_DIR");
  const std::string restore = saved != nullptr ? saved : "";
  setenv("VELLIX_HYPHEN_DIR", dir.path().c_str(), 1);

  const std::string text =
      "Im Donaudampfschifffahrtsgesellschaftsgebäudes Keller lag die "
      "Haftpflichtversicherungsbescheinigungsformular neben der Arbeitsgemeinschaftsgesellschaftsgebäudes Akte.";
  DeviceEdition e = EmptyEdition();
  e.language = "de";
  e.blocks.push_back(Paragraph(text));
  const auto pages = AllLines(*Make(e, 120, 640));
  ASSERT_EQ(pages.size(), 1u);
  // The lines joined back: a hyphen at a line's end joins it to the next,
  // anything else is a space. That gives the text again only when every
  // break inside a word has its hyphen.
  std::string joined;
  std::vector<size_t> breaks;  // where words were broken, in the text
  for (const PageLine& line : pages[0]) {
    if (!joined.empty() && (breaks.empty() || breaks.back() != joined.size())) joined += ' ';
    joined += line.text;
    if (joined.ends_with("-")) {
      joined.pop_back();
      breaks.push_back(joined.size());
    }
  }
  EXPECT_EQ(joined, text);
  int pattern_breaks = 0, forced_breaks = 0;
  for (size_t at : breaks) {
    const size_t word = text.rfind(' ', at) + 1;
    if (text.compare(word, 11, "Haftpflicht") == 0) {
      ++forced_breaks;
    } else {
      EXPECT_EQ(text.substr(at - 1, 2), "sg") << text.substr(word, at - word);
      ++pattern_breaks;
    }
  }
  EXPECT_GE(pattern_breaks, 2);
  EXPECT_GE(forced_breaks, 1);
  if (saved != nullptr)
    setenv("VELLIX_HYPHEN_DIR", restore.c_str(), 1);
  else
    unsetenv("VELLIX_HYPHEN_DIR");
}

TEST_F(TypesetTest, PreformattedKeepsSpacesAndBreaksLongLines) {
  DeviceEdition e = EmptyEdition();
  const std::string long_line(200, 'x');
  const std::string code = "int  main()\n\tcall();\n" + long_line + "\nend";
  e.blocks.push_back({BlockKind::kPreformatted, 0, kPlain, "", kNoImage, "", {{code, kMonoText, kNoLink}}});
  auto t = Make(e, 240, 640);
  const auto lines = t->GetPage(1)->lines;
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[0].text, "int  main()");
  EXPECT_EQ(lines[1].text, " call();");
  EXPECT_EQ(lines.back().text, "end");
  // A wrapped line ends in a continuation mark, on the page and in its text.
  std::string joined;
  for (size_t i = 2; i + 1 < lines.size(); ++i) {
    std::string text = lines[i].text;
    if (i + 2 < lines.size()) {
      EXPECT_TRUE(text.ends_with("\u21A9")) << text;
      if (text.ends_with("\u21A9")) text.resize(text.size() - 3);
    }
    joined += text;
    EXPECT_LE(lines[i].right, 240);
  }
  EXPECT_EQ(joined, long_line);
  // About 50 characters to a line of a 480-pixel screen.
  const auto wide = Make(e, 480, 640)->GetPage(1)->lines;
  ASSERT_GE(wide.size(), 3u);
  EXPECT_GE(wide[2].text.size(), 48u + 3u);
  EXPECT_LE(wide[2].text.size(), 54u + 3u);
}

TEST_F(TypesetTest, LineBreaksSoftHyphensAndIndents) {
  DeviceEdition e = EmptyEdition();
  e.language = "";  // no patterns: only the soft hyphens break words
  e.blocks.push_back(Paragraph("A verse that ends here,\nand the next\n\nafter an empty line."));
  e.blocks.push_back(Paragraph(Words(9, 40), AddStyle(e, -30, 30)));  // hanging
  std::string soft;
  for (int i = 0; i < 30; ++i) soft += "extra\xC2\xADordinary ";
  e.blocks.push_back(Paragraph(soft));
  auto t = Make(e, 300, 2000);
  const std::vector<PageLine> lines = t->GetPage(1)->lines;
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[0].text, "A verse that ends here,");
  EXPECT_EQ(lines[1].text, "and the next");
  EXPECT_EQ(lines[2].text, "");
  EXPECT_EQ(lines[3].text, "after an empty line.");
  // The hanging paragraph: its first line starts three ems left of the others.
  size_t hang = 4;
  EXPECT_LT(lines[hang].left + 30, lines[hang + 1].left);
  EXPECT_EQ(lines[hang + 1].left, lines[hang + 2].left);
  int broken = 0;
  for (const PageLine& line : lines) {
    EXPECT_EQ(line.text.find("\xC2\xAD"), std::string::npos);
    if (line.text.ends_with("-")) {
      EXPECT_TRUE(line.text.ends_with("extra-")) << line.text;
      ++broken;
    }
  }
  EXPECT_GT(broken, 0);
}

TEST_F(TypesetTest, WordsLongerThanALineAreSplit) {
  DeviceEdition e = EmptyEdition();
  e.language = "";
  const std::string word(120, 'm');
  e.blocks.push_back(Paragraph("a " + word + " b"));
  // A word that fits a line, but not the first one after a wide indent.
  e.blocks.push_back(Paragraph(std::string(18, 'm') + " b", AddStyle(e, 100, 0)));
  auto t = Make(e, 160, 640);
  std::string joined;
  for (const PageLine& line : t->GetPage(1)->lines) {
    EXPECT_LE(line.right, 160);
    joined += line.text.ends_with("-") ? line.text.substr(0, line.text.size() - 1) : line.text;
  }
  EXPECT_NE(joined.find(word), std::string::npos);
  // A paragraph's first word of two letters, each wider than the line.
  DeviceEdition tiny = EmptyEdition();
  tiny.blocks.push_back(Paragraph("WW"));
  auto narrow = Make(tiny, 16, 640);
  std::string letters;
  for (const PageLine& line : narrow->GetPage(1)->lines)
    letters += line.text.ends_with("-") ? line.text.substr(0, line.text.size() - 1) : line.text;
  EXPECT_EQ(letters, "WW");
}

// Code (monospaced) and paths: one shorter than the line is never parted;
// a longer one parts before a slash and its broken lines end in the mark.
TEST_F(TypesetTest, CodeAndPathsMoveWholeOrBreakMarked) {
  struct Span {
    std::string text;
    uint16_t style;
  };
  const std::vector<Span> spans = {{"(?f)", kMonoText},        {"re.sub(a,b)", kMonoText}, {"x->y;", kMonoText},
                                   {"/usr/bin/vellix", kBody}, {"a/b/c.txt", kBody},       {"--log-file", kMonoText}};
  DeviceEdition e = EmptyEdition();
  e.language = "";
  Block block = Paragraph("");
  block.runs.clear();
  for (uint32_t i = 0; i < 36; ++i) {
    block.runs.push_back({Words(i, 2 + static_cast<int>(i % 5)) + " (or ", kBody, kNoLink});
    block.runs.push_back({spans[i % spans.size()].text, spans[i % spans.size()].style, kNoLink});
    block.runs.push_back({") then ", kBody, kNoLink});
  }
  e.blocks.push_back(block);
  const std::string path = "/srv/books/shelf/archive/collected/long-name-of-a-book.imp";
  e.blocks.push_back(Paragraph("The file " + path + " is long."));
  for (int32_t width : {200, 240, 300, 360}) {
    SCOPED_TRACE(width);
    auto t = Make(e, width, 20000);
    const std::vector<PageLine> lines = t->GetPage(1)->lines;
    size_t whole = 0;
    std::string wrapped;
    for (const PageLine& line : lines) {
      EXPECT_LE(line.right, width);
      for (const Span& span : spans)
        for (size_t at = line.text.find(span.text); at != std::string::npos; at = line.text.find(span.text, at + 1))
          ++whole;
      if (line.text.ends_with("\u21A9")) {
        std::string piece = line.text.substr(0, line.text.size() - 3);
        wrapped += piece.substr(piece.rfind(' ') + 1);
      } else if (!wrapped.empty() && wrapped.find(".imp") == std::string::npos) {
        EXPECT_EQ(line.text[0], '/') << line.text;
        wrapped += line.text.substr(0, line.text.find(' '));
      }
    }
    EXPECT_EQ(whole, 36u);
    EXPECT_EQ(wrapped, path);
  }

  // A dotted name wider than the line parts after its dots and
  // underscores, marked, never between two letters.
  const std::string name = "sphinx.ext.autodoc.typehints.format_annotation";
  DeviceEdition named = EmptyEdition();
  Block code = Paragraph("");
  code.runs = {{"see ", kBody, kNoLink}, {name, kMonoText, kNoLink}};
  named.blocks.push_back(code);
  std::string joined;
  int marks = 0;
  auto set = Make(named, 200, 2000);
  const std::vector<PageLine> named_lines = set->GetPage(1)->lines;
  for (const PageLine& line : named_lines) {
    if (!line.text.ends_with("\u21A9")) {
      joined += line.text;
      continue;
    }
    ++marks;
    const std::string piece = line.text.substr(0, line.text.size() - 3);
    EXPECT_TRUE(piece.ends_with(".") || piece.ends_with("_")) << line.text;
    joined += piece;
  }
  EXPECT_GE(marks, 1);
  EXPECT_EQ(joined, "see " + name);
}

// A desktop page's margins (a documentation page keeps 230 px for its
// sidebar) never leave less than 60% of the text width for the text.
TEST_F(TypesetTest, MarginsLeaveAReadableColumn) {
  DeviceEdition e = EmptyEdition();
  // The sidebar: 230 px of a 16 px em, in tenths.
  e.blocks.push_back(Paragraph(Words(3, 60), AddStyle(e, 0, 144, 20)));
  e.blocks.push_back(Paragraph(Words(3, 60)));
  auto t = Make(e, 480, 640);
  int32_t narrow = 0, full = 0;
  for (const auto& page : AllLines(*t))
    for (const PageLine& line : page) {
      EXPECT_LE(line.right, 480) << line.text;
      // The sidebar's paragraph is the one whose lines start far in.
      (line.left > 100 ? narrow : full) = std::max(line.left > 100 ? narrow : full, line.right - line.left);
    }
  ASSERT_GT(full, 0);
  ASSERT_GT(narrow, 0);
  EXPECT_GE(narrow, full * 58 / 100) << "a column of " << narrow << " of " << full << " pixels";
}

// One letter under a million combining marks: the marks past the first
// few hundred are left out, so it lays out at once and shows the letter.
// Korean is set in one face with every syllable: a CJK face may have a few
// of them only, and a sentence would mix faces or show empty boxes.
TEST_F(TypesetTest, HangulHasAGlyphForEverySyllable) {
  DeviceEdition e = EmptyEdition();
  e.language = "ko";
  e.blocks.push_back(
      Paragraph("\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4 \xEB\xAC\xB8\xEC\x9E\xA5\xEC\x9E\x85\xEB\x8B\x88"
                "\xEB\x8B\xA4 \xEA\xB0\x80\xEB\x82\x98\xEB\x8B\xA4"));  // 한국어 문장입니다 가나다
  auto t = Make(e, 480, 640);
  const Page* page = t->GetPage(1);
  ASSERT_NE(page, nullptr);
  size_t glyphs = 0;
  std::vector<FaceIndex> faces;
  for (const GlyphRun& run : page->runs) {
    for (const PlacedGlyph& g : run.glyphs) EXPECT_NE(g.glyph, 0u) << "an empty box in face " << int(run.face);
    glyphs += run.glyphs.size();
    if (std::find(faces.begin(), faces.end(), run.face) == faces.end()) faces.push_back(run.face);
  }
  EXPECT_EQ(glyphs, 11u);
  EXPECT_EQ(faces.size(), 1u);
}

TEST_F(TypesetTest, ClustersKeepTheirFirstMarks) {
  DeviceEdition e = EmptyEdition();
  std::string marks;
  for (int i = 0; i < 1000000; ++i) marks += "\xCC\x81";
  e.blocks.push_back(Paragraph("before a" + marks + " after"));
  auto t = Make(e, 480, 640);
  ASSERT_EQ(t->PageCount(), 1);
  std::string text;
  for (const PageLine& line : t->GetPage(1)->lines) text += line.text + " ";
  EXPECT_EQ(text.find("before a"), 0u) << text.substr(0, 40);
  EXPECT_NE(text.find(" after"), std::string::npos);
  EXPECT_LE(text.size(), 256 * 2 + 40);
}

// Editions of every kind of block, odd styles and odd text, on odd screens:
// laid out whole without a fault, every line inside the page.
TEST_F(TypesetTest, SurvivesOddEditions) {
  static const char* const kPieces[] = {// words, spaces and breaks, hyphens and dashes
                                        "word", " ", "  ", "\n", "\t", "-", "\xC2\xAD", "\xE2\x80\x94",
                                        // other scripts, empty runs, emoji, combining marks, punctuation
                                        "\xE6\xBC\xA2\xE5\xAD\x97", "\r", "a/b", "", "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D",
                                        "supercalifragilisticexpialidocious", "\xF0\x9F\x98\x80", "x\xCC\x81", ".", "(",
                                        "\xEF\xBF\xBD"};
  uint32_t seed = 99;
  auto next = [&](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  for (int round = 0; round < 40; ++round) {
    DeviceEdition e = EmptyEdition();
    e.settings.widow_lines = static_cast<uint8_t>(next(4));
    e.settings.orphan_lines = static_cast<uint8_t>(next(4));
    e.text_styles[kBody].size_step = static_cast<int8_t>(next(7)) - 3;
    e.text_styles[kBody].vertical = static_cast<VerticalAlign>(next(3));
    BlockStyle odd;
    odd.align = static_cast<TextAlign>(next(4));
    odd.text_indent = static_cast<int16_t>(static_cast<int>(next(400)) - 200);
    odd.margin_left = static_cast<int16_t>(next(300));
    odd.margin_right = static_cast<int16_t>(next(300));
    odd.line_height = static_cast<uint16_t>(next(300));
    e.block_styles.push_back(odd);
    e.images.push_back({static_cast<uint16_t>(1 + next(900)), static_cast<uint16_t>(1 + next(900)), {}});
    e.images.back().pixels.assign(size_t{e.images.back().width} * e.images.back().height, 0);
    for (int b = 0; b < 30; ++b) {
      Block block;
      block.kind = static_cast<BlockKind>(next(7));
      block.style = static_cast<uint16_t>(next(5));  // one past the last style, too
      block.image = next(3) == 0 ? 7 : 0;            // and an image that is not there
      block.marker = next(2) ? "iv." : "";
      block.level = static_cast<uint8_t>(next(5));  // table rows among them
      for (uint32_t r = next(5); r > 0; --r) {
        std::string text;
        for (uint32_t w = next(30); w > 0; --w) text += kPieces[next(std::size(kPieces))];
        block.runs.push_back({text, static_cast<uint16_t>(next(6)), next(4) == 0 ? 0u : kNoLink});
      }
      e.blocks.push_back(block);
    }
    e.links.push_back(Link{});
    const int32_t width = 64 + static_cast<int32_t>(next(600)), height = 64 + static_cast<int32_t>(next(600));
    auto t = Make(e, width, height, next(2) == 1);
    const int32_t count = t->PageCount();
    ASSERT_GE(count, 1);
    for (int32_t n = 1; n <= count; ++n) {
      const Page* page = t->GetPage(n);
      ASSERT_NE(page, nullptr);
      for (const PageLine& line : page->lines) {
        EXPECT_GE(line.left, 0) << line.text;
        EXPECT_LE(line.right, width) << line.text;
      }
      EXPECT_EQ(t->PageOf(page->first), n);
      EXPECT_FALSE(page->lines.empty() && page->rects.empty() && page->images.empty()) << "an empty page";
    }
  }
}

TEST(HyphenatorTest, PointsRespectTheMinimumLengths) {
  auto h = Hyphenator::ForLanguage("en-US");
  ASSERT_NE(h, nullptr) << "hyphen-en-us is not installed";
  EXPECT_NE(Hyphenator::ForLanguage("en"), nullptr);
  for (const char* none : {"xx-YY", "", "../en"}) EXPECT_EQ(Hyphenator::ForLanguage(none), nullptr) << none;
  for (std::string word : {"hyphenation", "Typesetting", "INTERNATIONAL", "responsibility", "encyclopædias"}) {
    std::vector<uint32_t> points;
    h->Points(word, &points);
    EXPECT_FALSE(points.empty()) << word;
    for (uint32_t p : points) {
      EXPECT_GE(p, 2u) << word;
      EXPECT_LE(p + 3, word.size()) << word;
      EXPECT_NE(static_cast<unsigned char>(word[p]) & 0xC0, 0x80) << word << " broken inside a character";
    }
  }
  std::vector<uint32_t> points;
  for (const char* too_short : {"word", "a", ""}) h->Points(too_short, &points);
  EXPECT_TRUE(points.empty());
  // Patterns saved in their languages' own code pages (KOI8-R, ISO8859-7).
  for (const auto& [language, word] : {std::pair{"ru",
                                                 "\xD0\xBF\xD1\x80\xD0\xBE\xD0\xB3\xD1\x80\xD0\xB0\xD0\xBC\xD0\xBC\xD0"
                                                 "\xB8\xD1\x80\xD0\xBE\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xB8\xD0\xB5"},
                                       std::pair{"el",
                                                 "\xCF\x80\xCE\xBB\xCE\xB7\xCF\x81\xCE\xBF\xCF\x86\xCE\xBF\xCF\x81"
                                                 "\xCE\xB9\xCE\xBA\xCE\xAE"}}) {
    auto patterns = Hyphenator::ForLanguage(language);
    ASSERT_NE(patterns, nullptr) << language << ": hyphen-ru / hyphen-el are not installed";
    points.clear();
    patterns->Points(word, &points);
    EXPECT_GE(points.size(), 2u) << language;
    for (uint32_t p : points) EXPECT_NE(static_cast<unsigned char>(word[p]) & 0xC0, 0x80) << language;
  }
}

TEST(HyphenatorTest, PatternsFoundByLanguage) {
  vellix::fixtures::TempDir dir;
  // Breaks between an "a" and a "b".
  dir.Write("hyph_xx_YY.dic", "UTF-8\nLEFTHYPHENMIN 2\nRIGHTHYPHENMIN 3\na1b\n");
  const char* saved = std::getenv("VELLIX_HYPHEN_DIR");
  const std::string restore = saved != nullptr ? saved : "";
  setenv("VELLIX_HYPHEN_DIR", dir.path().c_str(), 1);
  EXPECT_EQ(HyphenationFile("xx-YY"), dir / "hyph_xx_YY.dic");
  EXPECT_EQ(HyphenationFile("XX_yy"), dir / "hyph_xx_YY.dic");
  EXPECT_EQ(HyphenationFile("xx-ZZ"), dir / "hyph_xx_YY.dic");  // another region's patterns beat none
  EXPECT_EQ(HyphenationFile("xy"), "");
  dir.Write("hyph_xx.dic", "UTF-8\na1b\n");
  EXPECT_EQ(HyphenationFile("xx-ZZ"), dir / "hyph_xx.dic");
  EXPECT_EQ(HyphenationFile("en-US"), "");
  auto h = Hyphenator::ForLanguage("xx-YY");
  ASSERT_NE(h, nullptr);
  std::vector<uint32_t> points;
  h->Points("aabbaabb", &points);  // after 2 and 6; 6 leaves too few letters after it
  EXPECT_EQ(points, std::vector<uint32_t>{2});
  points.clear();
  h->Points("éaBbaab", &points);  // upper case, and a letter of two bytes
  EXPECT_EQ(points, std::vector<uint32_t>{3});
  if (saved != nullptr)
    setenv("VELLIX_HYPHEN_DIR", restore.c_str(), 1);
  else
    unsetenv("VELLIX_HYPHEN_DIR");
}

// The breaks libhyphen finds in each word, as one string ("0010...;...").
std::string BreaksOf(HyphenDict* dict, const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& word : words) {
    std::vector<char> hyphens(word.size() + 5, '0');
    char** rep = nullptr;
    int* pos = nullptr;
    int* cut = nullptr;
    hnj_hyphen_hyphenate2(dict, word.c_str(), static_cast<int>(word.size()), hyphens.data(), nullptr, &rep, &pos, &cut);
    out += std::string(hyphens.data(), word.size()) + ";";
    if (rep != nullptr)
      for (size_t k = 0; k < word.size(); ++k) std::free(rep[k]);
    std::free(rep);
    std::free(pos);
    std::free(cut);
  }
  return out;
}

TEST(CompiledPatternsTest, TheCacheGivesTheSameBreaksAndIsUsedOnlyWhileCurrentAndWhole) {
  vellix::fixtures::TempDir dir;
  const std::string patterns = dir.Write("hyph_xx.dic",
                                         "UTF-8\nLEFTHYPHENMIN 1\nRIGHTHYPHENMIN 1\nNOHYPHEN -,'\n"
                                         "a1b\n1ba\n.ab2c\nc1d\n2dd\nx1y\n");
  const std::string cache = dir / "cache";
  const std::vector<std::string> words{"abba", "abcd", "ddcab", "xyxy", "a-bab", "aabbccdd"};
  HyphenDict* plain = hnj_hyphen_load(patterns.c_str());
  ASSERT_NE(plain, nullptr);
  const std::string expected = BreaksOf(plain, words);
  const std::string stamp = PatternSourceStamp(patterns);
  const std::string compiled = CompilePatterns(*plain, stamp);
  hnj_hyphen_free(plain);

  HyphenDict* first = LoadPatternsCached(patterns, cache);  // loads, and writes the compiled file
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(BreaksOf(first, words), expected);
  hnj_hyphen_free(first);
  std::vector<std::string> written;
  for (const auto& entry : std::filesystem::directory_iterator(cache)) written.push_back(entry.path().string());
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(vellix::formats::ReadWholeFile(written[0]), compiled);

  // The next load reads the compiled file: one made from other patterns
  // under the same stamp shows through.
  const std::string other_file = dir.Write("other.dic", "UTF-8\nLEFTHYPHENMIN 1\nRIGHTHYPHENMIN 1\nb1b\n");
  HyphenDict* other = hnj_hyphen_load(other_file.c_str());
  ASSERT_NE(other, nullptr);
  const std::string other_breaks = BreaksOf(other, words);
  ASSERT_NE(other_breaks, expected);
  dir.Write(written[0].substr(dir.path().size() + 1), CompilePatterns(*other, stamp));
  hnj_hyphen_free(other);
  HyphenDict* cached = LoadPatternsCached(patterns, cache);
  EXPECT_EQ(BreaksOf(cached, words), other_breaks);
  hnj_hyphen_free(cached);
  // A pattern file that changed is loaded again and compiled anew.
  dir.Write("hyph_xx.dic", vellix::formats::ReadWholeFile(patterns) + "\n");
  HyphenDict* changed = LoadPatternsCached(patterns, cache);
  EXPECT_EQ(BreaksOf(changed, words), expected);
  hnj_hyphen_free(changed);
  EXPECT_EQ(LoadCompiledPatterns(compiled, PatternSourceStamp(patterns)), nullptr);  // stale

  // Whole and unchanged, or nothing: every cut and every altered byte.
  HyphenDict* again = LoadCompiledPatterns(compiled, stamp);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(BreaksOf(again, words), expected);
  hnj_hyphen_free(again);
  for (size_t cut = 0; cut < compiled.size(); ++cut)
    EXPECT_EQ(LoadCompiledPatterns(compiled.substr(0, cut), stamp), nullptr) << cut;
  for (size_t at = 0; at < compiled.size(); ++at) {
    std::string altered = compiled;
    altered[at] = static_cast<char>(altered[at] ^ 0x41);
    EXPECT_EQ(LoadCompiledPatterns(altered, stamp), nullptr) << at;
  }
}

TEST(LineBreakerTest, PassesAndLimits) {
  // Words of 6 to 14 units with a hyphen point in the middle, spaces of 3
  // that stretch 2 and shrink 1.
  auto item = [](ItemType type, int32_t width, int32_t stretch = 0, int32_t shrink = 0, int32_t penalty = 0) {
    Item i;
    i.type = type;
    i.width = width;
    i.stretch = stretch;
    i.shrink = shrink;
    i.penalty = penalty;
    i.flagged = i.hyphen = type == ItemType::kPenalty && penalty > 0 && penalty < kInfinitePenalty;
    return i;
  };
  std::vector<Item> items;
  uint32_t seed = 3;
  for (int i = 0; i < 200; ++i) {
    seed = seed * 69069u + 1u;
    const int32_t half = 3 + static_cast<int32_t>((seed >> 16) % 5);
    if (i > 0) items.push_back(item(ItemType::kGlue, 3, 2, 1));
    items.push_back(item(ItemType::kBox, half));
    items.push_back(item(ItemType::kPenalty, 1, 0, 0, 50));
    items.push_back(item(ItemType::kBox, half));
  }
  items.push_back(item(ItemType::kPenalty, 0, 0, 0, kInfinitePenalty));
  items.push_back(item(ItemType::kGlue, 0, kFillStretch));
  items.push_back(item(ItemType::kPenalty, 0, 0, 0, -kInfinitePenalty));
  auto longest_run = [&](const std::vector<uint32_t>& breaks) {
    int run = 0, longest = 0;
    for (uint32_t b : breaks) longest = std::max(longest, run = items[b].flagged ? run + 1 : 0);
    return longest;
  };
  BreakParams params;
  params.first_width = params.width = 37;
  std::vector<uint32_t> breaks;
  params.max_flagged_run = 100;
  params.adjacent_flagged_demerits = 0;  // hyphens in a row cost nothing more
  ASSERT_TRUE(BreakTotalFit(items, params, &breaks));
  EXPECT_EQ(breaks.back() + 1, items.size());
  EXPECT_GT(longest_run(breaks), 2) << "hyphens are never wanted in a row here";
  params.max_flagged_run = 2;
  ASSERT_TRUE(BreakTotalFit(items, params, &breaks));
  EXPECT_LE(longest_run(breaks), 2);
  // Lines of 9 units: nothing fits within the tolerance but in an emergency.
  params.first_width = params.width = 9;
  EXPECT_FALSE(BreakTotalFit(items, params, &breaks));
  params.emergency = true;
  ASSERT_TRUE(BreakTotalFit(items, params, &breaks));
  EXPECT_EQ(breaks.back() + 1, items.size());
  BreakFirstFit(items, params, &breaks);
  EXPECT_EQ(breaks.back() + 1, items.size());
}

}  // namespace
}  // namespace ikutil::typeset
