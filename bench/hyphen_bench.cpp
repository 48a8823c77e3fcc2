// Loading hyphenation patterns: from their compiled file in the cache
// folder against libhyphen's own loading of the pattern file, in the same
// run and in turns.
//
//   hyphen-bench [--small] [--reps N]
//
// The pattern file is made here: tens of thousands of patterns of the
// shape a big language's file has (--small: a few thousand). Where the
// German patterns are installed they are measured too. Goal: the cached
// load takes at most a tenth of the uncached one.
#include <hyphen.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "compiled_patterns.h"
#include "harness.h"

namespace {

using namespace vellix::bench;
using ikutil::typeset::LoadPatternsCached;

// Patterns of two to seven letters with digits between them, as TeX
// patterns are written ("1ba", "a2b1c", ".ab3"), drawn from a fixed seed.
std::string PatternFile(int count) {
  std::string text = "UTF-8\nLEFTHYPHENMIN 2\nRIGHTHYPHENMIN 2\n";
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  for (int i = 0; i < count; ++i) {
    std::string pattern = next(8) == 0 ? "." : "";
    const uint32_t letters = 2 + next(6);
    for (uint32_t l = 0; l < letters; ++l) {
      if (next(3) == 0) pattern += static_cast<char>('1' + next(5));
      pattern += static_cast<char>('a' + next(26));
    }
    if (next(3) == 0) pattern += static_cast<char>('1' + next(5));
    text += pattern + "\n";
  }
  return text;
}

void Measure(const char* what, const std::string& path, const std::string& cache, int reps) {
  HyphenDict* first = LoadPatternsCached(path, cache);  // writes the compiled file
  if (first == nullptr) Fail(std::string("cannot load ") + path);
  hnj_hyphen_free(first);
  std::vector<double> wall[2], cpu[2];
  for (int r = 0; r < reps; ++r) {
    for (int cached = 0; cached < 2; ++cached) {
      Stopwatch watch;
      HyphenDict* dict = cached != 0 ? LoadPatternsCached(path, cache) : hnj_hyphen_load(path.c_str());
      watch.Stop(wall[cached], cpu[cached]);
      if (dict == nullptr) Fail(std::string("cannot load ") + path);
      hnj_hyphen_free(dict);
    }
  }
  const double plain = Summarize(wall[0]).median, cached = Summarize(wall[1]).median;
  const double ratio = cached / plain;
  std::printf("%-14s %12.2f %12.2f %8.3f  %s  (%s)\n", what, plain, cached, ratio, Verdict(ratio <= 0.1),
              CpuRatio(cpu[1], cpu[0]).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  RunOptions options;
  if (!ReadRunOptions(argc, argv, "hyphen-bench", options)) return 2;
  const bool small = options.small;
  const int reps = options.reps;
  try {
    ScratchFolder scratch("hyphen-bench");
    const std::string patterns = scratch / "hyph_xx.dic";
    WriteWholeFile(patterns, PatternFile(small ? 3000 : 60000));
    std::printf("%-14s %12s %12s %8s  %s\n", "patterns", "libhyphen ms", "cached ms", "ratio", "goal <= 0.1");
    Measure(small ? "made, 3k" : "made, 60k", patterns, scratch / "cache", reps);
    const std::string german = "/usr/share/hyphen/hyph_de_DE.dic";
    if (!small && std::getenv("VELLIX_HYPHEN_DIR") == nullptr && std::filesystem::exists(german))
      Measure("German", german, scratch / "cache", reps);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "hyphen-bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
