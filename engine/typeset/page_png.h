// Page images as grey PNG files, packed and compressed here rather than by
// a general PNG library: a page is one kind of image, and knowing it makes
// the encoding the dearest part of drawing a book no longer.
#pragma once

#include <string>

#include "ikutil/book_viewer.h"

namespace ikutil {

struct PngOptions {
  // Compressed here, in one pass: a row that repeats the row above is one
  // copy of it, a run of one byte a copy of the byte before, the rest
  // literals, all in deflate's fixed codes. A page is mostly paper and
  // blank rows, so this packs it nearly as small as zlib does, several
  // times faster. When false, zlib compresses with the settings below.
  bool rows_and_runs = true;
  int level = 1;           // zlib's compression level
  int strategy = 3;        // zlib's strategy: Z_RLE
  bool up_filter = false;  // each row as its difference from the row above (PNG filter 2)
};

// `image` (depth 1, 2, 4 or 8, values clamped to its white) as a grey PNG
// of its bit depth. False when the image is empty or inconsistent.
bool EncodeGreyPng(const PageImage& image, const PngOptions& options, std::string* png);

}  // namespace ikutil
