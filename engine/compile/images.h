// Images of a book: PNG, JPEG or GIF (its first frame) decoded from bytes
// in memory, made grey and scaled down to fit the device's screen.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ikutil/device_edition.h"

namespace ikutil {

// Pictures with more pixels than this are refused before they are
// decoded: no book needs one, and decoding it would take gigabytes.
inline constexpr uint64_t kMaxImagePixels = 64ull << 20;

// What a whole book may decode: past it, further pictures are left out
// with a warning (their alternative text kept), so a small document naming
// hundreds of huge pictures cannot take minutes and gigabytes. About 170
// scanned pages of 6 million pixels each.
inline constexpr uint64_t kMaxBookImagePixels = 1ull << 30;

// The pixels a PNG, JPEG or GIF picture says it holds (width x height from
// its header, a GIF's logical screen), read without decoding it; 0 when the
// header does not say.
uint64_t DeclaredImagePixels(std::string_view bytes);

struct GreyImageResult {
  bool ok = false;
  GreyImage image;
  uint64_t source_pixels = 0;  // decoded before scaling
  std::string error;           // why not, for the user
};

// Decodes `bytes` into 8-bit grey (luma; transparency composited on white)
// and, when it is bigger than max_width x max_height, scales it down by
// area averaging, keeping its aspect ratio. Never scales up. Never throws.
GreyImageResult DecodeGreyImage(std::string_view bytes, uint16_t max_width, uint16_t max_height);

// Scales a grey picture down to `width` x `height` (each at most the
// source's) by area averaging.
std::vector<uint8_t> ScaleDown(const std::vector<uint8_t>& pixels, uint32_t source_width, uint32_t source_height,
                               uint32_t width, uint32_t height);

}  // namespace ikutil
