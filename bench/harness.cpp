#include "harness.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace vellix::bench {

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double ProcessCpuMilliseconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

void Fail(const std::string& what) { throw std::runtime_error(what); }

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

std::string Spread(const Stats& s) {
  char buf[96];
  double lo = s.median > 0 ? 100.0 * (s.min - s.median) / s.median : 0;
  double hi = s.median > 0 ? 100.0 * (s.max - s.median) / s.median : 0;
  std::snprintf(buf, sizeof buf, "%.1f..%.1f ms (%+.0f%%/%+.0f%%)", s.min, s.max, lo, hi);
  return buf;
}

std::string CpuRatio(const std::vector<double>& subject, const std::vector<double>& baseline) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "cpu-time ratio %.2f", Summarize(subject).median / Summarize(baseline).median);
  return buf;
}

const char* Verdict(bool met) { return met ? "met" : "MISSED"; }

std::string Comparison::Details(const char* subject_name, const char* baseline_name) const {
  return std::to_string(subject.size()) + " runs each; " + subject_name + " " + Spread(Subject()) + "; " +
         baseline_name + " " + Spread(Baseline()) + "; " + CpuRatio(subject_cpu, baseline_cpu);
}

bool ReadRunOptions(int argc, char** argv, const char* program, RunOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--small") {
      options.small = true;
    } else if (arg == "--reps" && i + 1 < argc) {
      options.reps = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: %s [--small] [--reps N]\n", program);
      return false;
    }
  }
  if (options.reps <= 0) options.reps = options.small ? 1 : 5;
  return true;
}

ProcessRun RunProcess(const std::vector<std::string>& args, const std::string& out) {
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  ProcessRun run;
  auto start = Clock::now();
  pid_t pid = 0;
  run.started = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  if (!run.started) return run;
  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) return run;
  }
  run.wall = MillisecondsSince(start);
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  auto ms = [](const timeval& v) { return static_cast<double>(v.tv_sec) * 1e3 + static_cast<double>(v.tv_usec) / 1e3; };
  run.cpu = ms(usage.ru_utime) + ms(usage.ru_stime);
  run.peak_kib = usage.ru_maxrss;
  return run;
}

RunTimes Spawn(const std::vector<std::string>& args, const std::string& out) {
  ProcessRun run = RunProcess(args, out);
  if (!run.started) Fail("cannot start " + args[0]);
  if (!run.ok()) Fail(args[0] + " failed");
  return {run.wall, run.cpu};
}

std::string SelfPath() {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) Fail("cannot find this program's path");
  return self.string();
}

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

int ReportPeakOf(const std::vector<std::string>& args) {
  if (args.empty()) return 1;
  ProcessRun run = RunProcess(args);
  if (!run.ok()) return 1;
  std::printf("%ld\n", run.peak_kib);  // KiB
  return 0;
}

void FillRandom(Rng& rng, std::string& out) {
  const size_t n = out.size();
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t v = rng.Next();
    std::memcpy(out.data() + i, &v, 8);
  }
  for (; i < n; ++i) out[i] = static_cast<char>(rng.Next());
}

std::string RandomBytes(Rng& rng, size_t n) {
  std::string out(n, '\0');
  FillRandom(rng, out);
  return out;
}

ScratchFolder::ScratchFolder(const std::string& what) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base && *base ? base : "/tmp") + "/" + program_invocation_short_name + "-" + what + "-XXXXXX";
  if (!::mkdtemp(pattern.data())) Fail("cannot make a temporary folder: " + pattern);
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

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

}  // namespace vellix::bench
