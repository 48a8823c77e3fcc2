// The typesetter's working state, shared by its three stages: the items
// a block becomes (page_items.cpp, with tables in page_tables.cpp), the
// lines drawn from them (page_lines.cpp) and the pages (page_layout.cpp).
// Internal to the typeset room.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H
#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/ubidi.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <string_view>
#include <unordered_map>

#include "edition_source.h"
#include "hyphenation.h"
#include "line_breaker.h"
#include "page_layout.h"
#include "shape_cache.h"
#include "vellix/formats/ascii.h"

namespace ikutil::typeset {

inline constexpr int32_t kHyphenPenalty = 50;
inline constexpr int32_t kExplicitHyphenPenalty = 50;
// Breaking a word that fits no line between two of its characters: only
// where the line cannot break better.
inline constexpr int32_t kCharacterBreakPenalty = 500;
// Tolerances of the three passes: without hyphenation, with it, and the
// emergency pass that takes whatever it must.
inline constexpr double kFirstPassTolerance = 40;
inline constexpr double kSecondPassTolerance = 200;
// Ends a preformatted line that goes on in the next one.
inline constexpr std::string_view kContinuation = "\u21A9";
inline constexpr size_t kCachedBlocks = 64;  // more than a page holds, even of one-line blocks
// A paragraph with more text than this (dozens of pages) is broken first
// fit, line by line: the total-fit search keeps a node for every feasible
// break, which in a paragraph of megabytes costs many times its text.
inline constexpr size_t kLongParagraph = 64 << 10;
// A word longer than this is measured in pieces and cut into boxes of a
// line's width, never shaped whole nor split at every character.
inline constexpr uint32_t kLongWord = 4096;
inline constexpr int kLongWordPiece = 64;  // code points shaped at once
// Shaped words are kept until there are this many glyphs (a few megabytes).
inline constexpr size_t kMaxCachedGlyphs = 1 << 19;

// Combining marks kept on one character. Text with more (thousands of
// accents stacked on one letter) is noise, not writing; shaping such a
// cluster costs far more than its size, so the rest are dropped, much as
// browsers show them no further (docs/typesetter.md).
inline constexpr int kMaxClusterMarks = 256;

// Appends `text` to `out` without the combining marks of a cluster beyond
// the first kMaxClusterMarks.
inline void AppendCappingClusters(std::string& out, std::string_view text) {
  const auto length = static_cast<int32_t>(text.size());
  int32_t kept_from = 0;
  int marks = 0;
  for (int32_t i = 0; i < length;) {
    const int32_t start = i;
    UChar32 c;
    U8_NEXT(text.data(), i, length, c);
    if (c < 0 || (U_GET_GC_MASK(c) & U_GC_M_MASK) == 0) {
      marks = 0;
      continue;
    }
    if (++marks <= kMaxClusterMarks) continue;
    out.append(text.substr(static_cast<size_t>(kept_from), static_cast<size_t>(start - kept_from)));
    kept_from = i;
  }
  out.append(text.substr(static_cast<size_t>(kept_from)));
}

inline int32_t Ceil64(int64_t v) { return static_cast<int32_t>((v + 63) >> 6); }
inline int32_t Floor64(int64_t v) { return static_cast<int32_t>(v >> 6); }

inline bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// A text style at the layout's sizes.
struct StyleInfo {
  FaceIndex face = 0;
  int32_t size = 0;    // pixels
  int32_t shift = 0;   // pixels the baseline moves down (up when negative)
  double ascent = 0;   // pixels above the baseline
  double descent = 0;  // pixels below it
  int32_t space = 0;   // 26.6, the width of a space
  int32_t hyphen = 0;  // 26.6, the width of "-"
  bool underline = false;
  bool line_through = false;
  bool embolden = false;  // bold asked for, but the face is not a bold one
};

// ---------------------------------------------------------------------------
// Blocks laid out into lines.

// A table: its rows (blocks start..end), set in columns when they fit,
// else each cell on lines of its own after its column's header.
struct TableLayout {
  uint32_t start = 0, end = 0;
  bool header = false;              // the first row heads the columns
  bool columns = false;             // set in columns
  std::vector<int32_t> column_x;    // 26.6 from the rows' left edge: where each column starts
  int32_t span = 0;                 // 26.6: from the first column's start to the last one's end
  std::vector<std::string> labels;  // by column: "Header:", or empty
  std::vector<uint16_t> label_styles;
  std::vector<int32_t> label_widths;  // 26.6, with the space after the label
  // By column: a label too wide to stand beside its cells, wrapped into
  // lines of their own above them (26.6 widths); empty when it fits beside.
  std::vector<std::vector<std::pair<std::string, int32_t>>> wrapped_labels;
};

struct LineBox {
  uint32_t first = 0;   // the line's first item
  uint32_t last = 0;    // the item it breaks at
  uint32_t offset = 0;  // byte offset of its first character in the block's text
  int32_t height = 0;   // pixels, the line's advance
  int32_t ascent = 0;   // pixels from the line's top to its baseline
};

struct BlockLayout {
  uint32_t block = 0;
  BlockKind kind = BlockKind::kParagraph;
  TextAlign align = TextAlign::kJustify;
  bool keep_with_next = false;
  std::string text;
  std::vector<uint32_t> run_starts;  // byte offset of each run in `text`
  // Each run's style (an index into the typesetter's styles) and the run of
  // the block it comes from: a block's run is split where its characters
  // need another face.
  std::vector<uint16_t> run_styles;
  std::vector<uint32_t> run_sources;
  bool rtl = false;  // the paragraph's direction, from its first strong character
  std::vector<Item> items;
  std::vector<LineBox> lines;
  int32_t margin_top = 0;  // pixels
  int32_t margin_bottom = 0;
  int32_t left = 0;         // 26.6 from the page's left edge: where the lines start
  int32_t first_shift = 0;  // 26.6: the first line starts this much further right
  int32_t first_width = 0;  // 26.6
  int32_t width = 0;        // 26.6
  int32_t indent = 0;       // 26.6: blank space that starts the first line
  // Images.
  int32_t image_x = 0, image_width = 0, image_height = 0;
  // Table rows: the table, and where the cell separators are in `text`.
  std::shared_ptr<const TableLayout> table;
  std::vector<uint32_t> tabs;
  bool rule_below = false;  // the header row set in columns
};

// The run of the block's text that `offset` is in.
inline uint32_t RunAt(const BlockLayout& layout, uint32_t offset) {
  auto it = std::upper_bound(layout.run_starts.begin(), layout.run_starts.end(), offset);
  return static_cast<uint32_t>(it - layout.run_starts.begin()) - 1;
}

// The cell of a table row that the text at `offset` is in: the separators
// before it. White space with a separator in it, [begin, end), lies between
// cells when CellAt(begin) != CellAt(end).
inline size_t CellAt(const BlockLayout& layout, uint32_t offset) {
  return static_cast<size_t>(std::lower_bound(layout.tabs.begin(), layout.tabs.end(), offset) - layout.tabs.begin());
}

// Whether [begin, end) of the block's text may hold right-to-left letters
// (Hebrew, Arabic and their neighbours, their presentation forms).
inline bool NeedsBidi(const BlockLayout& layout, uint32_t begin, uint32_t end) {
  if (layout.rtl) return true;
  for (uint32_t i = begin; i < end && i < layout.text.size(); ++i) {
    const auto c = static_cast<unsigned char>(layout.text[i]);
    if (c >= 0xD6 && c <= 0xDF) return true;
    if (c == 0xEF && i + 1 < end && static_cast<unsigned char>(layout.text[i + 1]) >= 0xAC &&
        static_cast<unsigned char>(layout.text[i + 1]) <= 0xBB)
      return true;
  }
  return false;
}

// Whether the character that ends (`before`) or starts at `at` is an East
// Asian wide one: ideographs, kana, hangul and their punctuation.
inline bool IsWide(const std::string& text, uint32_t at, bool before) {
  if (at >= text.size()) return false;
  auto i = static_cast<int32_t>(at);
  UChar32 c;
  if (before) {
    i = static_cast<int32_t>(at) + 1;
    U8_BACK_1(reinterpret_cast<const uint8_t*>(text.data()), 0, i);
    U8_GET(reinterpret_cast<const uint8_t*>(text.data()), 0, i, static_cast<int32_t>(text.size()), c);
  } else {
    U8_NEXT(text.data(), i, static_cast<int32_t>(text.size()), c);
  }
  if (c < 0x1100) return false;
  const int width = u_getIntPropertyValue(c, UCHAR_EAST_ASIAN_WIDTH);
  return width == U_EA_WIDE || width == U_EA_FULLWIDTH;
}

struct PageStart {
  uint32_t block = 0;
  uint32_t line = 0;
  FlowPosition position;  // where the page starts in the flow
};

inline bool Before(const FlowPosition& a, const FlowPosition& b) {
  return a.block < b.block || (a.block == b.block && a.offset < b.offset);
}

// The end of a line that must end here: no break before, then glue that
// fills the line and a break that must be taken.
inline void AppendForcedBreak(std::vector<Item>& items, uint32_t at) {
  Item p;
  p.type = ItemType::kPenalty;
  p.penalty = kInfinitePenalty;
  p.begin = p.end = at;
  items.push_back(p);
  Item g;
  g.type = ItemType::kGlue;
  g.stretch = kFillStretch;
  g.begin = g.end = at;
  items.push_back(g);
  p.penalty = -kInfinitePenalty;
  items.push_back(p);
}

struct Typesetter::State {
  State(EditionSource& e, FontSet& f, const LayoutSettings& s)
      : source(e), edition(e.edition()), fonts(f), settings(s), shapes(f) {}

