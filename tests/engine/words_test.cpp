// Every word of a document reaches the page: documents of the shapes that
// lost words on the way (punctuation set off by spaces, bracketed
// synopses, code spans, ill-formed HTML with inline elements), compiled and
// laid out, their page text compared word by word with their source.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "compiler.h"
#include "fonts.h"
#include "page_layout.h"
#include "page_raster.h"
#include "source_files.h"
#include "test_util.h"

namespace ikutil::typeset {
namespace {

using vellix::fixtures::SplitWords;

// Words without their dashes: a line that ends in "-" may have been
// hyphenated or broken after a dash of the source, which the text alone
// does not tell.
std::vector<std::string> Undashed(const std::vector<std::string>& words) {
  std::vector<std::string> out;
  for (std::string w : words) {
    std::erase(w, '-');
    if (!w.empty()) out.push_back(w);
  }
  return out;
}

struct Laid {
  std::vector<Problem> problems;
  CompileStatus status = CompileStatus::kFailed;
  std::string language;            // the book's, as the compiler found it
  std::vector<std::string> lines;  // every page's lines, in order
  std::string Text() const {
    std::string all;
    for (const std::string& l : lines) all += l + "\n";
    return all;
  }
  // The words of the page text, words hyphenated at a line's end joined.
  std::vector<std::string> Words() const { return vellix::fixtures::JoinedWords(lines); }
};

class WordsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    fonts_ = FontSet::Open(&error);
    ASSERT_NE(fonts_, nullptr) << error;
  }

  Laid Lay(const std::string& html, int32_t width = 480, int32_t height = 640) {
    Laid out;
    const DeviceEdition edition = Compile(html, &out);
    out.language = edition.language;
    // Narrow pages in small type.
    Typesetter t(edition, *fonts_, {width, height, false, std::max<int32_t>(8, width / 24)});
    for (int32_t n = 1; n <= t.PageCount(); ++n)
      for (const PageLine& line : t.GetPage(n)->lines) out.lines.push_back(line.text);
    return out;
  }

  // The edition of `html`; its status and problems go to `laid`, if given.
  static DeviceEdition Compile(const std::string& html, Laid* laid = nullptr) {
    MemorySourceFiles files;
    files.files["a.htm"] = html;
    EditionCompiler compiler(files, {}, [&](const Problem& p) {
      if (laid != nullptr) laid->problems.push_back(p);
    });
    const CompileStatus status = compiler.AddDocument("a.htm");
    if (laid != nullptr) laid->status = status;
    return compiler.Finish();
  }

  std::unique_ptr<FontSet> fonts_;
};

std::string Html(const std::string& body, const std::string& lang = "en") {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<html lang=\"" + lang + "\"><head><title>t</title></head><body>" +
         body + "</body></html>";
}

TEST_F(WordsTest, SpacesWhereNoLineMayBreakKeepTheirWords) {
  // After an opening bracket, before "!", ";", ":", "?", "»", "%", "]" and
  // closing quotes a line may not break; the space is a space all the same.
  const std::vector<std::string> paragraphs = {
      "a ( b ) c",
      "Attention ! Il faut partir ; vite : maintenant ? Oui.",
      "\xC2\xAB Bonjour \xC2\xBB dit-il, \xC3\xA0 50 % du prix [ sic ] \xE2\x80\x9C quoted \xE2\x80\x9D done",
      "Macro: CBC_CTX (context_type, block_size)",
      "bzip2 [ -cdfkqstvzVL ] [ filenames ... ]",
      "tar [ - ] A --catenate --concatenate | c --create [ options ] [ pathname ... ]",
  };
  std::string body;
  std::vector<std::string> words;
  for (const std::string& p : paragraphs) {
    body += "<p>" + p + "</p>\n";
    for (const std::string& w : SplitWords(p)) words.push_back(w);
  }
  // Wide and narrow pages: the unbreakable spaces fall inside lines and at
  // their ends.
  for (int32_t width : {480, 240, 160, 100}) {
    SCOPED_TRACE(width);
    Laid laid = Lay(Html(body, "fr"), width);
    EXPECT_EQ(Undashed(laid.Words()), Undashed(words)) << laid.Text();
    // An option's leading dashes stay with its name.
    for (const std::string& line : laid.lines) EXPECT_FALSE(line.ends_with("--")) << laid.Text();
  }
  Laid laid = Lay(Html(body, "fr"));
  EXPECT_NE(laid.Text().find("a ( b ) c\n"), std::string::npos) << laid.Text();
}

