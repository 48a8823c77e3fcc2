// document-bench: reading the metadata of hostile documents takes time in
// proportion to their size, and so do building, checking and laying out
// documents made to hang the engine.
//
//   document-bench [--small] [--reps N]
//
// Each shape is written at three sizes (100, 200 and 400 KB; 10, 20 and
// 40 KB with --small) and read with Book::ExtractMetadata, which cleans up
// or refuses what is not well-formed. Each figure is the median of the
// repetitions (the file is rewritten before each, as the clean-up replaces
// it). Printed: milliseconds, the ratios 200/100 and 400/200 (about 2 when
// the time is linear), and the 400 KB time against a plain well-formed
// document of the same size, read in the same run.
//
// The engine's part runs the `vellix` tool as a user does, at two sizes
// (S and 2S), and prints the time ratio 2S/S (goal: at most 2.5, linear):
// a style sheet of many rules (`build --html`), one letter with thousands
// of combining marks (`view --pages`), and a project of many sources
// (`check`), descendant style rules over as many paragraphs (`build
// --html`), a class and a place of its own for every paragraph, each with
// its rules (`build --html`), and an EPUB whose spine names many documents it does not hold
// (`build --epub`). Last, the peak memory of `view --pages` for a text book that
// inflates to 5 and 10 MB (1 and 2 MB with --small), in paragraphs, in one
// paragraph and as one word, against its text (goal: under 20 times), and
// of publishing Markdown lists nested on every line, and of adding an EPUB
// whose chapters each link a big sheet of their own, and of one whose
// chapter is made of tiny inline elements. The exit status reports only whether the
// benchmark ran, never whether a goal was met.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "book_maker.h"
#include "epub_maker.h"
#include "harness.h"
#include "test_util.h"
#include "vellix/book.h"
#include "vellix/error.h"