  // Blocks and images come from `source`, read as far as the layout goes;
  // `edition` holds the settings and styles, and the blocks read so far.
  EditionSource& source;

  const DeviceEdition& edition;
  FontSet& fonts;
  LayoutSettings settings;
  ShapeCache shapes;
  // The edition's text styles, then the same in preformatted text, then
  // styles of fallback faces made as characters need them.
  std::vector<StyleInfo> styles;
  size_t edition_styles = 0;
  std::map<std::pair<uint16_t, FaceIndex>, uint16_t> fallback_styles;
  std::vector<TextStyle> text_styles;
  // The patterns of each language met so far, and the hyphenation points
  // found with them by word: a book repeats its words. A block in a
  // language of its own is hyphenated with that language's patterns.
  struct Hyphenation {
    std::shared_ptr<const Hyphenator> hyphenator;                          // null: the language has no patterns
    std::unordered_map<std::string, std::pair<uint32_t, uint32_t>> words;  // first point, count
  };
  std::map<std::string, Hyphenation, std::less<>> hyphenations;  // by language tag
  std::string_view block_language;                               // of the block being laid out
  Hyphenation* hyphenation = nullptr;                            // its patterns, once asked for
  std::vector<uint16_t> hyphen_points;
  // Tables by the block after their last row, made when a row is first
  // laid out.
  std::map<uint32_t, std::shared_ptr<const TableLayout>> tables;
  std::unique_ptr<icu::BreakIterator> breaker;
  UText* utext = nullptr;