TEST_F(WordsTest, PreformattedSpansKeepTheSpacesAroundThem) {
  // How documentation tools set inline code.
  Laid laid =
      Lay(Html("<p>call <code><span style=\"white-space: pre\">f(x)</span></code>, then "
               "<tt class=\"docutils literal\"><span class=\"pre\" style=\"white-space: pre\">--all</span>"
               "</tt> and <code>g()</code>.</p>"));
  ASSERT_EQ(laid.lines.size(), 1u) << laid.Text();
  EXPECT_EQ(laid.lines[0], "call f(x), then --all and g().");
}

TEST_F(WordsTest, TheCleanUpAddsNoWhiteSpace) {
  // Ill-formed HTML as old manuals are written: upper-case tags, unclosed
  // paragraphs, inline elements against text.
  const std::string html =
      "<HTML><HEAD><TITLE>tar</TITLE></HEAD><BODY>\n"
      "<P><B>--strip-components</B>=<I>NUMBER</I> and *<VAR>ctx</VAR> word<B>bold</B> d'<I>origine</I>\n"
      "<PRE>\nline one\n  line two</PRE>\n<PRE>first\n</PRE><P>after\n</BODY></HTML>";
  Laid laid = Lay(html);
  EXPECT_EQ(laid.status, CompileStatus::kCompiled);
  EXPECT_EQ(laid.Words(),
            SplitWords("--strip-components=NUMBER and *ctx wordbold d'origine line one line two first after"));
  // The preformatted lines as they were: no blank line after <pre>.
  EXPECT_NE(laid.Text().find("\nline one\n  line two\nfirst\nafter\n"), std::string::npos) << laid.Text();
}

TEST_F(WordsTest, TemplatesInsidePreformattedTextBuild) {
  // A manual of a template library: "<%= ... %>" is text to a browser.
  const std::string html =
      "<html><head><title>Templates</title></head><body>\n<p>Compile a template<br>\n<pre>\n"
      "var compiled = _.template(\"hello: <%= name %>\");\n<% if (x) { %>yes<% } %>\n</pre>\n"
      "<p>The end<p></body></html>";
  Laid laid = Lay(html);
  EXPECT_EQ(laid.status, CompileStatus::kCompiled);
  std::string joined;  // preformatted lines too wide for the page wrap
  for (const std::string& line : laid.lines) joined += line;
  EXPECT_NE(joined.find("var compiled = _.template(\"hello: <%= name %>\");<% if (x) { %>yes<% } %>The end"),
            std::string::npos)
      << laid.Text();
  for (const Problem& p : laid.problems) EXPECT_LT(p.severity, 2) << p.message;
}

TEST_F(WordsTest, DeepInlineNestingIsRefusedQuickly) {
  // libtidy descends once per open element: nested inline elements of one
  // name count each, in the body and in the title.
  std::string nested;
  for (int i = 0; i < 300000; ++i) nested += "<b>";
  for (const std::string& html : {"<html><body><p>" + nested + "deep</body></html>",
                                  "<html><head><title>" + nested + "t</title></head><body><p>x</body></html>"}) {
    const auto start = std::chrono::steady_clock::now();
    Laid laid = Lay(html);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(laid.status, CompileStatus::kFailed);
    bool named = false;
    for (const Problem& p : laid.problems) named |= p.message.find("nests elements deeper than") != std::string::npos;
    EXPECT_TRUE(named);
    EXPECT_LT(seconds, 5.0);  // a ceiling far above the time it takes; the benchmark measures
  }
  // Below the limit the same shape is cleaned and read.
  std::string some;
  for (int i = 0; i < 200; ++i) some += "<b>";
  Laid laid = Lay("<html><body><p>" + some + "deep</body></html>");
  EXPECT_EQ(laid.status, CompileStatus::kCompiled);
  EXPECT_EQ(laid.Text(), "deep\n");
}

