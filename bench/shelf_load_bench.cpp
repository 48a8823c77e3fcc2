// vellix-bench's `load` and `sort`: a folder of book files loaded as a
// shelf (and its text, its book list and the tool's listing and export)
// against a plain scan of the same files, and the shelf's sort order against
// std::stable_sort of the same keys.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "bench_fixtures.h"
#include "benchmarks.h"
#include "harness.h"
#include "sort.h"
#include "vellix/book.h"
#include "vellix/booklist.h"
#include "vellix/bookshelf.h"

namespace vellix::bench {

// --- load ---------------------------------------------------------------

// What any loader must do at the least.
size_t PosixScan(const std::string& folder, uint64_t& checksum) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) Fail("cannot list " + folder);
  size_t files = 0;
  char buffer[48 + 32768];
  while (dirent* entry = ::readdir(dir)) {
    if (entry->d_type != DT_REG) continue;
    std::string path = folder + "/" + entry->d_name;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) Fail("cannot open " + path);
    if (::read(fd, buffer, 24) != 24) Fail("short header in " + path);
    size_t length = (static_cast<unsigned char>(buffer[22]) << 8) | static_cast<unsigned char>(buffer[23]);
    ssize_t n = ::read(fd, buffer + 24, 24 + length);
    if (n < 0) Fail("cannot read " + path);
    checksum += static_cast<unsigned char>(buffer[48]) + static_cast<uint64_t>(n);
    ::close(fd);
    ++files;
  }
  ::closedir(dir);
  return files;
}

void BenchLoad(size_t count, int reps) {
  ScratchFolder scratch("load");
  const std::string shelf = scratch / "shelf";
  MakeShelf(shelf, count);

  // Warm the page and directory caches; neither pass is timed.
  uint64_t checksum = 0;
  if (PosixScan(shelf, checksum) != count) Fail("load: baseline saw the wrong number of files");
  {
    vellix::Bookshelf warm;
    warm.Load(shelf);
    if (!warm.Books() || static_cast<size_t>(warm.Books()->Count()) != count)
      Fail("load: the bookshelf holds the wrong number of books");
  }

  // Every comparison below runs its own baseline in the same loop.
  auto posix_scan = [&] {
    size_t seen = 0;
    RunTimes t = Timed([&] { seen = PosixScan(shelf, checksum); });
    if (seen != count) Fail("load: baseline saw the wrong number of files");
    return t;
  };
  Comparison load = Compare(
      reps,
      [&] {
        vellix::Bookshelf bookshelf;
        RunTimes t = Timed([&] { bookshelf.Load(shelf); });
        if (static_cast<size_t>(bookshelf.Books()->Count()) != count)
          Fail("load: the bookshelf holds the wrong number of books");
        return t;
      },
      posix_scan);
  Comparison text = Compare(
      reps,
      [&] {
        vellix::Bookshelf bookshelf;
        std::string out;
        RunTimes t = Timed([&] {
          bookshelf.SetDirectory(shelf);
          out = bookshelf.BookshelfText();
        });
        if (out.size() < count) Fail("text: the bookshelf text is too short");
        return t;
      },
      posix_scan);
  const std::string list_path = scratch / "List.htm";
  Comparison list = Compare(
      reps,
      [&] {
        vellix::Bookshelf bookshelf;
        return Timed([&] {
          bookshelf.Load(shelf);
          bookshelf.CreateBooklist(list_path);
        });
      },
      posix_scan);

  // The tool as users run it, each run a process of its own, against the
  // same scan run as a process of its own.
  const std::string tool = ToolPath(), self = SelfPath();
  auto scan_process = [&] { return Spawn({self, "--scan", shelf}); };
  Comparison tool_list = Compare(
      reps,
      [&] {
        return Spawn({tool, "shelf", "list", shelf, "--sorted", "--json"});
      },
      scan_process);
  Comparison tool_export = Compare(
      reps,
      [&] {
        return Spawn({tool, "shelf", "export", shelf, "-o", scratch / "Export.htm"});
      },
      scan_process);

  double ratio = load.Ratio();
  std::printf("load: %zu book files  vellix %.1f ms  posix %.1f ms  ratio %.2f (goal <= 1.5) %s\n", count,
              load.Subject().median, load.Baseline().median, ratio, Verdict(ratio <= 1.5));
  std::printf("      %s\n", load.Details("vellix", "posix").c_str());
  std::printf("text: %zu book files  bookshelf text %.1f ms  posix load %.1f ms  ratio %.2f (goal <= 2) %s\n", count,
              text.Subject().median, text.Baseline().median, text.Ratio(), Verdict(text.Ratio() <= 2));
  std::printf("      %s\n", text.Details("text", "posix").c_str());
  std::printf("booklist: %zu books  load + sort + write %.1f ms  posix load %.1f ms  ratio %.2f\n", count,
              list.Subject().median, list.Baseline().median, list.Ratio());
  std::printf("      %s\n", list.Details("booklist", "posix").c_str());
  std::printf(
      "tool list: vellix shelf list --sorted --json, %zu books  %.1f ms  posix load process %.1f ms  "
      "ratio %.2f\n",
      count, tool_list.Subject().median, tool_list.Baseline().median, tool_list.Ratio());
  std::printf("      %s\n", tool_list.Details("vellix", "posix").c_str());
  std::printf("tool export: vellix shelf export, %zu books  %.1f ms  posix load process %.1f ms  ratio %.2f\n", count,
              tool_export.Subject().median, tool_export.Baseline().median, tool_export.Ratio());
  std::printf("      %s\n", tool_export.Details("vellix", "posix").c_str());
  if (checksum == 0) std::printf("      (empty checksum)\n");
}

