// vellix-bench: speed of the library against plain baselines measured in
// the same run.
//
//   vellix-bench [--only load|sort|convert[,...]] [--small] [--reps N]
//
// Every benchmark builds its own fixtures in a fresh temporary folder (under
// $TMPDIR, else /tmp) and removes them afterwards. Subject and baseline runs
// are interleaved and each figure is the median of the repetitions; the
// printed ratio is the ratio of those wall-clock medians. The exit status
// reports only whether the benchmarks ran correctly, never whether a goal
// was met.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
#include "sort.h"
#include "vellix/book.h"
#include "vellix/booklist.h"
#include "vellix/bookshelf.h"
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
  std::snprintf(buf, sizeof buf, "cpu-time ratio %.2f",
                Summarize(subject).median / Summarize(baseline).median);
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

const char* Verdict(bool met) { return met ? "met" : "MISSED"; }

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what); }

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
    std::string pattern =
        std::string(base && *base ? base : "/tmp") + "/vellix-bench-" + what + "-XXXXXX";
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

const char* const kCategoryWords[] = {"Fiction", "Science",   "History", "News",      "Cooking",
                                      "Poetry",  "Travel",    "Art",     "Biography", "Children",
                                      "Drama",   "Economics", "Essays",  "Fantasy",   "Gardening",
                                      "Law",     "Music",     "Nature",  "Religion",  "Sports"};
const char* const kTitleWords[] = {"Silent", "Crimson", "Hidden", "Northern", "Last",  "Broken",
                                   "Golden", "Winter",  "Lost",   "Distant",  "Quiet", "Wild"};
const char* const kTitleNouns[] = {"River",  "Garden", "City",    "Voyage",  "Letters", "Empire",
                                   "Island", "Harbor", "Machine", "Orchard", "Night",   "Crown",
                                   "Storm",  "Atlas",  "Mirror",  "Road",    "Kingdom"};
const char* const kFirstNames[] = {"Anna",  "Boris", "Clara",   "David", "Elena", "Frank", "Greta",
                                   "Henri", "Ines",  "Jonas",   "Karin", "Lukas", "Maria", "Nils",
                                   "Olga",  "Pavel", "Quentin", "Rosa",  "Sven",  "Tomas"};