TEST_F(WordsTest, CodeIdentifiersOptionsAndHeadingsTakeNoHyphens) {
  // Narrow enough that plain words of this length are hyphenated.
  std::string words;
  for (int i = 0; i < 6; ++i)
    words +=
        "ffi_closure_alloc libnettle.so FULLCASEWORDS --logfilename getElementsByTagName version2released "
        "<code>hyphenation</code> <tt>typesetting</tt> ";
  Laid laid = Lay(Html("<h1>Understanding Internationalisation Responsibilities</h1><p>" + words + "</p>"), 200);
  for (const std::string& line : laid.lines) EXPECT_FALSE(line.ends_with("-")) << laid.Text();
  // The same width hyphenates prose.
  Laid prose = Lay(Html("<p>" + std::string(30, ' ') +
                        "understanding internationalisation responsibilities extraordinarily considerable "
                        "demonstrations characteristically typesetting hyphenation uncharacteristically</p>"),
                   200);
  bool hyphenated = false;
  for (const std::string& line : prose.lines) hyphenated |= line.ends_with("-");
  EXPECT_TRUE(hyphenated) << prose.Text();
}

TEST_F(WordsTest, TheDocumentNamesItsLanguage) {
  EXPECT_EQ(Lay(Html("<p>Wort</p>", "de")).language, "de");
  EXPECT_EQ(Lay("<html xml:lang=\"fr\"><body lang=\"  \"><p>mot</p></body></html>").language, "fr");
  EXPECT_EQ(Lay("<html lang=\"en\"><body lang=\"el\"><p>x</p></body></html>").language, "el");
  EXPECT_EQ(Lay("<html><body><p>x</p></body></html>").language, "");
}

TEST_F(WordsTest, WithoutPatternsLongLinesAreRaggedAndWordsSplitOnlyWhenWiderThanALine) {
  const std::string paragraph =
      "<p>Sehr geehrte Damen und Herren, die Verarbeitungsgeschwindigkeit unserer Datenverarbeitungsanlagen wurde "
      "erheblich verbessert, und die Benutzerfreundlichkeit der Anwendungsprogramme ebenso.</p>";
  // A language without patterns: no hyphen, no word split, and lines left
  // ragged rather than stretched.
  Laid ragged = Lay(Html(paragraph, "xx"), 240);
  for (const std::string& line : ragged.lines) EXPECT_FALSE(line.ends_with("-")) << ragged.Text();
  EXPECT_EQ(ragged.Words(), SplitWords("Sehr geehrte Damen und Herren, die Verarbeitungsgeschwindigkeit unserer "
                                       "Datenverarbeitungsanlagen wurde erheblich verbessert, und die "
                                       "Benutzerfreundlichkeit der Anwendungsprogramme ebenso."));
  // Words joined by no-break spaces part at those spaces before any is cut.
  Laid joined = Lay(Html("<h2>Set\u00A0up\u00A0the\u00A0implementation\u00A0carefully</h2>", "xx"), 200);
  ASSERT_GE(joined.lines.size(), 2u);
  for (std::string line : joined.lines) {
    for (size_t at; (at = line.find("\u00A0")) != std::string::npos;) line.replace(at, 2, " ");
    for (const std::string& w : SplitWords(line))
      EXPECT_TRUE(w == "Set" || w == "up" || w == "the" || w == "implementation" || w == "carefully") << joined.Text();
  }
}

