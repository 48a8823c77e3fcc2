// Text shaped with HarfBuzz (kerning, ligatures) at a face and pixel size,
// remembered: a book repeats its words, and a word is shaped once per face
// and size however often it occurs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "fonts.h"

typedef struct hb_buffer_t hb_buffer_t;

namespace ikutil::typeset {

struct ShapedGlyph {
  uint32_t id = 0;
  uint32_t cluster = 0;  // byte offset into the shaped text of the character it shows
  int32_t advance = 0;   // 26.6 pixels
  int32_t x_offset = 0;
  int32_t y_offset = 0;  // upwards
};

// Shaped text: a span of the cache's glyphs and their total advance.
struct Shaped {
  uint32_t first = 0;
  uint32_t count = 0;
  int32_t advance = 0;  // 26.6 pixels
};

class ShapeCache {
 public:
  // `fonts` must outlive the cache.
  explicit ShapeCache(FontSet& fonts);
  ~ShapeCache();
  ShapeCache(const ShapeCache&) = delete;
  ShapeCache& operator=(const ShapeCache&) = delete;

  // `text` (UTF-8) shaped left to right in `face` at `pixel_size`.
  Shaped Shape(FaceIndex face, int32_t pixel_size, std::string_view text);
  // The glyphs of `shaped`; valid until the next Shape or Trim.
  const ShapedGlyph* Glyphs(const Shaped& shaped) const { return glyphs_.data() + shaped.first; }
  // Fills `advances` with the advance of `shaped` up to each of the
  // ascending byte `offsets` (the glyphs of the characters before it).
  void PrefixAdvances(const Shaped& shaped, const std::vector<uint32_t>& offsets, std::vector<int32_t>* advances) const;
  // Forgets everything once more than `max_glyphs` are kept. Every Shaped
  // from before is invalid afterwards.
  void Trim(size_t max_glyphs);

 private:
  FontSet& fonts_;
  hb_buffer_t* buffer_;
  std::unordered_map<std::string, Shaped> map_;
  std::vector<ShapedGlyph> glyphs_;
  std::string key_;
};

}  // namespace ikutil::typeset
