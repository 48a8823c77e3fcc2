// Arbitrary bytes as a book to show: whatever the edition reader accepts is
// laid out in both type sizes and its first pages drawn at every depth, on
// a small screen, and searched for a piece of its own text. Nothing may
// crash, read or write outside a buffer, or draw outside the page; every
// page drawn has the screen's size, and every link area, character box and
// search hit names a place that exists.
#include <cstdint>
#include <memory>
#include <string_view>

#include "edition_layout.h"
#include "fonts.h"
#include "fuzz_common.h"
#include "ikutil/device_edition.h"
#include "page_layout.h"
#include "page_raster.h"
#include "text_search.h"

namespace {

constexpr int32_t kPagesDrawn = 4;
constexpr int kMostHits = 64;
// Laying out a whole book only when it is small keeps each run short.
constexpr size_t kMostBlocksCounted = 64;

ikutil::typeset::FontSet& Fonts() {
  static ikutil::typeset::FontSet* fonts = [] {
    std::string error;
    auto set = ikutil::typeset::FontSet::Open(&error);
    if (set == nullptr) fuzz::Fail("fuzz_book_viewer", error.c_str());
    return set.release();
  }();
  return *fonts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  ikutil::EditionReadResult read = ikutil::ReadDeviceEditionFromBytes(bytes);
  if (read.error != ikutil::EditionError::kNone) return 0;
  const ikutil::DeviceEdition& edition = read.edition;
  ikutil::typeset::FontSet& fonts = Fonts();
  ikutil::typeset::PageRasterizer rasterizer(fonts);
  // The screen comes from the input's size, so every shape is tried.
  const int32_t width = 96 + static_cast<int32_t>(size % 7) * 24;
  const int32_t height = 128 + static_cast<int32_t>(size % 5) * 32;
  const int16_t depths[] = {1, 2, 4, 8};
  for (bool large : {false, true}) {
    ikutil::typeset::Typesetter typesetter(edition, fonts, {width, height, large});
    ikutil::typeset::InfoTray tray{read.info.title, 1, 1};
    int32_t drawn = 0;
    for (int32_t number = 1; number <= kPagesDrawn; ++number) {
      const ikutil::typeset::Page* page = typesetter.GetPage(number);
      if (page == nullptr) break;
      ikutil::PageImage image;
      const int16_t depth = depths[(number + (large ? 1 : 0)) % 4];
      rasterizer.Draw(*page, edition, width, height, depth, number == 2 ? &tray : nullptr, &image);
      if (image.width != width || image.height != height || image.depth != depth ||
          image.pixels.size() != static_cast<size_t>(width) * height)
        fuzz::Fail("fuzz_book_viewer", "a page image of the wrong size");
      for (uint8_t value : image.pixels)
        if (value >= (1 << depth)) fuzz::Fail("fuzz_book_viewer", "a pixel beyond the depth's white");
      for (const ikutil::typeset::LinkArea& area : page->links)
        if (area.link >= edition.links.size() || area.block >= edition.blocks.size())
          fuzz::Fail("fuzz_book_viewer", "a link area of no link");
      for (const ikutil::typeset::PageLine& line : page->lines) {
        if (line.block >= edition.blocks.size()) fuzz::Fail("fuzz_book_viewer", "a line of no block");
        const uint64_t length = ikutil::edition::TextLength(edition.blocks[line.block]);
        for (const ikutil::typeset::CharBox& box : line.chars)
          if (box.offset >= length || box.left > box.right)
            fuzz::Fail("fuzz_book_viewer", "a character box of nothing");
      }
      ++drawn;
    }
    if (drawn == 0) fuzz::Fail("fuzz_book_viewer", "a book without a first page");
    if (edition.blocks.size() <= kMostBlocksCounted) {
      const int32_t count = typesetter.PageCount();
      if (count < drawn) fuzz::Fail("fuzz_book_viewer", "fewer pages counted than drawn");
      if (typesetter.GetPage(count) == nullptr || typesetter.GetPage(count + 1) != nullptr)
        fuzz::Fail("fuzz_book_viewer", "the page count disagrees with the pages");
      const ikutil::typeset::Page* last = typesetter.GetPage(count);
      const ikutil::FlowPosition first_of_last = last->first;
      const int32_t found = typesetter.PageOf(first_of_last);
      if (found < 1 || found > count) fuzz::Fail("fuzz_book_viewer", "a position on no page");
    }
  }
  // A piece of the book's own text, searched for through the whole flow.
  std::string needle;
  for (const ikutil::Block& block : edition.blocks)
    if (!block.runs.empty() && !block.runs.front().text.empty()) {
      needle = block.runs.front().text.substr(size % 3, 1 + size % 5);
      break;
    }
  ikutil::typeset::TextFinder finder(edition, needle);
  ikutil::FlowPosition at{};
  for (int n = 0; n < kMostHits; ++n) {
    const auto hit = finder.Next(at);
    if (!hit) break;
    if (hit->block >= edition.blocks.size() || hit->begin >= hit->end ||
        hit->end > ikutil::edition::TextLength(edition.blocks[hit->block]))
      fuzz::Fail("fuzz_book_viewer", "a search hit outside its block's text");
    at = {hit->block, hit->end};
  }
  return 0;
}
