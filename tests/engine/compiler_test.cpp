// The source compiler and the document checks, over documents held in
// memory; pictures are made with the same libraries that decode them.
#include "compiler.h"

#include <gif_lib.h>
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <jpeglib.h>
#include <cstdio>
#include <cstring>
#include <map>
#include <tuple>

#include "images.h"
#include "source_files.h"
#include "test_util.h"

namespace ikutil {
namespace {

std::string Page(const std::string& body, const std::string& head = "") {
  return "<?xml version=\"1.0\"?>\n<html>\n<head><title>t</title>" + head + "</head>\n<body>" + body +
         "</body>\n</html>\n";
}

struct Compiled {
  DeviceEdition edition;
  std::vector<Problem> problems;
  std::vector<CompileStatus> statuses;
  bool Has(int16_t severity, const std::string& part) const {
    for (const Problem& p : problems)
      if (p.severity == severity && p.message.find(part) != std::string::npos) return true;
    return false;
  }
  // The styles of block `b` and of its first run.
  const TextStyle& Text(size_t b) const { return edition.text_styles[edition.blocks[b].runs[0].style]; }
  const BlockStyle& Style(size_t b) const { return edition.block_styles[edition.blocks[b].style]; }
};

// Where a problem is and how bad: "severity file:line".
std::string Where(const Problem& p) { return std::to_string(p.severity) + " " + p.file + ":" + std::to_string(p.line); }

Compiled Compile(MemorySourceFiles& files, const std::vector<std::string>& docs, CompileSettings settings = {}) {
  Compiled out;
  EditionCompiler compiler(files, std::move(settings), [&](const Problem& p) { out.problems.push_back(p); });
  for (const std::string& d : docs) out.statuses.push_back(compiler.AddDocument(d));
  out.edition = compiler.Finish();
  return out;
}

Compiled CompileOne(const std::string& html, CompileSettings settings = {}) {
  MemorySourceFiles files;
  files.files["a.htm"] = html;
  return Compile(files, {"a.htm"}, std::move(settings));
}

std::string TextOf(const Block& b) {
  std::string text;
  for (const Run& r : b.runs) text += r.text;
  return text;
}

// --- pictures ---

std::string MakePng(uint32_t width, uint32_t height, bool with_alpha) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = with_alpha ? PNG_FORMAT_GA : PNG_FORMAT_GRAY;
  size_t channels = with_alpha ? 2 : 1;
  std::vector<uint8_t> pixels(width * height * channels);
  for (size_t i = 0; i < width * height; ++i) {
    pixels[i * channels] = (i % width) < width / 2 ? 0 : 200;  // left half black
    if (with_alpha) pixels[i * channels + 1] = 0;              // fully transparent
  }
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr);
  std::string out(size, '\0');
  EXPECT_TRUE(png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, nullptr));
  out.resize(size);
  return out;
}

std::string MakeJpeg(uint32_t width, uint32_t height, uint8_t red) {
  jpeg_compress_struct info;
  jpeg_error_mgr error;
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = width;
  info.image_height = height;
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 95, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::vector<uint8_t> row(width * 3);
  for (uint32_t x = 0; x < width; ++x) row[x * 3] = red;
  while (info.next_scanline < height) {
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&info, &r, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::string out(reinterpret_cast<char*>(buffer), size);
  free(buffer);
  return out;
}

int WriteToString(GifFileType* gif, const GifByteType* data, int length) {
  static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(data), length);
  return length;
}

// Colour 0 black, colour 1 transparent; the top row black, the rest
// transparent. The logical screen may be bigger than the picture.
std::string MakeGif(int width, int height, int screen_width = 0, int screen_height = 0) {
  std::string out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, WriteToString, &error);
  GifColorType colors[2] = {{0, 0, 0}, {255, 0, 0}};
  ColorMapObject* map = GifMakeMapObject(2, colors);
  EGifSetGifVersion(gif, true);
  EGifPutScreenDesc(gif, screen_width ? screen_width : width, screen_height ? screen_height : height, 1, 0, map);
  GraphicsControlBlock gcb = {0, false, 0, 1};
  GifByteType extension[4];
  EGifGCBToExtension(&gcb, extension);
  EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension);
  EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr);
  std::vector<GifPixelType> line(width);
  for (int y = 0; y < height; ++y) {
    std::fill(line.begin(), line.end(), y == 0 ? 0 : 1);
    EGifPutLine(gif, line.data(), width);
  }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
  return out;
}

TEST(Compiler, KeepsTextInOrderAndCollapsesWhiteSpace) {
  Compiled c = CompileOne(Page("<p>Hello  \n <b>bold</b> world</p>\n<div>Second<br/>line</div><p>  </p>"));
  ASSERT_EQ(c.edition.blocks.size(), 2u);
  EXPECT_EQ(TextOf(c.edition.blocks[0]), "Hello bold world");
  EXPECT_TRUE(c.edition.text_styles[c.edition.blocks[0].runs[1].style].bold);
  EXPECT_FALSE(c.edition.text_styles[c.edition.blocks[0].runs[0].style].bold);
  EXPECT_EQ(TextOf(c.edition.blocks[1]), "Second\nline");
  EXPECT_EQ(c.edition.blocks[1].runs.size(), 1u) << "runs of one style merge";
  EXPECT_TRUE(c.problems.empty());
}

TEST(Compiler, TakesStylesFromEverySheetSource) {
  MemorySourceFiles files;
  files.files["css/book.css"] = ".linked { font-style: italic }\n#big { font-size: x-large }";
  files.files["a.htm"] = Page(
      "<p class=\"note\">n</p><p class=\"linked\">l</p><p style=\"text-align: center; margin-left: 2em\">s</p>"
      "<div><p id=\"big\">d</p></div><p><tt>m</tt></p>",
      "<style type=\"text/css\">p.note { font-weight: bold } div p { text-indent: 1em }</style>"
      "<link rel=\"stylesheet\" type=\"text/css\" href=\"css/book.css\"/>");

  Compiled all = Compile(files, {"a.htm"});
  ASSERT_EQ(all.edition.blocks.size(), 5u);
  EXPECT_TRUE(all.Text(0).bold);
  EXPECT_TRUE(all.Text(1).italic);
  EXPECT_EQ(all.Style(2).align, TextAlign::kCenter);
  EXPECT_EQ(all.Style(2).margin_left, 20);
  EXPECT_EQ(all.Style(3).text_indent, 15) << "1em of its own x-large font";
  EXPECT_EQ(all.Text(3).size_step, 2);
  EXPECT_EQ(all.Text(4).family, FontFamily::kMono);

  CompileSettings attributes_only;
  attributes_only.css_support = 1;
  Compiled some = Compile(files, {"a.htm"}, attributes_only);
  EXPECT_FALSE(some.Text(0).bold);
  EXPECT_FALSE(some.Text(1).italic);
  EXPECT_EQ(some.Style(2).align, TextAlign::kCenter);

  CompileSettings none;
  none.css_support = 0;
  Compiled plain = Compile(files, {"a.htm"}, none);
  EXPECT_EQ(plain.Style(2).align, TextAlign::kJustify);
  EXPECT_EQ(plain.Text(4).family, FontFamily::kMono) << "the element's own look stays";

  // Every style once in the tables.
  for (const auto& c : {all, some, plain}) {
    for (size_t i = 0; i < c.edition.text_styles.size(); ++i)
      for (size_t j = i + 1; j < c.edition.text_styles.size(); ++j)
        EXPECT_FALSE(c.edition.text_styles[i] == c.edition.text_styles[j]);
    for (size_t i = 0; i < c.edition.block_styles.size(); ++i)
      for (size_t j = i + 1; j < c.edition.block_styles.size(); ++j)
        EXPECT_FALSE(c.edition.block_styles[i] == c.edition.block_styles[j]);
  }
}

