#include "page_raster.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include <hb.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace ikutil::typeset {
namespace {

// Anti-aliased glyphs are rendered at four horizontal phases of a pixel, so
// that words keep their designed spacing instead of snapping to whole
// pixels; monochrome glyphs are hinted to the pixel grid and need none.
constexpr int kPhases = 4;
constexpr int kPhaseStep = 64 / kPhases;

// Glyphs larger than this many pixels are not the typesetter's: a page
// never asks for them, and drawing them would only spend memory.
constexpr int32_t kLargestPixelSize = 2048;
// The cache is emptied when its bitmaps hold more than this many bytes;
// a book uses a few hundred glyphs at two or three sizes.
constexpr size_t kCacheBytes = size_t{32} << 20;

struct GlyphBitmap {
  int32_t left = 0;  // from the origin to the bitmap's left edge
  int32_t top = 0;   // from the baseline up to the bitmap's top row
  int32_t width = 0;
  int32_t rows = 0;
  std::vector<uint8_t> coverage;  // 0 none .. 255 full ink
};

uint64_t GlyphKey(FaceIndex face, int32_t pixel_size, uint32_t glyph, int phase, bool mono, bool embolden) {
  return uint64_t{glyph} | uint64_t(static_cast<uint32_t>(pixel_size) & 0xFFFF) << 32 | uint64_t(face & 0xF) << 48 |
         uint64_t(phase & 0x3) << 52 | uint64_t(mono ? 1 : 0) << 54 | uint64_t(embolden ? 1 : 0) << 55;
}

// An 8 x 8 ordered-dither matrix, as thresholds strictly between 0 and 255
// so that pure black and pure white come through unchanged.
constexpr uint8_t kBayer[8][8] = {{0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
                                  {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
                                  {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
                                  {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21}};

constexpr uint8_t kPaper[8] = {255, 255, 255, 255, 255, 255, 255, 255};

uint8_t DitherThreshold(int32_t x, int32_t y) { return static_cast<uint8_t>(kBayer[y & 7][x & 7] * 4 + 2); }

}  // namespace

struct PageRasterizer::Cache {
  std::unordered_map<uint64_t, GlyphBitmap> glyphs;
  size_t bytes = 0;
  std::vector<uint8_t> canvas;  // the page in 8-bit grey, 255 white
  int32_t width = 0;
  int32_t height = 0;
};

namespace {

// Everything one Draw call needs, so the drawing steps stay small.
class Canvas {
 public:
  Canvas(std::vector<uint8_t>& pixels, int32_t width, int32_t height)
      : pixels_(pixels), width_(width), height_(height) {}

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }

  // Fills the part of the rectangle that lies on the canvas.
  void Fill(int64_t x, int64_t y, int64_t w, int64_t h, uint8_t grey) {
    if (w <= 0 || h <= 0) return;
    const int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, 0);
    const int64_t x1 = std::min<int64_t>(x + w, width_), y1 = std::min<int64_t>(y + h, height_);
    for (int64_t row = y0; row < y1; ++row)
      std::memset(&pixels_[static_cast<size_t>(row * width_ + x0)], grey,
                  static_cast<size_t>(std::max<int64_t>(x1 - x0, 0)));
  }

  // Darkens the canvas under a glyph's coverage, its origin at pixel (x, y).
  void Ink(const GlyphBitmap& glyph, int64_t x, int64_t y) {
    const int64_t left = x + glyph.left, top = y - glyph.top;
    const int64_t col0 = std::max<int64_t>(0, -left), row0 = std::max<int64_t>(0, -top);
    const int64_t col1 = std::min<int64_t>(glyph.width, width_ - left);
    const int64_t row1 = std::min<int64_t>(glyph.rows, height_ - top);
    for (int64_t row = row0; row < row1; ++row) {
      const uint8_t* src = &glyph.coverage[static_cast<size_t>(row * glyph.width)];
      uint8_t* dst = &pixels_[static_cast<size_t>((top + row) * width_ + left)];
      for (int64_t col = col0; col < col1; ++col) {
        const unsigned ink = src[col];
        if (ink == 0) continue;
        dst[col] = ink == 255 ? 0 : static_cast<uint8_t>((dst[col] * (255 - ink) + 127) / 255);
      }
    }
  }

  // Scales `image` into the rectangle: an average over the covered source
  // pixels when shrinking, bilinear when enlarging.
  void Image(const GreyImage& image, int64_t x, int64_t y, int64_t w, int64_t h) {
    const int64_t sw = image.width, sh = image.height;
    if (w <= 0 || h <= 0 || sw == 0 || sh == 0 || image.pixels.size() != static_cast<size_t>(sw * sh)) return;
    const int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, 0);
    const int64_t x1 = std::min<int64_t>(x + w, width_), y1 = std::min<int64_t>(y + h, height_);
    if (x0 >= x1 || y0 >= y1) return;
    const uint8_t* src = image.pixels.data();
    if (w <= sw && h <= sh) {
      for (int64_t row = y0; row < y1; ++row) {
        const int64_t dy = row - y;
        const int64_t sy0 = dy * sh / h, sy1 = std::max(sy0 + 1, (dy + 1) * sh / h);
        uint8_t* dst = &pixels_[static_cast<size_t>(row * width_)];
        for (int64_t col = x0; col < x1; ++col) {
          const int64_t dx = col - x;
          const int64_t sx0 = dx * sw / w, sx1 = std::max(sx0 + 1, (dx + 1) * sw / w);
          uint64_t sum = 0;
          for (int64_t sy = sy0; sy < sy1; ++sy)
            for (int64_t sx = sx0; sx < sx1; ++sx) sum += src[sy * sw + sx];
          const uint64_t count = static_cast<uint64_t>((sy1 - sy0) * (sx1 - sx0));
          dst[col] = static_cast<uint8_t>((sum + count / 2) / count);
        }
      }
      return;
    }
    // Source coordinates of pixel centres in 16.16 fixed point.
    for (int64_t row = y0; row < y1; ++row) {
      int64_t fy = ((2 * (row - y) + 1) * sh * 65536) / (2 * h) - 32768;
      fy = std::clamp<int64_t>(fy, 0, (sh - 1) * 65536);
      const int64_t sy = fy >> 16, ty = fy & 0xFFFF;
      const int64_t sy2 = std::min(sy + 1, sh - 1);
      uint8_t* dst = &pixels_[static_cast<size_t>(row * width_)];
      for (int64_t col = x0; col < x1; ++col) {
        int64_t fx = ((2 * (col - x) + 1) * sw * 65536) / (2 * w) - 32768;
        fx = std::clamp<int64_t>(fx, 0, (sw - 1) * 65536);
        const int64_t sx = fx >> 16, tx = fx & 0xFFFF;
        const int64_t sx2 = std::min(sx + 1, sw - 1);
        const int64_t top = src[sy * sw + sx] * (65536 - tx) + src[sy * sw + sx2] * tx;
        const int64_t bottom = src[sy2 * sw + sx] * (65536 - tx) + src[sy2 * sw + sx2] * tx;
        const int64_t value = (top * (65536 - ty) + bottom * ty + (int64_t{1} << 31)) >> 32;
        dst[col] = static_cast<uint8_t>(std::clamp<int64_t>(value, 0, 255));
      }
    }
  }

 private:
  std::vector<uint8_t>& pixels_;
  int32_t width_;
  int32_t height_;
};

// The canvas in the image's depth: levels spread evenly from black to
// white, and at one bit an ordered dither so that images and grey rules keep
// their tone while black text stays solid.
void Quantize(const std::vector<uint8_t>& canvas, int32_t width, int32_t height, int16_t depth, PageImage* image) {
  image->pixels.resize(canvas.size());
  if (depth == 8) {
    std::memcpy(image->pixels.data(), canvas.data(), canvas.size());
    return;
  }
  const uint8_t white = static_cast<uint8_t>((1u << depth) - 1);
  uint8_t table[256];
  for (unsigned v = 0; v < 256; ++v) table[v] = static_cast<uint8_t>((v * white + 127) / 255);
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* src = &canvas[static_cast<size_t>(y) * width];
    uint8_t* dst = &image->pixels[static_cast<size_t>(y) * width];
    int32_t x = 0;
#if defined(__SSE2__)
    if (depth != 1) {
      // Sixteen pixels at a time: v * white / 255, rounded, for each.
      const __m128i zero = _mm_setzero_si128();
      const __m128i scale = _mm_set1_epi16(white);
      const __m128i half = _mm_set1_epi16(127);
      const __m128i one = _mm_set1_epi16(1);
      auto levels = [&](__m128i wide) {
        const __m128i t = _mm_add_epi16(_mm_mullo_epi16(wide, scale), half);
        // t / 255 exactly, for t below 65535.
        return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(t, one), _mm_srli_epi16(t, 8)), 8);
      };
      for (; x + 16 <= width; x += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x));
        const __m128i q = _mm_packus_epi16(levels(_mm_unpacklo_epi8(v, zero)), levels(_mm_unpackhi_epi8(v, zero)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), q);
      }
    }
