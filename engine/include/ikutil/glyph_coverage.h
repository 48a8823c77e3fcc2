// Which characters the device's faces show: the typesetter's faces and
// the ones it falls back on (Sans for Arabic and Hebrew, a CJK face). Part
// of the viewer library; a build, which links no fonts, asks through the
// glyph coverage slot of its callbacks (callbacks.h) that its caller fills
// with this.
#pragma once

#include <memory>

namespace ikutil {

namespace typeset {
class FontSet;
}

class GlyphCoverage {
 public:
  // Null when the fonts cannot be opened.
  static std::unique_ptr<GlyphCoverage> Open();
  ~GlyphCoverage();
  GlyphCoverage(const GlyphCoverage&) = delete;
  GlyphCoverage& operator=(const GlyphCoverage&) = delete;

  // Whether some face the typesetter may use for `c` has a glyph for it.
  bool Shows(char32_t c);

 private:
  explicit GlyphCoverage(std::unique_ptr<typeset::FontSet> fonts);
  std::unique_ptr<typeset::FontSet> fonts_;
};

}  // namespace ikutil