// Struck-out text keeps its decoration whichever way the source marks it,
// and a decoration adds to the one around it.
TEST(Compiler, StrikesOutDeletedText) {
  Compiled c =
      CompileOne(Page("<p>a<del>b</del><s>c</s><strike>d</strike><span style=\"text-decoration: line-through\">e</span>"
                      "<u><del>f</del></u><del style=\"text-decoration: none\">g</del></p>"));
  ASSERT_EQ(c.edition.blocks.size(), 1u);
  std::string struck, underlined;
  for (const ikutil::Run& r : c.edition.blocks[0].runs) {
    const TextStyle& t = c.edition.text_styles[r.style];
    if (t.line_through) struck += r.text;
    if (t.underline) underlined += r.text;
  }
  EXPECT_EQ(struck, "bcdef");
  EXPECT_EQ(underlined, "f");
}

// A sheet made of sheets, as generated handbooks are: imports found from
// the importing sheet, before its own rules, only for the device's media,
// never outside the book nor round in a cycle.
TEST(Compiler, FollowsImportsInsideTheBook) {
  MemorySourceFiles files;
  files.files["css/base.css"] =
      "@charset \"utf-8\";\n@import url(\"parts/type.css\") screen;\n@import 'print.css' print;\n"
      "@import \"base.css\";\n@import url(../../outside.css);\np.b { font-weight: bold }\n@import \"late.css\";\n";
  files.files["css/parts/type.css"] = "p.i { font-style: italic } p.b { font-weight: normal }";
  files.files["a.htm"] = Page("<p class=\"b\">b</p><p class=\"i\">i</p><p class=\"c\">c</p>",
                              "<style>@import \"css/base.css\"; p.c { text-align: center }</style>");
  Compiled c = Compile(files, {"a.htm"});
  ASSERT_EQ(c.edition.blocks.size(), 3u);
  EXPECT_TRUE(c.Text(0).bold) << "the importing sheet's rules come after the imported ones";
  EXPECT_TRUE(c.Text(1).italic);
  EXPECT_EQ(c.Style(2).align, TextAlign::kCenter);
  EXPECT_TRUE(c.Has(1, "\"base.css\" imports itself"));
  EXPECT_TRUE(c.Has(2, "\"../../outside.css\""));
  EXPECT_TRUE(c.Has(1, "after a rule ignored"));
  EXPECT_FALSE(c.Has(2, "print.css"));
}

TEST(Compiler, ReportsCssProblemsWhereTheyAre) {
  Compiled c = CompileOne(Page("<p class=\"x\">a</p>",
                               "<style>\np.x { colr: red;\n  font-weight bold; "
                               "font-style: italic }\n</style>"));
  ASSERT_EQ(c.problems.size(), 2u);
  EXPECT_NE(c.problems[0].message.find("colr"), std::string::npos);
  EXPECT_EQ(Where(c.problems[0]), "1 a.htm:4");
  EXPECT_EQ(c.problems[0].column, 7);
  EXPECT_EQ(Where(c.problems[1]), "2 a.htm:5");
  EXPECT_EQ(c.problems[1].column, 3);
  EXPECT_TRUE(c.Text(0).italic) << "the declaration after the bad one still counts";
}

TEST(Compiler, ReportsProblemsOfLinkedSheetsInTheirOwnFiles) {
  MemorySourceFiles files;
  files.files["text/a.htm"] = Page(
      "<p>x</p>", "<link rel=\"stylesheet\" href=\"../css/book.css\"/>\n<link rel=\"stylesheet\" href=\"gone.css\"/>");
  files.files["text/b.htm"] = Page("<p>y</p>", "<link rel=\"stylesheet\" href=\"../css/book.css\"/>");
  files.files["css/book.css"] = "p { margin: 1em }\np { text-align: sideways }\n";
  Compiled c = Compile(files, {"text/a.htm", "text/b.htm"});
  ASSERT_EQ(c.problems.size(), 2u) << "a sheet shared by two documents is reported once";
  EXPECT_EQ(Where(c.problems[0]), "1 css/book.css:2");
  EXPECT_EQ(c.problems[0].column, 5);
  EXPECT_EQ(Where(c.problems[1]), "2 text/a.htm:4");
  EXPECT_EQ(c.Style(1).margin_top, 10);
}

TEST(Compiler, BuildsHeadingsListsPreformattedTextAndPageBreaks) {
  Compiled c =
      CompileOne(Page("<h2>The <i>first</i> part</h2><ul><li>one<ul><li>inner</li></ul></li><li><p>two</p></li></ul>"
                      "<ol start=\"3\"><li>three</li><li>four</li></ol>"
                      "<pre>\nline 1\n   indented</pre><p style=\"page-break-before: always\">after</p><hr/>"));
  const auto& b = c.edition.blocks;
  ASSERT_EQ(b.size(), 10u);
  EXPECT_EQ(b[0].kind, BlockKind::kHeading);
  EXPECT_EQ(b[0].level, 2);
  EXPECT_TRUE(c.edition.block_styles[b[0].style].keep_with_next);
  ASSERT_EQ(c.edition.toc.size(), 1u);
  EXPECT_EQ(c.edition.toc[0].title, "The first part");
  EXPECT_EQ(c.edition.toc[0].level, 2);
  EXPECT_EQ(c.edition.toc[0].target, (FlowPosition{0, 0}));

  EXPECT_EQ(b[1].kind, BlockKind::kListItem);
  EXPECT_EQ(b[1].level, 1);
  EXPECT_EQ(b[2].level, 2);
  EXPECT_EQ(TextOf(b[3]), "two");
  EXPECT_EQ(b[3].kind, BlockKind::kListItem);
  EXPECT_GT(c.Style(2).margin_left, c.Style(1).margin_left);
  // A paragraph in an item (the third) carries its marker; an ordered list counts from its start.
  const std::vector<std::string> markers = {b[1].marker, b[2].marker, b[3].marker, b[4].marker, b[5].marker};
  EXPECT_EQ(markers, (std::vector<std::string>{"\u2022", "\u25E6", "\u2022", "3.", "4."}));

  EXPECT_EQ(b[6].kind, BlockKind::kPreformatted);
  EXPECT_EQ(TextOf(b[6]), "line 1\n   indented");
  EXPECT_EQ(b[7].kind, BlockKind::kPageBreak);
  EXPECT_EQ(TextOf(b[8]), "after");
  EXPECT_EQ(b[9].kind, BlockKind::kRule);
}

