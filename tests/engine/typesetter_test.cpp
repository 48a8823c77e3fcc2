// The typesetter, checked by properties of its pages rather than by the
// pixels of a font version: every word in order, no line too wide, widows,
// orphans and headings kept as the settings ask, images fitted, links
// underlined, hyphenation on narrow pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "fonts.h"
#include "hyphenation.h"
#include "ikutil/device_edition.h"
#include "line_breaker.h"
#include "page_layout.h"

namespace ikutil::typeset {
namespace {

// Text styles of the editions below.
constexpr uint16_t kBody = 0, kHeadingText = 1, kLinkText = 2, kUnderlined = 3, kMonoText = 4;
// Block styles.
constexpr uint16_t kJustified = 0, kHeadingBlock = 1, kPlain = 2;

DeviceEdition EmptyEdition() {
  DeviceEdition e;
  e.language = "en-US";
  e.text_styles.resize(5);
  e.text_styles[kHeadingText].size_step = 2;
  e.text_styles[kHeadingText].bold = true;
  e.text_styles[kLinkText].underline = false;  // underlined by the setting alone
  e.text_styles[kUnderlined].underline = true;
  e.text_styles[kMonoText].family = FontFamily::kMono;
  e.block_styles.resize(3);
  e.block_styles[kJustified].margin_top = 4;
  e.block_styles[kJustified].margin_bottom = 4;
  e.block_styles[kHeadingBlock].align = TextAlign::kLeft;
  e.block_styles[kHeadingBlock].margin_top = 10;
  e.block_styles[kHeadingBlock].margin_bottom = 5;
  e.block_styles[kHeadingBlock].keep_with_next = true;
  e.block_styles[kPlain].align = TextAlign::kLeft;
  return e;
}

// Words of varied length, some long enough to hyphenate.
const std::vector<std::string>& Vocabulary() {
  static const std::vector<std::string> words = {"the",
                                                 "reader",
                                                 "typesetting",
                                                 "of",
                                                 "paragraphs",
                                                 "extraordinary",
                                                 "and",
                                                 "a",
                                                 "line",
                                                 "international",
                                                 "breaking",
                                                 "hyphenation",
                                                 "is",
                                                 "page",
                                                 "quietly",
                                                 "considerable",
                                                 "with",
                                                 "understanding",
                                                 "margins",
                                                 "to",
                                                 "book",
                                                 "remarkable",
                                                 "letters",
                                                 "in",
                                                 "responsibility",
                                                 "words",
                                                 "justified",
                                                 "on",
                                                 "screen",
                                                 "uncharacteristically",
                                                 "it",
                                                 "beautifully",
                                                 "demonstration",
                                                 "for",
                                                 "text"};
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
  Block b;
  b.style = style;
  b.runs.push_back({text, kBody, kNoLink});
  return b;
}

Block PageBreak() {
  Block b;
  b.kind = BlockKind::kPageBreak;
  return b;
}

Block Heading(const std::string& text) {
  Block b;
  b.kind = BlockKind::kHeading;
  b.level = 1;
  b.style = kHeadingBlock;
  b.runs.push_back({text, kHeadingText, kNoLink});
  return b;
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

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

class TypesetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    fonts_ = FontSet::Open(&error);
    ASSERT_NE(fonts_, nullptr) << error;
  }

  std::unique_ptr<Typesetter> Make(const DeviceEdition& e, int32_t width, int32_t height, bool large = false) {
    LayoutSettings s;
    s.width = width;
    s.height = height;
    s.large = large;
    return std::make_unique<Typesetter>(e, *fonts_, s);
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
    std::vector<std::string> words;
    bool join = false;
    for (const auto& lines : pages) {
      for (const PageLine& line : lines) {
        std::vector<std::string> ws = Split(line.text);
        for (size_t i = 0; i < ws.size(); ++i) {
          if (join && i == 0 && !words.empty())
            words.back() += ws[i];
          else
            words.push_back(ws[i]);
        }
        join = !words.empty() && line.text.size() > 1 && line.text.back() == '-';
        if (join) words.back().pop_back();
      }
    }
    return words;
  }