#endif
    while (x < width) {
      // Most of a page is paper: eight white pixels at a time.
      if (x + 8 <= width && std::memcmp(src + x, kPaper, 8) == 0) {
        std::memset(dst + x, white, 8);
        x += 8;
        continue;
      }
      const int32_t end = std::min(width, x + 8);
      if (depth == 1) {
        for (; x < end; ++x) dst[x] = src[x] > DitherThreshold(x, y) ? 1 : 0;
      } else {
        for (; x < end; ++x) dst[x] = table[src[x]];
      }
    }
  }
}

}  // namespace

PageRasterizer::PageRasterizer(FontSet& fonts) : fonts_(fonts), cache_(std::make_unique<Cache>()) {}

PageRasterizer::~PageRasterizer() = default;

namespace {

// Renders one glyph with FreeType; an empty bitmap for a glyph it cannot
// load or render.
GlyphBitmap RenderGlyph(FontSet& fonts, FaceIndex face_index, int32_t pixel_size, uint32_t glyph, int phase, bool mono,
                        bool embolden) {
  GlyphBitmap out;
  FT_Face face = fonts.GetSized(face_index, pixel_size).ft;
  const FT_Int32 flags = mono ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_LIGHT;
  if (FT_Load_Glyph(face, glyph, flags) != 0) return out;
  FT_GlyphSlot slot = face->glyph;
  if (slot->format == FT_GLYPH_FORMAT_OUTLINE && phase != 0)
    FT_Outline_Translate(&slot->outline, static_cast<FT_Pos>(phase) * kPhaseStep, 0);
  // Hinted to whole pixels, a bold stem can come out as thin as a regular
  // one: at one bit per pixel bold faces are widened by a pixel.
  if (mono && slot->format == FT_GLYPH_FORMAT_OUTLINE && (face_index % 4) >= 2)
    FT_Outline_EmboldenXY(&slot->outline, 64, 0);
  // A face without bold is made bold by widening its strokes, about a
  // twentieth of the size (a pixel at the body size), as a bold cut would.
  if (embolden && slot->format == FT_GLYPH_FORMAT_OUTLINE) {
    const FT_Pos strength = std::max<FT_Pos>(32, FT_Pos{pixel_size} * 64 / 20);
    FT_Outline_EmboldenXY(&slot->outline, strength, strength / 2);
  }
  if (FT_Render_Glyph(slot, mono ? FT_RENDER_MODE_MONO : FT_RENDER_MODE_NORMAL) != 0) return out;
  const FT_Bitmap& bitmap = slot->bitmap;
  out.left = slot->bitmap_left;
  out.top = slot->bitmap_top;
  out.width = static_cast<int32_t>(bitmap.width);
  out.rows = static_cast<int32_t>(bitmap.rows);
  out.coverage.assign(static_cast<size_t>(out.width) * out.rows, 0);
  for (int32_t row = 0; row < out.rows; ++row) {
    const unsigned char* line = bitmap.buffer + static_cast<ptrdiff_t>(row) * bitmap.pitch;
    uint8_t* dst = &out.coverage[static_cast<size_t>(row) * out.width];
    if (bitmap.pixel_mode == FT_PIXEL_MODE_MONO) {
      for (int32_t col = 0; col < out.width; ++col) dst[col] = (line[col >> 3] & (0x80 >> (col & 7))) ? 255 : 0;
    } else if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY && bitmap.num_grays == 256) {
      std::memcpy(dst, line, static_cast<size_t>(out.width));
    } else {
      out.coverage.clear();
      out.width = out.rows = 0;
      return out;
    }
  }
  return out;
}

