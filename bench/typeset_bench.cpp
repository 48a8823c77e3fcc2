// typeset-bench: the typesetter's time on long books, against the same book
// at half the length.
//
//   typeset-bench [--small] [--reps N]
//
// Prose of ordinary word lengths (about 1 MB, and 2 MB; 50 and 100 KB with
// --small) is laid out at 480x640 in the normal and the large type size.
// Timed: the first page of a fresh typesetter, every page (counting them),
// and a middle page asked for again once all are laid out. Each figure is
// the median of the repetitions, after one untimed run. The ratio 2S/S is
// about 1 where the time does not grow with the book (the first page, a
// page again) and about 2 where it grows in proportion (every page). The
// exit status reports only whether the benchmark ran.
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "fonts.h"
#include "harness.h"
#include "ikutil/device_edition.h"
#include "page_layout.h"

namespace {

using namespace ikutil;
using namespace ikutil::typeset;
using vellix::bench::Clock;
using vellix::bench::MillisecondsSince;
using vellix::bench::ReadRunOptions;
using vellix::bench::RunOptions;
using vellix::bench::Summarize;

constexpr uint16_t kBodyText = 0, kHeadingText = 1;
constexpr uint16_t kJustified = 0, kHeadingBlock = 1;

const char* const kSentences[] = {
    "The rain had stopped by the time she reached the harbour, and the boats lay still on the grey water.",
    "Nobody in the village could remember when the old lighthouse had last been painted.",
    "He folded the letter twice, put it in his coat, and walked out without a word.",
    "\"You will find,\" said the keeper, \"that the stairs are steeper than they look.\"",
    "It was, on the whole, an unremarkable afternoon, which made what followed all the more surprising.",
    "The children ran ahead along the shore, shouting at the gulls that wheeled above the rocks.",
    "She had always believed that a good map was worth more than any amount of advice.",
    "By evening the wind had turned, bringing with it the smell of salt and woodsmoke.",
    "They argued about the price of fish, the weather, and the new schoolmaster's peculiar habits.",
    "In the morning there would be time enough to decide; for now, sleep was the only sensible thing.",
    "The inspector examined the broken window with considerable interest and some irritation.",
    "Every summer the visitors came, stayed a fortnight, and went home convinced they understood the place.",
};

Block TextBlock(BlockKind kind, uint16_t style, uint16_t text_style, std::string text) {
  Block block;
  block.kind = kind;
  block.level = kind == BlockKind::kHeading ? 1 : 0;
  block.style = style;
  block.runs.push_back({std::move(text), text_style, kNoLink});
  return block;
}

// Paragraphs of one to eight sentences, a chapter heading now and then,
// until the text is `bytes` long.
DeviceEdition Prose(size_t bytes) {
  DeviceEdition e;
  e.language = "en-US";
  e.text_styles.resize(2);
  e.text_styles[kHeadingText].size_step = 2;
  e.text_styles[kHeadingText].bold = true;
  e.block_styles.resize(2);
  e.block_styles[kJustified].margin_top = 4;
  e.block_styles[kJustified].margin_bottom = 4;
  e.block_styles[kHeadingBlock].align = TextAlign::kLeft;
  e.block_styles[kHeadingBlock].margin_top = 10;
  e.block_styles[kHeadingBlock].margin_bottom = 5;
  e.block_styles[kHeadingBlock].keep_with_next = true;
  size_t written = 0;
  uint32_t seed = 5;
  while (written < bytes) {
    seed = seed * 69069u + 1u;
    if (seed % 23 == 0) {
      e.blocks.push_back(
          TextBlock(BlockKind::kHeading, kHeadingBlock, kHeadingText, "Chapter " + std::to_string(e.blocks.size())));
    }
    std::string text;
    for (uint32_t n = 0; n < 1 + (seed >> 12) % 8; ++n) {
      seed = seed * 69069u + 1u;
      if (!text.empty()) text += ' ';
      text += kSentences[(seed >> 16) % std::size(kSentences)];
    }
    written += text.size();
    e.blocks.push_back(TextBlock(BlockKind::kParagraph, kJustified, kBodyText, std::move(text)));
  }
  return e;
}

// Milliseconds of one run: the first page, every page, a middle page again.
struct Timings {
  double first = 0, all = 0, again = 0;
  int32_t pages = 0;
};

Timings TimeOnce(const DeviceEdition& edition, FontSet& fonts, bool large) {
  Timings run;
  auto start = Clock::now();
  Typesetter typesetter(edition, fonts, LayoutSettings{480, 640, large});
  typesetter.GetPage(1);
  run.first = MillisecondsSince(start);
  run.pages = typesetter.PageCount();
  run.all = MillisecondsSince(start);
  auto again = Clock::now();
  typesetter.GetPage(run.pages / 2);
  run.again = MillisecondsSince(again);
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  RunOptions options;
  if (!ReadRunOptions(argc, argv, "typeset-bench", options)) return 2;
  const bool small = options.small;
  const int reps = options.reps;
  std::string error;
  std::unique_ptr<FontSet> fonts = FontSet::Open(&error);
  if (!fonts) {
    std::fprintf(stderr, "typeset-bench: %s\n", error.c_str());
    return 1;
  }
  const size_t size = small ? 50000 : 1000000;
  const DeviceEdition shorter = Prose(size), longer = Prose(2 * size);

  std::printf("%-7s %-12s %10s %10s %7s  %s\n", "size", "what", "S ms", "2S ms", "2S/S", "expected");
  for (bool large : {false, true}) {
    std::vector<double> first[2], all[2], again[2];
    int32_t pages[2] = {0, 0};
    TimeOnce(shorter, *fonts, large);  // untimed: fonts and shapes loaded once
    for (int r = 0; r < reps; ++r) {
      // The two lengths take turns, so a busy moment hits both alike.
      for (int i = 0; i < 2; ++i) {
        const Timings run = TimeOnce(i == 0 ? shorter : longer, *fonts, large);
        first[i].push_back(run.first);
        all[i].push_back(run.all);
        again[i].push_back(run.again);
        pages[i] = run.pages;
      }
    }
    const char* type = large ? "large" : "normal";
    auto row = [&](const char* what, const std::vector<double>* ms, const char* expected) {
      const double s = Summarize(ms[0]).median, twice = Summarize(ms[1]).median;
      std::printf("%-7s %-12s %10.2f %10.2f %7.2f  %s\n", type, what, s, twice, twice / s, expected);
    };
    row("first page", first, "about 1");
    row("every page", all, "about 2");
    row("page again", again, "about 1");
    std::printf("%-7s %d and %d pages\n", type, pages[0], pages[1]);
  }
  return 0;
}
