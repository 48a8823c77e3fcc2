// vellix-bench's view and proof benchmarks: a published book drawn page by
// page against mutool, the first page of a large book, and search.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_fixtures.h"
#include "benchmarks.h"
#include "book_maker.h"
#include "harness.h"
#include "ikutil/book_viewer.h"
#include "page_layout.h"
#include "page_png.h"

namespace fx = vellix::fixtures;

namespace vellix::bench {
namespace {

// Files in `folder` (not counting folders).
size_t CountFiles(const std::string& folder) {
  size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.is_regular_file()) ++n;
  return n;
}

}  // namespace

// A published book shown as the device shows it: every page drawn to PNG
// files and the page count, each against mutool's layout of the same
// document at the same page size and body text size; then, in this
// process, how long a reader waits for the first page, a zoom and the next
// page; and the peak memory of drawing every page.
void BenchView(size_t bytes, int reps, bool with_peer) {
  ScratchFolder scratch("view");
  const std::string txt = scratch / "book.txt";
  MakeText(txt, bytes);
  PublishText(txt, scratch.path());
  const std::string book = scratch / "out/BOOK.imp";
  // mutool picks the document type by the file's extension.
  const std::string xhtml = scratch / "book.xhtml";
  std::filesystem::copy_file(scratch / "book.htm", xhtml);
  const double mb = static_cast<double>(std::filesystem::file_size(xhtml)) / 1e6;
  const std::string tool = ToolPath();
  const int32_t body = ikutil::typeset::BodyPixelSize({480, 640, false});

  int run = 0;
  auto fresh = [&](const char* road) {
    std::string folder = scratch / (std::string(road) + "-" + std::to_string(run++));
    std::filesystem::create_directory(folder);
    return folder;
  };
  size_t our_pages = 0, peer_pages = 0;
  auto draw_ours = [&] {
    std::string folder = fresh("vellix");
    RunTimes t = Spawn({tool, "view", book, "--all", folder, "--width", "480", "--height", "640", "--depth", "4"});
    our_pages = CountFiles(folder);
    std::filesystem::remove_all(folder);
    return t;
  };
  const char* peer = "/usr/bin/mutool";
  const bool peer_runs = with_peer && ::access(peer, X_OK) == 0;
  auto draw_peer = [&] {
    std::string folder = fresh("mutool");
    RunTimes t = Spawn({peer, "draw", "-q", "-r", "72", "-W", "480", "-H", "640", "-S", std::to_string(body), "-c",
                        "gray", "-o", folder + "/p%d.png", xhtml});
    peer_pages = CountFiles(folder);
    std::filesystem::remove_all(folder);
    return t;
  };
  auto count_ours = [&] { return Spawn({tool, "view", book, "--pages", "--width", "480", "--height", "640"}); };
  auto count_peer = [&] {
    return Spawn({peer, "draw", "-q", "-r", "72", "-W", "480", "-H", "640", "-S", std::to_string(body), "-F", "txt",
                  "-o", "/dev/null", xhtml});
  };

  if (!peer_runs) {
    RunTimes drawn = draw_ours();
    RunTimes counted = count_ours();
    std::printf("view: %.1f MB document, %zu pages  draw every page %.1f ms  count pages %.1f ms\n", mb, our_pages,
                drawn.wall, counted.wall);
    if (with_peer) std::printf("      (mutool not installed: no comparison; apt-get install mupdf-tools)\n");
  } else {
    Comparison draw = Compare(reps, draw_ours, draw_peer);
    std::printf(
        "view: draw every page to PNG, %.1f MB document at 480x640  vellix %.1f ms (%zu pages, depth 4)  mutool %.1f "
        "ms "
        "(%zu pages, grey)  %.1fx faster (goal >= 2) %s\n",
        mb, draw.Subject().median, our_pages, draw.Baseline().median, peer_pages, 1 / draw.Ratio(),
        Verdict(1 / draw.Ratio() >= 2));
    std::printf("      %s\n", draw.Details("vellix", "mutool").c_str());
    // Page counts differ (the typesetters differ): per page is the fair ratio.
    const double ours_per_page = draw.Subject().median / static_cast<double>(std::max<size_t>(1, our_pages));
    const double peer_per_page = draw.Baseline().median / static_cast<double>(std::max<size_t>(1, peer_pages));
    std::printf("view: draw per page  vellix %.2f ms  mutool %.2f ms  ratio %.2f (goal <= 0.25) %s\n", ours_per_page,
                peer_per_page, ours_per_page / peer_per_page, Verdict(ours_per_page / peer_per_page <= 0.25));
    // In CPU time (ours on every core, mutool on one), steadier on a
    // shared machine than the clock.
    const double page_ratio =
        static_cast<double>(std::max<size_t>(1, peer_pages)) / static_cast<double>(std::max<size_t>(1, our_pages));
    std::printf("      per page in cpu time  vellix %.2f ms  mutool %.2f ms  ratio %.2f\n",
                Summarize(draw.subject_cpu).median / static_cast<double>(std::max<size_t>(1, our_pages)),
                Summarize(draw.baseline_cpu).median / static_cast<double>(std::max<size_t>(1, peer_pages)),
                Summarize(draw.subject_cpu).median / Summarize(draw.baseline_cpu).median * page_ratio);
    Comparison count = Compare(reps, count_ours, count_peer);
    std::printf("view: lay out only (page count)  vellix %.1f ms  mutool -F txt %.1f ms  %.1fx faster (goal >= 2) %s\n",
                count.Subject().median, count.Baseline().median, 1 / count.Ratio(), Verdict(1 / count.Ratio() >= 2));
    std::printf("      %s\n", count.Details("vellix", "mutool").c_str());
  }

  // What a reader waits for, in this process.
  std::vector<double> open, zoom, next;
  for (int r = 0; r < reps; ++r) {
    ikutil::CBookViewer viewer(book);
    ikutil::PageImage image;
    auto start = Clock::now();
    if (!viewer.Create(nullptr, 0, 1, 480, 640, 4) || !viewer.GetPageImage(1, &image))
      Fail("the viewer cannot show " + book + ": " + viewer.LastErrorMessage());
    open.push_back(MillisecondsSince(start));
    viewer.GotoPage(std::max(1, static_cast<int>(our_pages / 2)));
    start = Clock::now();
    viewer.HandleChar('n');
    viewer.GetPageImage(viewer.CurrentPage(), &image);
    next.push_back(MillisecondsSince(start));
    start = Clock::now();
    viewer.ToggleZoom();
    viewer.GetPageImage(viewer.CurrentPage(), &image);
    zoom.push_back(MillisecondsSince(start));
  }
  std::printf("view: open to first page %.1f ms (goal <= 50) %s  next page %.2f ms  zoom from the middle %.1f ms\n",
              Summarize(open).median, Verdict(Summarize(open).median <= 50), Summarize(next).median,
              Summarize(zoom).median);

  // How page images are packed: zlib's levels and strategies against our
  // own packing, measured on a page of this book: the figures behind the
  // choice SavePageImagePng makes.
  {
    ikutil::CBookViewer viewer(book);
    ikutil::PageImage image;
    if (!viewer.Create(nullptr, 0, 1, 480, 640, 4) ||
        !viewer.GetPageImage(std::max(1, static_cast<int>(our_pages / 2)), &image))
      Fail("the viewer cannot draw a page of " + book);
    struct Choice {
      const char* name;
      ikutil::PngOptions options;
    };
    const Choice choices[] = {{"zlib level 6, default strategy", {false, 6, Z_DEFAULT_STRATEGY, false}},
                              {"zlib level 6, filtered, up filter", {false, 6, Z_FILTERED, true}},
                              {"zlib level 1, default strategy", {false, 1, Z_DEFAULT_STRATEGY, false}},
                              {"zlib level 1, run lengths", {false, 1, Z_RLE, false}},
                              {"zlib level 1, run lengths, up filter", {false, 1, Z_RLE, true}},
                              {"zlib Huffman only", {false, 1, Z_HUFFMAN_ONLY, false}},
                              {"own rows and runs (chosen)", {}}};
    std::printf("view: page PNG encoding (480x640, depth 4), median of %d\n", std::max(reps, 5) * 10);
    for (const Choice& choice : choices) {
      std::vector<double> times;
      std::string png;
      for (int r = 0; r < std::max(reps, 5) * 10; ++r) {
        const auto start = Clock::now();
        if (!ikutil::EncodeGreyPng(image, choice.options, &png)) Fail("a page image did not encode");
        times.push_back(MillisecondsSince(start));
      }
      std::printf("      %-38s %.3f ms  %zu bytes\n", choice.name, Summarize(times).median, png.size());
    }
  }

  std::vector<double> peaks;
  for (int r = 0; r < std::min(reps, 3); ++r) {
    std::string folder = fresh("memory");
    peaks.push_back(static_cast<double>(
        PeakKiBOf(scratch.path(), {tool, "view", book, "--all", folder, "--width", "480", "--height", "640"})));
    std::filesystem::remove_all(folder);
  }
  std::printf("view memory: drawing every page of a %.1f MB document  peak %.1f MiB\n", mb,
              Summarize(peaks).median / 1024.0);
}