TEST(Compiler, OrderedListsShowTheLabelsTheyAskFor) {
  struct Case {
    const char* list;
    std::vector<std::string> markers;
  };
  const Case cases[] = {
      {"<ol type=\"a\">", {"a.", "b.", "c."}},
      {"<ol type=\"A\" start=\"26\">", {"Z.", "AA.", "AB."}},
      {"<ol type=\"i\" start=\"3\">", {"iii.", "iv.", "v."}},
      {"<ol type=\"I\">", {"I.", "II.", "III."}},
      {"<ol type=\"1\" start=\"9\">", {"9.", "10.", "11."}},
      {"<ol style=\"list-style-type: lower-alpha\">", {"a.", "b.", "c."}},
      {"<ol style=\"list-style-type: upper-roman\" type=\"a\">", {"I.", "II.", "III."}},
      {"<ol style=\"list-style: none\">", {"", "", ""}},
      {"<ol class=\"legal\">", {"i.", "ii.", "iii."}},
      {"<ul type=\"square\">", {"\u25AA", "\u25AA", "\u25AA"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    std::string close = std::string(c.list).substr(0, 3) == "<ol" ? "</ol>" : "</ul>";
    Compiled compiled = CompileOne(Page(std::string(c.list) + "<li>one</li><li>two</li><li>three</li>" + close,
                                        "<style type=\"text/css\">ol.legal { list-style-type: lower-roman }</style>"));
    std::vector<std::string> markers;
    for (const auto& block : compiled.edition.blocks) markers.push_back(block.marker);
    EXPECT_EQ(markers, c.markers);
  }
}

TEST(Compiler, ResolvesLinksWithinAndAcrossDocuments) {
  MemorySourceFiles files;
  files.files["text/a.htm"] = Page(
      "<p>go <a href=\"#here\">here</a> <a href=\"b.htm#there\">there</a> <a href=\"b.htm\">b</a> "
      "<a href=\"http://example.com/x\">web</a></p><p>x <span id=\"here\">h</span></p>");
  files.files["text/b.htm"] = Page("<p>first</p><p>sec<a name=\"there\">ond</a></p>");
  CompileSettings settings;
  Compiled c = Compile(files, {"text/a.htm", "text/b.htm"}, settings);
  EXPECT_TRUE(c.problems.empty());
  const auto& links = c.edition.links;
  ASSERT_EQ(links.size(), 4u);
  EXPECT_EQ(links[0].target, (FlowPosition{1, 2}));
  EXPECT_EQ(links[1].target, (FlowPosition{3, 3}));
  EXPECT_EQ(links[2].target, (FlowPosition{2, 0}));
  EXPECT_TRUE(links[3].external);
  EXPECT_EQ(links[3].uri, "http://example.com/x");
  const ikutil::Run& linked = c.edition.blocks[0].runs[1];
  EXPECT_EQ(linked.text, "here");
  EXPECT_EQ(linked.link, 0u);
  EXPECT_TRUE(c.edition.text_styles[linked.style].underline);

  settings.underline_links = false;
  Compiled plain = Compile(files, {"text/a.htm", "text/b.htm"}, settings);
  EXPECT_FALSE(plain.edition.text_styles[plain.edition.blocks[0].runs[1].style].underline);
}

TEST(Compiler, ReportsLinksToNowhere) {
  // An anchor that is not there is an error; a page outside the book only
  // a warning, named whole.
  Compiled c =
      CompileOne(Page("<p>x</p>\n<p>a <a href=\"#nothing\">b</a> <a href=\"c.htm\">c</a> <a "
                      "href=\"/usr/share/doc/d.html\">d</a> <a href=\"../e.html\">e</a></p>"));
  ASSERT_EQ(c.problems.size(), 4u);
  for (const Problem& p : c.problems) {
    EXPECT_EQ(p.file, "a.htm");
    EXPECT_EQ(p.line, 5);
  }
  EXPECT_TRUE(c.Has(2, "anchor that does not exist"));
  EXPECT_EQ(c.problems[0].column, 53);
  for (const Link& l : c.edition.links) EXPECT_EQ(l.target, (FlowPosition{0, 0}));
  // The missing anchor and the file the package lacks stay broken, keeping
  // their hrefs; pages beyond the package are kept as addresses outside it.
  ASSERT_EQ(c.edition.links.size(), 4u);
  for (size_t i : {0, 1}) {
    EXPECT_TRUE(c.edition.links[i].broken && !c.edition.links[i].external) << i;
    EXPECT_EQ(c.edition.links[i].uri, i == 0 ? "#nothing" : "c.htm");
  }
  EXPECT_TRUE(c.Has(2, "link to \"c.htm\", a file that does not exist"));
  const char* const outside[] = {"/usr/share/doc/d.html", "../e.html"};
  for (size_t i = 2; i < 4; ++i) {
    EXPECT_TRUE(c.Has(1, "\"" + std::string(outside[i - 2]) + "\" links to a document that is not part of the book"));
    EXPECT_TRUE(c.edition.links[i].external && !c.edition.links[i].broken) << i;
    EXPECT_EQ(c.edition.links[i].uri, outside[i - 2]);
  }
}

TEST(Compiler, DecodesAndScalesImages) {
  MemorySourceFiles files;
  files.files["img/wide.png"] = MakePng(960, 320, false);
  files.files["img/clear.png"] = MakePng(4, 4, true);
  files.files["photo.jpg"] = MakeJpeg(100, 50, 255);
  files.files["pic.gif"] = MakeGif(8, 4);
  files.files["a.htm"] = Page(
      "<p>before <img src=\"img/wide.png\" alt=\"wide\"/> after</p><img src=\"img/wide.png\"/>"
      "<img src=\"img/clear.png\"/><img src=\"photo.jpg\"/><img src=\"pic.gif\"/>");
  Compiled c = Compile(files, {"a.htm"});
  // Each picture shown without alternative text is warned of, once where it stands.
  std::vector<std::string> warnings;
  for (const Problem& p : c.problems) warnings.push_back(std::to_string(p.severity) + " " + p.message);
  EXPECT_EQ(warnings, (std::vector<std::string>{"1 the image \"img/wide.png\" has no alternative text",
                                                "1 the image \"img/clear.png\" has no alternative text",
                                                "1 the image \"photo.jpg\" has no alternative text",
                                                "1 the image \"pic.gif\" has no alternative text"}));
  const auto& b = c.edition.blocks;
  ASSERT_EQ(b.size(), 7u);
  EXPECT_EQ(TextOf(b[0]), "before");
  EXPECT_EQ(b[1].kind, BlockKind::kImage);
  EXPECT_EQ(b[1].alt, "wide");
  EXPECT_EQ(TextOf(b[2]), "after");
  EXPECT_EQ(b[3].image, b[1].image) << "one picture per href";
  ASSERT_EQ(c.edition.images.size(), 4u);

  const GreyImage& wide = c.edition.images[0];
  EXPECT_EQ(std::tuple(wide.width, wide.height, wide.pixels.size()), std::tuple(480, 160, 480u * 160u));
  EXPECT_EQ(wide.pixels[0], 0);
  EXPECT_EQ(wide.pixels[479], 200);
  EXPECT_EQ(wide.pixels[240], 200);

  EXPECT_EQ(c.edition.images[1].pixels, std::vector<uint8_t>(16, 255)) << "transparent on white";
  const GreyImage& photo = c.edition.images[2];
  EXPECT_EQ(std::tuple(photo.width, photo.height), std::tuple(100, 50)) << "never scaled up";
  EXPECT_NEAR(photo.pixels[0], 76, 3);  // pure red's luma
  const GreyImage& gif = c.edition.images[3];
  EXPECT_EQ(gif.width, 8);
  EXPECT_EQ(gif.pixels[0], 0);
  EXPECT_EQ(gif.pixels[8], 255);
}

// The book's pictures share one budget of decoded pixels: past it a
// picture is left out with a warning and its alternative text stands in.
TEST(Compiler, LeavesOutPicturesPastTheBooksPixelBudget) {
  MemorySourceFiles files;
  std::string body;
  for (int i = 0; i < 4; ++i) {
    files.files["p" + std::to_string(i) + ".png"] = MakePng(960, 320, false);
    body += "<img src=\"p" + std::to_string(i) + ".png\" alt=\"picture " + std::to_string(i) + "\"/>";
  }
  CompileSettings settings;
  settings.image_pixel_budget = 3 * 960 * 320;
  files.files["a.htm"] = Page(body + "<img src=\"p0.png\" alt=\"again\"/>");
  Compiled c = Compile(files, {"a.htm"}, settings);
  EXPECT_EQ(c.edition.images.size(), 3u);
  std::vector<std::string> kinds;
  for (const Block& b : c.edition.blocks) kinds.push_back(b.kind == BlockKind::kImage ? "image" : TextOf(b));
  EXPECT_EQ(kinds, (std::vector<std::string>{"image", "image", "image", "picture 3", "image"}));
  ASSERT_EQ(c.problems.size(), 1u);
  EXPECT_EQ(Where(c.problems[0]) + " " + c.problems[0].message,
            "1 a.htm:4 image \"p3.png\" left out: the book's pictures would take more than 921600 pixels to decode");
}

// The book's runs of styled text share one budget: past it a paragraph
// goes on in the style it has, its text whole, with one warning for each
// document that loses markup.
TEST(Compiler, DropsInlineMarkupPastTheBooksRunBudgetAndKeepsTheText) {
  MemorySourceFiles files;
  files.files["a.htm"] = Page("<p>x<b>y</b>z</p><p><i>one</i> <b>two</b> <a href=\"b.htm#t\">three</a></p>");
  files.files["b.htm"] = Page("<p id=\"t\"><b>four</b> five</p>");
  files.files["c.htm"] = Page("<p>six</p>");
  CompileSettings settings;
  settings.run_budget = 4;
  Compiled c = Compile(files, {"a.htm", "b.htm", "c.htm"}, settings);
  std::vector<std::string> texts;
  std::vector<size_t> runs;
  for (const Block& b : c.edition.blocks) {
    texts.push_back(TextOf(b));
    runs.push_back(b.runs.size());
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"xyz", "one two three", "four five", "six"}));
  EXPECT_EQ(runs, (std::vector<size_t>{3, 1, 1, 1}));
  EXPECT_TRUE(c.Text(0).bold == false && c.edition.text_styles[c.edition.blocks[0].runs[1].style].bold);
  EXPECT_TRUE(c.Text(1).italic) << "a paragraph past the budget keeps the style it starts with";
  std::vector<std::string> warned;
  for (const Problem& p : c.problems)
    if (p.message.find("more than 4 runs") != std::string::npos) warned.push_back(Where(p));
  EXPECT_EQ(warned, (std::vector<std::string>{"1 a.htm:-1", "1 b.htm:-1"}));

  settings.run_budget = kMaxBookRuns;
  Compiled whole = Compile(files, {"a.htm", "b.htm", "c.htm"}, settings);
  EXPECT_EQ(whole.edition.blocks[1].runs.size(), 5u);
  EXPECT_TRUE(whole.problems.empty());
}