// The glyph bitmap from the cache, rendered on first use.
const GlyphBitmap& CachedGlyph(FontSet& fonts, std::unordered_map<uint64_t, GlyphBitmap>& glyphs, size_t& bytes,
                               FaceIndex face, int32_t pixel_size, uint32_t glyph, int phase, bool mono,
                               bool embolden = false) {
  const uint64_t key = GlyphKey(face, pixel_size, glyph, phase, mono, embolden);
  auto found = glyphs.find(key);
  if (found != glyphs.end()) return found->second;
  if (bytes > kCacheBytes) {
    glyphs.clear();
    bytes = 0;
  }
  GlyphBitmap bitmap = RenderGlyph(fonts, face, pixel_size, glyph, phase, mono, embolden);
  bytes += bitmap.coverage.size() + sizeof(GlyphBitmap) + 32;
  return glyphs.emplace(key, std::move(bitmap)).first->second;
}

// Shapes `text` in `face` at its current size: glyphs and their origins in
// 26.6 pixels from the start of the text on its baseline.
struct ShapedText {
  std::vector<PlacedGlyph> glyphs;
  std::vector<uint32_t> clusters;  // the byte in the text each glyph starts at
  std::vector<int32_t> pens;       // the pen before each glyph, 26.6
  int32_t advance = 0;             // 26.6
};

