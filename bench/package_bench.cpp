// vellix-bench's `package`: a package made of a document of twice as many
// elements, against the same of the smaller one (linear: about 2).
#include <cstdio>
#include <string>

#include "benchmarks.h"
#include "harness.h"
#include "vellix/book.h"
#include "vellix/package.h"

namespace vellix::bench {

namespace {

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

}  // namespace

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

}  // namespace vellix::bench
