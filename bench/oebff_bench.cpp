// oebff-bench: the container reader's speed and memory against baselines
// measured in the same run.
//
//   oebff-bench [--only scan,memory,parts] [--small] [--reps N]
//
//   scan    a 1 GiB container with four large parts, warm page cache:
//           reader MiB/s against a plain memchr scan for CR over the file
//           (random bodies, and text bodies with a line end every 64 bytes)
//   memory  the reader's peak resident memory for a 1 MiB and a 1 GiB
//           container, each read in a fresh process, against an idle one
//   parts   containers of 50,000 and 100,000 tiny parts: time per part
//
// Fixtures are written to a fresh folder under $TMPDIR (or /tmp) and
// removed afterwards; the 1 GiB container is only written when the file
// system has room for it. Figures are medians of interleaved runs. The exit
// status reports only whether the benchmarks ran, never whether a goal was
// met.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "harness.h"
#include "ikpubx/oebff_reader.h"
#include "test_util.h"

namespace {

using namespace vellix::bench;
namespace fx = vellix::fixtures;

constexpr int64_t kMiB = 1 << 20;

// Every scan adds its count here, so that no compiler drops the scanning.
volatile int64_t g_crs_seen = 0;

// The wall and CPU times of repeated runs of one thing.
struct Series {
  std::vector<double> wall, cpu;
  void Add(RunTimes t) {
    wall.push_back(t.wall);
    cpu.push_back(t.cpu);
  }
  double Wall() const { return Summarize(wall).median; }
  double Cpu() const { return Summarize(cpu).median; }
  // "min..max ms" of the wall times.
  std::string Spread() const {
    const Stats s = Summarize(wall);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.1f..%.1f ms", s.min, s.max);
    return buf;
  }
};

// Whether the file system holding `folder` has `bytes` free.
bool HasRoom(const ScratchFolder& folder, int64_t bytes) {
  struct statvfs s {};
  return ::statvfs(folder.path().c_str(), &s) == 0 &&
         static_cast<int64_t>(s.f_bavail) * static_cast<int64_t>(s.f_frsize) > bytes;
}

// Writes a container piece by piece, so a 1 GiB one never sits in memory.
class ContainerWriter {
 public:
  explicit ContainerWriter(const std::string& path) : path_(path) {
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) Fail("cannot create " + path);
    Put(fx::ContainerHeader() + fx::PackageHeader() + "<package/>");
  }
  ~ContainerWriter() {
    if (file_) std::fclose(file_);
  }
  void Put(const std::string& bytes) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) Fail("cannot write " + path_);
  }
  // A part whose body is `size` bytes made by `fill` in 1 MiB pieces.
  void Part(const std::string& id, int64_t size, const std::function<void(std::string&)>& fill) {
    Put(fx::FileHeader("application/octet-stream", id, id + ".bin"));
    std::string chunk;
    for (int64_t done = 0; done < size; done += static_cast<int64_t>(chunk.size())) {
      chunk.resize(static_cast<size_t>(std::min(kMiB, size - done)));
      fill(chunk);
      Put(chunk);
    }
  }
  void Finish() {
    Put(fx::Footer());
    if (std::fclose(file_) != 0) Fail("cannot write " + path_);
    file_ = nullptr;
  }

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
};

// Random bytes: a CR about every 256 bytes, as in images or compressed data.
std::function<void(std::string&)> RandomFill(uint64_t seed) {
  return [rng = Rng(seed)](std::string& chunk) mutable { FillRandom(rng, chunk); };
}

// Text with a CR LF every 64 bytes, as in markup documents.
void TextFill(std::string& chunk) {
  static const std::string kLine = [] {
    std::string line = "<p>The quick brown fox jumps over the lazy dog, again.</p>";
    line.resize(62, ' ');
    return line + "\r\n";
  }();
  for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = kLine[i % kLine.size()];
}

std::string MakeLargeContainer(const ScratchFolder& folder, const std::string& name, int64_t size, bool text) {
  std::string path = folder / name;
  ContainerWriter w(path);
  for (int i = 0; i < 4; ++i) {
    std::string id = "part" + std::to_string(i);
    if (text)
      w.Part(id, size / 4, TextFill);
    else
      w.Part(id, size / 4, RandomFill(0x9E3779B97F4A7C15ull + static_cast<uint64_t>(i)));
  }
  w.Finish();
  return path;
}

std::string MakeTinyPartsContainer(const ScratchFolder& folder, int parts) {
  std::string path = folder / ("tiny" + std::to_string(parts) + ".oeb");
  ContainerWriter w(path);
  for (int i = 0; i < parts; ++i) {
    std::string id = "i" + std::to_string(i);
    w.Put(fx::FileHeader("image/gif", id, id + ".gif") + "GIF89a" + id);
  }
  w.Finish();
  return path;
}