// --- proof ----------------------------------------------------------------

namespace {

// CPU time of the calling thread: steadier than the clock on a busy machine.
double ThreadCpuMilliseconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

}  // namespace

// Proofing a large book: the first page of a book of `open_bytes` of text,
// opened cold in this process, against the same for a tenth of the text
// (opening reads only what the first page needs, so about 1) and against
// reading the whole edition, which opening took before it was lazy; then a
// search from the first page of a book of about `pages` pages for a phrase
// on its last page.
void BenchProof(size_t open_bytes, int32_t pages, int reps) {
  ScratchFolder scratch("proof");
  {
    auto publish = [&](const char* name, size_t bytes) {
      const std::string folder = scratch / name;
      std::filesystem::create_directory(folder);
      const std::string txt = folder + "/book.txt";
      MakeText(txt, bytes);
      PublishText(txt, folder);
      return folder + "/out/BOOK.imp";
    };
    const std::string book = publish("large", open_bytes), tenth = publish("tenth", open_bytes / 10);
    std::vector<double> open, open_cpu, small, small_cpu, whole, whole_cpu;
    auto first_page = [&](const std::string& path, std::vector<double>& wall, std::vector<double>& cpu_ms) {
      ikutil::CBookViewer viewer(path);
      ikutil::PageImage image;
      const auto start = Clock::now();
      const double cpu = ThreadCpuMilliseconds();
      if (!viewer.Create(nullptr, 0, 1, 480, 640, 4) || !viewer.GetPageImage(1, &image))
        Fail("the viewer cannot show " + path + ": " + viewer.LastErrorMessage());
      wall.push_back(MillisecondsSince(start));
      cpu_ms.push_back(ThreadCpuMilliseconds() - cpu);
    };
    // One untimed opening loads the fonts and the hyphenation patterns,
    // which every later one shares; the two books take turns going first.
    std::vector<double> warm, warm_cpu;
    first_page(tenth, warm, warm_cpu);
    for (int r = 0; r < reps; ++r) {
      if (r % 2 == 0) first_page(book, open, open_cpu);
      first_page(tenth, small, small_cpu);
      if (r % 2 == 1) first_page(book, open, open_cpu);
    }
    for (int r = 0; r < reps; ++r) {
      const auto start = Clock::now();
      const double cpu = ThreadCpuMilliseconds();
      if (ikutil::ReadDeviceEdition(book).error != ikutil::EditionError::kNone) Fail("cannot read " + book);
      whole.push_back(MillisecondsSince(start));
      whole_cpu.push_back(ThreadCpuMilliseconds() - cpu);
    }
    const Stats o = Summarize(open), t = Summarize(small), w = Summarize(whole);
    std::printf("proof: first page of a book of %.1f MB text (%.1f MB file)  %.1f ms (goal <= 50) %s  cpu %.1f ms\n",
                static_cast<double>(open_bytes) / 1e6, static_cast<double>(std::filesystem::file_size(book)) / 1e6,
                o.median, Verdict(o.median <= 50), Summarize(open_cpu).median);
    std::printf("      %d runs; %s; of %.1f MB text %.1f ms (cpu %.1f): %.1f MB / %.1f MB %.2f (about 1), cpu %.2f\n",
                reps, Spread(o).c_str(), static_cast<double>(open_bytes) / 1e7, t.median, Summarize(small_cpu).median,
                static_cast<double>(open_bytes) / 1e6, static_cast<double>(open_bytes) / 1e7, o.median / t.median,
                Summarize(open_cpu).median / Summarize(small_cpu).median);
    std::printf("      reading the whole edition %.1f ms (cpu %.1f): first page / whole read %.2f, cpu %.2f\n",
                w.median, Summarize(whole_cpu).median, o.median / w.median,
                Summarize(open_cpu).median / Summarize(whole_cpu).median);
  }

  // About 900 bytes of this text fill a page at 480x640.
  std::filesystem::create_directory(scratch / "find");
  const std::string txt = scratch / "find/long.txt";
  MakeText(txt, static_cast<size_t>(pages) * 900);
  std::string text = fx::ReadFile(txt);
  text += "\n\nAt the very end the harbour master found the lost key.\n";
  WriteWholeFile(txt, text);
  PublishText(txt, scratch / "find");
  const std::string book = scratch / "find/out/BOOK.imp";
  std::vector<double> find, find_cpu;
  int32_t found = 0, count = 0;
  for (int r = 0; r < reps; ++r) {
    ikutil::CBookViewer viewer(book);
    if (!viewer.Create(nullptr, 0, 1, 480, 640, 4)) Fail("the viewer cannot show " + book);
    const auto start = Clock::now();
    const double cpu = ThreadCpuMilliseconds();
    found = viewer.Find("harbour MASTER found", 1).page;
    find.push_back(MillisecondsSince(start));
    find_cpu.push_back(ThreadCpuMilliseconds() - cpu);
    count = viewer.PageCount();
  }
  if (found != count) Fail("the search did not find the phrase on the last page");
  std::printf("proof: find from page 1 to a hit on page %d of %d  %.1f ms (goal <= 500) %s  cpu %.1f ms\n", found,
              count, Summarize(find).median, Verdict(Summarize(find).median <= 500), Summarize(find_cpu).median);
  std::printf("      %d runs; %s (the search reads and lays out the book as far as the hit)\n", reps,
              Spread(Summarize(find)).c_str());
}

}  // namespace vellix::bench