  std::unique_ptr<FontSet> fonts_;
};

TEST_F(TypesetTest, EveryWordInOrderAndNoLineTooWide) {
  DeviceEdition e = Book(6);
  std::vector<std::string> source;
  for (const Block& b : e.blocks)
    for (const std::string& w : Split(b.runs[0].text)) source.push_back(w);

  struct Screen {
    int32_t width, height;
    bool large;
  };
  for (Screen screen : {Screen{480, 640, false}, Screen{480, 640, true}, Screen{200, 300, false},
                        Screen{120, 400, true}, Screen{800, 600, false}}) {
    SCOPED_TRACE(std::to_string(screen.width) + "x" + std::to_string(screen.height));
    auto t = Make(e, screen.width, screen.height, screen.large);
    auto pages = AllLines(*t);
    EXPECT_EQ(LaidOutWords(pages), source);
    for (const auto& lines : pages) {
      for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_GE(lines[i].left, 0) << lines[i].text;
        EXPECT_LE(lines[i].right, screen.width) << lines[i].text;
        EXPECT_LE(lines[i].bottom, screen.height) << lines[i].text;
        if (i > 0) {
          EXPECT_GE(lines[i].top, lines[i - 1].bottom);
        }
      }
      // Justified: every line of a paragraph but its last reaches the right
      // edge (consecutive lines touch; paragraphs are apart).
      int32_t right_edge = 0;
      for (const PageLine& line : lines) right_edge = std::max(right_edge, line.right);
      for (size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].heading || lines[i + 1].top != lines[i].bottom) continue;
        if (lines[i].text.find(' ') == std::string::npos) continue;  // a word alone cannot fill a narrow line
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
    EXPECT_EQ(t->GetPage(2), nullptr);
    EXPECT_EQ(t->GetPage(0), nullptr);
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
    Block b;
    b.kind = BlockKind::kImage;
    b.image = static_cast<uint32_t>(e.images.size() - 1);
    b.alt = "picture " + std::to_string(w) + "x" + std::to_string(h);
    e.blocks.push_back(b);
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
      EXPECT_GE(p.x, 0);
      EXPECT_GE(p.y, 0);
      EXPECT_LE(p.x + p.width, 480);
      EXPECT_LE(p.y + p.height, 640);
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
  EXPECT_EQ(placed[2].width, 40);
  EXPECT_EQ(placed[2].height, 30);
}

TEST_F(TypesetTest, LinksUnderlinedAsTheSettingsSay) {
  DeviceEdition e = EmptyEdition();
  e.links.push_back(Link{false, {0, 0}, ""});
  Block b = Paragraph("Follow ");
  b.runs.push_back({"this link", kLinkText, 0});
  b.runs.push_back({" to the start.", kBody, kNoLink});
  e.blocks.push_back(b);
  auto rects = [&](const DeviceEdition& edition) {
    auto t = Make(edition, 480, 640);
    return t->GetPage(1)->rects;
  };
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
    if (hyphenate)
      EXPECT_GT(hyphenated, 0);
    else
      EXPECT_EQ(hyphenated, 0);
  }
}

TEST_F(TypesetTest, PreformattedKeepsSpacesAndBreaksLongLines) {
  DeviceEdition e = EmptyEdition();
  Block pre;
  pre.kind = BlockKind::kPreformatted;
  pre.style = kPlain;
  const std::string long_line(200, 'x');
  pre.runs.push_back({"int  main()\n\tcall();\n" + long_line + "\nend", kMonoText, kNoLink});
  e.blocks.push_back(pre);
  auto t = Make(e, 240, 640);
  const auto lines = t->GetPage(1)->lines;
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[0].text, "int  main()");
  EXPECT_EQ(lines[1].text, " call();");
  EXPECT_EQ(lines.back().text, "end");
  std::string joined;
  for (size_t i = 2; i + 1 < lines.size(); ++i) {
    joined += lines[i].text;
    EXPECT_LE(lines[i].right, 240);
  }
  EXPECT_EQ(joined, long_line);
}

