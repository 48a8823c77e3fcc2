#include "fonts.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <hb-ft.h>
#include <hb.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace ikutil::typeset {
namespace {

// File names by face index (family * 4 + bold * 2 + italic).
constexpr const char* kFaceFiles[kFaceCount] = {
    "DejaVuSerif.ttf",
    "DejaVuSerif-Italic.ttf",
    "DejaVuSerif-Bold.ttf",
    "DejaVuSerif-BoldItalic.ttf",
    "DejaVuSans.ttf",
    "DejaVuSans-Oblique.ttf",
    "DejaVuSans-Bold.ttf",
    "DejaVuSans-BoldOblique.ttf",
    "DejaVuSansMono.ttf",
    "DejaVuSansMono-Oblique.ttf",
    "DejaVuSansMono-Bold.ttf",
    "DejaVuSansMono-BoldOblique.ttf",
    "",
    "",
};

// Where Debian puts the CJK faces, the fuller first; $VELLIX_CJK_FONT wins.
constexpr const char* kCjkFiles[] = {
    "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc",
    "/usr/share/fonts/opentype/noto/NotoSerifCJK-Regular.ttc",
    "/usr/share/fonts/truetype/droid/DroidSansFallbackFull.ttf",
    "/usr/share/fonts/truetype/droid/DroidSansFallback.ttf",
};

// Faces with every Hangul syllable, the one the package recommends first;
// $VELLIX_HANGUL_FONT wins.
constexpr const char* kHangulFiles[] = {
    "/usr/share/fonts/truetype/nanum/NanumGothic.ttf",
    "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc",
    "/usr/share/fonts/truetype/unfonts-core/UnDotum.ttf",
};

#ifndef VELLIX_FONT_INSTALL_DIR
#define VELLIX_FONT_INSTALL_DIR "/usr/share/fonts/truetype/dejavu"
#endif

}  // namespace

std::string FontFolder() {
  if (const char* dir = std::getenv("VELLIX_FONT_DIR"); dir != nullptr && *dir != '\0') return dir;
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::path(VELLIX_FONT_INSTALL_DIR) / kFaceFiles[0], ec))
    return VELLIX_FONT_INSTALL_DIR;
  return "/usr/share/fonts/truetype/dejavu";
}

std::unique_ptr<FontSet> FontSet::Open(std::string* error) {
  std::unique_ptr<FontSet> set(new FontSet());
  if (FT_Init_FreeType(&set->library_) != 0) {
    set->library_ = nullptr;
    if (error != nullptr) *error = "FreeType could not be started";
    return nullptr;
  }
  set->folder_ = FontFolder();
  if (!set->OpenFace(0)) {
    if (error != nullptr) *error = "cannot open the font " + set->folder_ + "/" + kFaceFiles[0];
    return nullptr;
  }
  return set;
}

FontSet::~FontSet() {
  for (Face& face : faces_) {
    if (face.hb != nullptr) hb_font_destroy(face.hb);
    if (face.ft != nullptr) FT_Done_Face(face.ft);
  }
  if (library_ != nullptr) FT_Done_FreeType(library_);
}

bool FontSet::OpenFace(FaceIndex index) {
  tried_[index] = true;
  FT_Face ft = nullptr;
  if (index == kCjkFace || index == kHangulFace) {
    const bool hangul = index == kHangulFace;
    std::vector<std::string> paths;
    if (const char* file = std::getenv(hangul ? "VELLIX_HANGUL_FONT" : "VELLIX_CJK_FONT");
        file != nullptr && *file != '\0')
      paths.push_back(file);
    if (hangul)
      paths.insert(paths.end(), std::begin(kHangulFiles), std::end(kHangulFiles));
    else
      paths.insert(paths.end(), std::begin(kCjkFiles), std::end(kCjkFiles));
    for (const std::string& path : paths)
      if (FT_New_Face(library_, path.c_str(), 0, &ft) == 0) break;
    if (ft == nullptr) return false;
  } else {
    const std::string path = folder_ + "/" + kFaceFiles[index];
    if (FT_New_Face(library_, path.c_str(), 0, &ft) != 0) return false;
  }
  faces_[index].ft = ft;
  faces_[index].hb = hb_ft_font_create_referenced(ft);
  // Lay out with the designed (unhinted) advances, so that a line measures
  // the same at every size; hinting is the rasteriser's business.
  hb_ft_font_set_load_flags(faces_[index].hb, FT_LOAD_NO_HINTING);
  return true;
}

const Face& FontSet::Get(FaceIndex index) {
  if (index >= kFaceCount) index = 0;
  if (faces_[index].ft == nullptr && !tried_[index]) OpenFace(index);
  if (faces_[index].ft != nullptr) return faces_[index];
  const FaceIndex regular = static_cast<FaceIndex>(index / 4 * 4);
  if (faces_[regular].ft == nullptr && !tried_[regular]) OpenFace(regular);
  if (faces_[regular].ft != nullptr) return faces_[regular];
  return faces_[0];
}

bool FontSet::Available(FaceIndex index) {
  if (index >= kFaceCount) return false;
  if (faces_[index].ft == nullptr && !tried_[index]) OpenFace(index);
  return faces_[index].ft != nullptr;
}

const Face& FontSet::GetSized(FaceIndex index, int pixel_size) {
  const Face& face = Get(index);
  const size_t slot = static_cast<size_t>(&face - faces_.data());
  if (pixel_size_[slot] != pixel_size) {
    FT_Set_Pixel_Sizes(face.ft, 0, static_cast<FT_UInt>(pixel_size));
    hb_ft_font_changed(face.hb);
    pixel_size_[slot] = pixel_size;
  }
  return face;
}

}  // namespace ikutil::typeset
