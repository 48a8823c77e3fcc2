// Page images as grey PNG files, packed and compressed here rather than by
// a general PNG library: a page is one kind of image, and knowing it makes
// the encoding the dearest part of drawing a book no longer.
#pragma once

#include <string>

#include "ikutil/book_viewer.h"

namespace ikutil {

struct PngOptions {
  int level = 1;           // zlib's compression level
  int strategy = 3;        // zlib's strategy: Z_RLE
  bool up_filter = false;  // each row as its difference from the row above (PNG filter 2)
};

// `image` (depth 1, 2, 4 or 8, values clamped to its white) as a grey PNG
// of its bit depth. False when the image is empty or inconsistent.
bool EncodeGreyPng(const PageImage& image, const PngOptions& options, std::string* png);

}  // namespace ikutil
