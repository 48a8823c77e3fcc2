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
// Other programs (cp, cat, the vellix tool, and this program again for a
// baseline run as a process of its own) are started with posix_spawn: the
// cost of fork() grows with this process, which grows as benchmarks run,
// and would make a baseline slower the later it ran.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

extern char** environ;

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

#include "book_maker.h"
#include "ikutil/book_viewer.h"
#include "ikutil/builder.h"
#include "page_layout.h"
#include "page_png.h"
#include "sort.h"
#include "test_util.h"
#include "vellix/book.h"
#include "vellix/booklist.h"
#include "vellix/bookshelf.h"
#include "vellix/formats/file_io.h"
#include "vellix/package.h"

namespace fx = vellix::fixtures;

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// CPU time (user + system) of this process so far, in milliseconds. On a
// shared machine it moves less than the wall clock when others take the CPU.
double ProcessCpuMilliseconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Wall and CPU time of one timed section.
class Stopwatch {
 public:
  Stopwatch() : wall_(Clock::now()), cpu_(ProcessCpuMilliseconds()) {}
  void Stop(std::vector<double>& wall, std::vector<double>& cpu) const {
    wall.push_back(MillisecondsSince(wall_));
    cpu.push_back(ProcessCpuMilliseconds() - cpu_);
  }

 private:
  Clock::time_point wall_;
  double cpu_;
};

// Median, minimum and maximum of a set of timings (milliseconds).
struct Stats {
  double median = 0, min = 0, max = 0;
};

Stats Summarize(std::vector<double> v) {
  Stats s;
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  s.median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  s.min = v.front();
  s.max = v.back();
  return s;
}

// "min..max ms (-x%/+y%)": how far the runs strayed from their median.
std::string Spread(const Stats& s) {
  char buf[96];
  double lo = s.median > 0 ? 100.0 * (s.min - s.median) / s.median : 0;
  double hi = s.median > 0 ? 100.0 * (s.max - s.median) / s.median : 0;
  std::snprintf(buf, sizeof buf, "%.1f..%.1f ms (%+.0f%%/%+.0f%%)", s.min, s.max, lo, hi);
  return buf;
}

// The same ratio measured in CPU time, as a check on the wall-clock one.
std::string CpuRatio(const std::vector<double>& subject, const std::vector<double>& baseline) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "cpu-time ratio %.2f", Summarize(subject).median / Summarize(baseline).median);
  return buf;
}

// Runs one subject and one baseline measurement, alternating which goes
// first, so that a slow spell of the machine falls on both alike.
template <typename S, typename B>
void Interleave(int rep, S&& subject, B&& baseline) {
  if (rep % 2) {
    subject();
    baseline();
  } else {
    baseline();
    subject();
  }
}

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what); }

// Wall and CPU time (user + system) of one run, in milliseconds.
struct RunTimes {
  double wall = 0, cpu = 0;
};

// Times `f` in this process.
template <typename F>
RunTimes Timed(F&& f) {
  auto wall = Clock::now();
  double cpu = ProcessCpuMilliseconds();
  f();
  return {MillisecondsSince(wall), ProcessCpuMilliseconds() - cpu};
}

// The timings of a subject and its baseline, measured alternately.
struct Comparison {
  std::vector<double> subject, baseline, subject_cpu, baseline_cpu;
  Stats Subject() const { return Summarize(subject); }
  Stats Baseline() const { return Summarize(baseline); }
  double Ratio() const { return Subject().median / Baseline().median; }
  // "N runs each; subject min..max; baseline min..max; cpu-time ratio r"
  std::string Details(const char* subject_name, const char* baseline_name) const {
    return std::to_string(subject.size()) + " runs each; " + subject_name + " " + Spread(Subject()) + "; " +
           baseline_name + " " + Spread(Baseline()) + "; " + CpuRatio(subject_cpu, baseline_cpu);
  }
};

// `reps` runs of each; both callables return the times of one run.
template <typename S, typename B>
Comparison Compare(int reps, S&& subject, B&& baseline) {
  Comparison c;
  for (int r = 0; r < reps; ++r) {
    Interleave(
        r,
        [&] {
          RunTimes t = subject();
          c.subject.push_back(t.wall);
          c.subject_cpu.push_back(t.cpu);
        },
        [&] {
          RunTimes t = baseline();
          c.baseline.push_back(t.wall);
          c.baseline_cpu.push_back(t.cpu);
        });
  }
  return c;
}