TEST_F(WordsTest, ScriptsTheSerifLacksFallBackAndRightToLeftIsSetFlushRight) {
  const DeviceEdition e =
      Compile(Html("<p dir=\"rtl\">\u05D6\u05D4\u05D5 \u05DE\u05E9\u05E4\u05D8 \u05D1\u05E2\u05D1\u05E8\u05D9\u05EA "
                   "Linux 2024.</p><p dir=\"rtl\">\u0645\u0631\u062D\u0628\u0627 \u0628\u0627\u0644\u0639\u0627"
                   "\u0644\u0645</p><p>\u8FD9\u662F\u4E2D\u6587\u6BB5\u843D\uFF0C\n\u800C\u4E14\u6CA1\u6709"
                   "\u7A7A\u683C\u3002</p>",
                   "he"));
  Typesetter t(e, *fonts_, {});
  const Page page = *t.GetPage(1);
  ASSERT_EQ(page.lines.size(), 3u);
  // Hebrew, then Arabic: flush right, the words in reading order in the text.
  EXPECT_EQ(page.lines[0].text,
            "\u05D6\u05D4\u05D5 \u05DE\u05E9\u05E4\u05D8 \u05D1\u05E2\u05D1\u05E8\u05D9\u05EA Linux 2024.");
  for (int i : {0, 1}) {
    EXPECT_GE(page.lines[i].right, 480 - 24 - 2) << i;
    EXPECT_GT(page.lines[i].left, 100) << i;
  }
  // Ideographs joined across a line end of the source, without a space.
  EXPECT_EQ(page.lines[2].text, "\u8FD9\u662F\u4E2D\u6587\u6BB5\u843D\uFF0C\u800C\u4E14\u6CA1\u6709\u7A7A\u683C\u3002");
  // Every glyph is one of its face, none the "missing" box: Hebrew and
  // Arabic from the sans face, Chinese from the CJK face.
  bool sans = false, cjk = false;
  for (const GlyphRun& run : page.runs) {
    sans |= run.face == FaceOf(FontFamily::kSans, false, false);
    cjk |= run.face == kCjkFace;
    for (const PlacedGlyph& g : run.glyphs) EXPECT_NE(g.glyph, 0u) << int(run.face);
  }
  EXPECT_TRUE(sans);
  if (!fonts_->Available(kCjkFace)) GTEST_SKIP() << "no CJK face installed (fonts-droid-fallback)";
  EXPECT_TRUE(cjk);
  // And drawn: ink across each line, up to the right edge for the
  // right-to-left ones.
  PageRasterizer raster(*fonts_);
  PageImage image;
  raster.Draw(page, e, 480, 640, 8, nullptr, &image);
  ASSERT_EQ(image.pixels.size(), 480u * 640u);
  for (const PageLine& line : page.lines) {
    int32_t leftmost = 480, rightmost = -1;
    for (int32_t y = line.top; y < line.bottom; ++y)
      for (int32_t x = 0; x < 480; ++x)
        if (image.pixels[static_cast<size_t>(y) * 480 + x] < 128) {
          leftmost = std::min(leftmost, x);
          rightmost = std::max(rightmost, x);
        }
    EXPECT_NEAR(leftmost, line.left, 3) << line.text;
    EXPECT_LE(rightmost, line.right + 3) << line.text;
    EXPECT_GE(rightmost, line.right - 20) << line.text;  // a full stop's blank half
  }
}

// Arabic with a bracket and a quoted English phrase: the bracket drawn
// facing its words, the phrase's words left to right with their quotes;
// and paragraphs whose `dir` says which way they read.
TEST_F(WordsTest, RightToLeftMirrorsBracketsAndKeepsQuotedLatinInOrder) {
  const std::string text = "\u0642\u0627\u0644 (\u0641\u064A \u0625\u0646 \"Hello big world\" \u0647\u0646\u0627.";
  const DeviceEdition e = Compile(Html("<p>" + text + "</p>", "ar"));
  Typesetter t(e, *fonts_, {});
  const Page page = *t.GetPage(1);
  ASSERT_EQ(page.lines.size(), 1u);
  auto left_of = [&](char c) {
    for (const CharBox& box : page.lines[0].chars)
      if (text[box.offset] == c) return box.left;
    return -1;
  };
  EXPECT_LT(left_of('"'), left_of('H'));
  EXPECT_LT(left_of('H'), left_of('b'));
  EXPECT_LT(left_of('b'), left_of('w'));
  int opening = 0, closing = 0;
  for (const GlyphRun& run : page.runs) {
    FT_Face face = fonts_->Get(run.face).ft;
    for (const PlacedGlyph& g : run.glyphs) {
      opening += g.glyph == FT_Get_Char_Index(face, '(');
      closing += g.glyph == FT_Get_Char_Index(face, ')');
    }
  }
  EXPECT_EQ(opening, 0);
  EXPECT_EQ(closing, 1);

  // `dir` wins over the first letter, and leaves no trace in the page text.
  const std::string arabic = "\u0645\u0631\u062D\u0628\u0627";
  const DeviceEdition directed = Compile(Html(
      "<div dir=\"ltr\"><p>" + arabic + " first words.</p></div><p dir=\"rtl\">Start in Latin, " + arabic + ".</p>",
      "ar"));
  Typesetter td(directed, *fonts_, {});
  const Page both = *td.GetPage(1);
  ASSERT_EQ(both.lines.size(), 2u);
  EXPECT_EQ(both.lines[0].text, arabic + " first words.");
  EXPECT_EQ(both.lines[1].text, "Start in Latin, " + arabic + ".");
  EXPECT_LT(both.lines[0].left, 40) << "left to right: flush left";
  EXPECT_GT(both.lines[1].left, 100) << "right to left: flush right";
  EXPECT_LT(both.lines[0].chars.front().left, both.lines[0].chars.back().left);
  EXPECT_GT(both.lines[1].chars.front().left, both.lines[1].chars.back().left);
}