const char* const kLastNames[] = {"Adler",  "Berg",   "Castro", "Dahl",  "Engel",
                                  "Falk",   "Gruber", "Holm",   "Ibsen", "Jansen",
                                  "Keller", "Lind",   "Moreau", "Novak", "\xC3\x96stberg"};

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
    size_t length =
        (static_cast<unsigned char>(buffer[22]) << 8) | static_cast<unsigned char>(buffer[23]);
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
  std::filesystem::create_directory(shelf);
  Rng rng(42);
  for (size_t i = 0; i < count; ++i) {
    fx::Info info;
    info.id = "BK" + std::to_string(100000 + i);
    info.category = WithCase(rng, Pick(rng, kCategoryWords));
    info.title = std::string(Pick(rng, kTitleWords)) + " " + Pick(rng, kTitleNouns) + " " +
                 std::to_string(rng.Below(1000));
    info.author_first = Pick(rng, kFirstNames);
    info.author_last = Pick(rng, kLastNames);
    if (rng.Below(3) == 0)
      info.author_middle = std::string(1, static_cast<char>('A' + rng.Below(26))) + ".";
    std::string fork = RandomBytes(rng, 2048 + rng.Below(2049));
    char name[32];
    std::snprintf(name, sizeof name, "%c%c%c%05zu.imp", static_cast<char>('A' + rng.Below(26)),
                  static_cast<char>('A' + rng.Below(26)), static_cast<char>('A' + rng.Below(26)),
                  i);
    WriteWholeFile(shelf + "/" + name, fx::SimpleBookFile(info, "", fork));
  }

  // Warm the page and directory caches; neither pass is timed.
  uint64_t checksum = 0;
  if (PosixScan(shelf, checksum) != count) Fail("load: baseline saw the wrong number of files");
  {
    vellix::Bookshelf warm;
    warm.Load(shelf);
    if (!warm.Books() || static_cast<size_t>(warm.Books()->Count()) != count)
      Fail("load: the bookshelf holds the wrong number of books");
  }

  std::vector<double> subject, baseline, subject_cpu, baseline_cpu;
  for (int r = 0; r < reps; ++r) {
    auto run_subject = [&] {
      vellix::Bookshelf bookshelf;
      Stopwatch watch;
      bookshelf.Load(shelf);
      watch.Stop(subject, subject_cpu);
      if (static_cast<size_t>(bookshelf.Books()->Count()) != count)
        Fail("load: the bookshelf holds the wrong number of books");
    };
    auto run_baseline = [&] {
      Stopwatch watch;
      size_t seen = PosixScan(shelf, checksum);
      watch.Stop(baseline, baseline_cpu);
      if (seen != count) Fail("load: baseline saw the wrong number of files");
    };
    Interleave(r, run_subject, run_baseline);
  }
  // The exports over the same shelf, against the same baseline.
  std::vector<double> text_times, list_times, unused;
  const std::string list_path = scratch / "List.htm";
  for (int r = 0; r < reps; ++r) {
    {
      vellix::Bookshelf bookshelf;
      Stopwatch watch;
      bookshelf.SetDirectory(shelf);
      std::string text = bookshelf.BookshelfText();
      watch.Stop(text_times, unused);
      if (text.size() < count) Fail("text: the bookshelf text is too short");
    }
    {
      vellix::Bookshelf bookshelf;
      Stopwatch watch;
      bookshelf.Load(shelf);
      bookshelf.CreateBooklist(list_path);
      watch.Stop(list_times, unused);
    }
  }
  Stats s = Summarize(subject), b = Summarize(baseline);
  Stats t = Summarize(text_times), l = Summarize(list_times);
  std::printf("text: %zu book files  bookshelf text %.1f ms  ratio to posix load %.2f (goal <= 2) %s\n",
              count, t.median, t.median / b.median, Verdict(t.median / b.median <= 2));
  std::printf("booklist: %zu books  load + sort + write %.1f ms  ratio to posix load %.2f\n", count,
              l.median, l.median / b.median);
  double ratio = s.median / b.median;
  std::printf("load: %zu book files  vellix %.1f ms  posix %.1f ms  ratio %.2f (goal <= 1.5) %s\n",
              count, s.median, b.median, ratio, Verdict(ratio <= 1.5));
  std::printf("      %d runs each; vellix %s; posix %s; %s\n", reps, Spread(s).c_str(),
              Spread(b).c_str(), CpuRatio(subject_cpu, baseline_cpu).c_str());
  if (checksum == 0) std::printf("      (empty checksum)\n");
}

// --- sort ---------------------------------------------------------------

void BenchSort(size_t count, int reps) {
  Vocabulary vocabulary = MakeVocabulary();
  Rng rng(7);
  auto books = std::make_shared<vellix::Books>();
  for (size_t i = 0; i < count; ++i) {
    auto book = std::make_shared<vellix::Book>();
    book->SetCategory(
        WithCase(rng, vocabulary.categories[rng.Below(vocabulary.categories.size())]));
    book->SetTitle(WithCase(rng, vocabulary.titles[rng.Below(vocabulary.titles.size())]));
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
      std::stable_sort(order.begin(), order.end(),
                       [&](size_t a, size_t b) { return keys[a] < keys[b]; });
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
      count, k.median, s.median, b.median, ratio, Verdict(ratio <= 3.0), total,
      Verdict(total < 1000.0));
  std::printf("      %d runs each; keys %s; order %s; stable_sort %s; %s\n", reps,
              Spread(k).c_str(), Spread(s).c_str(), Spread(b).c_str(),
              CpuRatio(subject_cpu, baseline_cpu).c_str());
}

// --- convert ------------------------------------------------------------

