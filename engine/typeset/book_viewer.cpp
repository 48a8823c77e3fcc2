#include "ikutil/book_viewer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "edition_source.h"
#include "fonts.h"
#include "ikutil/device_edition.h"
#include "page_layout.h"
#include "page_png.h"
#include "page_raster.h"
#include "vellix/formats/error.h"
#include "vellix/formats/file_io.h"
#include "viewer_book.h"

namespace ikutil {

using typeset::FontSet;
using typeset::LayoutSettings;
using typeset::Page;
using typeset::PageRasterizer;
using typeset::Typesetter;

CBookViewer::CBookViewer(std::string book_name)
    : book_name_(std::move(book_name)), font_size_(ReadDeviceSettings().font_size) {
  SetFontSize(font_size_);
}

void CBookViewer::SetFontSize(int32_t pixels) { font_size_ = std::clamp(pixels, kMinFontSize, kMaxFontSize); }

CBookViewer::~CBookViewer() = default;

void CBookViewer::Fail(int32_t code, std::string message) {
  book_.reset();
  current_page_ = 0;
  last_error_ = code;
  last_error_message_ = std::move(message);
}

bool CBookViewer::Create(void* /*parent*/, int32_t /*reserved*/, int32_t first_page, int32_t width, int32_t height,
                         int16_t depth) {
  book_.reset();
  info_tray_ = false;
  history_.clear();
  width_ = width;
  height_ = height;
  depth_ = depth;
  if (width < kMinPageSide || width > kMaxPageSide || height < kMinPageSide || height > kMaxPageSide) {
    Fail(kViewerBadSize, "a page of " + std::to_string(width) + " x " + std::to_string(height) +
                             " pixels cannot be shown (each side must be " + std::to_string(kMinPageSide) + " to " +
                             std::to_string(kMaxPageSide) + ")");
    return false;
  }
  if (depth != 1 && depth != 2 && depth != 4 && depth != 8) {
    Fail(kViewerBadDepth, "a depth of " + std::to_string(depth) + " bits cannot be shown (1, 2, 4 or 8)");
    return false;
  }
  try {
    auto book = std::make_unique<Book>();
    book->source = EditionSource::Open(book_name_);
    std::string font_error;
    book->fonts = FontSet::Open(&font_error);
    if (book->fonts == nullptr) {
      Fail(kViewerNoFonts, font_error);
      return false;
    }
    // A book that allows only the large type size opens in it.
    book->large = book->edition().settings.zoom_states == 1;
    book->typesetter = std::make_unique<Typesetter>(*book->source, *book->fonts,
                                                    LayoutSettings{width, height, book->large, font_size_});
    book->rasterizer = std::make_unique<PageRasterizer>(*book->fonts);
    current_page_ = book->Clamp(first_page);
    book_ = std::move(book);
  } catch (const EditionReadError& e) {
    Fail(static_cast<int32_t>(e.error()), e.what());
    return false;
  } catch (const std::bad_alloc&) {
    Fail(kViewerOutOfMemory, book_name_ + ": not enough memory to open the book");
    return false;
  } catch (const std::exception& e) {
    Fail(kViewerCorrupt, book_name_ + " cannot be laid out: " + e.what());
    return false;
  }
  last_error_ = kViewerOk;
  last_error_message_.clear();
  return true;
}

void CBookViewer::Failed(const std::exception& e) {
  if (const auto* damage = dynamic_cast<const EditionReadError*>(&e))
    Fail(static_cast<int32_t>(damage->error()), damage->what());
}

bool CBookViewer::IsOpen() const { return book_ != nullptr; }

bool CBookViewer::IsZoomed() const { return book_ != nullptr && book_->large; }

void CBookViewer::ShowPage(int32_t page) {
  if (page == current_page_) return;
  current_page_ = page;
  if (page_callback != nullptr) page_callback(page, page_context);
}

void CBookViewer::GotoPage(int32_t page) {
  if (!book_) return;
  try {
    page = book_->Clamp(page);
  } catch (const std::exception& e) {
    Failed(e);
    return;  // out of memory while laying out: the page stays
  }
  ShowPage(page);
}

void CBookViewer::GotoPlaceOf(CBookViewer& other) {
  if (!book_ || !other.book_) return;
  int32_t page = 0;
  try {
    const Page* shown = other.book_->typesetter->GetPage(other.current_page_);
    if (shown == nullptr) return;
    page = book_->typesetter->PageOf(shown->first);
  } catch (const std::exception& e) {
    Failed(e);
    return;
  }
  if (book_) ShowPage(page);
}

void CBookViewer::ToggleZoom() {
  if (!book_ || book_->edition().settings.zoom_states != 2) return;
  int32_t page = 0;
  try {
    const Page* shown = book_->typesetter->GetPage(current_page_);
    const FlowPosition first = shown != nullptr ? shown->first : FlowPosition{};
    // The new layout is made before the old one goes, so a failure leaves
    // the book as it was.
    auto zoomed = std::make_unique<Typesetter>(*book_->source, *book_->fonts,
                                               LayoutSettings{width_, height_, !book_->large, font_size_});
    page = zoomed->PageOf(first);
    book_->typesetter = std::move(zoomed);
    book_->large = !book_->large;
  } catch (const std::exception& e) {
    Failed(e);
    return;
  }
  if (zoom_callback != nullptr) zoom_callback(zoom_context);
  // The zoom callback may have closed the book.
  if (book_) ShowPage(page);
}

void CBookViewer::HandleChar(uint32_t character) {
  if (!book_) return;
  switch (character) {
    case 'n':
    case ' ': {
      bool more = false;
      try {
        more = book_->typesetter->GetPage(current_page_ + 1) != nullptr;
      } catch (const std::exception& e) {
        Failed(e);
      }
      if (more) ShowPage(current_page_ + 1);
      break;
    }
    case 'p':
    case 8:
      if (current_page_ > 1) ShowPage(current_page_ - 1);
      break;
    case 'q':
      Fail(kViewerNoBook, "the book was closed");
      break;
    default:
      break;
  }
}

void CBookViewer::ShowInfoTray() { info_tray_ = !info_tray_; }

int32_t CBookViewer::PageCount() {
  if (!book_) return 0;
  try {
    return book_->typesetter->PageCount();
  } catch (const std::exception& e) {
    Failed(e);
    return book_ ? current_page_ : 0;  // as far as the layout got
  }
}

bool CBookViewer::HasPage(int32_t page) {
  if (!book_ || page < 1) return false;
  try {
    return book_->typesetter->GetPage(page) != nullptr;
  } catch (const std::exception& e) {
    Failed(e);
    return false;
  }
}

bool CBookViewer::GetPageImage(int32_t page, PageImage* image) {
  if (!book_ || image == nullptr) return false;
  try {
    page = book_->Clamp(page);
    typeset::InfoTray tray;
    if (info_tray_) tray = {book_->source->info().title, page, book_->typesetter->PageCount()};
    const Page* laid_out = book_->typesetter->GetPage(page);
    if (laid_out != nullptr) {
      book_->rasterizer->Draw(*laid_out, book_->edition(), width_, height_, depth_, info_tray_ ? &tray : nullptr,
                              image);
      return true;
    }
  } catch (const std::exception& e) {
    Failed(e);  // damage found late closes the book with the reader's message
  }
  // No pixels of an earlier page may pass for this one.
  *image = PageImage{};
  if (book_) {
    last_error_ = kViewerCorrupt;
    last_error_message_ = "page " + std::to_string(page) + " of " + book_name_ + " could not be drawn";
  }
  return false;
}

std::vector<std::string> CBookViewer::PageText(int32_t page) {
  std::vector<std::string> lines;
  if (!book_) return lines;
  try {
    const Page* laid_out = book_->typesetter->GetPage(book_->Clamp(page));
    if (laid_out == nullptr) return lines;
    for (const typeset::PageLine& line : laid_out->lines) lines.push_back(line.text);
  } catch (const std::exception& e) {
    Failed(e);
    lines.clear();
  }
  return lines;
}

// --- PNG ---

namespace {

// Through the formats module's safe writer, as every output of the suite:
// a new file beside `path` renamed over it, links followed, a device or
// pipe written through and never replaced, a folder refused. Not synced: a
// page image is drawn again at will, and a sync for each of a thousand
// pages cost more than drawing them.
bool WriteReplacing(const std::string& path, const std::string& bytes, std::string* error) {
  try {
    vellix::formats::AtomicFileWriter out(path, vellix::formats::Durability::kUnsynced);
    out.Write(bytes);
    out.Commit();
    return true;
  } catch (const vellix::formats::AutomationError& e) {
    if (error != nullptr) *error = e.what();
    return false;
  }
}

}  // namespace

bool EncodePageImagePng(const PageImage& image, PngPacking packing, std::string* png) {
  PngOptions options;
  if (packing == PngPacking::kSmall) {
    options.rows_and_runs = false;
    options.level = 3;
    options.strategy = 0;  // Z_DEFAULT_STRATEGY
  }
  return png != nullptr && EncodeGreyPng(image, options, png);
}

bool SavePageImagePng(const PageImage& image, const std::string& path, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error != nullptr) *error = why;
    return false;
  };
  const int16_t depth = image.depth;
  if (depth != 1 && depth != 2 && depth != 4 && depth != 8)
    return fail("a page image of depth " + std::to_string(depth));
  if (image.width <= 0 || image.height <= 0 ||
      image.pixels.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height))
    return fail("an empty or inconsistent page image");
  // Values above the depth's white are taken as white (the encoder clamps).
  // Kept by each thread for its next page: a page image's bytes are of a
  // size, and a fresh buffer costs its zeroing and page faults each time.
  thread_local std::string encoded;
  if (!EncodeGreyPng(image, PngOptions{}, &encoded)) return fail("the page image could not be encoded as PNG");
  return WriteReplacing(path, encoded, error);
}

}  // namespace ikutil
