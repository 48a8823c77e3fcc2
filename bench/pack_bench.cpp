// vellix-bench's `pack`: a package's files packed into one container,
// synced before it is renamed into place, against cat and sync of the same
// files.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "benchmarks.h"
#include "harness.h"
#include "vellix/book.h"

namespace vellix::bench {

// BuildOEBFile of a package whose manifest names `files` files of `each`
// bytes, against cat of the same files into one file.
void BenchPack(size_t files, size_t each, int reps) {
  ScratchFolder scratch("pack");
  Rng rng(11);
  std::string manifest;
  std::vector<std::string> paths;
  for (size_t i = 0; i < files; ++i) {
    std::string name = "part" + std::to_string(i) + ".htm";
    WriteWholeFile(scratch / name, RandomBytes(rng, each));
    manifest += "<item id=\"i" + std::to_string(i) + "\" href=\"" + name + "\" media-type=\"text/x-oeb1-document\"/>";
    paths.push_back(scratch / name);
  }
  WriteWholeFile(scratch / "book.opf", "<package><manifest>" + manifest + "</manifest></package>");
  std::vector<double> subject, baseline, unused;
  for (int r = 0; r < reps; ++r) {
    std::filesystem::remove(scratch / "book.oeb");
    std::filesystem::remove(scratch / "cat.out");
    auto run_subject = [&] {
      Stopwatch watch;
      vellix::Book().BuildOEBFile("book", scratch.path());
      watch.Stop(subject, unused);
    };
    auto run_baseline = [&] {
      std::vector<std::string> args = {"/bin/cat"};
      args.insert(args.end(), paths.begin(), paths.end());
      // The container is synced before it is renamed into place; so is
      // the copy, like for like.
      double wall = Spawn(args, scratch / "cat.out").wall;
      baseline.push_back(wall + Spawn({"/bin/sync", scratch / "cat.out", scratch.path()}).wall);
    };
    Interleave(r, run_subject, run_baseline);
  }
  double mib = static_cast<double>(files * each) / (1024.0 * 1024.0);
  double vs = mib / (Summarize(subject).median / 1000), cs = mib / (Summarize(baseline).median / 1000);
  std::printf(
      "pack: BuildOEBFile of %.0f MiB in %zu files  vellix %.0f MiB/s  cat+sync %.0f MiB/s  ratio %.2f "
      "(goal >= 0.70) %s\n",
      mib, files, vs, cs, vs / cs, Verdict(vs / cs >= 0.70));
}

}  // namespace vellix::bench
