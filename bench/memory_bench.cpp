// vellix-bench's `memory`: the tool's peak memory listing a shelf as JSON
// against listing it plainly, and converting a text ten times larger.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_fixtures.h"
#include "benchmarks.h"
#include "harness.h"

namespace vellix::bench {

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

}  // namespace vellix::bench
