#include "page_png.h"

#include <zlib.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
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
    // The usual depth, two pixels a byte: sixteen pixels at a time where
    // the processor has the instructions.
#if defined(__SSE2__)
    const __m128i most = _mm_set1_epi8(static_cast<char>(white));
    const __m128i low = _mm_set1_epi16(0x00FF);
    for (; x + 32 <= width; x += 32) {
      __m128i a = _mm_min_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + x)), most);
      __m128i b = _mm_min_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + x + 16)), most);
      // Each 16-bit lane holds a left pixel (low byte) and a right one.
      a = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(a, low), 4), _mm_srli_epi16(a, 8));
      b = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(b, low), 4), _mm_srli_epi16(b, 8));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(a, b));
      out += 16;
    }
#endif
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

// Bits of a deflate code as written (reversed, as deflate sends Huffman
// codes), with its extra bits above them.
struct Code {
  uint32_t bits = 0;
  int length = 0;
};

constexpr uint32_t Reversed(uint32_t code, int length) {
  uint32_t r = 0;
  for (int i = 0; i < length; ++i) r |= ((code >> i) & 1u) << (length - 1 - i);
  return r;
}

// A symbol of the literal and length alphabet in the fixed codes.
constexpr Code Symbol(int symbol) {
  if (symbol < 144) return {Reversed(0x30 + symbol, 8), 8};
  if (symbol < 256) return {Reversed(0x190 + symbol - 144, 9), 9};
  if (symbol < 280) return {Reversed(symbol - 256, 7), 7};
  return {Reversed(0xC0 + symbol - 280, 8), 8};
}

constexpr std::array<Code, 256> kLiterals = [] {
  std::array<Code, 256> t{};
  for (int i = 0; i < 256; ++i) t[i] = Symbol(i);
  return t;
}();

// Each length 3..258 as its symbol and extra bits.
constexpr std::array<Code, 259> kLengths = [] {
  constexpr int kBase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
  constexpr int kExtra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  std::array<Code, 259> t{};
  for (int length = 3; length <= 258; ++length) {
    int i = 28;
    while (kBase[i] > length) --i;
    Code c = Symbol(257 + i);
    c.bits |= static_cast<uint32_t>(length - kBase[i]) << c.length;
    c.length += kExtra[i];
    t[length] = c;
  }
  return t;
}();

// A deflate stream (RFC 1951) in one block of the fixed codes, written
// least significant bit first.
class FixedDeflate {
 public:
  // Appends to `out`, which is grown by `expected` bytes at once (and more
  // when that is not enough).
  FixedDeflate(std::string& out, size_t expected) : out_(out), at_(out.size()) {
    out_.resize(at_ + expected + 8);
    Bits(1, 1);  // the final block
    Bits(1, 2);  // fixed codes
  }

  void Literal(uint8_t byte) {
    const Code& c = kLiterals[byte];
    Bits(c.bits, c.length);
  }
  // A copy of `length` (3 or more) bytes from `distance` back, in pieces
  // deflate can say: 3 to 258 bytes, cut so that none is shorter than 3.
  void Copy(size_t length, uint32_t distance) {
    const Code& d = DistanceCode(distance);
    while (length > 0) {
      size_t piece = std::min<size_t>(length, 258);
      if (length - piece > 0 && length - piece < 3) piece = length - 3;
      const Code& l = kLengths[piece];
      Bits(l.bits, l.length);
      Bits(d.bits, d.length);
      length -= piece;
    }
  }
  void Finish() {
    Bits(0, 7);  // end of block: symbol 256 is seven zero bits
    out_.resize(at_);
    while (filled_ > 0) {
      out_.push_back(static_cast<char>(bits_ & 0xFF));
      bits_ >>= 8;
      filled_ = filled_ > 8 ? filled_ - 8 : 0;
    }
  }

 private:
  // A distance as its five-bit code and extra bits.
  const Code& DistanceCode(uint32_t distance) {
    if (distance == last_distance_) return last_code_;
    int code = 0;
    uint32_t base = 1;
    int extra = 0;
    // Codes come in pairs of equal extra bits: 1,2,3,4 | 5-6,7-8 | 9-12,...
    for (;;) {
      const uint32_t span = 1u << extra;
      if (distance < base + span) break;
      base += span;
      ++code;
      if (code >= 4 && code % 2 == 0) ++extra;
    }
    last_distance_ = distance;
    last_code_ = {Reversed(static_cast<uint32_t>(code), 5) | (distance - base) << 5, 5 + extra};
    return last_code_;
  }

  void Bits(uint32_t bits, int length) {
    bits_ |= uint64_t{bits} << filled_;
    filled_ += length;
    if (filled_ >= 32) {
      if (out_.size() - at_ < 4) out_.resize(out_.size() * 2);
      const auto word = static_cast<uint32_t>(bits_);
      char* to = out_.data() + at_;
      to[0] = static_cast<char>(word);
      to[1] = static_cast<char>(word >> 8);
      to[2] = static_cast<char>(word >> 16);
      to[3] = static_cast<char>(word >> 24);
      at_ += 4;
      bits_ >>= 32;
      filled_ -= 32;
    }
  }