ShapedText Shape(const Face& face, const std::string& text) {
  ShapedText out;
  hb_buffer_t* buffer = hb_buffer_create();
  hb_buffer_add_utf8(buffer, text.data(), static_cast<int>(text.size()), 0, static_cast<int>(text.size()));
  hb_buffer_guess_segment_properties(buffer);
  hb_shape(face.hb, buffer, nullptr, 0);
  unsigned count = 0;
  const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buffer, &count);
  const hb_glyph_position_t* position = hb_buffer_get_glyph_positions(buffer, &count);
  int32_t pen = 0;
  for (unsigned i = 0; i < count; ++i) {
    out.glyphs.push_back({info[i].codepoint, pen + position[i].x_offset, -position[i].y_offset});
    out.clusters.push_back(info[i].cluster);
    out.pens.push_back(pen);
    pen += position[i].x_advance;
  }
  out.advance = pen;
  hb_buffer_destroy(buffer);
  return out;
}

// The longest start of `text` (whole code points) that, with an ellipsis,
// fits in `room` (26.6); the text itself when it fits already. Shapes the
// text once to find the cut, and again only to step back past kerning.
ShapedText ShapeFitting(const Face& face, const std::string& text, int32_t room) {
  ShapedText whole = Shape(face, text);
  if (whole.advance <= room) return whole;
  const std::string ellipsis = "\u2026";
  const int32_t ellipsis_advance = Shape(face, ellipsis).advance;
  // The glyphs that fit, with the ellipsis after them; clusters rise
  // along a line of left-to-right text.
  size_t cut = 0;
  for (size_t i = 1; i < whole.glyphs.size() && whole.pens[i] + ellipsis_advance <= room; ++i)
    cut = std::max<size_t>(cut, whole.clusters[i]);
  cut = std::min(cut, text.size());
  while (cut > 0) {
    ShapedText shorter = Shape(face, text.substr(0, cut) + ellipsis);
    if (shorter.advance <= room) return shorter;
    do --cut;
    while (cut > 0 && (static_cast<uint8_t>(text[cut]) & 0xC0) == 0x80);
  }
  return {};
}

}  // namespace