const char* Verdict(bool met) { return met ? "met" : "MISSED"; }

// Runs args[0] (no shell) with standard output to `out` and standard error
// to /dev/null, waits for it and fails unless it exits with 0.
RunTimes Spawn(const std::vector<std::string>& args, const std::string& out = "/dev/null") {
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  auto start = Clock::now();
  pid_t pid = 0;
  int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) Fail("cannot start " + args[0]);
  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0)
    if (errno != EINTR) Fail("wait4 failed");
  RunTimes t;
  t.wall = MillisecondsSince(start);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail(args[0] + " failed");
  auto ms = [](const timeval& v) { return static_cast<double>(v.tv_sec) * 1e3 + static_cast<double>(v.tv_usec) / 1e3; };
  t.cpu = ms(usage.ru_utime) + ms(usage.ru_stime);
  return t;
}

// This program, for baselines run as processes of their own.
std::string SelfPath() {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) Fail("cannot find this program's path");
  return self.string();
}

// The vellix tool, built beside this program.
std::string ToolPath() {
  std::string tool = (std::filesystem::path(SelfPath()).parent_path() / "vellix").string();
  if (::access(tool.c_str(), X_OK) != 0) Fail("the vellix tool is not built: " + tool);
  return tool;
}

// Peak resident memory (KiB) of a run of `args`. A process started by this
// one would report this one's high-water mark when that is higher, so a
// fresh, small copy of this program starts it and reports its peak.
long PeakKiBOf(const std::string& scratch, const std::vector<std::string>& args) {
  std::vector<std::string> wrapped = {SelfPath(), "--peak-of"};
  wrapped.insert(wrapped.end(), args.begin(), args.end());
  const std::string report = scratch + "/peak";
  Spawn(wrapped, report);
  std::ifstream in(report);
  long kib = -1;
  if (!(in >> kib) || kib <= 0) Fail("no peak memory reported for " + args[0]);
  return kib;
}

// A small, fast, deterministic generator: fixtures are the same on every run.
class Rng {
 public:
  explicit Rng(uint64_t seed) : s_(seed ? seed : 0x9E3779B97F4A7C15ull) {}
  uint64_t Next() {
    s_ ^= s_ << 13;
    s_ ^= s_ >> 7;
    s_ ^= s_ << 17;
    return s_;
  }
  size_t Below(size_t n) { return static_cast<size_t>(Next() % n); }

 private:
  uint64_t s_;
};

std::string RandomBytes(Rng& rng, size_t n) {
  std::string out(n, '\0');
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t v = rng.Next();
    std::memcpy(out.data() + i, &v, 8);
  }
  for (; i < n; ++i) out[i] = static_cast<char>(rng.Next());
  return out;
}

// A fresh folder for one benchmark's fixtures, removed on destruction.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& what) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vellix-bench-" + what + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) Fail("cannot make a temporary folder: " + pattern);
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Fail("cannot create " + path);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) {
      ::close(fd);
      Fail("cannot write " + path);
    }
    done += static_cast<size_t>(n);
  }
  ::close(fd);
}

std::string WithCase(Rng& rng, std::string s) {
  switch (rng.Below(4)) {
    case 0:
      for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
      break;
    case 1:
      for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
      break;
    default:
      break;  // as written
  }
  return s;
}

const char* const kCategoryWords[] = {"Fiction",   "Science",   "History",  "News",   "Cooking",   "Poetry", "Travel",
                                      "Art",       "Biography", "Children", "Drama",  "Economics", "Essays", "Fantasy",
                                      "Gardening", "Law",       "Music",    "Nature", "Religion",  "Sports"};
const char* const kTitleWords[] = {"Silent", "Crimson", "Hidden", "Northern", "Last",  "Broken",
                                   "Golden", "Winter",  "Lost",   "Distant",  "Quiet", "Wild"};
const char* const kTitleNouns[] = {"River",  "Garden", "City",    "Voyage",  "Letters", "Empire",
                                   "Island", "Harbor", "Machine", "Orchard", "Night",   "Crown",
                                   "Storm",  "Atlas",  "Mirror",  "Road",    "Kingdom"};
