// Pages of a device edition laid out for a screen: the typesetter's output
// and the rasteriser's input.
//
// A Page is a display list in pixels (26.6 fixed point for glyph origins):
// glyph runs, filled rectangles (rules, underlines) and scaled images, plus
// the page's lines as text. The Typesetter breaks paragraphs (total fit:
// boxes, glue and penalties, with hyphenation) and paginates (widows and
// orphans, headings kept with what follows, images never split, page
// breaks honoured). It lays out lazily: only as far as the page asked for.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fonts.h"
#include "ikutil/device_edition.h"
#include "ikutil/device_settings.h"

namespace ikutil {
class EditionSource;
}

namespace ikutil::typeset {

struct PlacedGlyph {
  uint32_t glyph = 0;  // glyph index in the run's face
  int32_t x = 0;       // origin on the baseline, 26.6 pixels from the page's top left
  int32_t y = 0;
};

struct GlyphRun {
  FaceIndex face = 0;
  int32_t pixel_size = 0;
  std::vector<PlacedGlyph> glyphs;
  // Bold text in a face that has no bold (the CJK and Hangul faces, or a
  // bold face that is not installed): its outlines are widened when drawn.
  bool embolden = false;
};

// A filled rectangle in whole pixels: underlines, rules, list bullets drawn
// as shapes. `grey` is 0 black .. 255 white.
struct FilledRect {
  int32_t x = 0, y = 0, width = 0, height = 0;
  uint8_t grey = 0;
};

// An image of the edition scaled into a rectangle of whole pixels (aspect
// ratio kept by the typesetter).
struct PlacedImage {
  uint32_t image = 0;  // index into DeviceEdition::images
  int32_t x = 0, y = 0, width = 0, height = 0;
};

// Where a character of the flow landed: the glyphs of the character that
// starts at `offset` (bytes into its block's text) cover left..right, in
// pixels. A ligature's glyph counts for its first character.
struct CharBox {
  uint32_t offset = 0;
  int32_t left = 0;
  int32_t right = 0;
};

// The part of a link that lies on one line, in pixels.
struct LinkArea {
  uint32_t link = 0;   // index into DeviceEdition::links
  uint32_t block = 0;  // the block the linked words are in
  int32_t x = 0, y = 0, width = 0, height = 0;
};

struct PageLine {
  std::string text;    // UTF-8; ends in "-" when a word was hyphenated
  int32_t top = 0;     // pixels
  int32_t bottom = 0;  // pixels; the line's box, for tests and the tray
  int32_t left = 0;
  int32_t right = 0;  // the rightmost inked extent of the line
  bool heading = false;
  bool image = false;
  uint32_t block = 0;          // the block the line belongs to
  std::vector<CharBox> chars;  // its characters of the flow, left to right (none for images)
};

struct Page {
  std::vector<GlyphRun> runs;
  std::vector<FilledRect> rects;
  std::vector<PlacedImage> images;
  std::vector<PageLine> lines;
  std::vector<LinkArea> links;  // in reading order
  FlowPosition first;           // the first word on the page (the start of its first line)
};

struct LayoutSettings {
  int32_t width = 480;                   // pixels
  int32_t height = 640;                  // pixels
  bool large = false;                    // the large type size (zoom)
  int32_t font_size = kDefaultFontSize;  // pixels: the body's size at the normal zoom
};

// The body text's pixel size for a screen and zoom state.
int32_t BodyPixelSize(const LayoutSettings& settings);

class Typesetter {
 public:
  // `source` and `fonts` must outlive the typesetter. Layout reads the
  // source's blocks as far as it goes, and passes on its EditionReadError
  // when a block turns out damaged.
  Typesetter(EditionSource& source, FontSet& fonts, const LayoutSettings& settings);
  // A whole edition in memory, which must outlive the typesetter.
  Typesetter(const DeviceEdition& edition, FontSet& fonts, const LayoutSettings& settings);
  ~Typesetter();
  Typesetter(const Typesetter&) = delete;
  Typesetter& operator=(const Typesetter&) = delete;

  // Page `number` (from 1), laid out as far as needed; null past the last
  // page. An empty book has one empty page. The reference stays valid until
  // the next call.
  const Page* GetPage(int32_t number);
  // Lays out the rest of the book and counts the pages.
  int32_t PageCount();
  // The page that holds `position` (laying out as far as needed); the last
  // page when the position lies past the end.
  int32_t PageOf(const FlowPosition& position);
  // Where page `number` starts in the flow, without drawing it; nullopt
  // past the last page.
  std::optional<FlowPosition> StartOf(int32_t number);

  const LayoutSettings& settings() const;

 private:
  struct State;
  std::unique_ptr<EditionSource> whole_;  // over the edition given, when one was
  std::unique_ptr<State> state_;
};

}  // namespace ikutil::typeset