// --- sort ---------------------------------------------------------------

void BenchSort(size_t count, int reps) {
  Vocabulary vocabulary = MakeVocabulary();
  Rng rng(7);
  auto books = std::make_shared<vellix::Books>();
  for (size_t i = 0; i < count; ++i) {
    auto book = std::make_shared<vellix::Book>();
    book->SetCategory(WithCase(rng, vocabulary.categories[rng.Below(vocabulary.categories.size())]));
    // Every title distinct, as on a catalogue's shelf: the keys cannot be
    // shared between books.
    book->SetTitle(WithCase(rng, vocabulary.titles[rng.Below(vocabulary.titles.size())]) + ", volume " +
                   std::to_string(i + 1));
    if (rng.Below(10) == 0) {
      char date[40];
      std::snprintf(date, sizeof date, "Daily, 2002-03-%02zu", 1 + rng.Below(31));
      book->SetAuthor(date);
    } else {
      book->SetAuthor(WithCase(rng, vocabulary.authors[rng.Below(vocabulary.authors.size())]));
    }
    books->AddBook(std::move(book));
  }

  std::vector<double> key_times, key_cpu, subject, baseline, subject_cpu, baseline_cpu;
  std::vector<std::string> keys;
  for (int r = 0; r < reps; ++r) {
    {
      Stopwatch watch;
      vellix::SortKeyMaker maker;
      std::vector<std::string> fresh;
      fresh.reserve(count);
      for (const auto& book : *books) fresh.push_back(maker.KeyFor(*book));
      watch.Stop(key_times, key_cpu);
      keys = std::move(fresh);
    }
    auto run_subject = [&] {
      Stopwatch watch;
      std::vector<size_t> order = vellix::SelectionSortOrder(keys);
      watch.Stop(subject, subject_cpu);
      if (order.size() != count) Fail("sort: order has the wrong length");
      for (size_t i = 1; i < order.size(); ++i)
        if (keys[order[i]] < keys[order[i - 1]]) Fail("sort: the order is not sorted");
    };
    auto run_baseline = [&] {
      Stopwatch watch;
      std::vector<size_t> order(count);
      std::iota(order.begin(), order.end(), size_t{0});
      std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return keys[a] < keys[b]; });
      watch.Stop(baseline, baseline_cpu);
      if (order.size() != count) Fail("sort: baseline has the wrong length");
    };
    Interleave(r, run_subject, run_baseline);
  }
  Stats k = Summarize(key_times), s = Summarize(subject), b = Summarize(baseline);
  double ratio = s.median / b.median;
  double total = k.median + s.median;
  std::printf(
      "sort: %zu books  keys %.1f ms  vellix order %.1f ms  stable_sort %.1f ms  ratio %.2f "
      "(goal <= 3) %s  total %.1f ms (goal < 1000 ms) %s\n",
      count, k.median, s.median, b.median, ratio, Verdict(ratio <= 3.0), total, Verdict(total < 1000.0));
  std::printf("      %d runs each; keys %s; order %s; stable_sort %s; %s\n", reps, Spread(k).c_str(), Spread(s).c_str(),
              Spread(b).c_str(), CpuRatio(subject_cpu, baseline_cpu).c_str());
}

}  // namespace vellix::bench
