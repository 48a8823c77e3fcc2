// vellix-bench's `shelfadd`: texts added to a shelf by the library and by
// the tool, against another program's add when it is installed; the syncs
// per book; two jobs against one; one add onto a full shelf.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_fixtures.h"
#include "benchmarks.h"
#include "harness.h"
#include "vellix/bookshelf.h"
#include "vellix/formats/file_io.h"

namespace vellix::bench {

namespace {

// The number of book files in `shelf`.
size_t CountBookFiles(const std::string& shelf) {
  size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(shelf))
    if (entry.path().extension() == ".imp") ++n;
  return n;
}

// `count` texts of about `bytes` each in `folder`; their paths.
std::vector<std::string> MakeTexts(const std::string& folder, size_t count, size_t bytes) {
  std::vector<std::string> paths = MakeSmallTexts(folder, count);
  for (const std::string& path : paths) MakeText(path, bytes);
  return paths;
}

}  // namespace

// Adding `count` small texts to an empty shelf: through the library's batch
// add in this process, and with one `vellix shelf add SHELF TEXT...` call;
// both against calibre's `calibredb add` of the same files into an empty
// calibre library. Then the syncs per book, --jobs 2 against --jobs 1 on
// texts of 50 KB, and one add onto a large shelf against an empty one.
void BenchShelfAdd(size_t count, int reps, bool with_peer) {
  ScratchFolder scratch("shelfadd");
  // Each road writes its pages and packages beside its own copy of the texts.
  const std::vector<std::string> library_texts = MakeSmallTexts(scratch / "library", count);
  const std::vector<std::string> tool_texts = MakeSmallTexts(scratch / "tool", count);
  const std::vector<std::string> peer_texts = MakeSmallTexts(scratch / "peer", count);
  const std::string tool = ToolPath();
  int run = 0;
  auto fresh_shelf = [&](const char* road) {
    std::string shelf = scratch / (std::string(road) + "-shelf-" + std::to_string(run++));
    std::filesystem::create_directory(shelf);
    return shelf;
  };
  auto check = [&](const std::string& shelf, const char* road, size_t expected) {
    if (CountBookFiles(shelf) != expected)
      Fail(std::string("shelfadd: the ") + road + " road wrote the wrong number of books");
    std::error_code ec;
    std::filesystem::remove_all(shelf, ec);
  };
  auto tool_args = [&](const std::string& shelf, const std::vector<std::string>& texts) {
    std::vector<std::string> args{tool, "shelf", "add", shelf, "--author", "Ann B. Author", "--category", "Notes"};
    args.insert(args.end(), texts.begin(), texts.end());
    return args;
  };
  uint64_t syncs = 0, synced_books = 0;
  auto library_road = [&] {
    std::string shelf = fresh_shelf("library");
    uint64_t before = vellix::formats::FileSyncCount();
    RunTimes t = Timed([&] {
      vellix::Bookshelf bookshelf;
      bookshelf.OpenForAdding(shelf);
      vellix::BatchOptions options;
      options.author = "Ann B. Author";
      options.category = "Notes";
      for (const vellix::BatchItem& item : bookshelf.AddMany(library_texts, options))
        if (!item.added()) Fail("shelfadd: " + item.path + ": " + item.description);
    });
    syncs += vellix::formats::FileSyncCount() - before;
    synced_books += count;
    check(shelf, "library", count);
    return t;
  };
  auto tool_road = [&] {
    std::string shelf = fresh_shelf("tool");
    RunTimes t = Spawn(tool_args(shelf, tool_texts));
    check(shelf, "tool", count);
    return t;
  };
  const char* peer = "/usr/bin/calibredb";
  bool peer_runs = with_peer && ::access(peer, X_OK) == 0;
  auto peer_road = [&] {
    std::string library = fresh_shelf("calibre");
    std::vector<std::string> args = {peer, "add", "--with-library", library};
    args.insert(args.end(), peer_texts.begin(), peer_texts.end());
    RunTimes t = Spawn(args);
    std::error_code ec;
    std::filesystem::remove_all(library, ec);
    return t;
  };
  // The three roads in turn, each run starting with a different one, so
  // that a slow spell of the machine falls on all alike.
  std::vector<double> tool_wall, tool_cpu, library_wall, library_cpu, peer_wall, peer_cpu;
  for (int r = 0; r < reps; ++r) {
    for (int k = 0; k < 3; ++k) {
      switch ((r + k) % 3) {
        case 0: {
          RunTimes t = tool_road();
          tool_wall.push_back(t.wall), tool_cpu.push_back(t.cpu);
          break;
        }
        case 1: {
          RunTimes t = library_road();
          library_wall.push_back(t.wall), library_cpu.push_back(t.cpu);
          break;
        }
        default:
          if (peer_runs) {
            RunTimes t = peer_road();
            peer_wall.push_back(t.wall), peer_cpu.push_back(t.cpu);
          }
      }
    }
  }
  Stats tool_t = Summarize(tool_wall), library_t = Summarize(library_wall);
  std::printf("shelfadd: %zu small texts  vellix shelf add (one call) %.0f ms  library batch (one process) %.0f ms\n",
              count, tool_t.median, library_t.median);
  std::printf("      %d runs each; tool %s; library %s\n", reps, Spread(tool_t).c_str(), Spread(library_t).c_str());
  double per_book = synced_books ? static_cast<double>(syncs) / static_cast<double>(synced_books) : 0;
  std::printf("shelfadd syncs: %.2f per added book (goal <= 2) %s\n", per_book, Verdict(per_book <= 2.0));
  if (with_peer && !peer_runs) std::printf("      (calibredb not installed: no comparison)\n");
  if (peer_runs) {
    Stats peer_t = Summarize(peer_wall);
    std::printf(
        "shelfadd vs calibredb add: %zu texts  calibredb %.0f ms  library %.1fx faster, one call %.1fx faster "
        "(goal >= 10 each) %s\n",
        count, peer_t.median, peer_t.median / library_t.median, peer_t.median / tool_t.median,
        Verdict(peer_t.median / library_t.median >= 10 && peer_t.median / tool_t.median >= 10));
    std::printf("      calibredb %s; cpu: tool %.0f ms, library %.0f ms, calibredb %.0f ms\n", Spread(peer_t).c_str(),
                Summarize(tool_cpu).median, Summarize(library_cpu).median, Summarize(peer_cpu).median);
  }

  // Both cores: --jobs 2 against --jobs 1, texts of 50 KB.
  const size_t large_count = with_peer ? count : std::min<size_t>(count, 8);
  const std::vector<std::string> large_texts = MakeTexts(scratch / "large", large_count, 50000);
  auto with_jobs = [&](const std::string& jobs) {
    return [&, jobs] {
      std::string shelf = fresh_shelf(("jobs" + jobs).c_str());
      std::vector<std::string> args = tool_args(shelf, large_texts);
      args.insert(args.begin() + 4, {"--jobs", jobs});
      RunTimes t = Spawn(args);
      check(shelf, ("jobs " + jobs).c_str(), large_count);
      return t;
    };
  };
  Comparison jobs = Compare(reps, with_jobs("2"), with_jobs("1"));
  double speedup = 1 / jobs.Ratio();
  std::printf("shelfadd jobs: %zu texts of 50 KB  --jobs 2 %.0f ms  --jobs 1 %.0f ms  %.2fx faster (goal >= 1.6) %s\n",
              large_count, jobs.Subject().median, jobs.Baseline().median, speedup, Verdict(speedup >= 1.6));
  std::printf("      %s\n", jobs.Details("jobs 2", "jobs 1").c_str());

  // One add onto a large shelf against the same add onto an empty one.
  const size_t shelf_books = with_peer ? 100000 : 2000;
  const std::string big = scratch / "big-shelf", empty = scratch / "empty-shelf";
  MakeShelf(big, shelf_books);
  std::filesystem::create_directory(empty);
  const std::vector<std::string> one = MakeSmallTexts(scratch / "one", 1);
  auto add_onto = [&](const std::string& shelf) {
    return [&, shelf] {
      std::string listed = scratch / "added.txt";
      RunTimes t = Spawn({tool, "shelf", "add", shelf, one[0]}, listed);
      std::error_code ec;
      std::string book = vellix::formats::ReadWholeFile(listed);
      std::filesystem::remove(book.substr(0, book.find('\n')), ec);
      return t;
    };
  };
  Comparison onto = Compare(std::max(reps, 5), add_onto(big), add_onto(empty));
  std::printf(
      "shelfadd onto a full shelf: %zu books  one add %.1f ms  onto an empty shelf %.1f ms  ratio %.2f "
      "(goal <= 2) %s\n",
      shelf_books, onto.Subject().median, onto.Baseline().median, onto.Ratio(), Verdict(onto.Ratio() <= 2));
  std::printf("      %s\n", onto.Details("full", "empty").c_str());
}

}  // namespace vellix::bench