TEST_F(WordsTest, TermsTablesAndPreformattedLines) {
  const DeviceEdition e = Compile(
      Html("<table align=\"center\"><tr><td>cell text</td></tr></table><dl><dt>term</dt><dd>description</dd></dl>"
           "<pre>" +
           std::string(60, 'x') + "</pre>"));
  // A centred table does not centre its text; a term is set in the body's
  // weight and kept with its description.
  ASSERT_GE(e.blocks.size(), 4u);
  EXPECT_EQ(e.block_styles[e.blocks[0].style].align, TextAlign::kJustify);
  EXPECT_FALSE(e.text_styles[e.blocks[1].runs[0].style].bold);
  EXPECT_TRUE(e.block_styles[e.blocks[1].style].keep_with_next);
  // A preformatted line too long for the page: continued with a mark.
  Typesetter t(e, *fonts_, {});
  const std::vector<PageLine>& lines = t.GetPage(1)->lines;
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_TRUE(lines[3].text.ends_with("\u21A9"));
  EXPECT_EQ(lines[3].text.size() - 3 + lines[4].text.size(), 60u);
}

// Tables: in columns when they fit (each cell at its column's x, the header
// ruled off, rows apart), else each cell on lines of its own after its
// column's header; tables that span, nest or are huge are labelled rows
// too. Every word of every cell reaches the page, in order.
TEST_F(WordsTest, TablesAreSetInColumnsOrAsLabelledRows) {
  const DeviceEdition e = Compile(
      Html("<table align=\"center\"><thead><tr><th>System</th> <th>Release</th></tr></thead><tbody>"
           "<tr><td> Debian <b>GNU</b>/Linux </td>\n<td>12</td></tr><tr><td>FreeBSD</td><td><p>13.2</p></td></tr>"
           "</tbody></table><p>After.</p>"));
  ASSERT_EQ(e.blocks.size(), 4u);
  EXPECT_EQ(e.blocks[0].level, kTableHeaderRow);
  EXPECT_EQ(e.blocks[2].level, kTableRow);
  std::string row;
  for (const ikutil::Run& run : e.blocks[1].runs) row += run.text;
  EXPECT_EQ(row, "Debian GNU/Linux\t12");
  Typesetter t(e, *fonts_, {});
  const Page page = *t.GetPage(1);
  ASSERT_EQ(page.lines.size(), 4u);
  std::vector<std::string> texts;
  for (const PageLine& line : page.lines) texts.push_back(line.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"System Release", "Debian GNU/Linux 12", "FreeBSD 13.2", "After."}));
  auto left_of = [](const PageLine& line, uint32_t offset) {
    for (const CharBox& c : line.chars)
      if (c.offset == offset) return c.left;
    return -1;
  };
  const int32_t column = left_of(page.lines[0], 7);
  EXPECT_EQ(left_of(page.lines[1], 17), column);
  EXPECT_EQ(left_of(page.lines[2], 8), column);
  ASSERT_EQ(page.lines[1].chars[14].offset, 15u);  // the first column's widest cell ends
  EXPECT_GT(column, page.lines[1].chars[14].right + 10);
  EXPECT_GT(page.lines[2].top, page.lines[1].bottom);
  bool ruled = false;
  for (const FilledRect& r : page.rects) ruled |= r.y >= page.lines[0].top && r.y < page.lines[1].top;
  EXPECT_TRUE(ruled);

  // Too wide: the header row is set whole, then heads each cell; an empty
  // cell makes no line.
  const Laid wide =
      Lay(Html("<table><tr><th>Option</th><th>Meaning</th><th>Default</th></tr>"
               "<tr><td>--verbose</td><td>prints the name of every file as it is read, and what was done with it</td>"
               "<td>off</td></tr><tr><td>--jobs</td><td></td><td>the number of processors</td></tr></table>"));
  ASSERT_GE(wide.lines.size(), 7u);
  EXPECT_EQ(wide.lines[0], "Option Meaning Default");
  EXPECT_EQ(wide.lines[1], "Option: --verbose");
  EXPECT_TRUE(wide.lines[2].starts_with("Meaning: prints")) << wide.Text();
  std::vector<std::string> cells;
  for (const std::string& w : vellix::fixtures::JoinedWords({wide.lines.begin() + 1, wide.lines.end()}))
    if (w != "Option:" && w != "Meaning:" && w != "Default:") cells.push_back(w);
  EXPECT_EQ(Undashed(cells),
            Undashed(SplitWords("--verbose prints the name of every file as it is read, and what was done "
                                "with it off --jobs the number of processors")))
      << wide.Text();
  EXPECT_EQ(wide.lines.back(), "Default: the number of processors");
  EXPECT_EQ(std::count(wide.lines.begin(), wide.lines.end(), "Option: --jobs"), 1);

  // A header too long to stand beside its cells is wrapped above them, whole.
  const Laid long_header = Lay(
      Html("<table><tr><th>Number of processors used for compiling the sources</th><th>Extraordinarilylongheaderword"
           "withoutanyspaceswhatsoeverinit</th><th>Note</th></tr><tr><td>4</td><td>x</td><td>none at all here</td></tr>"
           "</table>"),
      240, 640);
  const std::string long_text = long_header.Text();
  EXPECT_EQ(long_text.find("\u2026"), std::string::npos) << long_text;
  const std::vector<std::string> long_words = long_header.Words();
  auto count = [&](const std::string& word) { return std::count(long_words.begin(), long_words.end(), word); };
  for (const std::string& word : SplitWords("Number of processors used compiling the"))
    EXPECT_EQ(count(word), 2) << word << "\n" << long_text;  // in the header row and in the label
  EXPECT_EQ(count("sources:") + count("Note:") + count("Note"), 3) << long_text;
  std::string joined;
  for (const std::string& line : long_header.lines) joined += line;
  EXPECT_NE(joined.find("Extraordinarilylongheaderwordwithoutanyspaceswhatsoeverinit:x"), std::string::npos)
      << long_text;

  // Spans and nested tables: labelled blocks; the nested table has columns of its own.
  const Laid spans =
      Lay(Html("<table><tr><th>Name</th><th>Value</th></tr><tr><td colspan=\"2\">spanning</td></tr>"
               "<tr><td>a</td><td><table><tr><td>x</td><td>y</td></tr></table></td></tr></table>"));
  EXPECT_EQ(spans.Text(), "Name\nValue\nName: spanning\nName: a\nx y\n");

  // Huge and deep: every row, every column, every level, in linear time.
  std::string rows, columns, deep;
  for (int i = 0; i < 10000; ++i) rows += "<tr><td>r" + std::to_string(i) + "</td><td>b</td><td>c</td></tr>";
  for (int i = 0; i < 1000; ++i) columns += "<td>c" + std::to_string(i) + "</td>";
  for (int i = 0; i < 1000; ++i) deep += "<table><tr><td>";
  deep += "deep";
  for (int i = 0; i < 1000; ++i) deep += "</td></tr></table>";
  const Laid huge =
      Lay(Html("<table>" + rows + "</table><table><tr>" + columns + "</tr><tr>" + columns + "</tr></table>" + deep));
  const std::vector<std::string> words = huge.Words();
  ASSERT_EQ(words.size(), 30000u + 2000u + 1u);
  EXPECT_EQ(words[29997], "r9999");
  EXPECT_EQ(words[30000 + 1999], "c999");
  EXPECT_EQ(words.back(), "deep");
}

}  // namespace
}  // namespace ikutil::typeset