// Sizes read from the headers alone, with nothing read past the bytes.
TEST(Images, DeclaredSizesComeFromTheHeaders) {
  const std::string png = MakePng(960, 320, false), jpeg = MakeJpeg(100, 50, 0), gif = MakeGif(8, 4, 30, 20);
  EXPECT_EQ(DeclaredImagePixels(png), 960u * 320u);
  EXPECT_EQ(DeclaredImagePixels(jpeg), 100u * 50u);
  EXPECT_EQ(DeclaredImagePixels(gif), 30u * 20u);
  for (const std::string& bytes : {png, jpeg, gif})
    for (size_t cut : {size_t{0}, size_t{3}, size_t{9}, bytes.size() / 2})
      EXPECT_LE(DeclaredImagePixels(std::string_view(bytes).substr(0, cut)), 960u * 320u) << cut;
  EXPECT_EQ(DeclaredImagePixels("\xFF\xD8\xFF\xE0\xFF\xFF"), 0u) << "a segment longer than the file";
}

TEST(Images, AverageAreasAndRefuseOutsizedPictures) {
  EXPECT_EQ(ScaleDown({0, 100, 200, 255, 10, 20, 30, 40}, 4, 2, 2, 1), (std::vector<uint8_t>{33, 132}));
  EXPECT_EQ(ScaleDown({0, 90, 255}, 3, 1, 2, 1), (std::vector<uint8_t>{30, 200}));
  GreyImageResult huge = DecodeGreyImage(MakeGif(1, 1, 65535, 65535), 480, 640);
  EXPECT_FALSE(huge.ok);
  EXPECT_NE(huge.error.find("too big"), std::string::npos);
  EXPECT_FALSE(DecodeGreyImage("GIF89a", 480, 640).ok);
  EXPECT_FALSE(DecodeGreyImage(MakeJpeg(8, 8, 0).substr(0, 20), 480, 640).ok);
  GreyImageResult tall = DecodeGreyImage(MakePng(10, 2000, false), 480, 640);
  ASSERT_TRUE(tall.ok);
  EXPECT_EQ(tall.image.width, 3);
  EXPECT_EQ(tall.image.height, 640);
}

