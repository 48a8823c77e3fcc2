// epub-bench: EPUB and Markdown publishing against another converter, peak
// memory, and the EPUB export, all measured in the same run.
//
//   epub-bench [--small] [--reps N] [--epub-only]
//   epub-bench --make FOLDER     (only writes the EPUB and the text, to profile)
//
// It makes, in a fresh folder: an EPUB of about 1 MB (chapters of prose
// with grey pictures), a Markdown text of about 1 MB (headings, lists,
// tables, code), and from the EPUB a device book. Then it times, as whole
// processes (posix_spawn, the child's own clock and peak memory from
// wait4):
//   - `vellix build --epub` against `ebook-convert same.epub out.epub`
//     (goal: at least 20 times faster), and its peak memory against the
//     EPUB's size (goal: under 10 times; the tool's own start-up, measured
//     with `vellix --version`, is printed beside it);
//   - `vellix shelf add` of the Markdown against `ebook-convert same.md
//     out.epub` (goal: at least 20 times faster);
//   - `vellix export` of the device book to EPUB (goal: under 0.5 s).
// The converter is installed by bench/install_calibre.sh; without it the
// comparisons say so and only our own figures are printed. The exit status
// says only whether everything ran, never whether a goal was met.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "book_maker.h"
#include "epub_maker.h"
#include "harness.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;
using namespace vellix::fixtures;
using vellix::bench::ProcessRun;
using vellix::bench::RunProcess;
using vellix::bench::Summarize;

// The median of `reps` runs of `make_args()` (called before each run, so
// a run can be given a fresh output), and the largest peak memory. The
// CPU time is the child's own user and system time, steadier on a busy
// machine.
struct Timing {
  bool ok = true;
  double seconds = 0;
  double cpu = 0;  // seconds
  long peak_kib = 0;
};
template <typename MakeArgs>
Timing Time(int reps, MakeArgs make_args) {
  Timing t;
  std::vector<double> times, cpus;
  for (int i = 0; i < reps; ++i) {
    ProcessRun run = RunProcess(make_args(i));
    t.ok = t.ok && run.ok();
    times.push_back(run.wall / 1e3);
    cpus.push_back(run.cpu / 1e3);
    t.peak_kib = std::max(t.peak_kib, run.peak_kib);
  }
  t.seconds = Summarize(times).median;
  t.cpu = Summarize(cpus).median;
  return t;
}

// A grey picture of noise, which no compressor shrinks much.
std::string NoisePng(int side, std::mt19937& random) {
  std::string raw;
  for (int y = 0; y < side; ++y) {
    raw += '\0';
    for (int x = 0; x < side; ++x) raw += static_cast<char>(random() & 0xFF);
  }
  return GreyPng(static_cast<uint32_t>(side), static_cast<uint32_t>(side), raw);
}

const char* const kWords[] = {"river", "walk", "stone", "bridge", "morning", "light", "water", "path",
                              "old",   "mill", "green", "field",  "quiet",   "the",   "a",     "over"};

std::string Sentence(std::mt19937& random, int words) {
  std::string s;
  for (int i = 0; i < words; ++i) {
    if (i) s += ' ';
    s += kWords[random() % 16];
  }
  s[0] = static_cast<char>(s[0] - 'a' + 'A');
  return s + ".";
}

std::string Page(const std::string& title, const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\">"
         "<head><title>" +
         title + "</title></head><body>" + body + "</body></html>\n";
}