void PageRasterizer::DrawTray(const InfoTray& tray, int32_t width, int32_t height, bool mono) {
  // A band along the bottom of the screen, a rule above it, the title on
  // the left and the page on the right.
  const int32_t band = std::clamp(height / 28, 12, 64);
  const int32_t pixel_size = std::max(8, band * 6 / 10);
  const int32_t margin = std::max(4, width / 40);
  const int32_t top = height - band;
  Canvas canvas(cache_->canvas, width, height);
  canvas.Fill(0, top, width, band, 255);
  canvas.Fill(0, top, width, 1, 0);
  const FaceIndex serif = FaceOf(FontFamily::kSerif, false, false);
  const Face& face = fonts_.GetSized(serif, pixel_size);
  const int64_t baseline = int64_t{top} + (band + pixel_size * 7 / 10) / 2 + 1;

  auto ink = [&](const ShapedText& text, int64_t x) {
    for (const PlacedGlyph& glyph : text.glyphs) {
      const int64_t gx = x * 64 + glyph.x;
      const int phase = mono ? 0 : static_cast<int>((gx & 63) / kPhaseStep);
      const GlyphBitmap& bitmap =
          CachedGlyph(fonts_, cache_->glyphs, cache_->bytes, serif, pixel_size, glyph.glyph, phase, mono);
      if (bitmap.width > 0) canvas.Ink(bitmap, mono ? (gx + 32) >> 6 : gx >> 6, baseline + ((glyph.y + 32) >> 6));
    }
  };
  const ShapedText page = Shape(face, "page " + std::to_string(tray.page) + " of " + std::to_string(tray.page_count));
  const int64_t page_x = int64_t{width} - margin - (page.advance + 63) / 64;
  ink(page, page_x);
  const int64_t room = (page_x - int64_t{3} * margin) * 64;  // a margin left, two before the title
  if (room > 0 && !tray.title.empty()) {
    // Control characters would show as empty boxes.
    std::string text = tray.title;
    for (char& c : text)
      if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) c = ' ';
    ShapedText title = ShapeFitting(face, text, static_cast<int32_t>(std::min<int64_t>(room, INT32_MAX)));
    ink(title, margin);
  }
}

void PageRasterizer::Draw(const Page& page, const DeviceEdition& edition, int32_t width, int32_t height, int16_t depth,
                          const InfoTray* tray, PageImage* image) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  image->width = width;
  image->height = height;
  image->depth = depth;
  std::vector<uint8_t>& pixels = cache_->canvas;
  pixels.assign(static_cast<size_t>(width) * height, 255);
  Canvas canvas(pixels, width, height);
  const bool mono = depth == 1;

  for (const PlacedImage& placed : page.images) {
    if (placed.image >= edition.images.size()) continue;
    canvas.Image(edition.images[placed.image], placed.x, placed.y, placed.width, placed.height);
  }
  for (const FilledRect& rect : page.rects) canvas.Fill(rect.x, rect.y, rect.width, rect.height, rect.grey);
  for (const GlyphRun& run : page.runs) {
    if (run.pixel_size <= 0 || run.pixel_size > kLargestPixelSize) continue;
    const FaceIndex face = run.face < kFaceCount ? run.face : 0;
    for (const PlacedGlyph& placed : run.glyphs) {
      // Origins in 26.6: the whole pixel (rounded down, also left of the
      // page) and, anti-aliased, the phase within it.
      const int64_t x = placed.x, y = placed.y;
      const int phase = mono ? 0 : static_cast<int>((x & 63) / kPhaseStep);
      const int64_t px = mono ? (x + 32) >> 6 : x >> 6;
      const int64_t py = (y + 32) >> 6;
      const GlyphBitmap& bitmap = CachedGlyph(fonts_, cache_->glyphs, cache_->bytes, face, run.pixel_size, placed.glyph,
                                              phase, mono, run.embolden);
      if (bitmap.width > 0) canvas.Ink(bitmap, px, py);
    }
  }
  if (tray != nullptr && height > 0 && width > 0) DrawTray(*tray, width, height, mono);
  Quantize(pixels, width, height, depth, image);
}

}  // namespace ikutil::typeset