TEST(Compiler, CascadesBySpecificityOrderAndImportance) {
  Compiled c = CompileOne(
      Page("<p class=\"c\" id=\"i\" style=\"font-weight: normal; margin: 1em 2em 3em\">x</p><p class=\"c\">y</p>",
           "<style>#i { text-align: center } .c { text-align: left } p { text-align: right }"
           " p { font-weight: bold !important } .c { text-align: right }</style>"));
  ASSERT_EQ(c.edition.blocks.size(), 2u);
  const BlockStyle& first = c.Style(0);
  EXPECT_EQ(first.align, TextAlign::kCenter);
  EXPECT_EQ(std::tuple(first.margin_top, first.margin_right, first.margin_bottom, first.margin_left),
            std::tuple(10, 20, 30, 20));
  EXPECT_TRUE(c.Text(0).bold);
  EXPECT_EQ(c.Style(1).align, TextAlign::kRight) << "the later rule wins";
}

// Desktop sheets as they come: "@media" rules for the device's screen
// (480 pixels wide unless told otherwise), sizes in rem and the "font"
// shorthand.
TEST(Compiler, ReadsMediaRulesRemAndTheFontShorthand) {
  const std::string sheet =
      "@media print { p { font-weight: bold } }\n"
      "@media screen and (max-width: 600px) { p.m { text-align: center } }\n"
      "@media only handheld, print { .h { font-style: italic } }\n"
      "@media (min-width: 700px) { p.m { text-align: right } }\n"
      "@media not print { .n { margin-top: 1rem } }\n"
      "div { font-size: 200% } .r { margin-left: 2rem; font-size: 1.5rem }\n"
      "h2 { font: italic bold 12pt/2 Georgia, \"Times New Roman\", serif }\n"
      ".s { font: 150% monospace }\n";
  const std::string html = Page("<p class=\"m h n\">m</p><div><p class=\"r\">r</p></div><h2>t</h2><p class=\"s\">s</p>",
                                "<style>" + sheet + "</style>");
  Compiled c = CompileOne(html);
  ASSERT_EQ(c.edition.blocks.size(), 4u);
  EXPECT_FALSE(c.Text(0).bold) << "print rules are not the device's";
  EXPECT_EQ(c.Style(0).align, TextAlign::kCenter);
  EXPECT_TRUE(c.Text(0).italic);
  EXPECT_EQ(c.Style(0).margin_top, 10);
  EXPECT_EQ(c.Style(1).margin_left, 20) << "2rem: the root's size, not the 200% div's";
  EXPECT_EQ(c.Text(1).size_step, 2) << "1.5rem, not 1.5 times 200%";
  EXPECT_TRUE(c.Text(2).italic);
  EXPECT_TRUE(c.Text(2).bold);
  EXPECT_EQ(c.Text(2).family, FontFamily::kSerif);
  EXPECT_EQ(c.Style(2).line_height, 200);
  EXPECT_EQ(c.Text(3).family, FontFamily::kMono);
  EXPECT_FALSE(c.Text(3).bold) << "the shorthand sets what it leaves out back to normal";
  for (const Problem& p : c.problems) ADD_FAILURE() << p.line << ": " << p.message;

  // A wider device takes the other rules.
  CompileSettings wide;
  wide.device_width = 800;
  Compiled w = CompileOne(html, wide);
  EXPECT_EQ(w.edition.block_styles[w.edition.blocks[0].style].align, TextAlign::kRight);

  // A shorthand without a family is no shorthand.
  Compiled bad = CompileOne(Page("<p class=\"b\">b</p>", "<style>.b { font: bold 12pt }</style>"));
  EXPECT_TRUE(bad.Has(1, "value \"bold 12pt\" of font not supported"));
}

// Rules are found by the key of their selectors (class, id, element, or
// none), and the cascade still orders them by specificity and place: a
// sheet of many rules styles each element by the few that name it.
TEST(Compiler, FindsRulesByTheirKeyInLargeSheets) {
  std::string sheet = "* { text-indent: 1em }\n";
  for (int i = 0; i < 20000; ++i)
    sheet += ".c" + std::to_string(i) + " { margin-left: " + std::to_string(i % 9) + "em }\n";
  sheet +=
      "p.c7 { font-weight: bold } #x.c7 { font-style: italic } div .c8 { text-align: right }\n"
      "p { text-align: center } .c7 .c9 { text-align: left }\n";
  Compiled c =
      CompileOne(Page("<p class=\"c7\" id=\"x\">a</p><div><p class=\"c8  c9\">b</p></div><p class=\"c7\">"
                      "<span class=\"c9\">c</span></p>",
                      "<style>" + sheet + "</style>"));
  ASSERT_EQ(c.edition.blocks.size(), 3u);
  EXPECT_EQ(c.Style(0).margin_left, 70);
  EXPECT_EQ(c.Style(0).text_indent, 10);
  EXPECT_TRUE(c.Text(0).bold);
  EXPECT_TRUE(c.Text(0).italic);
  EXPECT_EQ(c.Style(0).align, TextAlign::kCenter);
  EXPECT_EQ(c.Style(1).align, TextAlign::kRight) << "class beats element";
  EXPECT_EQ(c.Style(1).margin_left, 0) << ".c9 is the later rule for 9 % 9";
  EXPECT_FALSE(c.Text(1).bold);
  EXPECT_TRUE(c.Text(2).bold);
  EXPECT_TRUE(c.problems.empty());
}