  int32_t body = 0;
  int32_t text_left = 0, text_top = 0, text_width = 0, text_height = 0;  // pixels

  std::vector<PageStart> starts;                           // of the pages known so far; starts[0] is page 1
  bool complete = false;                                   // starts holds every page
  std::vector<std::shared_ptr<const BlockLayout>> recent;  // most recent first
  Page page;
  int32_t page_number = 0;  // the page in `page`, 0 none

  // Scratch space, kept between calls to spare allocations.
  std::vector<uint32_t> offsets;
  std::vector<int32_t> advances;
  std::vector<uint32_t> breaks;
  std::vector<uint32_t> points;
  std::vector<uint32_t> local;
  std::vector<uint32_t> pattern_points;
  std::vector<Item> penalties;
  std::vector<Item> boxes;
  std::string scratch;

  ~State() {
    if (utext != nullptr) utext_close(utext);
  }

  void Init();
  Hyphenation& HyphenationOf(std::string_view language);
  Hyphenation& BlockHyphenation();
  void PatternPoints(const BlockLayout& layout, uint32_t begin, uint32_t end);
  void HyphenationPoints(std::string_view word, uint32_t base);
  const StyleInfo& StyleOfRun(const BlockLayout& layout, uint32_t run) const;
  StyleInfo MakeStyle(const TextStyle& t, int step_offset, FaceIndex face);
  uint16_t FallbackStyle(uint16_t style, FaceIndex face);
  FaceIndex FaceFor(UChar32 c, FaceIndex face);
  void AddRuns(BlockLayout& layout, const Block& block);
  std::shared_ptr<const BlockLayout> Layout(uint32_t block);
  std::shared_ptr<BlockLayout> Build(uint32_t block);
  void BuildItems(BlockLayout& layout);
  void Hyphenate(BlockLayout& layout);
  void BuildPreformattedItems(BlockLayout& layout);
  void SplitBox(const BlockLayout& layout, const Item& box, const std::vector<uint32_t>& cuts,
                const std::vector<Item>& penalties, std::vector<Item>& items);
  void AddWord(BlockLayout& layout, uint32_t begin, uint32_t end);
  void AddLongWord(BlockLayout& layout, uint32_t begin, uint32_t end);
  void SplitWord(BlockLayout& layout, size_t first_item, uint32_t begin, uint32_t end, bool anywhere);
  bool MayHyphenate(const BlockLayout& layout, size_t first_item, uint32_t begin, uint32_t end) const;
  int32_t ContinuationWidth(const BlockLayout& layout, uint32_t run) {
    const StyleInfo& style = StyleOfRun(layout, run);
    return shapes.Shape(style.face, style.size, kContinuation).advance;
  }
  void MakeLines(BlockLayout& layout, const std::vector<uint32_t>& breaks, const BlockStyle& style);
  int32_t LineWidth(const BlockStyle& style, int32_t* margin_left) const;
  std::shared_ptr<const TableLayout> TableOf(uint32_t block);
  void MeasureTable(TableLayout& table);
  void CellWidths(uint32_t block, std::vector<int32_t>* widths);
  void BuildRow(BlockLayout& layout, const BlockStyle& style);
  bool SetInColumns(BlockLayout& layout);
  void SetLabelled(BlockLayout& layout);
  int32_t LabelWidth(std::string& label, const StyleInfo& style);
  std::vector<std::pair<std::string, int32_t>> WrapLabel(const std::string& label, const StyleInfo& style,
                                                         int32_t width);
  // Lines (page_lines.cpp): line `index` of a block drawn at `top`.
  struct LinePiece;
  struct Ink;
  void RenderLine(const BlockLayout& layout, size_t index, int32_t top, Page* page);
  void RenderImage(const BlockLayout& layout, const LineBox& line, int32_t top, Page* page);
  std::vector<LinePiece> LinePieces(const BlockLayout& layout, const LineBox& line);
  // Where the line starts (26.6), its spaces stretched or shrunk to fill a
  // justified line, or the line moved for centred and right-aligned text.
  int64_t Justify(const BlockLayout& layout, size_t index, std::vector<LinePiece>& pieces) const;
  // Where each piece goes when right-to-left text reorders the line; empty
  // when the line reads left to right.
  // Marks the pieces whose brackets must be mirrored as it goes.
  std::vector<int64_t> VisualPositions(const BlockLayout& layout, std::vector<LinePiece>& pieces, int64_t x) const;
  void DrawPieces(const BlockLayout& layout, const LineBox& line, const std::vector<LinePiece>& pieces,
                  const std::vector<int64_t>& visual_x, int64_t x, int32_t top, Page* page, PageLine& text, Ink& ink);
  void DrawWord(Page* page, const StyleInfo& style, const LinePiece& piece, std::string_view block_text, int64_t x,
                int32_t baseline, PageLine& text);
  // The continuation mark of a preformatted line, the rule under a table's
  // header row.
  void DrawLineEnd(const BlockLayout& layout, size_t index, bool has_words, int32_t top, Page* page, PageLine& text,
                   Ink& ink);
  void DrawShaped(Page* page, const StyleInfo& style, const Shaped& shaped, int64_t x, int32_t baseline);
  PageStart FillPage(const PageStart& start, Page* page);
  FlowPosition PositionOf(const PageStart& start);
  bool EnsurePage(int32_t number);
};

}  // namespace ikutil::typeset