// An EPUB 3 book of about `bytes` bytes: chapters of paragraphs, each with
// a picture.
void MakeEpub(const std::string& path, size_t bytes) {
  std::mt19937 random(7);
  std::vector<ZipEntry> entries = {{"mimetype", "application/epub+zip"},
                                   {"META-INF/container.xml",
                                    "<?xml version=\"1.0\"?><container version=\"1.0\" "
                                    "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles>"
                                    "<rootfile full-path=\"OEBPS/content.opf\" "
                                    "media-type=\"application/oebps-package+xml\"/></rootfiles></container>"}};
  std::string manifest, spine, nav;
  size_t size = 0;
  for (int chapter = 1; size < bytes; ++chapter) {
    std::string body = "<h1>Chapter " + std::to_string(chapter) + "</h1><p><img src=\"p" + std::to_string(chapter) +
                       ".png\" alt=\"Picture\"/></p>";
    for (int p = 0; p < 60; ++p) body += "<p>" + Sentence(random, 60) + "</p>\n";
    std::string name = "c" + std::to_string(chapter);
    entries.push_back({"OEBPS/" + name + ".xhtml", Page("Chapter", body)});
    entries.push_back({"OEBPS/p" + std::to_string(chapter) + ".png", NoisePng(160, random)});
    manifest += "<item id=\"" + name + "\" href=\"" + name + ".xhtml\" media-type=\"application/xhtml+xml\"/>" +
                "<item id=\"p" + std::to_string(chapter) + "\" href=\"p" + std::to_string(chapter) +
                ".png\" media-type=\"image/png\"/>";
    spine += "<itemref idref=\"" + name + "\"/>";
    nav += "<li><a href=\"" + name + ".xhtml\">Chapter " + std::to_string(chapter) + "</a></li>";
    size += entries.back().bytes.size() + entries[entries.size() - 2].bytes.size() / 3;
  }
  entries.push_back({"OEBPS/nav.xhtml",
                     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" "
                     "xmlns:epub=\"http://www.idpf.org/2007/ops\"><head><title>Contents</title></head><body>"
                     "<nav epub:type=\"toc\"><ol>" +
                         nav + "</ol></nav></body></html>"});
  entries.push_back({"OEBPS/content.opf",
                     "<?xml version=\"1.0\"?><package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" "
                     "unique-identifier=\"id\"><metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
                     "<dc:identifier id=\"id\">urn:uuid:00000000-0000-4000-8000-0000000000b1</dc:identifier>"
                     "<dc:title>The Long Walk</dc:title><dc:creator>A. Walker</dc:creator><dc:language>en"
                     "</dc:language><meta property=\"dcterms:modified\">2026-01-01T00:00:00Z</meta></metadata>"
                     "<manifest><item id=\"nav\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" "
                     "properties=\"nav\"/>" +
                         manifest + "</manifest><spine>" + spine + "</spine></package>"});
  WriteZip(path, entries);
}

std::string MakeMarkdown(size_t bytes) {
  std::mt19937 random(11);
  std::string md = "% A Long Text\n\n";
  for (int section = 1; md.size() < bytes; ++section) {
    md += "# Section " + std::to_string(section) + "\n\n";
    for (int p = 0; p < 8; ++p) md += Sentence(random, 50) + " *" + kWords[random() % 16] + "* and `code`.\n\n";
    md += "- " + Sentence(random, 6) + "\n- " + Sentence(random, 6) + "\n\n";
    md += "| Name | Length |\n|------|--------|\n| " + std::string(kWords[random() % 16]) + " | 3 km |\n\n";
    md += "```\nkeep  this\n```\n\n";
  }
  return md;
}