// Paragraphs in the same place are matched once: a sheet of many
// descendant rules over many paragraphs costs their sum, not their product.
TEST(Compiler, MatchesDescendantRulesOncePerPlace) {
  constexpr int kRules = 2000, kPlaces = 50;
  std::string sheet, body;
  for (int i = 0; i < kRules; ++i)
    sheet += "div.c" + std::to_string(i) + " p { margin-left: " + std::to_string(i % 9) + "em }\n";
  for (int i = 0; i < kRules; ++i) body += "<div class=\"c" + std::to_string(i % kPlaces) + "\"><p>x</p></div>";
  MemorySourceFiles files;
  files.files["a.htm"] = Page(body + "<p>out</p>", "<style>" + sheet + "</style>");
  EditionCompiler compiler(files, {}, [](const Problem&) {});
  ASSERT_EQ(compiler.AddDocument("a.htm"), CompileStatus::kCompiled);
  const uint64_t tests = compiler.SelectorTests();
  DeviceEdition edition = compiler.Finish();
  ASSERT_EQ(edition.blocks.size(), static_cast<size_t>(kRules + 1));
  for (int i : {0, 7, 8, 1999})
    EXPECT_EQ(edition.block_styles[edition.blocks[i].style].margin_left, (i % kPlaces) % 9 * 10) << i;
  EXPECT_EQ(edition.block_styles[edition.blocks[kRules].style].margin_left, 0);
  EXPECT_LE(tests, static_cast<uint64_t>(2 * kPlaces * kRules)) << "a paragraph's rules are tried once per place";
}

// Every paragraph with a class and a place of its own, and rules for each:
// a paragraph tries the rules naming its own class or an ancestor's key,
// not every rule that ends in "p".
TEST(Compiler, TriesOnlyTheRulesItsOwnAndItsAncestorsKeysName) {
  constexpr int kRules = 2000;
  std::string sheet, body;
  for (int i = 0; i < kRules; ++i) {
    const std::string n = std::to_string(i);
    sheet += ".c" + n + " { text-indent: " + std::to_string(i % 5) + "em }\n";
    sheet += "div.d" + n + " p { margin-left: " + std::to_string(i % 9) + "em }\n";
    sheet += "#s" + n + " div p, body * p.c" + n + " { font-weight: " + (i % 2 ? "bold" : "normal") + " }\n";
    body += "<div id=\"s" + n + "\"><div class=\"d" + n + "\"><p class=\"c" + n + "\">x</p></div></div>";
  }
  MemorySourceFiles files;
  files.files["a.htm"] = Page(body + "<div><p class=\"c3\">out</p></div>", "<style>" + sheet + "</style>");
  EditionCompiler compiler(files, {}, [](const Problem&) {});
  ASSERT_EQ(compiler.AddDocument("a.htm"), CompileStatus::kCompiled);
  const uint64_t tests = compiler.SelectorTests();
  DeviceEdition edition = compiler.Finish();
  ASSERT_EQ(edition.blocks.size(), static_cast<size_t>(kRules + 1));
  for (int i : {0, 7, 8, 1999}) {
    const auto& block = edition.blocks[i];
    EXPECT_EQ(edition.block_styles[block.style].margin_left, i % 9 * 10) << i;
    EXPECT_EQ(edition.block_styles[block.style].text_indent, i % 5 * 10) << i;
    EXPECT_EQ(edition.text_styles[block.runs[0].style].bold, i % 2 == 1) << i;
  }
  const auto& out = edition.blocks[kRules];
  EXPECT_EQ(edition.block_styles[out.style].margin_left, 0);
  EXPECT_EQ(edition.block_styles[out.style].text_indent, 30);
  EXPECT_TRUE(edition.text_styles[out.runs[0].style].bold) << "body * p.c3";
  EXPECT_LE(tests, static_cast<uint64_t>(6 * kRules)) << "not every rule ending in p";
}

// A book's sheets are kept for its later documents only up to a size:
// past it, a document reads its sheet again, with the same styles, and the
// sheet's problems are still told once.
TEST(Compiler, SheetsReadAgainPastTheKeptSizeStyleAlikeAndWarnOnce) {
  MemorySourceFiles files;
  const std::string filler = "/*" + std::string(9u << 20, ' ') + "*/";
  files.files["big.css"] = filler + ".a { margin-left: 2em; frobnicate: 1 }";
  files.files["small.css"] = ".b { text-indent: 1em }";
  const std::string links = "<link rel=\"stylesheet\" href=\"big.css\"/><link rel=\"stylesheet\" href=\"small.css\"/>";
  for (const char* name : {"a.htm", "b.htm", "c.htm"}) files.files[name] = Page("<p class=\"a b\">x</p>", links);
  std::vector<Problem> problems;
  EditionCompiler compiler(files, {}, [&](const Problem& p) { problems.push_back(p); });
  for (const char* name : {"a.htm", "b.htm", "c.htm"}) ASSERT_EQ(compiler.AddDocument(name), CompileStatus::kCompiled);
  DeviceEdition edition = compiler.Finish();
  ASSERT_EQ(edition.blocks.size(), 3u);
  for (const Block& block : edition.blocks) {
    EXPECT_EQ(edition.block_styles[block.style].margin_left, 20);
    EXPECT_EQ(edition.block_styles[block.style].text_indent, 10);
  }
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].file, "big.css");
  EXPECT_NE(problems[0].message.find("frobnicate"), std::string::npos) << problems[0].message;
}

TEST(Compiler, FlattensTablesAndReadsOldMarkup) {
  Compiled c = CompileOne(
      Page("<table><tr><td>a</td><th>b</th></tr></table><dl><dt>term</dt><dd>said</dd></dl>"
           "<p>caf&eacute;&nbsp;&mdash;<font size=\"+2\" face=\"Arial\">big</font></p><center>mid</center>"));
  const auto& b = c.edition.blocks;
  ASSERT_EQ(b.size(), 5u);
  // A table's row is one block, its cells parted by tabs.
  EXPECT_EQ(TextOf(b[0]), "a\tb");
  EXPECT_EQ(b[0].level, kTableFirstRow);
  EXPECT_TRUE(c.edition.text_styles[b[0].runs.back().style].bold);
  EXPECT_EQ(c.edition.block_styles[b[2].style].margin_left, 20);
  EXPECT_EQ(TextOf(b[3]),
            "caf\xC3\xA9\xC2\xA0\xE2\x80\x94"
            "big");
  const TextStyle& big = c.edition.text_styles[b[3].runs[1].style];
  EXPECT_EQ(big.size_step, 2);
  EXPECT_EQ(big.family, FontFamily::kSans);
  EXPECT_EQ(c.edition.block_styles[b[4].style].align, TextAlign::kCenter);

  Compiled latin = CompileOne(
      "<?xml version=\"1.0\" encoding=\"windows-1252\"?><html><body><p>caf\xE9 \x93q\x94</p>"
      "</body></html>");
  ASSERT_EQ(latin.edition.blocks.size(), 1u);
  EXPECT_EQ(TextOf(latin.edition.blocks[0]), "caf\xC3\xA9 \xE2\x80\x9Cq\xE2\x80\x9D");
}