namespace {

using namespace vellix::bench;

// `unit` repeated until the document is about `bytes` long.
std::string Filled(const std::string& head, const std::string& unit, const std::string& tail, size_t bytes) {
  std::string out = head;
  while (out.size() + unit.size() + tail.size() <= bytes) out += unit;
  return out + tail;
}

struct Shape {
  const char* name;
  std::function<std::string(size_t)> make;
};

const std::string kHead = "<html><head><title>T</title></head><body>";

std::vector<Shape> Shapes() {
  return {
      {"plain XHTML (baseline)",
       [](size_t n) { return Filled(kHead, "<p>Plain text, <b>bold</b>.</p>\n", "</body></html>", n); }},
      {"sloppy HTML, within limits",
       [](size_t n) { return Filled(kHead + "<font face=a><i>", "<p>Text <b>bold</b> <a name=x>here\n", "", n); }},
      {"deep nesting (div)", [](size_t n) { return Filled(kHead, "<div>", "x", n); }},
      {"unclosed inline (font)", [](size_t n) { return Filled(kHead, "<p><font face=a>x", "", n); }},
      {"unclosed inline (b)", [](size_t n) { return Filled(kHead + "<p>", "<b>x ", "", n); }},
      {"nested inline (b)", [](size_t n) { return Filled(kHead + "<p>", "<b>", "x", n); }},
      {"990 nested inline, then text",
       [](size_t n) {
         std::string open = kHead + "<p>";
         for (int i = 0; i < 990; ++i) open += "<b>";
         return Filled(open, "word after word ", "", n);
       }},
      {"nested inline in the title", [](size_t n) { return Filled("<html><head><title>", "<b>", "t</title>", n); }},
      {"stray end tags (font)", [](size_t n) { return Filled(kHead, "<font size=2>x</p>", "", n); }},
      {"thousands of attributes", [](size_t n) { return Filled(kHead + "<p", " a=1", ">x", n); }},
      {"deep title, well-formed",
       [](size_t n) {
         size_t depth = (n - 64) / 7;
         std::string nested;
         for (size_t i = 0; i < depth; ++i) nested += "<b>";
         nested += "T";
         for (size_t i = 0; i < depth; ++i) nested += "</b>";
         return "<html><head><title>" + nested + "</title></head><body/></html>";
       }},
  };
}

// Milliseconds for one metadata read of `bytes`, freshly written.
double TimeRead(const std::string& path, const std::string& bytes, std::string& outcome) {
  vellix::fixtures::WriteFile(path, bytes);
  std::string t, a, c;
  auto start = Clock::now();
  try {
    outcome = vellix::Book().ExtractMetadata(path, t, a, c) ? "read" : "not read";
  } catch (const vellix::formats::AutomationError& e) {
    outcome = "refused (" + std::to_string(e.number()) + ")";
  }
  return MillisecondsSince(start);
}

// One run of the tool. Its peak memory is the child's own (wait4 reports
// it for that child alone; the floor is this small program's own resident
// memory).
ProcessRun RunVellix(const std::vector<std::string>& args) {
  std::vector<std::string> all = {VELLIX_TOOL};
  all.insert(all.end(), args.begin(), args.end());
  return RunProcess(all);
}

std::string Page(const std::string& head, const std::string& body) {
  return "<html><head><title>T</title>" + head + "</head><body>" + body + "</body></html>\n";
}

// A fixture made at one size in `dir`; the tool's arguments that time it.
struct EngineShape {
  const char* name;
  std::function<std::vector<std::string>(const vellix::fixtures::TempDir& dir, size_t n)> prepare;
};

std::vector<EngineShape> EngineShapes() {
  using vellix::fixtures::TempDir;
  using vellix::fixtures::WriteFile;
  return {
      {"style sheet rules (build)",
       [](const TempDir& dir, size_t n) {
         std::string sheet, body;
         for (size_t i = 0; i < n; ++i)
           sheet += ".c" + std::to_string(i) + " { margin-left: 1em; font-weight: bold }\n";
         for (size_t i = 0; i < 500; ++i) body += "<p class=\"c" + std::to_string(i * 7) + "\">Some text.</p>\n";
         WriteFile(dir / "style.css", sheet);
         WriteFile(dir / "doc.htm", Page("<link rel=\"stylesheet\" href=\"style.css\"/>", body));
         return std::vector<std::string>{"build", "--html", dir / "doc.htm", "-o", dir / "doc.imp"};
       }},
      {"combining marks (view)",
       [](const TempDir& dir, size_t n) {
         std::string marks;
         for (size_t i = 0; i < n; ++i) marks += "\xCC\x81";  // U+0301 on one letter
         WriteFile(dir / "doc.htm", Page("", "<p>a" + marks + " and some words after it.</p>"));
         RunVellix({"build", "--html", dir / "doc.htm", "-o", dir / "doc.imp"});
         return std::vector<std::string>{"view", dir / "doc.imp", "--pages"};
       }},
      {"many sources (check)",
       [](const TempDir& dir, size_t n) {
         std::string manifest, spine;
         for (size_t i = 0; i < n; ++i) {
           const std::string id = "d" + std::to_string(i);
           WriteFile(dir / (id + ".htm"), Page("", "<p><a href=\"d0.htm\">first</a></p>"));
           manifest += "<item id=\"" + id + "\" href=\"" + id + ".htm\" media-type=\"text/x-oeb1-document\"/>\n";
           spine += "<itemref idref=\"" + id + "\"/>\n";
         }
         WriteFile(dir / "many.opf",
                   "<?xml version=\"1.0\"?>\n<package unique-identifier=\"uid\"><metadata><dc-metadata "
                   "xmlns:dc=\"http://purl.org/dc/elements/1.0/\"><dc:Identifier id=\"uid\">x</dc:Identifier>"
                   "<dc:Title>Many</dc:Title></dc-metadata></metadata>\n<manifest>" +
                       manifest + "</manifest>\n<spine>" + spine + "</spine></package>\n");
         return std::vector<std::string>{"check", dir / "many.opf"};
       }},
      {"descendant rules (build)",
       [](const TempDir& dir, size_t n) {
         std::string sheet, body;
         for (size_t i = 0; i < n; ++i) sheet += "div.c" + std::to_string(i) + " p { margin-left: 1em }\n";
         for (size_t i = 0; i < n; ++i)
           body += "<div class=\"c" + std::to_string(i % 50) + "\"><p>Some text.</p></div>\n";
         WriteFile(dir / "doc.htm", Page("<style>" + sheet + "</style>", body));
         return std::vector<std::string>{"build", "--html", dir / "doc.htm", "-o", dir / "doc.imp"};
       }},
      {"a class per paragraph (build)",
       [](const TempDir& dir, size_t n) {
         std::string sheet, body;
         for (size_t i = 0; i < n; ++i) {
           const std::string k = std::to_string(i);
           sheet += ".c" + k + " { text-indent: 1em }\ndiv.d" + k + " p { margin-left: 1em }\n";
           body += "<div class=\"d" + k + "\"><p class=\"c" + k + "\">Some text.</p></div>\n";
         }
         WriteFile(dir / "doc.htm", Page("<style>" + sheet + "</style>", body));
         return std::vector<std::string>{"build", "--html", dir / "doc.htm", "-o", dir / "doc.imp"};
       }},
      {"absent spine items (epub)",
       [](const TempDir& dir, size_t n) {
         std::string items, refs;
         for (size_t i = 0; i < n; ++i) {
           const std::string id = "m" + std::to_string(i);
           items += "<item id=\"" + id + "\" href=\"" + id + ".xhtml\" media-type=\"application/xhtml+xml\"/>";
           refs += "<itemref idref=\"" + id + "\"/>";
         }
         std::vector<vellix::fixtures::ZipEntry> entries = vellix::fixtures::MinimalEpub("<p>Some text.</p>");
         entries[2].bytes =
             "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\"><metadata/><manifest>"
             "<item id=\"c\" href=\"c.xhtml\" media-type=\"application/xhtml+xml\"/>" +
             items + "</manifest><spine><itemref idref=\"c\"/>" + refs + "</spine></package>";
         vellix::fixtures::WriteZip(dir / "many.epub", entries);
         return std::vector<std::string>{"build", "--epub", dir / "many.epub", "-o", dir / "many.imp"};
       }},
  };
}

void EngineTimings(bool small, int reps) {
  std::printf("\n%-28s %9s %9s %8s %8s  %s\n", "engine", "S ms", "2S ms", "2S/S", "CPU 2S/S", "goal <= 2.5");
  const size_t scale = small ? 10 : 1;
  const size_t sizes[][2] = {{20000 / scale, 40000 / scale}, {40000 / scale, 80000 / scale},
                             {5000 / scale, 10000 / scale},  {8000 / scale, 16000 / scale},
                             {5000 / scale, 10000 / scale},  {20000 / scale, 40000 / scale}};
  std::vector<EngineShape> shapes = EngineShapes();
  for (size_t k = 0; k < shapes.size(); ++k) {
    double ms[2], cpu[2];
    int code = 0;
    for (int s = 0; s < 2; ++s) {
      vellix::fixtures::TempDir dir;
      std::vector<std::string> args = shapes[k].prepare(dir, sizes[k][s]);
      std::vector<double> runs, cpu_runs;
      for (int r = 0; r < reps; ++r) {
        ProcessRun run = RunVellix(args);
        runs.push_back(run.wall);
        cpu_runs.push_back(run.cpu);
        code = std::max(code, run.code);
      }
      ms[s] = Summarize(runs).median;
      cpu[s] = Summarize(cpu_runs).median;
    }
    std::printf("%-28s %9.1f %9.1f %8.2f %8.2f  S = %zu%s\n", shapes[k].name, ms[0], ms[1], ms[1] / ms[0],
                cpu[1] / std::max(cpu[0], 1.0), sizes[k][0], code != 0 ? " (the tool failed)" : "");
  }
}

// Peak memory of laying out a text book of `megabytes` MB of words: in
// paragraphs of about 2 KB, as a novel has them; in one paragraph; and as
// one word, the two shapes a hostile book takes.
void LayoutMemory(bool small) {
  std::printf("\n%-28s %9s %9s %8s  %s\n", "layout memory", "text MB", "peak MB", "peak/text", "goal < 20");
  enum Shape { kParagraphs, kOneParagraph, kOneWord };
  const char* const kNames[] = {"paragraphs of 2 KB", "one paragraph", "one word"};
  for (Shape shape : {kParagraphs, kOneParagraph, kOneWord}) {
    for (size_t megabytes : small ? std::vector<size_t>{1, 2} : std::vector<size_t>{5, 10}) {
      vellix::fixtures::TempDir dir;
      std::string text;
      uint32_t seed = 7;
      const char* const kWords[] = {"the",   "river", "walked", "quietly", "under",   "a",    "long", "evening",
                                    "light", "and",   "spoke",  "of",      "harbour", "many", "old",  "stories"};
      while (text.size() < megabytes * 1000000) {
        for (int w = 0; w < 350; ++w) {
          seed = seed * 1103515245 + 12345;
          text += kWords[(seed >> 16) % 16];
          if (shape != kOneWord) text += ' ';
        }
        if (shape == kParagraphs) text += "\n\n";
      }
      vellix::fixtures::WriteFile(dir / "book.txt", text);
      RunVellix({"book", "text2htm", dir / "book.txt", dir / "book.htm"});
      RunVellix({"build", "--html", dir / "book.htm", "-o", dir / "book.imp"});
      ProcessRun run = RunVellix({"view", dir / "book.imp", "--pages"});
      const double text_mb = text.size() / 1e6, peak_mb = run.peak_kib * 1024 / 1e6;
      std::printf("%-28s %9.1f %9.1f %8.1f  %.0f ms%s\n", kNames[shape], text_mb, peak_mb, peak_mb / text_mb, run.wall,
                  run.code != 0 ? " (the tool failed)" : "");
    }
  }
}

// Peak memory of adding an EPUB whose chapters each link a big style sheet
// of their own (a few kilobytes deflated), at N and 2N chapters: the book
// keeps its sheets only up to a size, so the peak hardly grows with N
// (goal: 2N/N under 1.5).
void SheetPerChapterMemory(bool small) {
  std::printf("\n%-28s %9s %9s %8s  %s\n", "sheet per chapter memory", "N", "peak MB", "2N/N", "goal < 1.5");
  double first_mb = 0;
  for (size_t chapters : small ? std::vector<size_t>{4, 8} : std::vector<size_t>{12, 24}) {
    vellix::fixtures::TempDir dir;
    std::string sheet;
    while (sheet.size() < 2000000) sheet += ".k p { margin-left: 1em; font-weight: bold }\n";
    std::vector<vellix::fixtures::ZipEntry> extra;
    std::string items, refs;
    for (size_t c = 0; c < chapters; ++c) {
      const std::string n = std::to_string(c);
      extra.push_back({"OEBPS/s" + n + ".css", sheet});
      extra.push_back({"OEBPS/c" + n + ".xhtml",
                       "<?xml version=\"1.0\"?><html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>C</title>"
                       "<link rel=\"stylesheet\" href=\"s" +
                           n + ".css\"/></head><body><p class=\"k\">Chapter " + n + ".</p></body></html>"});
      items += "<item id=\"c" + n + "\" href=\"c" + n + ".xhtml\" media-type=\"application/xhtml+xml\"/><item id=\"s" +
               n + "\" href=\"s" + n + ".css\" media-type=\"text/css\"/>";
      refs += "<itemref idref=\"c" + n + "\"/>";
    }
    std::vector<vellix::fixtures::ZipEntry> entries = vellix::fixtures::MinimalEpub("<p>Start.</p>", extra);
    entries[2].bytes =
        "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\"><metadata/><manifest>"
        "<item id=\"c\" href=\"c.xhtml\" media-type=\"application/xhtml+xml\"/>" +
        items + "</manifest><spine><itemref idref=\"c\"/>" + refs + "</spine></package>";
    vellix::fixtures::WriteZip(dir / "sheets.epub", entries);
    std::filesystem::create_directory(dir / "shelf");
    ProcessRun run = RunVellix({"shelf", "add", dir / "shelf", dir / "sheets.epub"});
    const double peak_mb = run.peak_kib * 1024 / 1e6;
    if (first_mb == 0) first_mb = peak_mb;
    std::printf("%-28s %9zu %9.1f %8.2f  %.0f ms%s\n", "2 MB sheet each", chapters, peak_mb, peak_mb / first_mb,
                run.wall, run.code != 0 ? " (the tool failed)" : "");
  }
}

// Peak memory of publishing Markdown lists nested on every line ("- - - x"),
// the shape that makes the most elements of the fewest bytes, against its
// size (goal: under 20 times).
void NestedListMemory(bool small) {
  std::printf("\n%-28s %9s %9s %8s  %s\n", "nested lists memory", "text MB", "peak MB", "peak/text", "goal < 20");
  for (size_t megabytes : small ? std::vector<size_t>{1} : std::vector<size_t>{2, 4}) {
    vellix::fixtures::TempDir dir;
    std::string line;
    for (int i = 0; i < 500; ++i) line += "- ";
    line += "x\n";
    std::string text;
    while (text.size() < megabytes * 1000000) text += line;
    vellix::fixtures::WriteFile(dir / "lists.md", text);
    std::filesystem::create_directory(dir / "shelf");
    ProcessRun run = RunVellix({"shelf", "add", dir / "shelf", dir / "lists.md"});
    const double text_mb = text.size() / 1e6, peak_mb = run.peak_kib * 1024 / 1e6;
    std::printf("%-28s %9.1f %9.1f %8.1f  %.0f ms%s\n", "- - - x on every line", text_mb, peak_mb, peak_mb / text_mb,
                run.wall, run.code != 0 ? " (the tool failed)" : "");
  }
}

// Peak memory of adding an EPUB whose one chapter is paragraphs of tiny
// inline elements ("<b>a</b><i>b</i><span>c</span>..."), the shape that
// makes the most runs and tree nodes of the fewest bytes, at N and 2N MB of
// XHTML, with the peak per megabyte of XHTML. Below the book's budget of
// runs the cost grows with the elements (2N/N about 2); past it only the
// document's tree does.
void TinyInlineMemory(bool small) {
  std::printf("\n%-28s %9s %9s %8s %9s\n", "tiny inline elements memory", "XHTML MB", "peak MB", "2N/N", "peak/XHTML");
  double first_mb = 0;
  for (size_t megabytes : small ? std::vector<size_t>{2, 4} : std::vector<size_t>{8, 16}) {
    vellix::fixtures::TempDir dir;
    std::string paragraph = "<p>";
    for (int i = 0; i < 200; ++i) paragraph += "<b>a</b><i>b</i><span>c</span>";
    paragraph += "</p>\n";
    std::string chapter;
    while (chapter.size() < megabytes * 1000000) chapter += paragraph;
    vellix::fixtures::WriteZip(dir / "tiny.epub", vellix::fixtures::MinimalEpub(chapter));
    std::filesystem::create_directory(dir / "shelf");
    ProcessRun run = RunVellix({"shelf", "add", dir / "shelf", dir / "tiny.epub"});
    const double xhtml_mb = chapter.size() / 1e6, peak_mb = run.peak_kib * 1024 / 1e6;
    if (first_mb == 0) first_mb = peak_mb;
    std::printf("%-28s %9.1f %9.1f %8.2f %9.1f  %.0f ms%s\n", "b, i, span of one letter", xhtml_mb, peak_mb,
                peak_mb / first_mb, peak_mb / xhtml_mb, run.wall, run.code != 0 ? " (the tool failed)" : "");
  }
}

}  // namespace

