// The typefaces of the device: DejaVu serif, sans and mono, each in
// regular, bold, italic and bold italic, opened through FreeType with a
// HarfBuzz font over each face for shaping.
//
// Faces open lazily, the first time they are asked for. A FontSet belongs
// to one viewer and is used from one thread; FreeType faces are not shared
// between sets.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "ikutil/device_edition.h"

typedef struct FT_LibraryRec_* FT_Library;
typedef struct FT_FaceRec_* FT_Face;
typedef struct hb_font_t hb_font_t;

namespace ikutil::typeset {

// One of the twelve DejaVu faces: family * 4 + bold * 2 + italic; then a
// face for Chinese, Japanese and Korean, which DejaVu lacks (Debian's Noto
// Sans CJK or Droid Sans Fallback, whichever is installed); then one for
// Korean, as Droid Sans Fallback has few Hangul syllables (Nanum Gothic,
// Noto Sans CJK or Un Dotum).
using FaceIndex = uint8_t;
inline constexpr FaceIndex kCjkFace = 12;
inline constexpr FaceIndex kHangulFace = 13;
inline constexpr FaceIndex kFaceCount = 14;
inline FaceIndex FaceOf(FontFamily family, bool bold, bool italic) {
  return static_cast<FaceIndex>(static_cast<int>(family) * 4 + (bold ? 2 : 0) + (italic ? 1 : 0));
}

struct Face {
  FT_Face ft = nullptr;
  hb_font_t* hb = nullptr;  // shapes at the face's current pixel size
};

// The folder of the DejaVu fonts: $VELLIX_FONT_DIR when set, else the
// installed data folder, else Debian's /usr/share/fonts/truetype/dejavu.
std::string FontFolder();

class FontSet {
 public:
  // Opens the FreeType library and checks that the regular serif face can
  // be opened. Returns null with `error` filled when it cannot.
  static std::unique_ptr<FontSet> Open(std::string* error);
  ~FontSet();
  FontSet(const FontSet&) = delete;
  FontSet& operator=(const FontSet&) = delete;

  // The face; a face whose file is missing falls back to the regular face
  // of its family, then to the regular serif face. Never null after Open.
  const Face& Get(FaceIndex index);
  // Whether the face itself could be opened (no stand-in).
  bool Available(FaceIndex index);
  // Sets the pixel size of `index` (FreeType and HarfBuzz agree afterwards)
  // and returns it.
  const Face& GetSized(FaceIndex index, int pixel_size);

  FT_Library library() const { return library_; }

 private:
  FontSet() = default;
  bool OpenFace(FaceIndex index);

  FT_Library library_ = nullptr;
  std::string folder_;
  std::array<Face, kFaceCount> faces_{};
  std::array<bool, kFaceCount> tried_{};
  std::array<int, kFaceCount> pixel_size_{};
};

}  // namespace ikutil::typeset