const char* const kFirstNames[] = {"Anna",  "Boris", "Clara",   "David", "Elena", "Frank", "Greta",
                                   "Henri", "Ines",  "Jonas",   "Karin", "Lukas", "Maria", "Nils",
                                   "Olga",  "Pavel", "Quentin", "Rosa",  "Sven",  "Tomas"};
const char* const kLastNames[] = {"Adler", "Berg",   "Castro", "Dahl", "Engel",  "Falk",  "Gruber",        "Holm",
                                  "Ibsen", "Jansen", "Keller", "Lind", "Moreau", "Novak", "\xC3\x96stberg"};

template <size_t N>
const char* Pick(Rng& rng, const char* const (&words)[N]) {
  return words[rng.Below(N)];
}

// The fixed vocabularies of the sort benchmark: many books share each value.
struct Vocabulary {
  std::vector<std::string> categories, titles, authors;
};

Vocabulary MakeVocabulary() {
  Vocabulary v;
  for (const char* c : kCategoryWords) v.categories.push_back(c);
  for (int i = 0; v.titles.size() < 200; ++i) {
    std::string t = std::string("The ") + kTitleWords[i % 12] + " " + kTitleNouns[(i / 12) % 17];
    if (i >= 12 * 17) t += " " + std::to_string(i);
    v.titles.push_back(t);
  }
  for (int i = 0; v.authors.size() < 300; ++i)
    v.authors.push_back(std::string(kFirstNames[i % 20]) + " " + kLastNames[(i / 20) % 15]);
  return v;
}

// --- load ---------------------------------------------------------------

// Lists the folder and reads the header and information area of each file
// with plain system calls: what any loader must do at the least.
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