// Documents saved in the encodings of their languages, declared the three
// ways pages declare them; UTF-16 with its byte order mark or, big-endian,
// without one.
TEST(Compiler, ReadsTheEncodingADocumentDeclares) {
  const auto xml = [](const std::string& name, const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"" + name + "\"?>\n<html><body><p>" + body + "</p></body></html>";
  };
  const auto meta = [](const std::string& name, const std::string& body) {
    return "<html><head><meta charset=\"" + name + "\"/><title>t</title></head><body><p>" + body + "</p></body></html>";
  };
  const auto http_equiv = [](const std::string& name, const std::string& body) {
    return "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=" + name +
           "\"/></head><body><p>" + body + "</p></body></html>";
  };
  const auto utf16 = [](const std::string& ascii, bool big_endian, bool bom) {
    std::string out = bom ? (big_endian ? "\xFE\xFF" : "\xFF\xFE") : "";
    for (char c : ascii) out += big_endian ? std::string{'\0', c} : std::string{c, '\0'};
    return out;
  };
  const std::string utf16_page =
      "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<html><body><p>plain words</p></body></html>";
  const struct {
    std::string document, text;
  } cases[] = {
      {xml("ISO-8859-2",
           "\xA3\xF3"
           "d\xBC"),
       "\xC5\x81\xC3\xB3"
       "d\xC5\xBA"},                                                                                     // Łódź
      {meta("koi8-r", "\xF0\xD2\xC9\xD7\xC5\xD4"), "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},  // Привет
      {http_equiv("Shift_JIS", "\x93\xFA\x96\x7B\x8C\xEA"), "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},     // 日本語
      {meta("GB2312", "\xD6\xD0\xCE\xC4"), "\xE4\xB8\xAD\xE6\x96\x87"},                                  // 中文
      {http_equiv("big5", "\xA4\xA4\xA4\xE5"), "\xE4\xB8\xAD\xE6\x96\x87"},                              // 中文
      {xml("EUC-KR", "\xC7\xD1\xB1\xB9\xBE\xEE"), "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4"},               // 한국어
      {meta("iso-8859-1", "caf\xE9"), "caf\xC3\xA9"},
      {meta("x-no-such-charset", "caf\xC3\xA9"), "caf\xC3\xA9"},
      {utf16(utf16_page, false, true), "plain words"},
      {utf16(utf16_page, true, true), "plain words"},
      {utf16(utf16_page, true, false), "plain words"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Compiled compiled = CompileOne(c.document);
    EXPECT_TRUE(compiled.problems.empty()) << compiled.problems[0].message;
    ASSERT_EQ(compiled.edition.blocks.size(), 1u);
    EXPECT_EQ(TextOf(compiled.edition.blocks[0]), c.text);
  }
  // Declared, but not well-formed: the clean-up reads the decoded text.
  Compiled cleaned = CompileOne(meta("koi8-r", "\xF0\xD2\xC9\xD7\xC5\xD4<b>"));
  ASSERT_FALSE(cleaned.edition.blocks.empty());
  EXPECT_EQ(TextOf(cleaned.edition.blocks[0]), "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
}

TEST(Compiler, KeepsTheAltTextOfAMissingOrBrokenImage) {
  MemorySourceFiles files;
  files.files["bad.png"] = "\x89PNG\r\n\x1a\nnot really";
  files.files["a.htm"] = Page("<p>x</p>\n<img src=\"gone.png\" alt=\"A map\"/><img src=\"bad.png\"/>");
  Compiled c = Compile(files, {"a.htm"});
  ASSERT_EQ(c.problems.size(), 2u);
  EXPECT_EQ(Where(c.problems[0]), "2 a.htm:5");
  EXPECT_EQ(c.problems[1].severity, 2);
  ASSERT_EQ(c.edition.blocks.size(), 2u);
  EXPECT_EQ(TextOf(c.edition.blocks[1]), "A map");
  EXPECT_TRUE(c.edition.images.empty());
}

TEST(Compiler, CleansUpDocumentsThatAreNotWellFormed) {
  Compiled c = CompileOne("<html><body>\n<p>One<p>Two &amp; <b>three</body></html>");
  ASSERT_EQ(c.statuses[0], CompileStatus::kCompiled);
  ASSERT_FALSE(c.problems.empty());
  EXPECT_EQ(Where(c.problems[0]), "1 a.htm:2");
  EXPECT_GT(c.problems[0].column, 0);
  ASSERT_EQ(c.edition.blocks.size(), 2u);
  EXPECT_EQ(TextOf(c.edition.blocks[1]), "Two & three");

  std::string hopeless = "<html><body>";
  for (int i = 0; i < 2000; ++i) hopeless += "<div>";
  Compiled failed = CompileOne(hopeless);
  EXPECT_EQ(failed.statuses[0], CompileStatus::kFailed);
  EXPECT_TRUE(failed.Has(2, "cannot be cleaned up: the document nests elements deeper than 1000"));

  MemorySourceFiles none;
  EXPECT_EQ(Compile(none, {"missing.htm"}).statuses[0], CompileStatus::kFailed);
}

TEST(Compiler, WarnsOnceAboutAnUnknownElementAndKeepsItsContent) {
  Compiled c = CompileOne(Page("<p><blink>a</blink> <blink>b</blink></p>"));
  ASSERT_EQ(c.problems.size(), 1u);
  EXPECT_EQ(c.problems[0].severity, 1);
  EXPECT_EQ(TextOf(c.edition.blocks[0]), "a b");
}

TEST(Compiler, StopsWhenCancelledAndReportsProgress) {
  std::string body;
  for (int i = 0; i < 2000; ++i) body += "<p>paragraph " + std::to_string(i) + "</p>\n";
  std::string html = Page(body);
  CompileSettings settings;
  int asked = 0;
  settings.cancelled = [&] { return ++asked == 3; };
  EXPECT_EQ(CompileOne(html, settings).statuses[0], CompileStatus::kCancelled);
  EXPECT_EQ(asked, 3);

  std::vector<uint64_t> seen;
  CompileSettings watched;
  watched.progress = [&](uint64_t parsed) { seen.push_back(parsed); };
  CompileOne(html, watched);
  ASSERT_GT(seen.size(), 2u);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(seen.back(), html.size());
}

TEST(Compiler, SurvivesDeepNesting) {
  std::string body;
  for (int i = 0; i < 100000; ++i) body += "<div>";
  body += "deep";
  for (int i = 0; i < 100000; ++i) body += "</div>";
  std::string html = Page(body, "<style>span div { font-weight: bold }</style>");
  Compiled c = CompileOne(html);
  ASSERT_EQ(c.edition.blocks.size(), 1u);
  EXPECT_EQ(TextOf(c.edition.blocks[0]), "deep");
  MemorySourceFiles files;
  files.files["a.htm"] = html;
  std::vector<Problem> problems;
  CheckDocument(files, "a.htm", {"a.htm"}, [&](const Problem& p) { problems.push_back(p); });
  EXPECT_TRUE(problems.empty());
}

TEST(SourceFiles, ResolvesHrefsInsideThePackage) {
  EXPECT_EQ(ResolveHref("text/a.htm", "b.htm"), "text/b.htm");
  EXPECT_EQ(ResolveHref("text/a.htm", "../img/./x%20y.png#frag"), "img/x y.png");
  EXPECT_EQ(ResolveHref("text/a.htm", "#here"), "text/a.htm");
  EXPECT_EQ(ResolveHref("a.htm", "b.htm?query"), "b.htm");
  EXPECT_EQ(ResolveHref("text/a.htm", "../../x.htm"), std::nullopt);
  EXPECT_EQ(ResolveHref("a.htm", "http://example.com/"), std::nullopt);
  EXPECT_EQ(ResolveHref("a.htm", "mailto:someone@example.com"), std::nullopt);
  EXPECT_EQ(ResolveHref("a.htm", "/etc/passwd"), std::nullopt);
}

TEST(SourceFiles, StayInsideTheirFolder) {
  vellix::fixtures::TempDir dir;
  dir.Write("book/text/a.htm", "inside");
  dir.Write("secret.txt", "outside");
  ASSERT_EQ(::symlink((dir / "secret.txt").c_str(), (dir / "book/link.txt").c_str()), 0);
  ASSERT_EQ(::symlink("text/a.htm", (dir / "book/inner.htm").c_str()), 0);
  FolderSourceFiles files(dir / "book");
  auto read = [&](const std::string& href) {
    std::string bytes;
    Status status = files.Read(href, bytes);
    return status.ok() ? bytes : status.ToString();
  };
  EXPECT_EQ(read("text/a.htm"), "inside");
  EXPECT_EQ(read("text/../text/a.htm"), "inside");
  EXPECT_EQ(read("inner.htm"), "inside");
  const std::string outside = ": lies outside the package's folder";
  EXPECT_EQ(read("../secret.txt"), "../secret.txt" + outside);
  EXPECT_EQ(read("text/../../secret.txt"), "text/../../secret.txt" + outside);
  EXPECT_EQ(read(dir / "secret.txt"), (dir / "secret.txt") + outside);
  EXPECT_EQ(read("link.txt"), "link.txt" + outside);
  EXPECT_EQ(read("text"), "text: is a folder, not a file");
  EXPECT_EQ(read("missing.htm"), "missing.htm: not found");
  std::string bytes;
  EXPECT_TRUE(files.Read("missing.htm", bytes).IsNotFound());
  EXPECT_EQ(files.Read("text", bytes).code(), Status::Code::kNotAFile);
}

TEST(Checker, FindsWhatABasicDocumentMayNotHold) {
  MemorySourceFiles files;
  files.files["a.htm"] = Page(
      "<p onclick=\"x()\">a</p>\n<marquee>m</marquee>\n<a href=\"#nope\">1</a><a href=\"#ok\" id=\"ok\">2</a>"
      "<a href=\"other.htm\">3</a><a href=\"b.htm#x\">4</a><a href=\"http://x.org/\">5</a>"
      "<img src=\"gone.png\" alt=\"\"/><img src=\"pic.png\" alt=\"\"/>",
      "<style>p { font-weight: }</style>");
  std::vector<Problem> problems;
  CheckDocument(files, "a.htm", {"a.htm", "b.htm", "pic.png"}, [&](const Problem& p) { problems.push_back(p); });
  std::vector<std::string> messages;
  for (const Problem& p : problems) messages.push_back(std::to_string(p.severity) + " " + p.message);
  ASSERT_EQ(problems.size(), 6u) << ::testing::PrintToString(messages);
  EXPECT_EQ(Where(problems[0]), "2 a.htm:3");  // the style sheet
  EXPECT_EQ(Where(problems[1]), "1 a.htm:4");  // onclick
  EXPECT_EQ(Where(problems[2]), "1 a.htm:5");  // marquee
  EXPECT_NE(problems[3].message.find("#nope"), std::string::npos);
  EXPECT_NE(problems[4].message.find("other.htm"), std::string::npos);
  EXPECT_NE(problems[5].message.find("gone.png"), std::string::npos);

  files.files["bad.htm"] = "<html>\n<body><p>x</body></html>";
  problems.clear();
  CheckDocument(files, "bad.htm", {}, [&](const Problem& p) { problems.push_back(p); });
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(Where(problems[0]), "2 bad.htm:2");
}

// A block takes its language from lang or xml:lang on it or around it, and
// keeps it only where it is not the book's: the book's own tag, or a less
// specific one, leaves the block as every other.
TEST(Compiler, BlocksKeepALanguageOtherThanTheBooks) {
  Compiled c = CompileOne(
      "<?xml version=\"1.0\"?>\n<html lang=\"en-US\"><body><p>one</p>"
      "<div lang=\"de\"><p>zwei</p><ul><li>drei</li></ul>vier<p xml:lang=\"fr\" lang=\"de\">cinq</p></div>"
      "<p lang=\"en\">six</p><p lang=\"EN_us\">seven</p><p lang=\"en-GB\">eight</p>"
      "<p>nine <span lang=\"de\">zehn</span></p><p lang=\"not a tag\">eleven</p></body></html>");
  EXPECT_EQ(c.edition.language, "en-US");
  std::vector<std::string> blocks;
  for (const Block& b : c.edition.blocks) blocks.push_back(TextOf(b) + ":" + b.language);
  EXPECT_EQ(blocks, (std::vector<std::string>{"one:", "zwei:de", "drei:de", "vier:de", "cinq:fr",
                                              "six:", "seven:", "eight:en-GB", "nine zehn:", "eleven:"}));
}

}  // namespace
}  // namespace ikutil
