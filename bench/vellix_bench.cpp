// vellix-bench: speed of the library against plain baselines measured in
// the same run.
//
//   vellix-bench [--only load|sort|text|package|pack|convert|memory|publish|view|proof|shelfadd[,...]]
//                [--small] [--reps N]
//
// Every benchmark builds its own fixtures in a fresh temporary folder (under
// $TMPDIR, else /tmp) and removes them afterwards. Subject and baseline runs
// are interleaved and each figure is the median of the repetitions; the
// printed ratio is the ratio of those wall-clock medians. The exit status
// reports only whether the benchmarks ran correctly, never whether a goal
// was met.
//
// Each benchmark is in a file of its own (benchmarks.h lists them); the
// timing harness is shared with the other benchmark programs (harness.h).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "benchmarks.h"
#include "harness.h"

namespace vellix::bench {
namespace {

// --- child runs -----------------------------------------------------------

// The runs this program makes of itself: baselines as processes of their
// own, and the small parent that reports another program's peak memory.
// Returns -1 when `argv` asks for none of them.
int ChildRun(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "--scan" && argc == 3) {
    uint64_t checksum = 0;
    std::printf("%zu files\n", PosixScan(argv[2], checksum));
    return 0;
  }
  if (mode == "--publish" && argc == 4) {
    PublishText(argv[2], argv[3]);
    return 0;
  }
  if (mode == "--copy-lines" && argc == 4) {
    CopyLines(argv[2], argv[3]);
    return 0;
  }
  if (mode == "--peak-of" && argc >= 3) return ReportPeakOf(std::vector<std::string>(argv + 2, argv + argc));
  return -1;
}

void Usage(FILE* to) {
  std::fprintf(to,
               "usage: vellix-bench [--only "
               "load|sort|text|package|pack|convert|memory|publish|view|proof|shelfadd[,...]] [--small] "
               "[--reps N]\n"
               "  --only   run only the named benchmarks (comma-separated; may repeat)\n"
               "  --small  tiny sizes, for a quick check that everything runs\n"
               "  --reps   repetitions of each measurement (default 9, 3 with --small)\n");
}

}  // namespace
}  // namespace vellix::bench

int main(int argc, char** argv) {
  using namespace vellix::bench;
  try {
    int child = ChildRun(argc, argv);
    if (child >= 0) return child;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vellix-bench: %s\n", e.what());
    return 1;
  }
  bool small = false;
  int reps = 0;
  std::vector<std::string> only;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      size_t eq = arg.find('=');
      if (eq != std::string::npos) return arg.substr(eq + 1);
      if (i + 1 >= argc) {
        Usage(stderr);
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--small") {
      small = true;
    } else if (arg == "--only" || arg.rfind("--only=", 0) == 0) {
      std::string list = value();
      size_t start = 0;
      while (start <= list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        std::string name = list.substr(start, comma - start);
        if (name != "load" && name != "sort" && name != "convert" && name != "text" && name != "package" &&
            name != "pack" && name != "memory" && name != "publish" && name != "view" && name != "proof" &&
            name != "shelfadd") {
          std::fprintf(stderr, "vellix-bench: unknown benchmark \"%s\"\n", name.c_str());
          Usage(stderr);
          return 2;
        }
        only.push_back(name);
        start = comma + 1;
      }
    } else if (arg == "--reps" || arg.rfind("--reps=", 0) == 0) {
      reps = std::atoi(value().c_str());
      if (reps < 1) {
        Usage(stderr);
        return 2;
      }
    } else if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    } else {
      std::fprintf(stderr, "vellix-bench: unknown argument \"%s\"\n", arg.c_str());
      Usage(stderr);
      return 2;
    }
  }
  if (reps == 0) reps = small ? 3 : 9;
  auto wanted = [&](const char* name) {
    return only.empty() || std::find(only.begin(), only.end(), name) != only.end();
  };

  try {
    if (wanted("load")) BenchLoad(small ? 200 : 10000, reps);
    std::fflush(stdout);
    if (wanted("sort")) BenchSort(small ? 2000 : 100000, reps);
    std::fflush(stdout);
    if (wanted("text")) BenchText(small ? 200000 : 10000000, reps);
    std::fflush(stdout);
    if (wanted("package")) BenchPackage(small ? 500 : 10000, reps);
    std::fflush(stdout);
    if (wanted("pack")) BenchPack(8, small ? 64 * 1024 : 32 * 1024 * 1024, reps);
    std::fflush(stdout);
    if (wanted("convert")) {
      const size_t mib = size_t{1024} * 1024;
      if (small)
        BenchConvert(size_t{600} * 1024, size_t{100} * 1024, reps);
      else
        BenchConvert(60 * mib, 10 * mib, reps);
    }
    std::fflush(stdout);
    if (wanted("memory")) BenchMemory(small ? 500 : 50000, small ? 2000000 : 10000000, reps);
    std::fflush(stdout);
    if (wanted("publish")) BenchPublish(small ? 200000 : 10000000, reps, !small);
    std::fflush(stdout);
    if (wanted("view")) BenchView(small ? 100000 : 1000000, reps, !small);
    if (wanted("proof")) BenchProof(small ? 200000 : 10000000, small ? 20 : 2000, small ? 1 : std::min(reps, 5));
    std::fflush(stdout);
    // A thousand processes a run: three runs are plenty.
    if (wanted("shelfadd")) BenchShelfAdd(small ? 20 : 1000, std::min(reps, 3), !small);
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "vellix-bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
