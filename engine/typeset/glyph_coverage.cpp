#include "ikutil/glyph_coverage.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include "fonts.h"

namespace ikutil {

std::unique_ptr<GlyphCoverage> GlyphCoverage::Open() {
  std::unique_ptr<typeset::FontSet> fonts = typeset::FontSet::Open(nullptr);
  if (!fonts) return nullptr;
  return std::unique_ptr<GlyphCoverage>(new GlyphCoverage(std::move(fonts)));
}

GlyphCoverage::GlyphCoverage(std::unique_ptr<typeset::FontSet> fonts) : fonts_(std::move(fonts)) {}

GlyphCoverage::~GlyphCoverage() = default;

bool GlyphCoverage::Shows(char32_t c) {
  using typeset::FaceOf;
  // The regular faces stand for their bold and italic ones, which the
  // typesetter falls back from to the regular sans face.
  for (typeset::FaceIndex face : {FaceOf(FontFamily::kSerif, false, false), FaceOf(FontFamily::kSans, false, false),
                                  FaceOf(FontFamily::kMono, false, false), typeset::kCjkFace, typeset::kHangulFace}) {
    if (!fonts_->Available(face)) continue;
    if (FT_Get_Char_Index(fonts_->Get(face).ft, static_cast<FT_ULong>(c)) != 0) return true;
  }
  return false;
}

}  // namespace ikutil
