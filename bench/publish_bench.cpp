// vellix-bench's `publish`: a text published as a device book, as a
// process of its own, at two sizes ten times apart; its peak memory; and,
// at full size, against another converter when it is installed.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_fixtures.h"
#include "benchmarks.h"
#include "harness.h"
#include "ikutil/builder.h"
#include "test_util.h"
#include "vellix/book.h"
#include "vellix/package.h"

namespace fx = vellix::fixtures;

namespace vellix::bench {

// The text converted to a document, the document's package made and
// completed, the package loaded as a project and built by the engine.
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

}  // namespace vellix::bench