double FileMiB(const std::string& path) { return static_cast<double>(fs::file_size(path)) / (1 << 20); }

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  bool small = false;
  bool markdown_converter = true;
  int reps = 5;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--small") {
      small = true;
    } else if (a == "--make" && i + 1 < argc) {
      // Only writes the EPUB and the Markdown text into a folder, for profiling.
      std::string folder = argv[++i];
      fs::create_directories(folder);
      MakeEpub(folder + "/book.epub", 1 << 20);
      WriteFile(folder + "/text.md", MakeMarkdown(1 << 20));
      return 0;
    } else if (a == "--epub-only") {
      markdown_converter = false;  // the converter takes minutes over the Markdown text
    } else if (a == "--reps" && i + 1 < argc) {
      reps = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: epub-bench [--small] [--reps N] [--epub-only] | --make FOLDER\n");
      return 2;
    }
  }
  if (small) reps = 1;
  const size_t bytes = small ? 64 * 1024 : 1 << 20;
  const std::string tool = VELLIX_TOOL;
  TempDir dir;
  const std::string epub = dir / "book.epub", md = dir / "text.md", book = dir / "book.imp";
  MakeEpub(epub, bytes);
  dir.Write("text.md", MakeMarkdown(bytes));
  fs::create_directory(dir / "shelf");
  // The smoke run only checks that our side runs.
  bool converter = !small && RunProcess({"ebook-convert", "--version"}).ok();
  // The converter takes seconds a run: one run is enough for a ratio of 20.
  int converter_reps = 1;
  bool ran = true;

  std::printf("EPUB %.2f MiB, Markdown %.2f MiB; %d repetitions (the converter %d)\n", FileMiB(epub), FileMiB(md), reps,
              converter_reps);
  Timing start = Time(reps, [&](int) { return std::vector<std::string>{tool, "--version"}; });
  Timing ours = Time(reps, [&](int) { return std::vector<std::string>{tool, "build", "--epub", epub, "-o", book}; });
  ran = ran && ours.ok;
  std::printf("\nepub: vellix build --epub        %8.3f s, peak %6.1f MiB (%.1f x the EPUB; start-up alone %.1f MiB)\n",
              ours.seconds, ours.peak_kib / 1024.0, ours.peak_kib / 1024.0 / FileMiB(epub), start.peak_kib / 1024.0);
  std::printf("      memory above start-up: %.1f x the EPUB (goal: under 10)\n",
              (ours.peak_kib - start.peak_kib) / 1024.0 / FileMiB(epub));
  if (converter) {
    Timing theirs = Time(converter_reps, [&](int i) {
      return std::vector<std::string>{"ebook-convert", epub, dir / ("out" + std::to_string(i) + ".epub")};
    });
    std::printf(
        "      ebook-convert same.epub out.epub %8.3f s (CPU %.3f s, ours %.3f s)\n"
        "      ratio %.1f x faster (goal: at least 20); in CPU time %.1f x\n",
        theirs.seconds, theirs.cpu, ours.cpu, theirs.seconds / ours.seconds, theirs.cpu / std::max(ours.cpu, 1e-3));
    ran = ran && theirs.ok;
  } else {
    std::printf("      %s\n", small ? "no comparison in the smoke run"
                                    : "ebook-convert is not installed (bench/install_calibre.sh); no comparison");
  }

  Timing md_ours = Time(reps, [&](int i) {
    std::string shelf = dir / ("shelf" + std::to_string(i));
    fs::create_directory(shelf);
    return std::vector<std::string>{tool, "shelf", "add", shelf, md};
  });
  ran = ran && md_ours.ok;
  std::printf("\nmarkdown: vellix shelf add        %8.3f s, peak %6.1f MiB\n", md_ours.seconds,
              md_ours.peak_kib / 1024.0);
  if (converter && markdown_converter) {
    Timing theirs = Time(converter_reps, [&](int i) {
      return std::vector<std::string>{"ebook-convert", md, dir / ("md" + std::to_string(i) + ".epub")};
    });
    std::printf(
        "      ebook-convert same.md out.epub %8.3f s (CPU %.3f s, ours %.3f s)\n"
        "      ratio %.1f x faster (goal: at least 20); in CPU time %.1f x\n",
        theirs.seconds, theirs.cpu, md_ours.cpu, theirs.seconds / md_ours.seconds,
        theirs.cpu / std::max(md_ours.cpu, 1e-3));
    ran = ran && theirs.ok;
  } else {
    std::printf("      %s\n", small ? "no comparison in the smoke run"
                              : !markdown_converter
                                  ? "not compared (--epub-only)"
                                  : "ebook-convert is not installed (bench/install_calibre.sh); no comparison");
  }

  Timing exported = Time(reps, [&](int i) {
    return std::vector<std::string>{tool, "export", book, "-o", dir / ("export" + std::to_string(i) + ".epub")};
  });
  ran = ran && exported.ok;
  std::printf(
      "\nexport: vellix export (book %.2f MiB) %8.3f s (goal: under 0.5 s; CPU %.3f s), start-up alone %.3f s\n",
      FileMiB(book), exported.seconds, exported.cpu, start.seconds);
  return ran ? 0 : 1;
}