  std::string& out_;
  size_t at_;  // where the next whole bytes go; out_ is longer until Finish
  uint64_t bits_ = 0;
  int filled_ = 0;
  uint32_t last_distance_ = 0;
  Code last_code_;
};

// How many of the `n` bytes from `p` on equal the first: eight at a time,
// since a page's rows are mostly long runs of white.
size_t RunAt(const uint8_t* p, size_t n) {
  if (n < 2 || p[1] != p[0]) return 1;
  size_t k = 2;
  if constexpr (std::endian::native == std::endian::little) {
    const uint64_t pattern = 0x0101010101010101ull * p[0];
    for (; k + 8 <= n; k += 8) {
      uint64_t word;
      std::memcpy(&word, p + k, 8);
      if (const uint64_t differ = word ^ pattern; differ != 0) return k + std::countr_zero(differ) / 8;
    }
  }
  while (k < n && p[k] == p[0]) ++k;
  return k;
}

// The rows (a filter byte of 0, then the packed samples) as a zlib stream
// appended to `out`: a row equal to the one above is copied from it, and
// within a row a run of one byte is the byte and a copy of it.
void DeflateRowsAndRuns(const PageImage& image, size_t row_bytes, std::string& out) {
  const size_t stride = row_bytes + 1;
  out.push_back(0x78);  // deflate, 32 KiB window
  out.push_back(0x01);  // no preset dictionary, fastest
  // At most nine bits a byte, and a little for the block.
  FixedDeflate deflate(out, stride * static_cast<size_t>(image.height) * 9 / 8 + 64);
  std::vector<uint8_t> row(stride), above(stride);
  uLong adler = adler32(0, nullptr, 0);
  for (int32_t y = 0; y < image.height; ++y) {
    row[0] = 0;
    PackRow(image.pixels.data() + static_cast<size_t>(y) * image.width, image.width, image.depth, row.data() + 1);
    adler = adler32(adler, row.data(), static_cast<uInt>(stride));
    if (y > 0 && stride >= 3 && std::memcmp(row.data(), above.data(), stride) == 0) {
      deflate.Copy(stride, static_cast<uint32_t>(stride));
      continue;
    }
    for (size_t i = 0; i < stride;) {
      const uint8_t byte = row[i];
      const size_t run = RunAt(row.data() + i, stride - i);
      deflate.Literal(byte);
      if (run - 1 >= 3) {
        deflate.Copy(run - 1, 1);
      } else {
        for (size_t k = 1; k < run; ++k) deflate.Literal(byte);
      }
      i += run;
    }
    row.swap(above);
  }
  deflate.Finish();
  PutU32(out, static_cast<uint32_t>(adler));
}

bool DeflateWithZlib(const PageImage& image, const PngOptions& options, size_t row_bytes, std::string& out) {
  const int depth = image.depth;
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

  z_stream z{};
  if (deflateInit2(&z, options.level, Z_DEFLATED, 15, 8, options.strategy) != Z_OK) return false;
  const size_t start = out.size();
  const uLong bound = deflateBound(&z, static_cast<uLong>(raw.size()));
  out.resize(start + bound);
  z.next_in = raw.data();
  z.avail_in = static_cast<uInt>(raw.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data() + start);
  z.avail_out = static_cast<uInt>(bound);
  const int done = deflate(&z, Z_FINISH);
  const size_t written = bound - z.avail_out;
  deflateEnd(&z);
  if (done != Z_STREAM_END) return false;
  out.resize(start + written);
  return true;
}

}  // namespace

bool EncodeGreyPng(const PageImage& image, const PngOptions& options, std::string* png) {
  const int depth = image.depth;
  if (depth != 1 && depth != 2 && depth != 4 && depth != 8) return false;
  if (image.width <= 0 || image.height <= 0 ||
      image.pixels.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height))
    return false;
  const size_t row_bytes = (static_cast<size_t>(image.width) * depth + 7) / 8;
  std::string& out = *png;
  out.assign("\x89PNG\r\n\x1a\n", 8);
  size_t start = out.size();
  out.append("\0\0\0\0IHDR", 8);
  PutU32(out, static_cast<uint32_t>(image.width));
  PutU32(out, static_cast<uint32_t>(image.height));
  out.push_back(static_cast<char>(depth));
  out.append("\0\0\0\0", 4);  // grey, deflate, adaptive filtering, no interlace
  FinishChunk(out, start);

  start = out.size();
  out.append("\0\0\0\0IDAT", 8);
  if (options.rows_and_runs) {
    DeflateRowsAndRuns(image, row_bytes, out);
  } else if (!DeflateWithZlib(image, options, row_bytes, out)) {
    return false;
  }
  FinishChunk(out, start);

  start = out.size();
  out.append("\0\0\0\0IEND", 8);
  FinishChunk(out, start);
  return true;
}

}  // namespace ikutil
