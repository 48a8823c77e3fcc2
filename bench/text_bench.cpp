// vellix-bench's `text`: a text converted to a document, in this process
// and by the tool, against a line-by-line copy of the same text.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench_fixtures.h"
#include "benchmarks.h"
#include "harness.h"
#include "vellix/book.h"

namespace vellix::bench {

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

}  // namespace vellix::bench