// The baseline: every CR of the file found with memchr, reading through a
// buffer with read(2), as fast as the file can be looked at.
int64_t MemchrScan(const std::string& path, size_t buffer_size) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Fail("cannot open " + path);
  std::vector<char> buffer(buffer_size);
  int64_t crs = 0;
  for (;;) {
    ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n <= 0) break;
    const char* p = buffer.data();
    const char* end = p + n;
    while ((p = static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(end - p)))) != nullptr) {
      ++crs;
      ++p;
    }
  }
  ::close(fd);
  g_crs_seen = g_crs_seen + crs;
  return crs;
}

// The same scan over a read-only mapping of the file.
int64_t MemchrScanMapped(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Fail("cannot open " + path);
  size_t size = static_cast<size_t>(std::filesystem::file_size(path));
  void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
  ::close(fd);
  if (map == MAP_FAILED) Fail("cannot map " + path);
  int64_t crs = 0;
  const char* p = static_cast<const char*>(map);
  const char* end = p + size;
  while ((p = static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(end - p)))) != nullptr) {
    ++crs;
    ++p;
  }
  ::munmap(map, size);
  g_crs_seen = g_crs_seen + crs;
  return crs;
}

void ReadOrFail(const std::string& path, int32_t parts) {
  ikpubx::OEBFFReader reader(path);
  if (reader.Failed()) Fail(path + ": " + reader.Diagnostic());
  if (reader.PartCount() != parts) Fail(path + ": wrong part count");
}

void BenchScan(const ScratchFolder& folder, int64_t size, int reps) {
  for (bool text : {false, true}) {
    std::string path = MakeLargeContainer(folder, text ? "text.oeb" : "random.oeb", size, text);
    double mib = static_cast<double>(std::filesystem::file_size(path)) / static_cast<double>(kMiB);
    MemchrScan(path, kMiB);  // warm the page cache
    Series reader, read_scan, mapped_scan;
    for (int r = 0; r < reps; ++r) {
      read_scan.Add(Timed([&] { MemchrScan(path, kMiB); }));
      mapped_scan.Add(Timed([&] { MemchrScanMapped(path); }));
      reader.Add(Timed([&] { ReadOrFail(path, 5); }));
    }
    // The faster of the two scans is the baseline.
    const Series& baseline = read_scan.Wall() <= mapped_scan.Wall() ? read_scan : mapped_scan;
    double ratio = baseline.Wall() / reader.Wall();
    std::printf("scan (%s bodies, %.0f MiB)\n", text ? "text" : "random", mib);
    std::printf("  memchr, read(2) 1 MiB buffer  %8.1f MiB/s  (%s)\n", mib * 1e3 / read_scan.Wall(),
                read_scan.Spread().c_str());
    std::printf("  memchr, mmap                  %8.1f MiB/s  (%s)\n", mib * 1e3 / mapped_scan.Wall(),
                mapped_scan.Spread().c_str());
    std::printf("  OEBFFReader                   %8.1f MiB/s  (%s)\n", mib * 1e3 / reader.Wall(),
                reader.Spread().c_str());
    std::printf("  reader speed / faster memchr scan = %.2f (goal >= 0.50: %s); cpu-time ratio %.2f\n", ratio,
                Verdict(ratio >= 0.5), baseline.Cpu() / reader.Cpu());
    std::filesystem::remove(path);
  }
}

// Peak resident memory (KiB) of this process, from /proc: the high-water
// mark of its own address space, not counting whatever preceded exec.
long PeakRssKiB() {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
  std::fclose(f);
  return kib;
}

// Peak resident memory (KiB) of this program run again with `args`, as the
// child reports it on its standard output.
long PeakRssOfChild(const ScratchFolder& folder, const std::vector<std::string>& args) {
  std::string report = folder / "rss";
  std::vector<std::string> all = {"/proc/self/exe"};
  all.insert(all.end(), args.begin(), args.end());
  if (!RunProcess(all, report).ok()) Fail("child run failed: " + args.back());
  std::FILE* f = std::fopen(report.c_str(), "r");
  long kib = -1;
  if (!f || std::fscanf(f, "%ld", &kib) != 1) Fail("child reported nothing");
  std::fclose(f);
  return kib;
}

