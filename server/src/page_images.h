// Pages of the shelf's books as PNG images, drawn by the book viewer.
//
// Laying a book out is the slow part; the last few books asked for stay
// laid out (per book version and screen), so paging through a book costs
// one drawing per page. First-page thumbnails are kept per book version.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "ikutil/book_viewer.h"

namespace vellix::server {

struct Screen {
  int32_t width = 480;
  int32_t height = 640;
  int16_t depth = 4;
  bool zoom = false;
};

struct PageResult {
  bool ok = false;
  std::string png;
  int32_t page_count = 0;
  std::string error;
};

std::string EncodePng(const ikutil::PageImage& image);
// `image` shrunk by whole-pixel averaging to fit `width` x `height`, 8 bits.
ikutil::PageImage Shrink(const ikutil::PageImage& image, int32_t width, int32_t height);

class PageImages {
 public:
  explicit PageImages(size_t books_kept) : books_kept_(books_kept) {}

  // Page `page` (1-based) of the book at `path`, whose current version is
  // `version`; ok false when the book cannot be laid out or has no such page.
  PageResult Page(const std::string& path, const std::string& version, const Screen& screen, int32_t page);
  // The number of pages at `screen`; 0 when the book cannot be laid out.
  int32_t PageCount(const std::string& path, const std::string& version, const Screen& screen, std::string* error);
  // The first page at the device's screen, shrunk to a thumbnail.
  PageResult Thumbnail(const std::string& path, const std::string& version, const Screen& screen);

 private:
  struct LaidOut {
    std::mutex mutex;
    std::unique_ptr<ikutil::CBookViewer> viewer;
    std::string error;
  };
  std::shared_ptr<LaidOut> Open(const std::string& path, const std::string& version, const Screen& screen);

  size_t books_kept_;
  std::mutex mutex_;
  std::list<std::pair<std::string, std::shared_ptr<LaidOut>>> recent_;  // most recent first
  std::map<std::string, std::string> thumbnails_;                       // version -> png
};

}  // namespace vellix::server