// `count` book files of 2-4 KB with varied information areas.
void MakeShelf(const std::string& shelf, size_t count) {
  std::filesystem::create_directory(shelf);
  Rng rng(42);
  for (size_t i = 0; i < count; ++i) {
    fx::Info info;
    info.id = "BK" + std::to_string(100000 + i);
    info.category = WithCase(rng, Pick(rng, kCategoryWords));
    info.title =
        std::string(Pick(rng, kTitleWords)) + " " + Pick(rng, kTitleNouns) + " " + std::to_string(rng.Below(1000));
    info.author_first = Pick(rng, kFirstNames);
    info.author_last = Pick(rng, kLastNames);
    if (rng.Below(3) == 0) info.author_middle = std::string(1, static_cast<char>('A' + rng.Below(26))) + ".";
    std::string fork = RandomBytes(rng, 2048 + rng.Below(2049));
    char name[32];
    std::snprintf(name, sizeof name, "%c%c%c%05zu.imp", static_cast<char>('A' + rng.Below(26)),
                  static_cast<char>('A' + rng.Below(26)), static_cast<char>('A' + rng.Below(26)), i);
    WriteWholeFile(shelf + "/" + name, fx::SimpleBookFile(info, "", fork));
  }
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

// --- convert ------------------------------------------------------------

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

// --- text ---------------------------------------------------------------

// About `bytes` of text in lines of a few words, with some blank lines,
// markup characters and a non-ASCII word.
void MakeText(const std::string& path, size_t bytes) {
  Rng rng(7);
  std::string text;
  static const char* const kWords[] = {"the", "reader", "turned",  "a",          "page", "caf\xC3\xA9",
                                       "<b>", "&",      "quietly", "\"quoted\"", "and",  "night"};
  while (text.size() < bytes) {
    size_t words = 4 + rng.Below(12);
    for (size_t w = 0; w < words; ++w) {
      text += kWords[rng.Below(12)];
      text += ' ';
    }
    text += rng.Below(6) == 0 ? "\n\n" : "\n";
  }
  WriteWholeFile(path, text);
}

// The baseline of the text benchmark: every line copied with CR LF.
void CopyLines(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  std::string line;
  while (std::getline(in, line)) out << line << "\r\n";
  out.close();
  if (!in.eof() || !out) Fail("cannot copy " + from);
}

void BenchText(size_t bytes, int reps) {
  ScratchFolder scratch("text");
  const std::string txt = scratch / "book.txt";
  MakeText(txt, bytes);
  auto copy_lines = [&] { return Timed([&] { CopyLines(txt, scratch / "plain.txt"); }); };
  Comparison convert = Compare(
      reps,
      [&] {
        vellix::Book book;
        book.Load(txt);
        return Timed([&] { book.ConvertTxtToHtm(scratch / "book.htm"); });
      },
      copy_lines);
  // The same as users run it: the tool against the copy, each a process.
  const std::string tool = ToolPath(), self = SelfPath();
  Comparison tool_convert = Compare(
      reps,
      [&] {
        return Spawn({tool, "book", "text2htm", txt, scratch / "tool.htm"});
      },
      [&] {
        return Spawn({self, "--copy-lines", txt, scratch / "plain.txt"});
      });

  const double mb = static_cast<double>(bytes) / 1e6;
  std::printf(
      "text: %.1f MB text  ConvertTxtToHtm %.1f ms  line-by-line copy %.1f ms  ratio %.2f "
      "(goal <= 4) %s\n",
      mb, convert.Subject().median, convert.Baseline().median, convert.Ratio(), Verdict(convert.Ratio() <= 4));
  std::printf("      %s\n", convert.Details("vellix", "copy").c_str());
  std::printf("tool text2htm: %.1f MB text  vellix book text2htm %.1f ms  copy process %.1f ms  ratio %.2f\n", mb,
              tool_convert.Subject().median, tool_convert.Baseline().median, tool_convert.Ratio());
  std::printf("      %s\n", tool_convert.Details("vellix", "copy").c_str());
  if (access("/usr/bin/pandoc", X_OK) == 0) {
    std::vector<double> pandoc;
    for (int r = 0; r < std::min(reps, 3); ++r)
      pandoc.push_back(Spawn({"/usr/bin/pandoc", "-f", "markdown", "-t", "html", "-o", scratch / "p.html", txt}).wall);
    double p = Summarize(pandoc).median;
    std::printf("      pandoc -f markdown -t html %.1f ms: ConvertTxtToHtm takes %.3f of its time\n", p,
                convert.Subject().median / p);
  } else {
    std::printf("      (pandoc not installed: no comparison)\n");
  }
}

// --- package ------------------------------------------------------------

// CreatePackage over a document with `elements` img and a elements; the
// time should grow linearly with them.
RunTimes PackageOnce(const std::string& folder, size_t elements) {
  std::string doc = "<html><head><title>t</title></head><body>";
  for (size_t i = 0; i < elements; ++i) {
    if (i % 2)
      doc += "<img src=\"pic" + std::to_string(i) + ".png\"/>";
    else
      doc += "<a href=\"ch" + std::to_string(i % 200) + ".htm\">x</a>";
  }
  doc += "</body></html>";
  WriteWholeFile(folder + "/story.htm", doc);
  // The pipeline's counter starts at 18838 and would overflow past 32767
  // items; start at 0 to time 20,000 elements.
  vellix::Book().CreateDefaultOpf(folder + "/story.opf");
  vellix::Package package;
  package.SetPackagePath(folder + "/story.opf");
  return Timed([&] { package.CreatePackage(folder + "/story.htm", "story", "t", "a", "c"); });
}

void BenchPackage(size_t elements, int reps) {
  ScratchFolder scratch("package");
  for (int i = 0; i < 200; ++i) WriteWholeFile(scratch / ("ch" + std::to_string(i) + ".htm"), "<html/>");
  // One untimed run of each size first, so that neither size is timed
  // while the heap and the caches are still growing.
  PackageOnce(scratch.path(), 2 * elements);
  PackageOnce(scratch.path(), elements);
  Comparison c = Compare(
      reps, [&] { return PackageOnce(scratch.path(), 2 * elements); },
      [&] { return PackageOnce(scratch.path(), elements); });
  std::printf(
      "package: CreatePackage %zu elements %.1f ms, %zu elements %.1f ms  ratio %.2f "
      "(linear: about 2)\n",
      elements, c.Baseline().median, 2 * elements, c.Subject().median, c.Ratio());
  std::printf("      %s\n", c.Details("larger", "smaller").c_str());
}

// --- pack ---------------------------------------------------------------

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

// --- publish --------------------------------------------------------------

// The whole road of a plain text into a device book: the text converted to
// a document, the document's package made and completed, the package loaded
// as a project and built by the engine.
void PublishText(const std::string& txt, const std::string& folder) {
  const std::string htm = folder + "/book.htm", opf = folder + "/book.opf", out = folder + "/out";
  std::filesystem::create_directories(out);
  vellix::Book book;
  book.Load(txt);
  book.ConvertTxtToHtm(htm);
  WriteWholeFile(opf, fx::DefaultPackageText());
  vellix::Package package;
  package.initialID(18838);
  package.SetPackagePath(opf);
  package.CreatePackage(htm, "book", "A Title", "An Author", "Fiction");
  package.CompletePackage(opf, "BOOK", "Fiction");
  package.SetDirectory(opf, out, folder);
  ikutil::CBookParams params;
  if (!params.Load(opf, false)) Fail("the package does not load as a project");
  ikutil::CBookBuilder builder(&params, nullptr);
  if (builder.OutputBook(false, false) != 0) Fail("the engine did not build " + txt);
}

void BenchPublish(size_t bytes, int reps, bool with_peer) {
  ScratchFolder scratch("publish");
  const std::string small = scratch / "small.txt", large = scratch / "large.txt";
  MakeText(small, bytes / 10);
  MakeText(large, bytes);
  const std::string self = SelfPath();
  auto road = [&](const std::string& txt, const std::string& name) {
    return Spawn({self, "--publish", txt, scratch / name});
  };
  // Linear: ten times the text should take about ten times as long.
  Comparison scale = Compare(
      reps, [&] { return road(large, "large"); }, [&] { return road(small, "small"); });
  const double mb = static_cast<double>(bytes) / 1e6;
  std::printf("publish: text to device book  %.1f MB %.1f ms  %.1f MB %.1f ms  ratio %.2f (goal about 10: linear) %s\n",
              mb, scale.Subject().median, mb / 10, scale.Baseline().median, scale.Ratio(),
              Verdict(scale.Ratio() <= 12));
  std::printf("      %s\n", scale.Details("large", "small").c_str());

  std::vector<double> peaks;
  for (int r = 0; r < std::min(reps, 3); ++r)
    peaks.push_back(static_cast<double>(PeakKiBOf(scratch.path(), {self, "--publish", large, scratch / "memory-run"})));
  double peak_mb = Summarize(peaks).median * 1024 / 1e6;
  std::printf("publish memory: %.1f MB text  peak %.1f MB  ratio %.2f (goal < 10) %s\n", mb, peak_mb, peak_mb / mb,
              Verdict(peak_mb / mb < 10));

  // The peer users would otherwise pick: calibre's ebook-convert, text to EPUB.
  const char* peer = "/usr/bin/ebook-convert";
  if (!with_peer) return;  // tiny sizes only check that the road runs
  if (::access(peer, X_OK) != 0) {
    std::printf("      (ebook-convert not installed: no comparison; apt-get install calibre)\n");
    return;
  }
  Comparison against = Compare(
      std::min(reps, 3), [&] { return road(small, "small"); },
      [&] {
        return Spawn({peer, small, scratch / "peer.epub"});
      });
  std::printf(
      "publish vs ebook-convert: %.1f MB text  vellix %.1f ms  ebook-convert %.1f ms  %.1fx faster (goal >= 20) %s\n",
      mb / 10, against.Subject().median, against.Baseline().median, 1 / against.Ratio(),
      Verdict(1 / against.Ratio() >= 20));
  std::printf("      %s\n", against.Details("vellix", "ebook-convert").c_str());
}

// --- view ---------------------------------------------------------------

// Files in `folder` (not counting folders).
size_t CountFiles(const std::string& folder) {
  size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.is_regular_file()) ++n;
  return n;
}

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