void BenchMemory(const ScratchFolder& folder, int64_t large_size, int reps) {
  std::string small = MakeLargeContainer(folder, "small.oeb", kMiB, false);
  std::string large = MakeLargeContainer(folder, "large.oeb", large_size, false);
  std::vector<double> idle, on_small, on_large;
  for (int r = 0; r < reps; ++r) {
    idle.push_back(static_cast<double>(PeakRssOfChild(folder, {"--idle"})));
    on_small.push_back(static_cast<double>(PeakRssOfChild(folder, {"--read", small})));
    on_large.push_back(static_cast<double>(PeakRssOfChild(folder, {"--read", large})));
  }
  auto median = [](const std::vector<double>& v) { return Summarize(v).median; };
  double grows = median(on_large) - median(on_small);
  std::printf("memory (peak resident, each read in a fresh process)\n");
  std::printf("  idle process                  %8.0f KiB\n", median(idle));
  std::printf("  reader, %4lld MiB container     %8.0f KiB  (+%.0f KiB over idle)\n",
              static_cast<long long>(std::filesystem::file_size(small) / kMiB), median(on_small),
              median(on_small) - median(idle));
  std::printf("  reader, %4lld MiB container     %8.0f KiB  (+%.0f KiB over idle)\n",
              static_cast<long long>(std::filesystem::file_size(large) / kMiB), median(on_large),
              median(on_large) - median(idle));
  std::printf("  growth from the small to the large container = %+.0f KiB (goal within 1024: %s)\n", grows,
              Verdict(grows <= 1024 && grows >= -1024));
  std::filesystem::remove(small);
  std::filesystem::remove(large);
}

void BenchParts(const ScratchFolder& folder, int parts, int reps) {
  int half = parts / 2;
  std::string few = MakeTinyPartsContainer(folder, half);
  std::string many = MakeTinyPartsContainer(folder, parts);
  Series on_few, on_many, scan_many;
  for (int r = 0; r < reps; ++r) {
    on_few.Add(Timed([&] { ReadOrFail(few, half + 1); }));
    on_many.Add(Timed([&] { ReadOrFail(many, parts + 1); }));
    scan_many.Add(Timed([&] { MemchrScan(many, kMiB); }));
  }
  double ratio = on_many.Wall() / on_few.Wall();
  std::printf("parts (tiny parts, %lld and %lld bytes)\n", static_cast<long long>(std::filesystem::file_size(few)),
              static_cast<long long>(std::filesystem::file_size(many)));
  std::printf("  %7d parts                  %8.1f ms  (%.2f us/part; %s)\n", half, on_few.Wall(),
              on_few.Wall() * 1e3 / half, on_few.Spread().c_str());
  std::printf("  %7d parts                  %8.1f ms  (%.2f us/part; %s)\n", parts, on_many.Wall(),
              on_many.Wall() * 1e3 / parts, on_many.Spread().c_str());
  std::printf("  memchr scan of the larger one %8.1f ms\n", scan_many.Wall());
  std::printf("  time(%d) / time(%d) = %.2f (linear is 2.00; goal <= 2.30: %s); cpu-time ratio %.2f\n", parts, half,
              ratio, Verdict(ratio <= 2.3), on_many.Cpu() / on_few.Cpu());
  std::filesystem::remove(few);
  std::filesystem::remove(many);
}

int Usage() {
  std::fprintf(stderr, "usage: oebff-bench [--only scan,memory,parts] [--small] [--reps N]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  // The child runs of the memory benchmark.
  if (args.size() == 1 && args[0] == "--idle") {
    std::printf("%ld\n", PeakRssKiB());
    return 0;
  }
  if (args.size() == 2 && args[0] == "--read") {
    bool failed = ikpubx::OEBFFReader(args[1]).Failed();
    std::printf("%ld\n", PeakRssKiB());
    return failed ? 1 : 0;
  }

  bool small = false;
  int reps = 0;
  std::string only = "scan,memory,parts";
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--small")
      small = true;
    else if (args[i] == "--reps" && i + 1 < args.size())
      reps = std::atoi(args[++i].c_str());
    else if (args[i] == "--only" && i + 1 < args.size())
      only = args[++i];
    else
      return Usage();
  }
  auto wanted = [&](const char* name) {
    return ("," + only + ",").find(std::string(",") + name + ",") != std::string::npos;
  };
  const int64_t large = small ? 8 * kMiB : 1024 * kMiB;
  const int parts = small ? 2000 : 100000;
  if (reps <= 0) reps = small ? 1 : 5;

  try {
    ScratchFolder folder("containers");
    if ((wanted("scan") || wanted("memory")) && !HasRoom(folder, large + large / 2)) {
      std::printf("scan, memory: skipped, no room for a %lld MiB container\n", static_cast<long long>(large / kMiB));
    } else {
      if (wanted("scan")) BenchScan(folder, large, reps);
      if (wanted("memory")) BenchMemory(folder, large, small ? 1 : 3);
    }
    if (wanted("parts")) BenchParts(folder, parts, reps);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "oebff-bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
