// document-bench: reading the metadata of hostile documents takes time in
// proportion to their size.
//
//   document-bench [--small] [--reps N]
//
// Each shape is written at three sizes (100, 200 and 400 KB; 10, 20 and
// 40 KB with --small) and read with Book::ExtractMetadata, which cleans up
// or refuses what is not well-formed. Each figure is the median of the
// repetitions (the file is rewritten before each, as the clean-up replaces
// it). Printed: milliseconds, the ratios 200/100 and 400/200 (about 2 when
// the time is linear), and the 400 KB time against a plain well-formed
// document of the same size, read in the same run. The exit status reports
// only whether the benchmark ran, never whether the time was linear.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "book_maker.h"
#include "test_util.h"
#include "vellix/book.h"
#include "vellix/error.h"

namespace {

using Clock = std::chrono::steady_clock;

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

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Milliseconds for one metadata read of `bytes`, freshly written.
double TimeRead(const std::string& path, const std::string& bytes, std::string& outcome) {
  vellix::fixtures::WriteFile(path, bytes);
  std::string t, a, c;
  auto start = Clock::now();
  try {
    outcome = vellix::Book().ExtractMetadata(path, t, a, c) ? "read" : "not read";
  } catch (const vellix::AutomationError& e) {
    outcome = "refused (" + std::to_string(e.number()) + ")";
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  bool small = false;
  int reps = 0;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--small") {
      small = true;
    } else if (arg == "--reps" && i + 1 < argc) {
      reps = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: document-bench [--small] [--reps N]\n");
      return 2;
    }
  }
  if (reps <= 0) reps = small ? 1 : 5;
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
      ms.push_back(Median(runs));
    }
    if (plain_largest == 0) plain_largest = ms[2];
    std::printf("%-28s %9.2f %9.2f %9.2f %8.2f %8.2f %9.2f  %s\n", shape.name, ms[0], ms[1], ms[2], ms[1] / ms[0],
                ms[2] / ms[1], ms[2] / plain_largest, outcome.c_str());
  }
  return 0;
}