// CPU time of the calling thread: steadier than the clock on a busy machine.
double ThreadCpuMilliseconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

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

// --- shelfadd -------------------------------------------------------------

// `count` short texts (a few hundred bytes each) in `folder`; their paths.
std::vector<std::string> MakeSmallTexts(const std::string& folder, size_t count) {
  std::filesystem::create_directories(folder);
  Rng rng(7);
  std::vector<std::string> paths;
  for (size_t i = 0; i < count; ++i) {
    std::string text;
    for (int line = 0; line < 6; ++line) {
      text += Pick(rng, kTitleWords);
      text += " ";
      text += Pick(rng, kTitleNouns);
      text += " of " + std::to_string(rng.Below(1000)) + " lines, said " + Pick(rng, kFirstNames) + ".\n";
    }
    char name[32];
    std::snprintf(name, sizeof name, "note%04zu.txt", i);
    paths.push_back(folder + "/" + name);
    WriteWholeFile(paths.back(), text);
  }
  return paths;
}

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
  Comparison jobs = Compare(
      reps,
      [&] {
        std::string shelf = fresh_shelf("jobs2");
        std::vector<std::string> args = tool_args(shelf, large_texts);
        args.insert(args.begin() + 4, {"--jobs", "2"});
        RunTimes t = Spawn(args);
        check(shelf, "jobs 2", large_count);
        return t;
      },
      [&] {
        std::string shelf = fresh_shelf("jobs1");
        std::vector<std::string> args = tool_args(shelf, large_texts);
        args.insert(args.begin() + 4, {"--jobs", "1"});
        RunTimes t = Spawn(args);
        check(shelf, "jobs 1", large_count);
        return t;
      });
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

