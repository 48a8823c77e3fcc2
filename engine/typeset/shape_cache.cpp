#include "shape_cache.h"

#include <hb.h>

#include <algorithm>
#include <limits>

namespace ikutil::typeset {

ShapeCache::ShapeCache(FontSet& fonts) : fonts_(fonts), buffer_(hb_buffer_create()) {}

ShapeCache::~ShapeCache() { hb_buffer_destroy(buffer_); }

Shaped ShapeCache::Shape(FaceIndex face, int32_t pixel_size, std::string_view text) {
  key_.clear();
  key_ += static_cast<char>(face);
  key_ += static_cast<char>(pixel_size & 0xFF);
  key_ += static_cast<char>((pixel_size >> 8) & 0xFF);
  key_.append(text);
  if (auto it = map_.find(key_); it != map_.end()) return it->second;
  Shaped shaped;
  shaped.first = static_cast<uint32_t>(glyphs_.size());
  if (!text.empty()) {
    const Face& f = fonts_.GetSized(face, pixel_size);
    hb_buffer_clear_contents(buffer_);
    hb_buffer_add_utf8(buffer_, text.data(), static_cast<int>(text.size()), 0, static_cast<int>(text.size()));
    hb_buffer_guess_segment_properties(buffer_);
    hb_shape(f.hb, buffer_, nullptr, 0);
    unsigned int count = 0;
    const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buffer_, &count);
    const hb_glyph_position_t* pos = hb_buffer_get_glyph_positions(buffer_, &count);
    int64_t advance = 0;
    for (unsigned int i = 0; i < count; ++i) {
      glyphs_.push_back({info[i].codepoint, info[i].cluster, pos[i].x_advance, pos[i].x_offset, pos[i].y_offset});
      advance += pos[i].x_advance;
    }
    // A word of a million letters is as wide as a line may ever be, no wider.
    shaped.advance = static_cast<int32_t>(std::clamp<int64_t>(advance, 0, std::numeric_limits<int32_t>::max() / 4));
    shaped.count = count;
  }
  map_.emplace(key_, shaped);
  return shaped;
}

void ShapeCache::PrefixAdvances(const Shaped& shaped, const std::vector<uint32_t>& offsets,
                                std::vector<int32_t>* advances) const {
  advances->clear();
  const ShapedGlyph* g = Glyphs(shaped);
  // Glyphs come in visual order: right to left text has its first
  // character last.
  const bool backwards = shaped.count > 1 && g[0].cluster > g[shaped.count - 1].cluster;
  int32_t sum = 0;
  uint32_t i = 0;
  for (uint32_t offset : offsets) {
    while (i < shaped.count) {
      const ShapedGlyph& glyph = g[backwards ? shaped.count - 1 - i : i];
      if (glyph.cluster >= offset) break;
      sum += glyph.advance;
      ++i;
    }
    advances->push_back(sum);
  }
}

void ShapeCache::Trim(size_t max_glyphs) {
  if (glyphs_.size() <= max_glyphs) return;
  glyphs_.clear();
  map_.clear();
}

}  // namespace ikutil::typeset