// Runs /bin/cp with `args` (no shell) and waits for it; returns the CPU
// time (user + system) cp used, in milliseconds.
double RunCp(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  static char cp_name[] = "cp";
  argv.push_back(cp_name);
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid < 0) Fail("fork failed");
  if (pid == 0) {
    ::execv("/bin/cp", argv.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0)
    if (errno != EINTR) Fail("waitpid failed");
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail("cp failed");
  auto ms = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
  };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

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
  const char* const resources[][2] = {
      {"PIC1", "PICT"}, {"PIC2", "PICT"}, {"SND1", "SOUN"}, {"TXT1", "TEXT"}};
  for (const auto& [name, tag] : resources)
    WriteWholeFile(source + "/" + name, fx::Resource(1, tag, RandomBytes(rng, resource_bytes - 6)));

  std::vector<std::string> cp_args;
  uint64_t total_bytes = 0;
  for (const auto& entry : std::filesystem::directory_iterator(source)) {
    cp_args.push_back(entry.path().string());
    total_bytes += entry.file_size();
  }
  cp_args.push_back(cp_dest + "/");
  const double mib = static_cast<double>(total_bytes) / (1024.0 * 1024.0);

  auto clear_outputs = [&] {
    ::unlink(book_dest.c_str());
    std::filesystem::remove_all(cp_dest);
    std::filesystem::create_directory(cp_dest);
  };
  std::vector<double> subject, baseline, subject_cpu, baseline_cpu, unused_wall, unused_cpu;
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
    auto start = Clock::now();
    double cpu = RunCp(cp_args);
    double ms = MillisecondsSince(start);
    if (timed) {
      baseline.push_back(ms);
      baseline_cpu.push_back(cpu);
    }
  };

  // Warm the page cache with the sources; outputs are always fresh files.
  run_baseline(false);
  run_subject(false);

  for (int r = 0; r < reps; ++r) {
    Interleave(r, [&] { run_subject(true); }, [&] { run_baseline(true); });
  }
  clear_outputs();
  Stats s = Summarize(subject), b = Summarize(baseline);
  double subject_rate = mib / (s.median / 1000.0);
  double cp_rate = mib / (b.median / 1000.0);
  double ratio = subject_rate / cp_rate;
  std::printf(
      "convert: %.1f MiB book folder  vellix %.1f ms %.0f MiB/s  cp %.1f ms %.0f MiB/s  ratio %.2f "
      "(goal >= 0.70) %s\n",
      mib, s.median, subject_rate, b.median, cp_rate, ratio, Verdict(ratio >= 0.70));
  // Throughput ratio = cp time / vellix time, so the CPU check is inverted.
  std::printf("      %d runs each; vellix %s; cp %s; %s (cp / vellix)\n", reps, Spread(s).c_str(),
              Spread(b).c_str(), CpuRatio(baseline_cpu, subject_cpu).c_str());
}

// --- text ---------------------------------------------------------------

// Runs a program (no shell) and waits for it; false when it cannot run.
bool RunProgram(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  std::vector<std::string> copy = args;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, 1);
      dup2(null, 2);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void BenchText(size_t bytes, int reps) {
  ScratchFolder scratch("text");
  const std::string txt = scratch / "book.txt";
  Rng rng(7);
  std::string text;
  static const char* const kWords[] = {"the", "reader", "turned", "a", "page", "caf\xC3\xA9",
                                       "<b>", "&", "quietly", "\"quoted\"", "and", "night"};
  while (text.size() < bytes) {
    size_t words = 4 + rng.Below(12);
    for (size_t w = 0; w < words; ++w) {
      text += kWords[rng.Below(12)];
      text += ' ';
    }
    text += rng.Below(6) == 0 ? "\n\n" : "\n";
  }
  WriteWholeFile(txt, text);

  std::vector<double> subject, baseline, unused;
  for (int r = 0; r < reps; ++r) {
    auto run_subject = [&] {
      vellix::Book book;
      book.Load(txt);
      Stopwatch watch;
      book.ConvertTxtToHtm(scratch / "book.htm");
      watch.Stop(subject, unused);
    };
    auto run_baseline = [&] {
      Stopwatch watch;
      std::ifstream in(txt, std::ios::binary);
      std::ofstream out(scratch / "plain.txt", std::ios::binary | std::ios::trunc);
      std::string line;
      while (std::getline(in, line)) {
        out << line << "\r\n";
      }
      out.close();
      watch.Stop(baseline, unused);
    };
    Interleave(r, run_subject, run_baseline);
  }
  Stats s = Summarize(subject), b = Summarize(baseline);
  double ratio = s.median / b.median;
  std::printf("text: %.1f MB text  ConvertTxtToHtm %.1f ms  line-by-line copy %.1f ms  ratio %.2f "
              "(goal <= 4) %s\n",
              static_cast<double>(bytes) / 1e6, s.median, b.median, ratio, Verdict(ratio <= 4));
  if (access("/usr/bin/pandoc", X_OK) == 0) {
    std::vector<double> pandoc;
    for (int r = 0; r < std::min(reps, 3); ++r) {
      Stopwatch watch;
      if (!RunProgram({"/usr/bin/pandoc", "-f", "markdown", "-t", "html", "-o", scratch / "p.html", txt}))
        break;
      watch.Stop(pandoc, unused);
    }
    if (!pandoc.empty()) {
      double p = Summarize(pandoc).median;
      std::printf("      pandoc -f markdown -t html %.1f ms: ConvertTxtToHtm takes %.3f of its time\n", p,
                  s.median / p);
    }
  } else {
    std::printf("      (pandoc not installed: no comparison)\n");
  }
}

