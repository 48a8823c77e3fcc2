// vellix-bench's `convert`: a large book folder loaded and saved as a book
// file, synced before it is renamed into place, against cp and sync of the
// same files.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "benchmarks.h"
#include "book_maker.h"
#include "harness.h"
#include "vellix/book.h"

namespace fx = vellix::fixtures;

namespace vellix::bench {

void BenchConvert(size_t data_fork_bytes, size_t resource_bytes, int reps) {
  ScratchFolder scratch("convert");
  const std::string source = scratch / "SOURCE.RES";
  const std::string book_dest = scratch / "out.imp";
  const std::string cp_dest = scratch / "copy";
  Rng rng(99);

  fx::Info info;
  info.id = "BIG0001";
  info.category = "Reference";
  info.title = "A Very Large Book";
  info.author_first = "Anna";
  info.author_last = "Adler";
  std::filesystem::create_directory(source);
  WriteWholeFile(source + "/RSRC.INF", fx::RsrcInf(info));
  WriteWholeFile(source + "/DATA.FRK", RandomBytes(rng, data_fork_bytes));
  const char* const resources[][2] = {{"PIC1", "PICT"}, {"PIC2", "PICT"}, {"SND1", "SOUN"}, {"TXT1", "TEXT"}};
  for (const auto& [name, tag] : resources)
    WriteWholeFile(source + "/" + name, fx::Resource(1, tag, RandomBytes(rng, resource_bytes - 6)));

  std::vector<std::string> cp_args = {"/bin/cp"};
  uint64_t total_bytes = 0;
  for (const auto& entry : std::filesystem::directory_iterator(source)) {
    cp_args.push_back(entry.path().string());
    total_bytes += entry.file_size();
  }
  cp_args.push_back(cp_dest + "/");
  // The book file is synced before Save returns; a like-for-like copy is
  // synced too (coreutils' sync with file names fsyncs each of them).
  std::vector<std::string> sync_args = {"/bin/sync"};
  for (const auto& entry : std::filesystem::directory_iterator(source))
    sync_args.push_back(cp_dest + "/" + entry.path().filename().string());
  sync_args.push_back(cp_dest);
  const double mib = static_cast<double>(total_bytes) / (1024.0 * 1024.0);

  auto clear_outputs = [&] {
    ::unlink(book_dest.c_str());
    std::filesystem::remove_all(cp_dest);
    std::filesystem::create_directory(cp_dest);
  };
  std::vector<double> subject, baseline, synced, subject_cpu, baseline_cpu, unused_wall, unused_cpu;
  auto run_subject = [&](bool timed) {
    clear_outputs();
    Stopwatch watch;
    vellix::Book book;
    book.Load(source);
    book.Save(book_dest);
    watch.Stop(timed ? subject : unused_wall, timed ? subject_cpu : unused_cpu);
    struct stat st;
    if (::stat(book_dest.c_str(), &st) != 0 || static_cast<uint64_t>(st.st_size) < total_bytes)
      Fail("convert: the book file is missing or short");
  };
  auto run_baseline = [&](bool timed) {
    clear_outputs();
    RunTimes t = Spawn(cp_args);
    if (timed) {
      baseline.push_back(t.wall);
      baseline_cpu.push_back(t.cpu);
    }
  };
  auto run_synced_baseline = [&] {
    clear_outputs();
    double wall = Spawn(cp_args).wall;
    synced.push_back(wall + Spawn(sync_args).wall);
  };

  // Warm the page cache with the sources; outputs are always fresh files.
  run_baseline(false);
  run_subject(false);

  for (int r = 0; r < reps; ++r) {
    Interleave(
        r, [&] { run_subject(true); }, [&] { run_baseline(true); });
    run_synced_baseline();
  }
  clear_outputs();
  Stats s = Summarize(subject), b = Summarize(baseline), d = Summarize(synced);
  double subject_rate = mib / (s.median / 1000.0);
  double cp_rate = mib / (b.median / 1000.0);
  double synced_rate = mib / (d.median / 1000.0);
  double ratio = subject_rate / synced_rate;
  std::printf(
      "convert: %.1f MiB book folder  vellix %.1f ms %.0f MiB/s  cp+sync %.1f ms %.0f MiB/s  ratio %.2f "
      "(goal >= 0.70) %s\n",
      mib, s.median, subject_rate, d.median, synced_rate, ratio, Verdict(ratio >= 0.70));
  std::printf("      against cp without sync: cp %.1f ms %.0f MiB/s, ratio %.2f (what the sync costs)\n", b.median,
              cp_rate, subject_rate / cp_rate);
  // Throughput ratio = cp time / vellix time, so the CPU check is inverted.
  std::printf("      %d runs each; vellix %s; cp %s; %s (cp / vellix)\n", reps, Spread(s).c_str(), Spread(b).c_str(),
              CpuRatio(baseline_cpu, subject_cpu).c_str());
}

}  // namespace vellix::bench
