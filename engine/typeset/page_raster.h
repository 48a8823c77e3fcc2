// Draws a laid-out page into a grey page image: anti-aliased glyphs at
// depths 2, 4 and 8, hinted monochrome glyphs and dithered images at
// depth 1. Glyph bitmaps are cached per face and size.
#pragma once

#include <memory>
#include <string>

#include "fonts.h"
#include "ikutil/book_viewer.h"
#include "ikutil/device_edition.h"
#include "page_layout.h"

namespace ikutil::typeset {

// What the info tray shows over a page.
struct InfoTray {
  std::string title;  // UTF-8
  int32_t page = 0;
  int32_t page_count = 0;
};

class PageRasterizer {
 public:
  // `fonts` must outlive the rasteriser.
  explicit PageRasterizer(FontSet& fonts);
  ~PageRasterizer();
  PageRasterizer(const PageRasterizer&) = delete;
  PageRasterizer& operator=(const PageRasterizer&) = delete;

  // Draws `page` on white into `image`, which is resized to `width` x
  // `height` at `depth` (1, 2, 4 or 8). `tray` is drawn over the page when
  // given.
  void Draw(const Page& page, const DeviceEdition& edition, int32_t width, int32_t height, int16_t depth,
            const InfoTray* tray, PageImage* image);

 private:
  struct Cache;
  void DrawTray(const InfoTray& tray, int32_t width, int32_t height, bool mono);
  FontSet& fonts_;
  std::unique_ptr<Cache> cache_;
};

}  // namespace ikutil::typeset
