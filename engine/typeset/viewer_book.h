// The book a CBookViewer holds open: its edition, fonts and current layout.
// Shared by the viewer's files; nothing outside the viewer sees it.
#pragma once

#include <memory>

#include "edition_source.h"
#include "fonts.h"
#include "ikutil/book_viewer.h"
#include "ikutil/device_edition.h"
#include "page_layout.h"
#include "page_raster.h"

namespace ikutil {

struct CBookViewer::Book {
  // Read as far as the layout, a search or the contents went.
  std::unique_ptr<EditionSource> source;
  const DeviceEdition& edition() const { return source->edition(); }
  std::unique_ptr<typeset::FontSet> fonts;
  std::unique_ptr<typeset::Typesetter> typesetter;
  std::unique_ptr<typeset::PageRasterizer> rasterizer;
  bool large = false;

  // `page` moved into 1..page count, laying out no further than needed.
  int32_t Clamp(int32_t page) {
    if (page < 1) return 1;
    if (typesetter->GetPage(page) != nullptr) return page;
    return typesetter->PageCount();
  }
};

}  // namespace ikutil
