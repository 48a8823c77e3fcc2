// The timing harness the benchmark programs share: clocks, medians and
// spreads of repeated runs, subject and baseline runs taken in turns, other
// programs run to their end (wall and CPU time, peak memory), and the
// scratch files a benchmark writes its fixtures into.
//
// Every time is in milliseconds. Nothing here decides whether a goal is
// met; the benchmarks print their ratios and say so with Verdict().
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vellix::bench {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start);

// CPU time (user + system) of this process so far. On a shared machine it
// moves less than the wall clock when others take the CPU.
double ProcessCpuMilliseconds();

// A benchmark that cannot go on: a fixture not written, a program failed,
// a result that is wrong. Throws std::runtime_error.
[[noreturn]] void Fail(const std::string& what);

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

// Median, minimum and maximum of a set of timings. The median of an even
// count is the mean of the two middle values; of none, 0.
struct Stats {
  double median = 0, min = 0, max = 0;
};
Stats Summarize(std::vector<double> v);

// "min..max ms (-x%/+y%)": how far the runs strayed from their median.
std::string Spread(const Stats& s);

// "cpu-time ratio r": the ratio of the medians in CPU time, as a check on
// the wall-clock one.
std::string CpuRatio(const std::vector<double>& subject, const std::vector<double>& baseline);

// "met" or "MISSED".
const char* Verdict(bool met);

// The options most benchmarks take: "--small" (fixtures cut down, one run
// of each unless "--reps N" asks for more) and "--reps N" (five by default).
struct RunOptions {
  bool small = false;
  int reps = 0;
};

// Reads argv into options; prints "usage: PROGRAM [--small] [--reps N]" and
// gives false on anything else.
bool ReadRunOptions(int argc, char** argv, const char* program, RunOptions& options);

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

// Wall and CPU time (user + system) of one run.
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
  std::string Details(const char* subject_name, const char* baseline_name) const;
};

// `reps` runs of each; both callables return the RunTimes of one run.
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

// --- other programs -----------------------------------------------------
//
// Programs are started with posix_spawn, never fork(): forking copies the
// page tables of the benchmark, which grows as benchmarks run, and would
// make a baseline slower the later it ran.

// One run of another program, from its start to its end.
struct ProcessRun {
  bool started = false;
  int code = -1;      // exit status; 128 + the signal when one ended it
  double wall = 0;    // from before the start to after the end
  double cpu = 0;     // the child's own user + system time (from wait4)
  long peak_kib = 0;  // the child's own peak resident memory (from wait4)
  bool ok() const { return started && code == 0; }
};

// Runs args[0] (searched on PATH when it names no folder) with `args`,
// standard output to the file `out` and standard error to /dev/null, and
// waits for it. Never throws: a program that cannot start is !started.
ProcessRun RunProcess(const std::vector<std::string>& args, const std::string& out = "/dev/null");

// RunProcess, but fails unless the program ran and exited with 0.
RunTimes Spawn(const std::vector<std::string>& args, const std::string& out = "/dev/null");

// This program's own path, for runs of itself as a process of its own.
std::string SelfPath();

// Peak resident memory (KiB) of a run of `args`. A process started by a
// large one would report that one's high-water mark when it is higher, so
// a fresh, small copy of this program (`SELF --peak-of ARGS...`, which
// must be answered with ReportPeakOf) starts it and reports its peak into
// a file in the folder `scratch`.
long PeakKiBOf(const std::string& scratch, const std::vector<std::string>& args);

// The `--peak-of ARGS...` run of this program: runs `args` with its output
// thrown away and prints its peak resident memory in KiB. Returns the exit
// status for this program: 0, or 1 when the run failed.
int ReportPeakOf(const std::vector<std::string>& args);

// --- fixtures -----------------------------------------------------------

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

// Fills `out` with the next bytes of `rng`.
void FillRandom(Rng& rng, std::string& out);
std::string RandomBytes(Rng& rng, size_t n);

// A fresh folder for a benchmark's fixtures, named after this program and
// `what` under $TMPDIR (else /tmp) and removed with all it holds on
// destruction.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& what);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Writes `bytes` as the whole of the file `path`, or fails.
void WriteWholeFile(const std::string& path, const std::string& bytes);

}  // namespace vellix::bench
