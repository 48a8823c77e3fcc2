#include "page_png.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace ikutil {
namespace {

void PutU32(std::string& out, uint32_t v) {
  const char bytes[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                         static_cast<char>(v)};
  out.append(bytes, 4);
}

// Appends a chunk whose data already sits at the end of `out`, after its
// length and type were reserved at `start`.
void FinishChunk(std::string& out, size_t start) {
  const auto length = static_cast<uint32_t>(out.size() - start - 8);
  for (int i = 0; i < 4; ++i) out[start + i] = static_cast<char>(length >> (24 - 8 * i));
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(out.data() + start + 4), length + 4);
  PutU32(out, static_cast<uint32_t>(crc));
}

// Packs one row of one-byte pixels into `depth`-bit samples, the leftmost
// in the high bits, clamping values above white.
void PackRow(const uint8_t* pixels, int32_t width, int depth, uint8_t* out) {
  const uint8_t white = static_cast<uint8_t>((1u << depth) - 1);
  if (depth == 8) {
    std::memcpy(out, pixels, static_cast<size_t>(width));
    return;
  }
  int32_t x = 0;
  if (depth == 4) {
    // The usual depth, two pixels a byte, kept simple enough to vectorise.
    for (; x + 2 <= width; x += 2)
      *out++ = static_cast<uint8_t>(std::min(pixels[x], white) << 4 | std::min(pixels[x + 1], white));
  }
  const int per_byte = 8 / depth;
  for (; x + per_byte <= width; x += per_byte) {
    unsigned byte = 0;
    for (int k = 0; k < per_byte; ++k) byte = (byte << depth) | std::min(pixels[x + k], white);
    *out++ = static_cast<uint8_t>(byte);
  }
  if (x < width) {
    unsigned byte = 0;
    int k = 0;
    for (; x < width; ++x, ++k) byte = (byte << depth) | std::min(pixels[x], white);
    *out = static_cast<uint8_t>(byte << (depth * (per_byte - k)));
  }
}

}  // namespace

bool EncodeGreyPng(const PageImage& image, const PngOptions& options, std::string* png) {
  const int depth = image.depth;
  if (depth != 1 && depth != 2 && depth != 4 && depth != 8) return false;
  if (image.width <= 0 || image.height <= 0 ||
      image.pixels.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height))
    return false;
  const size_t row_bytes = (static_cast<size_t>(image.width) * depth + 7) / 8;

  // The rows as PNG filters them: a filter byte, then the packed samples.
  std::vector<uint8_t> raw((row_bytes + 1) * static_cast<size_t>(image.height));
  std::vector<uint8_t> previous(row_bytes, 0), packed(row_bytes);
  for (int32_t y = 0; y < image.height; ++y) {
    uint8_t* row = raw.data() + static_cast<size_t>(y) * (row_bytes + 1);
    PackRow(image.pixels.data() + static_cast<size_t>(y) * image.width, image.width, depth, packed.data());
    if (options.up_filter) {
      row[0] = 2;
      for (size_t i = 0; i < row_bytes; ++i) row[1 + i] = static_cast<uint8_t>(packed[i] - previous[i]);
      previous.swap(packed);
    } else {
      row[0] = 0;
      std::memcpy(row + 1, packed.data(), row_bytes);
    }
  }

  std::string& out = *png;
  out.assign("\x89PNG\r\n\x1a\n", 8);
  size_t start = out.size();
  out.append("\0\0\0\0IHDR", 8);
  PutU32(out, static_cast<uint32_t>(image.width));
  PutU32(out, static_cast<uint32_t>(image.height));
  out.push_back(static_cast<char>(depth));
  out.append("\0\0\0\0", 4);  // grey, deflate, adaptive filtering, no interlace
  FinishChunk(out, start);

  z_stream z{};
  if (deflateInit2(&z, options.level, Z_DEFLATED, 15, 8, options.strategy) != Z_OK) return false;
  start = out.size();
  out.append("\0\0\0\0IDAT", 8);
  const uLong bound = deflateBound(&z, static_cast<uLong>(raw.size()));
  out.resize(start + 8 + bound);
  z.next_in = raw.data();
  z.avail_in = static_cast<uInt>(raw.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data() + start + 8);
  z.avail_out = static_cast<uInt>(bound);
  const int done = deflate(&z, Z_FINISH);
  const size_t written = bound - z.avail_out;
  deflateEnd(&z);
  if (done != Z_STREAM_END) return false;
  out.resize(start + 8 + written);
  FinishChunk(out, start);

  start = out.size();
  out.append("\0\0\0\0IEND", 8);
  FinishChunk(out, start);
  return true;
}

}  // namespace ikutil