// --- package ------------------------------------------------------------

// CreatePackage over a document with `elements` img and a elements; the
// time should grow linearly with them.
double PackageOnce(const std::string& folder, size_t elements) {
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
  Stopwatch watch;
  std::vector<double> wall, unused;
  package.CreatePackage(folder + "/story.htm", "story", "t", "a", "c");
  watch.Stop(wall, unused);
  return wall[0];
}

void BenchPackage(size_t elements, int reps) {
  ScratchFolder scratch("package");
  for (int i = 0; i < 200; ++i) WriteWholeFile(scratch / ("ch" + std::to_string(i) + ".htm"), "<html/>");
  std::vector<double> one, two;
  for (int r = 0; r < reps; ++r) {
    one.push_back(PackageOnce(scratch.path(), elements));
    two.push_back(PackageOnce(scratch.path(), 2 * elements));
  }
  double a = Summarize(one).median, b = Summarize(two).median;
  std::printf("package: CreatePackage %zu elements %.1f ms, %zu elements %.1f ms  ratio %.2f "
              "(linear: about 2)\n",
              elements, a, 2 * elements, b, b / a);
}

// --- pack ---------------------------------------------------------------

// cat FILES > OUT, without a shell.
void RunCat(const std::vector<std::string>& files, const std::string& out) {
  std::vector<std::string> args = {"/bin/cat"};
  args.insert(args.end(), files.begin(), files.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0) Fail("fork failed");
  if (pid == 0) {
    int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || dup2(fd, 1) < 0) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail("cat failed");
}

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
    manifest += "<item id=\"i" + std::to_string(i) + "\" href=\"" + name +
                "\" media-type=\"text/x-oeb1-document\"/>";
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
      Stopwatch watch;
      RunCat(paths, scratch / "cat.out");
      watch.Stop(baseline, unused);
    };
    Interleave(r, run_subject, run_baseline);
  }
  double mib = static_cast<double>(files * each) / (1024.0 * 1024.0);
  double vs = mib / (Summarize(subject).median / 1000), cs = mib / (Summarize(baseline).median / 1000);
  std::printf("pack: BuildOEBFile of %.0f MiB in %zu files  vellix %.0f MiB/s  cat %.0f MiB/s  ratio %.2f "
              "(goal >= 0.70) %s\n",
              mib, files, vs, cs, vs / cs, Verdict(vs / cs >= 0.70));
}

void Usage(FILE* to) {
  std::fprintf(to,
               "usage: vellix-bench [--only load|sort|convert|text|package|pack[,...]] [--small] [--reps N]\n"
               "  --only   run only the named benchmarks (comma-separated; may repeat)\n"
               "  --small  tiny sizes, for a quick check that everything runs\n"
               "  --reps   repetitions of each measurement (default 9, 3 with --small)\n");
}

}  // namespace

int main(int argc, char** argv) {
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
        if (name != "load" && name != "sort" && name != "convert" && name != "text" &&
            name != "package" && name != "pack") {
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
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "vellix-bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