TEST_F(TypesetTest, WordsLongerThanALineAreSplit) {
  DeviceEdition e = EmptyEdition();
  e.language = "";
  const std::string word(120, 'm');
  e.blocks.push_back(Paragraph("a " + word + " b"));
  auto t = Make(e, 160, 640);
  std::string joined;
  for (const PageLine& line : t->GetPage(1)->lines) {
    EXPECT_LE(line.right, 160);
    joined += line.text;
  }
  EXPECT_NE(joined.find(word), std::string::npos);
}

TEST(HyphenatorTest, PointsRespectTheMinimumLengths) {
  auto h = Hyphenator::ForLanguage("en-US");
  ASSERT_NE(h, nullptr) << "hyphen-en-us is not installed";
  EXPECT_NE(Hyphenator::ForLanguage("en"), nullptr);
  EXPECT_EQ(Hyphenator::ForLanguage("xx-YY"), nullptr);
  EXPECT_EQ(Hyphenator::ForLanguage(""), nullptr);
  EXPECT_EQ(Hyphenator::ForLanguage("../en"), nullptr);
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
  h->Points("word", &points);
  h->Points("a", &points);
  h->Points("", &points);
  EXPECT_TRUE(points.empty());
}

TEST(LineBreakerTest, PassesAndLimits) {
  // Words of 10 units, spaces of 3 that stretch 2 and shrink 1, on lines of 50.
  std::vector<Item> items;
  for (int i = 0; i < 20; ++i) {
    if (i > 0) items.push_back({ItemType::kGlue, false, false, false, 0, 0, 0, 3, 2, 1, 0});
    if (i % 2 == 1) {  // a hyphen inside every other word
      items.push_back({ItemType::kBox, false, false, false, 0, 0, 0, 5, 0, 0, 0});
      items.push_back({ItemType::kPenalty, true, false, true, 0, 0, 0, 2, 0, 0, 50});
      items.push_back({ItemType::kBox, false, false, false, 0, 0, 0, 5, 0, 0, 0});
    } else {
      items.push_back({ItemType::kBox, false, false, false, 0, 0, 0, 10, 0, 0, 0});
    }
  }
  items.push_back({ItemType::kPenalty, false, false, false, 0, 0, 0, 0, 0, 0, kInfinitePenalty});
  items.push_back({ItemType::kGlue, false, false, false, 0, 0, 0, 0, kFillStretch, 0, 0});
  items.push_back({ItemType::kPenalty, false, false, false, 0, 0, 0, 0, 0, 0, -kInfinitePenalty});
  BreakParams params;
  params.first_width = params.width = 50;
  std::vector<uint32_t> breaks;
  ASSERT_TRUE(BreakTotalFit(items, params, &breaks));
  EXPECT_EQ(breaks.back() + 1, items.size());
  int run = 0;
  for (uint32_t b : breaks) {
    run = items[b].flagged ? run + 1 : 0;
    EXPECT_LE(run, 2);
  }
  // A line of 12 units: no feasible break without an emergency.
  params.first_width = params.width = 12;
  params.tolerance = 200;
  EXPECT_FALSE(BreakTotalFit(items, params, &breaks));
  params.emergency = true;
  EXPECT_TRUE(BreakTotalFit(items, params, &breaks));
  EXPECT_EQ(breaks.back() + 1, items.size());
  BreakFirstFit(items, params, &breaks);
  EXPECT_EQ(breaks.back() + 1, items.size());
}

// Not a check: how long a large book takes. Run with
// --gtest_also_run_disabled_tests --gtest_filter='*Timing*'.
TEST_F(TypesetTest, DISABLED_Timing) {
  DeviceEdition e = Book(600, 11);  // about a megabyte of text
  size_t bytes = 0, words = 0;
  for (const Block& b : e.blocks) bytes += b.runs[0].text.size(), words += Split(b.runs[0].text).size();
  auto start = std::chrono::steady_clock::now();
  auto t = Make(e, 480, 640);
  t->GetPage(1);
  auto first = std::chrono::steady_clock::now();
  const int32_t count = t->PageCount();
  auto all = std::chrono::steady_clock::now();
  std::printf("%zu bytes, %zu words: first page %.1f ms, %d pages in %.1f ms\n", bytes, words,
              std::chrono::duration<double, std::milli>(first - start).count(), count,
              std::chrono::duration<double, std::milli>(all - start).count());
}

}  // namespace
}  // namespace ikutil::typeset