int main(int argc, char** argv) {
  RunOptions options;
  if (!ReadRunOptions(argc, argv, "document-bench", options)) return 2;
  const bool small = options.small;
  const int reps = options.reps;
  const std::vector<size_t> sizes =
      small ? std::vector<size_t>{10000, 20000, 40000} : std::vector<size_t>{100000, 200000, 400000};
  vellix::fixtures::TempDir dir;
  const std::string path = dir / "doc.htm";

  std::printf("%-28s %9s %9s %9s %8s %8s %9s  %s\n", "document", "S ms", "2S ms", "4S ms", "2S/S", "4S/2S", "vs plain",
              "outcome");
  double plain_largest = 0;
  for (const Shape& shape : Shapes()) {
    std::vector<double> ms;
    std::string outcome;
    for (size_t size : sizes) {
      std::string bytes = shape.make(size);
      std::vector<double> runs;
      for (int r = 0; r < reps; ++r) runs.push_back(TimeRead(path, bytes, outcome));
      ms.push_back(Summarize(runs).median);
    }
    if (plain_largest == 0) plain_largest = ms[2];
    std::printf("%-28s %9.2f %9.2f %9.2f %8.2f %8.2f %9.2f  %s\n", shape.name, ms[0], ms[1], ms[2], ms[1] / ms[0],
                ms[2] / ms[1], ms[2] / plain_largest, outcome.c_str());
  }
  EngineTimings(small, small ? 1 : 3);
  LayoutMemory(small);
  NestedListMemory(small);
  SheetPerChapterMemory(small);
  TinyInlineMemory(small);
  return 0;
}
