#include "page_images.h"

#include <algorithm>

namespace vellix::server {

std::string EncodePng(const ikutil::PageImage& image) {
  std::string png;
  return ikutil::EncodePageImagePng(image, ikutil::PngPacking::kSmall, &png) ? png : std::string();
}

ikutil::PageImage Shrink(const ikutil::PageImage& image, int32_t width, int32_t height) {
  const int32_t step = std::max({1, (image.width + width - 1) / width, (image.height + height - 1) / height});
  ikutil::PageImage small;
  small.width = std::max(1, image.width / step);
  small.height = std::max(1, image.height / step);
  small.depth = 8;
  small.pixels.resize(static_cast<size_t>(small.width) * small.height);
  const int max_level = (1 << image.depth) - 1;
  for (int32_t y = 0; y < small.height; ++y) {
    for (int32_t x = 0; x < small.width; ++x) {
      uint32_t sum = 0;
      for (int32_t dy = 0; dy < step; ++dy)
        for (int32_t dx = 0; dx < step; ++dx)
          sum += image.pixels[static_cast<size_t>(y * step + dy) * image.width + (x * step + dx)];
      small.pixels[static_cast<size_t>(y) * small.width + x] =
          static_cast<uint8_t>(sum * 255 / (static_cast<uint32_t>(step * step) * max_level));
    }
  }
  return small;
}

std::shared_ptr<PageImages::LaidOut> PageImages::Open(const std::string& path, const std::string& version,
                                                      const Screen& screen) {
  const std::string key = path + "\n" + version + "\n" + std::to_string(screen.width) + "x" +
                          std::to_string(screen.height) + "x" + std::to_string(screen.depth) + (screen.zoom ? "z" : "");
  std::shared_ptr<LaidOut> book;
  {
    std::lock_guard lock(mutex_);
    for (auto it = recent_.begin(); it != recent_.end(); ++it) {
      if (it->first == key) {
        book = it->second;
        recent_.splice(recent_.begin(), recent_, it);
        return book;
      }
    }
    book = std::make_shared<LaidOut>();
    recent_.emplace_front(key, book);
    while (recent_.size() > books_kept_) recent_.pop_back();
    // Held until laid out, so a second request for the same book waits for
    // this one instead of laying it out again.
    book->mutex.lock();
  }
  auto viewer = std::make_unique<ikutil::CBookViewer>(path);
  if (viewer->Create(nullptr, 0, 1, screen.width, screen.height, screen.depth)) {
    if (screen.zoom) viewer->ToggleZoom();
    book->viewer = std::move(viewer);
  } else {
    book->error = viewer->LastErrorMessage();
  }
  book->mutex.unlock();
  return book;
}

int32_t PageImages::PageCount(const std::string& path, const std::string& version, const Screen& screen,
                              std::string* error) {
  auto book = Open(path, version, screen);
  std::lock_guard lock(book->mutex);
  if (!book->viewer) {
    *error = book->error;
    return 0;
  }
  return book->viewer->PageCount();
}

PageResult PageImages::Page(const std::string& path, const std::string& version, const Screen& screen, int32_t page) {
  PageResult result;
  auto book = Open(path, version, screen);
  std::lock_guard lock(book->mutex);
  if (!book->viewer) {
    result.error = book->error;
    return result;
  }
  result.page_count = book->viewer->PageCount();
  if (page < 1 || page > result.page_count) {
    result.error = "no page " + std::to_string(page);
    return result;
  }
  ikutil::PageImage image;
  if (!book->viewer->GetPageImage(page, &image)) return result;
  result.png = EncodePng(image);
  result.ok = !result.png.empty();
  return result;
}

PageResult PageImages::Thumbnail(const std::string& path, const std::string& version, const Screen& screen) {
  {
    std::lock_guard lock(mutex_);
    if (auto it = thumbnails_.find(version); it != thumbnails_.end()) return {true, it->second, 0, ""};
  }
  // A viewer of its own: a catalogue full of thumbnails must not push the
  // books being read out of the laid-out ones.
  PageResult result;
  ikutil::CBookViewer viewer(path);
  ikutil::PageImage image;
  if (!viewer.Create(nullptr, 0, 1, screen.width, screen.height, screen.depth)) {
    result.error = viewer.LastErrorMessage();
    return result;
  }
  if (!viewer.GetPageImage(1, &image)) return result;
  result.png = EncodePng(Shrink(image, 120, 160));
  result.ok = !result.png.empty();
  std::lock_guard lock(mutex_);
  if (thumbnails_.size() > 20000) thumbnails_.clear();
  thumbnails_[version] = result.png;
  return result;
}

}  // namespace vellix::server