// --- memory -------------------------------------------------------------

// Peak memory of the tool: a shelf's JSON listing against its plain
// listing, and a text converted at two sizes ten times apart.
void BenchMemory(size_t books, size_t text_bytes, int reps) {
  ScratchFolder scratch("memory");
  const std::string shelf = scratch / "shelf";
  MakeShelf(shelf, books);
  const std::string small_text = scratch / "small.txt", large_text = scratch / "large.txt";
  MakeText(small_text, text_bytes / 10);
  MakeText(large_text, text_bytes);
  const std::string tool = ToolPath();
  const std::string& where = scratch.path();
  std::vector<double> plain, json, small, large;
  auto kib = [&](std::vector<double>& into, const std::vector<std::string>& args) {
    into.push_back(static_cast<double>(PeakKiBOf(where, args)));
  };
  // Peaks hardly vary from run to run; three of each are plenty.
  for (int r = 0; r < std::min(reps, 3); ++r) {
    Interleave(
        r,
        [&] {
          kib(json, {tool, "shelf", "list", shelf, "--json"});
        },
        [&] {
          kib(plain, {tool, "shelf", "list", shelf});
        });
    Interleave(
        r,
        [&] {
          kib(large, {tool, "book", "text2htm", large_text, scratch / "large.htm"});
        },
        [&] {
          kib(small, {tool, "book", "text2htm", small_text, scratch / "small.htm"});
        });
  }
  auto mib = [](const std::vector<double>& v) { return Summarize(v).median / 1024.0; };
  double list_ratio = mib(json) / mib(plain), text_ratio = mib(large) / mib(small);
  std::printf(
      "memory: vellix shelf list, %zu books  --json %.1f MiB  plain %.1f MiB  ratio %.2f "
      "(goal <= 1.5) %s\n",
      books, mib(json), mib(plain), list_ratio, Verdict(list_ratio <= 1.5));
  std::printf(
      "memory: vellix book text2htm  %.1f MB text %.1f MiB  %.1f MB text %.1f MiB  ratio %.2f "
      "(goal <= 1.1: independent of the size) %s\n",
      static_cast<double>(text_bytes) / 1e6, mib(large), static_cast<double>(text_bytes) / 1e7, mib(small), text_ratio,
      Verdict(text_ratio <= 1.1));
}

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
  if (mode == "--peak-of" && argc >= 3) {
    std::vector<std::string> args(argv + 2, argv + argc);
    std::vector<char*> child;
    for (std::string& a : args) child.push_back(a.data());
    child.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int spawned = ::posix_spawn(&pid, child[0], &actions, nullptr, child.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return 1;
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0)
      if (errno != EINTR) return 1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
    std::printf("%ld\n", usage.ru_maxrss);  // KiB
    return 0;
  }
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

int main(int argc, char** argv) {
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
      const size_t mib = 1024 * 1024;
      if (small)
        BenchConvert(600 * 1024, 100 * 1024, reps);
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
