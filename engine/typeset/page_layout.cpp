#include "page_layout.h"

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
#include "shape_cache.h"

namespace ikutil::typeset {

int32_t BodyPixelSize(const LayoutSettings& settings) {
  double size = std::clamp(settings.font_size, kMinFontSize, kMaxFontSize);
  if (settings.large) size *= 1.35;
  return std::max<int32_t>(8, static_cast<int32_t>(std::lround(size)));
}

namespace {

constexpr int32_t kHyphenPenalty = 50;
constexpr int32_t kExplicitHyphenPenalty = 50;
// Breaking a word that fits no line between two of its characters: only
// where the line cannot break better.
constexpr int32_t kCharacterBreakPenalty = 500;
// Tolerances of the three passes: without hyphenation, with it, and the
// emergency pass that takes whatever it must.
constexpr double kFirstPassTolerance = 40;
constexpr double kSecondPassTolerance = 200;
// Ends a preformatted line that goes on in the next one.
constexpr std::string_view kContinuation = "\u21A9";
constexpr size_t kCachedBlocks = 64;  // more than a page holds, even of one-line blocks
// A paragraph with more text than this (dozens of pages) is broken first
// fit, line by line: the total-fit search keeps a node for every feasible
// break, which in a paragraph of megabytes costs many times its text.
constexpr size_t kLongParagraph = 64 << 10;
// A word longer than this is measured in pieces and cut into boxes of a
// line's width, never shaped whole nor split at every character.
constexpr uint32_t kLongWord = 4096;
constexpr int kLongWordPiece = 64;  // code points shaped at once
// Shaped words are kept until there are this many glyphs (a few megabytes).
constexpr size_t kMaxCachedGlyphs = 1 << 19;

// Combining marks kept on one character. Text with more (thousands of
// accents stacked on one letter) is noise, not writing; shaping such a
// cluster costs far more than its size, so the rest are dropped, much as
// browsers show them no further (docs/typesetter.md).
constexpr int kMaxClusterMarks = 256;

// Appends `text` to `out` without the combining marks of a cluster beyond
// the first kMaxClusterMarks.
void AppendCappingClusters(std::string& out, std::string_view text) {
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

int32_t Ceil64(int64_t v) { return static_cast<int32_t>((v + 63) >> 6); }
int32_t Floor64(int64_t v) { return static_cast<int32_t>(v >> 6); }

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

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
};

// ---------------------------------------------------------------------------
// Blocks laid out into lines.

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
};

// Whether [begin, end) of the block's text may hold right-to-left letters
// (Hebrew, Arabic and their neighbours, their presentation forms).
bool NeedsBidi(const BlockLayout& layout, uint32_t begin, uint32_t end) {
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
bool IsWide(const std::string& text, uint32_t at, bool before) {
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

bool Before(const FlowPosition& a, const FlowPosition& b) {
  return a.block < b.block || (a.block == b.block && a.offset < b.offset);
}

}  // namespace

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
  std::shared_ptr<const Hyphenator> hyphenator;
  bool hyphenator_loaded = false;
  // Hyphenation points by word: a book repeats its words.
  std::unordered_map<std::string, std::pair<uint32_t, uint32_t>> hyphenated;  // first point, count
  std::vector<uint16_t> hyphen_points;
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
  std::vector<Item> boxes;
  std::string scratch;

  ~State() {
    if (utext != nullptr) utext_close(utext);
  }

  void Init();
  const Hyphenator* GetHyphenator();
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
  void SplitBox(const BlockLayout& layout, const Item& box, const std::vector<uint32_t>& cuts, Item penalty,
                std::vector<Item>& items);
  void AddWord(BlockLayout& layout, uint32_t begin, uint32_t end);
  void AddLongWord(BlockLayout& layout, uint32_t begin, uint32_t end);
  void SplitWord(BlockLayout& layout, size_t first_item, uint32_t begin, uint32_t end, bool anywhere);
  bool MayHyphenate(const BlockLayout& layout, size_t first_item, uint32_t begin, uint32_t end) const;
  int32_t ContinuationWidth(const BlockLayout& layout, uint32_t run) {
    const StyleInfo& style = StyleOfRun(layout, run);
    return shapes.Shape(style.face, style.size, kContinuation).advance;
  }
  void MakeLines(BlockLayout& layout, const std::vector<uint32_t>& breaks, const BlockStyle& style);
  void RenderLine(const BlockLayout& layout, size_t index, int32_t top, Page* page);
  PageStart FillPage(const PageStart& start, Page* page);
  FlowPosition PositionOf(const PageStart& start);
  bool EnsurePage(int32_t number);
};

void Typesetter::State::Init() {
  body = BodyPixelSize(settings);
  const int32_t margin_x = std::max<int32_t>(2, settings.width / 20);
  const int32_t margin_y = std::max<int32_t>(2, settings.height / 32);
  text_left = margin_x;
  text_top = margin_y;
  text_width = std::max<int32_t>(8, settings.width - 2 * margin_x);
  text_height = std::max<int32_t>(8, settings.height - 2 * margin_y);

  text_styles = edition.text_styles;
  if (text_styles.empty()) text_styles.emplace_back();
  for (const TextStyle& t : text_styles) styles.push_back(MakeStyle(t, 0, FaceOf(t.family, t.bold, t.italic)));
  // Monospaced text in preformatted blocks is two steps smaller than the
  // body: about 50 characters to a line of a 480-pixel screen.
  for (const TextStyle& t : text_styles)
    styles.push_back(MakeStyle(t, t.family == FontFamily::kMono ? -2 : 0, FaceOf(t.family, t.bold, t.italic)));
  edition_styles = text_styles.size();

  UErrorCode status = U_ZERO_ERROR;
  icu::Locale locale(edition.language.empty() ? "en" : edition.language.c_str());
  breaker.reset(icu::BreakIterator::createLineInstance(locale, status));
  if (U_FAILURE(status)) {
    status = U_ZERO_ERROR;
    breaker.reset(icu::BreakIterator::createLineInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) breaker.reset();
  }
  starts.push_back(PageStart());
}

// Loaded the first time a paragraph needs it: loading the patterns costs
// more than laying out a page.
const Hyphenator* Typesetter::State::GetHyphenator() {
  if (!hyphenator_loaded) {
    hyphenator = Hyphenator::ForLanguage(edition.language);
    hyphenator_loaded = true;
  }
  return hyphenator.get();
}

// Appends to `offsets` where `word` (letters) may be hyphenated, plus `base`.
void Typesetter::State::HyphenationPoints(std::string_view word, uint32_t base) {
  if (word.size() > 0xFFFF) return;
  scratch.assign(word);
  auto it = hyphenated.find(scratch);
  if (it == hyphenated.end()) {
    points.clear();
    GetHyphenator()->Points(word, &points);
    const auto first = static_cast<uint32_t>(hyphen_points.size());
    for (uint32_t p : points) hyphen_points.push_back(static_cast<uint16_t>(p));
    it = hyphenated.emplace(scratch, std::make_pair(first, static_cast<uint32_t>(points.size()))).first;
  }
  for (uint32_t k = 0; k < it->second.second; ++k) offsets.push_back(base + hyphen_points[it->second.first + k]);
}

StyleInfo Typesetter::State::MakeStyle(const TextStyle& t, int step_offset, FaceIndex face_index) {
  StyleInfo info;
  info.face = face_index;
  const int step = std::clamp<int>(t.size_step + step_offset, -5, 3);
  double size = body * std::pow(1.2, step);
  const double base = size;
  if (t.vertical != VerticalAlign::kBaseline) size *= 0.8;
  info.size = std::max<int32_t>(4, static_cast<int32_t>(std::lround(size)));
  if (t.vertical == VerticalAlign::kSuper) info.shift = -static_cast<int32_t>(std::lround(base * 0.35));
  if (t.vertical == VerticalAlign::kSub) info.shift = static_cast<int32_t>(std::lround(base * 0.2));
  const Face& face = fonts.Get(info.face);
  const double em = face.ft->units_per_EM > 0 ? face.ft->units_per_EM : 2048;
  info.ascent = info.size * face.ft->ascender / em;
  info.descent = info.size * -face.ft->descender / em;
  info.space = shapes.Shape(info.face, info.size, " ").advance;
  info.hyphen = shapes.Shape(info.face, info.size, "-").advance;
  info.underline = t.underline;
  return info;
}

// Style `style` in another face, made the first time it is asked for.
uint16_t Typesetter::State::FallbackStyle(uint16_t style, FaceIndex face) {
  if (styles[style].face == face) return style;
  auto [it, added] = fallback_styles.emplace(std::make_pair(style, face), static_cast<uint16_t>(styles.size()));
  if (added) {
    const bool pre = style >= edition_styles;
    const TextStyle& t = text_styles[pre ? style - edition_styles : style];
    StyleInfo info = MakeStyle(t, pre && t.family == FontFamily::kMono ? -2 : 0, face);
    info.size = styles[style].size;
    info.shift = styles[style].shift;
    styles.push_back(info);
  }
  return it->second;
}

// The face that shows `c`: `face` when it has the character, else the sans
// face of the same weight and slant (Arabic, Hebrew), else the CJK face;
// `face` when none has it.
FaceIndex Typesetter::State::FaceFor(UChar32 c, FaceIndex face) {
  if (FT_Get_Char_Index(fonts.Get(face).ft, static_cast<FT_ULong>(c)) != 0) return face;
  const FaceIndex sans = FaceOf(FontFamily::kSans, face % 4 >= 2, face % 2 == 1);
  for (FaceIndex other : {sans, FaceOf(FontFamily::kSans, false, false), kCjkFace}) {
    if (other == face || !fonts.Available(other)) continue;
    if (FT_Get_Char_Index(fonts.Get(other).ft, static_cast<FT_ULong>(c)) != 0) return other;
  }
  return face;
}

// The block's runs into the layout: its text, and a run wherever the face
// changes; spaces and marks stay with the characters before them.
void Typesetter::State::AddRuns(BlockLayout& layout, const Block& block) {
  const bool pre = block.kind == BlockKind::kPreformatted;
  bool direction_found = false;
  for (uint32_t r = 0; r < block.runs.size(); ++r) {
    const Run& run = block.runs[r];
    uint16_t base = run.style < edition_styles ? run.style : 0;
    if (pre) base = static_cast<uint16_t>(base + edition_styles);
    const FaceIndex face = styles[base].face;
    const auto offset = static_cast<uint32_t>(layout.text.size());
    std::string text;
    AppendCappingClusters(text, run.text);
    layout.text += text;
    layout.run_starts.push_back(offset);
    layout.run_styles.push_back(base);
    layout.run_sources.push_back(r);
    FaceIndex current = face;
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
      const int32_t at = i;
      UChar32 c;
      U8_NEXT(text.data(), i, length, c);
      if (c < 0) continue;
      if (!direction_found) {
        const UCharDirection d = u_charDirection(c);
        if (d == U_LEFT_TO_RIGHT || d == U_RIGHT_TO_LEFT || d == U_RIGHT_TO_LEFT_ARABIC) {
          layout.rtl = d != U_LEFT_TO_RIGHT;
          direction_found = true;
        }
      }
      if (c < 0x370 && current == face) continue;
      const int8_t type = u_charType(c);
      if (type == U_SPACE_SEPARATOR || type == U_NON_SPACING_MARK || type == U_ENCLOSING_MARK ||
          type == U_FORMAT_CHAR || type == U_CONTROL_CHAR || c == 0xAD)
        continue;
      const FaceIndex wanted = c < 0x370 ? face : FaceFor(c, face);
      if (wanted == current) continue;
      current = wanted;
      if (static_cast<uint32_t>(at) + offset == layout.run_starts.back()) {
        layout.run_styles.back() = FallbackStyle(base, wanted);
      } else {
        layout.run_starts.push_back(offset + static_cast<uint32_t>(at));
        layout.run_styles.push_back(FallbackStyle(base, wanted));
        layout.run_sources.push_back(r);
      }
    }
  }
}

const StyleInfo& Typesetter::State::StyleOfRun(const BlockLayout& layout, uint32_t run) const {
  const uint16_t style = run < layout.run_styles.size() ? layout.run_styles[run] : 0;
  return styles[style < styles.size() ? style : 0];
}

std::shared_ptr<const BlockLayout> Typesetter::State::Layout(uint32_t block) {
  for (size_t i = 0; i < recent.size(); ++i) {
    if (recent[i]->block != block) continue;
    std::rotate(recent.begin(), recent.begin() + static_cast<ptrdiff_t>(i),
                recent.begin() + static_cast<ptrdiff_t>(i) + 1);
    return recent.front();
  }
  shapes.Trim(kMaxCachedGlyphs);
  std::shared_ptr<const BlockLayout> built = Build(block);
  if (recent.size() >= kCachedBlocks) recent.pop_back();
  recent.insert(recent.begin(), built);
  return built;
}

std::shared_ptr<BlockLayout> Typesetter::State::Build(uint32_t index) {
  auto layout = std::make_shared<BlockLayout>();
  const Block& block = source.BlockAt(index);
  static const BlockStyle kDefaultStyle;
  const BlockStyle& style =
      block.style < edition.block_styles.size() ? edition.block_styles[block.style] : kDefaultStyle;
  layout->block = index;
  layout->kind = block.kind;
  layout->align = block.kind == BlockKind::kPreformatted ? TextAlign::kLeft : style.align;
  layout->keep_with_next = style.keep_with_next || block.kind == BlockKind::kHeading;
  auto tenths = [&](int v) { return static_cast<int32_t>(std::lround(std::max(0, v) * body / 10.0)); };
  layout->margin_top = tenths(style.margin_top);
  layout->margin_bottom = tenths(style.margin_bottom);
  // Margins never take more than 40% of the line, whatever the sheet says:
  // deep nesting, or a desktop page's room for a sidebar, must leave a
  // column of text a reader can read.
  int32_t margin_left = tenths(style.margin_left), margin_right = tenths(style.margin_right);
  const int32_t most = text_width * 2 / 5;
  if (margin_left + margin_right > most) {
    const double scale = static_cast<double>(most) / (margin_left + margin_right);
    margin_left = static_cast<int32_t>(margin_left * scale);
    margin_right = static_cast<int32_t>(margin_right * scale);
  }
  const int32_t width = text_width - margin_left - margin_right;
  layout->left = (text_left + margin_left) * 64;
  layout->width = width * 64;
  layout->first_width = layout->width;

  switch (block.kind) {
    case BlockKind::kPageBreak:
      return layout;
    case BlockKind::kRule: {
      LineBox line;
      line.height = std::max<int32_t>(3, body * 3 / 4);
      layout->lines.push_back(line);
      return layout;
    }
    case BlockKind::kImage: {
      if (block.image >= source.ImageCount()) return layout;
      const GreyImage& image = source.ImageAt(block.image);
      if (image.width == 0 || image.height == 0) return layout;
      // Never larger than it is, nor than the page.
      const double scale =
          std::min({1.0, static_cast<double>(width) / image.width, static_cast<double>(text_height) / image.height});
      layout->image_width = std::clamp<int32_t>(static_cast<int32_t>(image.width * scale), 1, width);
      layout->image_height = std::clamp<int32_t>(static_cast<int32_t>(image.height * scale), 1, text_height);
      layout->image_x = text_left + margin_left + (width - layout->image_width) / 2;
      LineBox line;
      line.height = layout->image_height;
      layout->lines.push_back(line);
      return layout;
    }
    default:
      break;
  }

  AddRuns(*layout, block);
  // Right-to-left paragraphs set flush left by their style are set flush
  // right.
  if (layout->rtl && layout->align == TextAlign::kLeft) layout->align = TextAlign::kRight;
  // A hanging first line may reach into the block's left margin, no further.
  const int32_t indent = static_cast<int32_t>(std::lround(style.text_indent * body / 10.0));
  if (indent < 0) {
    const int32_t hang = std::min(-indent, margin_left);
    layout->first_shift = -hang * 64;
    layout->first_width = (width + hang) * 64;
  }

  BreakParams params;
  params.first_width = layout->first_width;
  params.width = layout->width;
  if (layout->align != TextAlign::kJustify) params.line_stretch = body * 64 * 3;
  if (block.kind == BlockKind::kPreformatted) {
    BuildPreformattedItems(*layout);
    BreakFirstFit(layout->items, params, &breaks);
  } else {
    if (indent > 0) layout->indent = std::min(indent, width / 2) * 64;
    BuildItems(*layout);
    params.tolerance = kFirstPassTolerance;
    bool done = false;
    if (layout->text.size() > kLongParagraph) {
      params.emergency = true;
      BreakFirstFit(layout->items, params, &breaks);
      done = true;
    }
    if (!done) done = BreakTotalFit(layout->items, params, &breaks);
    // Only now: loading a language's patterns costs more than many pages.
    const bool hyphenate = !done && block.kind != BlockKind::kHeading && GetHyphenator() != nullptr;
    if (!done && hyphenate) Hyphenate(*layout);
    if (!done && !hyphenate && layout->align == TextAlign::kJustify) {
      // Without hyphens a justified paragraph that fits no better would be
      // full of gaps: it is set ragged instead.
      layout->align = layout->rtl ? TextAlign::kRight : TextAlign::kLeft;
      params.line_stretch = body * 64 * 3;
      done = BreakTotalFit(layout->items, params, &breaks);
    }
    if (!done) {
      params.tolerance = kSecondPassTolerance;
      done = BreakTotalFit(layout->items, params, &breaks);
    }
    if (!done) {
      // Words held together by the line-break rules ("word ;") part when
      // together they fill more than a line, before any word is split.
      for (Item& item : layout->items)
        if (item.kept) item.penalty = kCharacterBreakPenalty / 2;
      params.emergency = true;
      // Enough to tell a loose line from a looser one, not so much that
      // looseness stops counting against hyphens.
      params.emergency_stretch = body * 64 / 2;
      done = BreakTotalFit(layout->items, params, &breaks);
    }
    if (!done) BreakFirstFit(layout->items, params, &breaks);
  }
  MakeLines(*layout, breaks, style);
  return layout;
}

// The end of a line that must end here: no break before, then glue that
// fills the line and a break that must be taken.
namespace {
void AppendForcedBreak(std::vector<Item>& items, uint32_t at) {
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
}  // namespace

// Text into boxes, glue and penalties: a box per word (one per run it
// spans, and per syllable when hyphenating), glue for the spaces, a
// penalty where a line may break without a space (after a dash), and a
// forced break at each line break.
void Typesetter::State::BuildItems(BlockLayout& layout) {
  layout.items.clear();
  const std::string& text = layout.text;
  std::vector<Item>& items = layout.items;
  if (text.size() > kLongParagraph) {
    // A box and a glue a word: reserved at once, since growing by doubling
    // would hold the old and the new items together.
    const auto blanks = static_cast<size_t>(std::count_if(text.begin(), text.end(), IsBlank));
    items.reserve(2 * blanks + 16);
  }
  const bool justify = layout.align == TextAlign::kJustify;
  auto run_at = [&](uint32_t offset) {
    auto it = std::upper_bound(layout.run_starts.begin(), layout.run_starts.end(), offset);
    return static_cast<uint32_t>(it - layout.run_starts.begin()) - 1;
  };
  if (layout.indent > 0) {
    Item box;
    box.blank = true;
    box.width = layout.indent;
    items.push_back(box);
  }
  bool line_open = false;  // the current line holds something a space may follow
  // One segment of the line-break rules: words, the spaces between them and
  // the spaces it ends with. Only the last spaces are a place to break; a
  // space inside the segment ("( b", "vite :") is glue all the same.
  auto handle = [&](uint32_t begin, uint32_t end) {
    uint32_t at = begin;
    while (at < end) {
      const uint32_t word_begin = at;
      uint32_t word_end = at;
      while (word_end < end && !IsBlank(text[word_end])) ++word_end;
      if (word_end > word_begin) {
        AddWord(layout, word_begin, word_end);
        line_open = true;
      }
      uint32_t space_end = word_end;
      while (space_end < end && IsBlank(text[space_end])) ++space_end;
      at = space_end;
      bool space = false;
      for (uint32_t i = word_end; i < space_end; ++i) {
        if (text[i] == '\n') {
          // A line break: the line so far ends here, and the next one starts
          // with an empty box so that glue after it is not dropped.
          while (!items.empty() && items.back().type == ItemType::kGlue) items.pop_back();
          AppendForcedBreak(items, i);
          Item empty;
          empty.run = run_at(i);
          empty.begin = empty.end = i + 1;
          empty.blank = true;
          items.push_back(empty);
          line_open = false;
          space = false;
        } else if (line_open) {
          space = true;
        }
      }
      if (space) {
        const uint32_t run = run_at(word_end);
        const StyleInfo& style = StyleOfRun(layout, run);
        if (space_end < end) {
          Item keep;
          keep.type = ItemType::kPenalty;
          keep.penalty = kInfinitePenalty;
          keep.kept = true;
          keep.run = run;
          keep.begin = keep.end = word_end;
          items.push_back(keep);
        }
        Item glue;
        glue.type = ItemType::kGlue;
        glue.run = run;
        glue.begin = word_end;
        glue.end = space_end;
        glue.width = style.space;
        if (justify) {
          // A printed book's spacing: a hand-held's lines hold few words, but
          // wide gaps read worse than a hyphen, which the second pass offers.
          glue.stretch = style.space * 3 / 5;
          glue.shrink = style.space / 3;
        }
        items.push_back(glue);
      } else if (word_end == end && end < text.size() && word_end > word_begin &&
                 text.find_first_not_of('-', word_begin) < end) {
        // A break without a space: after a hyphen, a dash, a slash; not
        // after the leading dashes of an option ("--" / "log-file").
        if (justify && IsWide(text, end - 1, true) && IsWide(text, end, false)) {
          // Between ideographs: glue without width, so that a justified
          // line spreads its characters evenly.
          Item glue;
          glue.type = ItemType::kGlue;
          glue.run = run_at(end);
          glue.begin = glue.end = end;
          glue.stretch = StyleOfRun(layout, glue.run).space;
          items.push_back(glue);
          continue;
        }
        Item p;
        p.type = ItemType::kPenalty;
        p.begin = p.end = end;
        std::string_view word(text.data() + word_begin, end - word_begin);
        const bool hyphen = word.back() == '-' || word.ends_with("\xE2\x80\x90");
        const bool soft = word.ends_with("\xC2\xAD");
        if (hyphen || soft) {
          p.flagged = true;
          p.penalty = hyphen ? kExplicitHyphenPenalty : kHyphenPenalty;
          p.hyphen = soft;
          if (soft) p.width = StyleOfRun(layout, run_at(end - 1)).hyphen;
        }
        items.push_back(p);
      }
    }
  };

  bool segmented = false;
  if (breaker != nullptr && !text.empty()) {
    UErrorCode status = U_ZERO_ERROR;
    utext = utext_openUTF8(utext, text.data(), static_cast<int64_t>(text.size()), &status);
    if (U_SUCCESS(status)) breaker->setText(utext, status);
    if (U_SUCCESS(status)) {
      segmented = true;
      int32_t begin = breaker->first();
      for (int32_t end = breaker->next(); end != icu::BreakIterator::DONE; begin = end, end = breaker->next())
        handle(static_cast<uint32_t>(begin), static_cast<uint32_t>(end));
    }
  }
  if (!segmented) {
    // Without ICU's rules: break at spaces only.
    uint32_t begin = 0;
    for (uint32_t i = 0; i < text.size(); ++i) {
      if (IsBlank(text[i]) && (i + 1 == text.size() || !IsBlank(text[i + 1]))) {
        handle(begin, i + 1);
        begin = i + 1;
      }
    }
    if (begin < text.size()) handle(begin, static_cast<uint32_t>(text.size()));
  }
  while (!items.empty() && items.back().type != ItemType::kBox) {
    if (items.back().type == ItemType::kPenalty && items.back().penalty <= -kInfinitePenalty) break;
    items.pop_back();
  }
  if (items.size() == (layout.indent > 0 ? 1u : 0u)) {  // nothing but white space
    items.clear();
    return;
  }
  AppendForcedBreak(items, static_cast<uint32_t>(text.size()));
}

// One word: a box per run it spans, split at every character when it is
// wider than a line.
void Typesetter::State::AddWord(BlockLayout& layout, uint32_t begin, uint32_t end) {
  if (end - begin > kLongWord) return AddLongWord(layout, begin, end);
  const std::string& text = layout.text;
  std::vector<Item>& items = layout.items;
  // Nothing shaped is held across words: the cache may be emptied here, so
  // a long paragraph of many words keeps it bounded too.
  shapes.Trim(kMaxCachedGlyphs);
  const size_t first_item = items.size();
  int64_t total = 0;
  uint32_t run = static_cast<uint32_t>(std::upper_bound(layout.run_starts.begin(), layout.run_starts.end(), begin) -
                                       layout.run_starts.begin() - 1);
  for (uint32_t at = begin; at < end; ++run) {
    const uint32_t run_end = run + 1 < layout.run_starts.size() ? std::min(end, layout.run_starts[run + 1]) : end;
    if (run_end <= at) continue;
    const StyleInfo& style = StyleOfRun(layout, run);
    Item box;
    box.run = run;
    box.begin = at;
    box.end = run_end;
    box.width = shapes.Shape(style.face, style.size, std::string_view(text).substr(at, run_end - at)).advance;
    total += box.width;
    items.push_back(box);
    at = run_end;
  }
  if (total > std::min(layout.width, layout.first_width - layout.indent))
    SplitWord(layout, first_item, begin, end, true);
}

// A word longer than kLongWord bytes: shaped in pieces of a few dozen
// characters (a cluster is never cut) and cut into boxes no wider than a
// line, with a break between them. It costs memory in proportion to its
// lines, not to its characters.
void Typesetter::State::AddLongWord(BlockLayout& layout, uint32_t begin, uint32_t end) {
  const std::string& text = layout.text;
  std::vector<Item>& items = layout.items;
  const int32_t limit = std::max<int32_t>(64 * 8, std::min(layout.width, layout.first_width - layout.indent));
  auto is_mark_at = [&](uint32_t at, uint32_t stop) {
    auto i = static_cast<int32_t>(at);
    UChar32 c;
    U8_NEXT(text.data(), i, static_cast<int32_t>(stop), c);
    return c >= 0 && (U_GET_GC_MASK(c) & U_GC_M_MASK) != 0;
  };
  int64_t since_break = 0;  // the width of the boxes since the last break
  uint32_t run = static_cast<uint32_t>(std::upper_bound(layout.run_starts.begin(), layout.run_starts.end(), begin) -
                                       layout.run_starts.begin() - 1);
  for (uint32_t at = begin; at < end; ++run) {
    const uint32_t run_end = run + 1 < layout.run_starts.size() ? std::min(end, layout.run_starts[run + 1]) : end;
    if (run_end <= at) continue;
    const StyleInfo& style = StyleOfRun(layout, run);
    Item box;
    box.run = run;
    box.begin = box.end = at;
    while (at < run_end) {
      // A piece, and the places in it where the word may be cut: after each
      // character that no combining mark follows.
      uint32_t piece_end = at;
      offsets.clear();
      for (int n = 0; piece_end < run_end && (n < kLongWordPiece || is_mark_at(piece_end, run_end));) {
        auto i = static_cast<int32_t>(piece_end);
        U8_FWD_1(text.data(), i, static_cast<int32_t>(run_end));
        piece_end = static_cast<uint32_t>(i);
        if (piece_end == run_end || !is_mark_at(piece_end, run_end)) {
          offsets.push_back(piece_end - at);
          ++n;
        }
      }
      shapes.Trim(kMaxCachedGlyphs);
      const Shaped shaped = shapes.Shape(style.face, style.size, std::string_view(text).substr(at, piece_end - at));
      shapes.PrefixAdvances(shaped, offsets, &advances);
      int32_t done = 0;
      for (size_t k = 0; k < offsets.size(); ++k) {
        const int32_t width = advances[k] - done;
        done = advances[k];
        if (since_break + width > limit && since_break > 0) {
          if (box.end > box.begin) items.push_back(box);
          Item penalty;
          penalty.type = ItemType::kPenalty;
          penalty.penalty = kCharacterBreakPenalty;
          penalty.run = run;
          penalty.begin = penalty.end = box.end;
          items.push_back(penalty);
          box.begin = box.end;
          box.width = 0;
          since_break = 0;
        }
        box.end = at + offsets[k];
        box.width += width;
        since_break += width;
      }
      at = piece_end;
    }
    if (box.end > box.begin) items.push_back(box);
  }
}

// The second pass's items: every word split at its hyphenation points.
void Typesetter::State::Hyphenate(BlockLayout& layout) {
  std::vector<Item> source;
  source.swap(layout.items);
  layout.items.reserve(source.size() + source.size() / 4);
  for (size_t i = 0; i < source.size();) {
    const Item& item = source[i];
    if (item.type != ItemType::kBox || item.blank) {
      layout.items.push_back(item);
      ++i;
      continue;
    }
    size_t j = i + 1;
    while (j < source.size() && source[j].type == ItemType::kBox && !source[j].blank &&
           source[j].begin == source[j - 1].end)
      ++j;
    const size_t first = layout.items.size();
    layout.items.insert(layout.items.end(), source.begin() + static_cast<ptrdiff_t>(i),
                        source.begin() + static_cast<ptrdiff_t>(j));
    SplitWord(layout, first, source[i].begin, source[j - 1].end, false);
    i = j;
  }
}

// Whether the word [begin, end) (its boxes from `first_item` on) may take a
// hyphen: not in code (monospaced text), nor in what reads as an
// identifier or an option: digits, underscores, dots or colons inside,
// capitals after a letter ("FULL", "getValue"), leading dashes.
bool Typesetter::State::MayHyphenate(const BlockLayout& layout, size_t first_item, uint32_t begin, uint32_t end) const {
  for (size_t i = first_item; i < layout.items.size(); ++i)
    if (StyleOfRun(layout, layout.items[i].run).face / 4 == static_cast<int>(FontFamily::kMono)) return false;
  const std::string& text = layout.text;
  if (text[begin] == '-') return false;
  bool after_letter = false;
  for (int32_t i = static_cast<int32_t>(begin); i < static_cast<int32_t>(end);) {
    const auto byte = static_cast<unsigned char>(text[static_cast<size_t>(i)]);
    if (byte >= 'a' && byte <= 'z') {  // the common case, without a table lookup
      after_letter = true;
      ++i;
      continue;
    }
    UChar32 c;
    U8_NEXT(text.data(), i, static_cast<int32_t>(end), c);
    if (c < 0) return false;
    if (u_isdigit(c) || c == '_' || c == '/' || c == '\\' || c == '@' || c == '=' || c == '<' || c == '>' || c == '{' ||
        c == '}' || c == '$' || c == '#' || c == '~' || c == '|')
      return false;
    if ((c == '.' || c == ':') && i < static_cast<int32_t>(end)) {
      UChar32 next;
      int32_t j = i;
      U8_NEXT(text.data(), j, static_cast<int32_t>(end), next);
      if (next >= 0 && (u_isalnum(next) || next == '_')) return false;
    }
    if (after_letter && u_isupper(c)) return false;
    after_letter = u_isalpha(c);
  }
  return true;
}

// Splits the boxes of the word [begin, end) (from `first_item` to the end
// of the items) where it may break: at its hyphenation points, or at every
// character (`anywhere`) when it fits no line.
void Typesetter::State::SplitWord(BlockLayout& layout, size_t first_item, uint32_t begin, uint32_t end, bool anywhere) {
  const std::string& text = layout.text;
  std::vector<Item>& items = layout.items;
  const bool too_wide = anywhere;
  offsets.clear();
  if (too_wide) {
    // Words joined by no-break spaces part after one of those spaces; a
    // part is split between its characters only when it is itself wider
    // than the line.
    const int64_t widest = std::min(layout.width, layout.first_width - layout.indent);
    const bool joined = std::string_view(text.data(), end).find("\xC2\xA0", begin) != std::string_view::npos;
    auto width_of = [&](uint32_t from, uint32_t to) {  // in the styles of the runs it spans
      int64_t total = 0;
      auto run = static_cast<uint32_t>(std::upper_bound(layout.run_starts.begin(), layout.run_starts.end(), from) -
                                       layout.run_starts.begin() - 1);
      for (uint32_t at = from; at < to; ++run) {
        const uint32_t run_end = run + 1 < layout.run_starts.size() ? std::min(to, layout.run_starts[run + 1]) : to;
        if (run_end <= at) continue;
        const StyleInfo& style = StyleOfRun(layout, run);
        total += shapes.Shape(style.face, style.size, std::string_view(text).substr(at, run_end - at)).advance;
        at = run_end;
      }
      return total;
    };
    uint32_t part = begin;
    while (part < end) {
      size_t joint = std::string_view(text.data(), end).find("\xC2\xA0", part);
      const uint32_t part_end = joint == std::string_view::npos ? end : static_cast<uint32_t>(joint + 2);
      const bool wide = !joined || width_of(part, part_end) > widest;
      for (int32_t i = static_cast<int32_t>(part); wide && i < static_cast<int32_t>(part_end);) {
        U8_FWD_1(text.data(), i, static_cast<int32_t>(part_end));
        if (i < static_cast<int32_t>(part_end)) offsets.push_back(static_cast<uint32_t>(i));
      }
      if (part_end < end) offsets.push_back(part_end);
      part = part_end;
    }
  } else {
    if (!MayHyphenate(layout, first_item, begin, end)) return;
    int32_t i = static_cast<int32_t>(begin);
    while (i < static_cast<int32_t>(end)) {
      int32_t letters_begin = i, letters_end = i;
      int count = 0;
      while (i < static_cast<int32_t>(end)) {
        int32_t next = i;
        UChar32 c;
        U8_NEXT(text.data(), next, static_cast<int32_t>(end), c);
        if (c < 0 || !u_isalpha(c)) {
          i = next;
          break;
        }
        i = next;
        letters_end = i;
        ++count;
      }
      if (count >= kHyphenMinWord)
        HyphenationPoints(std::string_view(text).substr(static_cast<size_t>(letters_begin),
                                                        static_cast<size_t>(letters_end - letters_begin)),
                          static_cast<uint32_t>(letters_begin));
    }
  }
  if (offsets.empty()) return;

  // Split the boxes at those offsets, measuring the parts by the glyphs of
  // the whole word so that an unbroken word keeps its kerning.
  boxes.assign(items.begin() + static_cast<ptrdiff_t>(first_item), items.end());
  items.resize(first_item);
  size_t next = 0;
  for (const Item& box : boxes) {
    local.clear();
    while (next < offsets.size() && offsets[next] <= box.begin) ++next;
    while (next < offsets.size() && offsets[next] < box.end) local.push_back(offsets[next++] - box.begin);
    if (local.empty()) {
      items.push_back(box);
      continue;
    }
    Item p;
    p.type = ItemType::kPenalty;
    if (too_wide) {
      p.penalty = kCharacterBreakPenalty;
      // After a no-break space the parts are words: break there first.
      if (local.size() == 1 && text.compare(box.begin + local[0] - 2, 2, "\xC2\xA0") == 0) p.penalty = kHyphenPenalty;
    } else {
      p.flagged = true;
      p.hyphen = true;
      p.penalty = kHyphenPenalty;
      p.width = StyleOfRun(layout, box.run).hyphen;
    }
    SplitBox(layout, box, local, p, items);
  }
}

// Appends `box` split at `cuts` (ascending byte offsets inside it) with
// `penalty` between the parts. The parts are measured by the glyphs of the
// whole box, so that a word left whole keeps its kerning.
void Typesetter::State::SplitBox(const BlockLayout& layout, const Item& box, const std::vector<uint32_t>& cuts,
                                 Item penalty, std::vector<Item>& items) {
  const StyleInfo& style = StyleOfRun(layout, box.run);
  const Shaped shaped =
      shapes.Shape(style.face, style.size, std::string_view(layout.text).substr(box.begin, box.end - box.begin));
  shapes.PrefixAdvances(shaped, cuts, &advances);
  int32_t done = 0;
  uint32_t from = box.begin;
  for (size_t k = 0; k < cuts.size(); ++k) {
    Item part = box;
    part.begin = from;
    part.end = box.begin + cuts[k];
    part.width = advances[k] - done;
    items.push_back(part);
    penalty.run = box.run;
    penalty.begin = penalty.end = part.end;
    items.push_back(penalty);
    done = advances[k];
    from = part.end;
  }
  Item rest = box;
  rest.begin = from;
  rest.width = box.width - done;
  items.push_back(rest);
}

// Preformatted text: white space is text, lines end only at line breaks,
// and a line too long for the page breaks at any character.
void Typesetter::State::BuildPreformattedItems(BlockLayout& layout) {
  layout.items.clear();
  std::string& text = layout.text;
  std::vector<Item>& items = layout.items;
  uint32_t length = static_cast<uint32_t>(text.size());
  if (length > 0 && text[length - 1] == '\n') --length;  // the last line's end makes no line
  uint32_t run = 0;
  uint32_t line_begin = 0;
  while (line_begin <= length) {
    uint32_t line_end = line_begin;
    while (line_end < length && text[line_end] != '\n') ++line_end;
    const size_t first_item = items.size();
    Item empty;
    empty.blank = true;
    empty.begin = empty.end = line_begin;
    items.push_back(empty);
    int64_t total = 0;
    int column = 0;
    for (uint32_t at = line_begin; at < line_end;) {
      while (run + 1 < layout.run_starts.size() && layout.run_starts[run + 1] <= at) ++run;
      const uint32_t run_end =
          run + 1 < layout.run_starts.size() ? std::min(line_end, layout.run_starts[run + 1]) : line_end;
      const StyleInfo& style = StyleOfRun(layout, run);
      uint32_t piece_end = at;
      while (piece_end < run_end && text[piece_end] != '\t' && text[piece_end] != '\r') ++piece_end;
      if (piece_end > at) {
        Item box;
        box.run = run;
        box.begin = at;
        box.end = piece_end;
        box.width = shapes.Shape(style.face, style.size, std::string_view(text).substr(at, piece_end - at)).advance;
        for (uint32_t i = at; i < piece_end; ++i) column += (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
        total += box.width;
        items.push_back(box);
        at = piece_end;
      }
      if (at < run_end) {  // a tab to the next eighth column, or a stray carriage return
        Item blank;
        blank.blank = true;
        blank.run = run;
        blank.begin = at;
        blank.end = at + 1;
        const int spaces = text[at] == '\t' ? 8 - column % 8 : 0;
        blank.width = style.space * spaces;
        column += spaces;
        total += blank.width;
        items.push_back(blank);
        ++at;
      }
    }
    if (total > layout.width) {
      // Break anywhere: split every box at each character.
      std::vector<Item> boxes(items.begin() + static_cast<ptrdiff_t>(first_item), items.end());
      items.resize(first_item);
      for (const Item& box : boxes) {
        if (box.blank || box.end - box.begin <= 1) {
          items.push_back(box);
        } else {
          // A cut after every character but the last.
          offsets.clear();
          for (int32_t i = static_cast<int32_t>(box.begin);;) {
            U8_FWD_1(text.data(), i, static_cast<int32_t>(box.end));
            if (i >= static_cast<int32_t>(box.end)) break;
            offsets.push_back(static_cast<uint32_t>(i) - box.begin);
          }
          Item anywhere;
          anywhere.type = ItemType::kPenalty;
          anywhere.width = ContinuationWidth(layout, box.run);
          SplitBox(layout, box, offsets, anywhere, items);
        }
        Item p;
        p.type = ItemType::kPenalty;
        p.width = ContinuationWidth(layout, box.run);
        p.begin = p.end = box.end;
        items.push_back(p);
      }
      items.pop_back();
    }
    AppendForcedBreak(items, line_end);
    line_begin = line_end + 1;
  }
}

void Typesetter::State::MakeLines(BlockLayout& layout, const std::vector<uint32_t>& line_ends,
                                  const BlockStyle& style) {
  const std::vector<Item>& items = layout.items;
  const uint16_t line_height = style.line_height == 0 ? 120 : style.line_height;
  const StyleInfo& first_style = StyleOfRun(layout, 0);
  uint32_t first = 0;
  for (uint32_t last : line_ends) {
    LineBox line;
    line.first = first;
    line.last = last;
    line.offset = first < items.size() ? items[first].begin : static_cast<uint32_t>(layout.text.size());
    double ascent = 0, descent = 0;
    int32_t size = 0;
    for (uint32_t i = first; i < last; ++i) {
      const Item& item = items[i];
      if (item.type != ItemType::kBox || (item.blank && item.begin == item.end)) continue;
      const StyleInfo& s = StyleOfRun(layout, item.run);
      size = std::max(size, s.size);
      ascent = std::max(ascent, s.ascent);
      descent = std::max(descent, s.descent);
    }
    if (size == 0) {  // an empty line
      size = first_style.size;
      ascent = first_style.ascent;
      descent = first_style.descent;
    }
    line.height = std::max<int32_t>(1, static_cast<int32_t>(std::lround(size * line_height / 100.0)));
    line.ascent = static_cast<int32_t>(std::lround((line.height - ascent - descent) / 2 + ascent));
    layout.lines.push_back(line);
    first = LineStartAfter(items, last);
  }
}

void Typesetter::State::RenderLine(const BlockLayout& layout, size_t index, int32_t top, Page* page) {
  const LineBox& line = layout.lines[index];
  if (layout.kind == BlockKind::kRule) {
    FilledRect rule;
    rule.x = Floor64(layout.left);
    rule.width = Floor64(layout.width);
    rule.height = std::max<int32_t>(1, body / 16);
    rule.y = top + (line.height - rule.height) / 2;
    rule.grey = 0;
    page->rects.push_back(rule);
    return;
  }
  const Block& block = source.BlockAt(layout.block);
  if (layout.kind == BlockKind::kImage) {
    PlacedImage image;
    image.image = block.image;
    image.x = layout.image_x;
    image.y = top;
    image.width = layout.image_width;
    image.height = layout.image_height;
    page->images.push_back(image);
    PageLine text;
    text.text = "[" + block.alt + "]";
    text.block = layout.block;
    text.top = top;
    text.bottom = top + line.height;
    text.left = image.x;
    text.right = image.x + image.width;
    text.image = true;
    page->lines.push_back(std::move(text));
    return;
  }

  // The line's pieces: words (consecutive boxes of one run) and spaces.
  struct Piece {
    bool space = false;
    bool blank = false;
    bool hyphen = false;
    uint32_t run = 0;
    uint32_t begin = 0, end = 0;
    int64_t width = 0;  // 26.6
    int32_t stretch = 0, shrink = 0;
    Shaped shaped;
  };
  std::vector<Piece> pieces;
  const std::vector<Item>& items = layout.items;
  for (uint32_t i = line.first; i < line.last; ++i) {
    const Item& item = items[i];
    if (item.type == ItemType::kPenalty) continue;
    if (item.type == ItemType::kGlue) {
      if (item.stretch == kFillStretch) continue;
      Piece space;
      space.space = true;
      space.run = item.run;
      space.begin = item.begin;
      space.end = item.end;
      space.width = item.width;
      space.stretch = item.stretch;
      space.shrink = item.shrink;
      pieces.push_back(space);
      continue;
    }
    if (item.blank) {
      if (item.width == 0) continue;
      Piece blank;
      blank.blank = true;
      blank.run = item.run;
      blank.begin = item.begin;
      blank.end = item.end;
      blank.width = item.width;
      pieces.push_back(blank);
      continue;
    }
    if (!pieces.empty() && !pieces.back().space && !pieces.back().blank && pieces.back().run == item.run &&
        pieces.back().end == item.begin) {
      pieces.back().end = item.end;
      continue;
    }
    Piece word;
    word.run = item.run;
    word.begin = item.begin;
    word.end = item.end;
    pieces.push_back(word);
  }
  const Item& last = items[line.last];
  if (last.type == ItemType::kPenalty && last.hyphen) {
    for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
      if (it->space || it->blank) continue;
      it->hyphen = true;
      break;
    }
  }
  while (!pieces.empty() && pieces.back().space) pieces.pop_back();

  int64_t natural = 0, stretch = 0, shrink = 0;
  for (Piece& piece : pieces) {
    if (!piece.space && !piece.blank) {
      const StyleInfo& style = StyleOfRun(layout, piece.run);
      scratch.assign(layout.text, piece.begin, piece.end - piece.begin);
      if (piece.hyphen && !scratch.ends_with("\xC2\xAD")) scratch += '-';
      if (piece.hyphen && scratch.ends_with("\xC2\xAD")) scratch.replace(scratch.size() - 2, 2, "-");
      piece.shaped = shapes.Shape(style.face, style.size, scratch);
      piece.width = piece.shaped.advance;
    }
    natural += piece.width;
    stretch += piece.stretch;
    shrink += piece.shrink;
  }

  const bool first_line = index == 0;
  const int64_t available = first_line ? layout.first_width : layout.width;
  int64_t x = layout.left + (first_line ? layout.first_shift : 0);
  const bool ends_paragraph = last.type == ItemType::kPenalty && last.penalty <= -kInfinitePenalty;
  int64_t slack = available - natural;
  // A line the emergency pass left very loose reads better ragged than
  // with gaps more than two ems wider than a space.
  int64_t gaps = 0;
  for (const Piece& piece : pieces) gaps += piece.space ? 1 : 0;
  const bool too_loose = gaps > 0 && slack > gaps * 2 * body * 64;
  if ((layout.align == TextAlign::kJustify && !ends_paragraph && !too_loose) || slack < 0) {
    // Spread the slack over the spaces, in proportion to what each may
    // give; a line too long (the last of a paragraph may be set tight, and
    // any in an emergency) shrinks its spaces whatever they allow.
    int64_t spaces = 0;
    for (const Piece& piece : pieces) spaces += piece.space ? piece.width : 0;
    const bool by_width = slack < 0 && shrink == 0;
    const int64_t give = slack > 0 ? stretch : by_width ? spaces : shrink;
    if (give > 0) {
      int64_t left_over = slack;
      int64_t left_give = give;
      for (Piece& piece : pieces) {
        if (!piece.space) continue;
        const int64_t mine = slack > 0 ? piece.stretch : by_width ? piece.width : piece.shrink;
        const int64_t share = left_give > 0 ? left_over * mine / left_give : 0;
        piece.width = std::max<int64_t>(0, piece.width + share);
        left_over -= share;
        left_give -= mine;
      }
    }
  } else if (slack > 0) {
    if (layout.align == TextAlign::kCenter) x += slack / 2;
    if (layout.align == TextAlign::kRight || (layout.rtl && layout.align == TextAlign::kJustify)) x += slack;
  }

  // Right-to-left words in the line: the pieces go where the bidirectional
  // algorithm puts them; the line's text stays in reading order.
  std::vector<int64_t> visual_x;
  if (NeedsBidi(layout, pieces.empty() ? 0 : pieces.front().begin, pieces.empty() ? 0 : pieces.back().end)) {
    icu::UnicodeString logical;
    std::vector<int32_t> starts;
    for (const Piece& piece : pieces) {
      starts.push_back(logical.length());
      if (piece.space || piece.blank)
        logical.append(static_cast<UChar>(' '));
      else
        logical.append(icu::UnicodeString::fromUTF8(
            icu::StringPiece(layout.text.data() + piece.begin, static_cast<int32_t>(piece.end - piece.begin))));
    }
    UErrorCode status = U_ZERO_ERROR;
    UBiDi* bidi = ubidi_openSized(logical.length(), 0, &status);
    ubidi_setPara(bidi, logical.getBuffer(), logical.length(), layout.rtl ? 1 : 0, nullptr, &status);
    if (U_SUCCESS(status) && !pieces.empty()) {
      std::vector<UBiDiLevel> levels(pieces.size());
      for (size_t i = 0; i < pieces.size(); ++i)
        levels[i] = starts[i] < logical.length() ? ubidi_getLevelAt(bidi, starts[i]) : (layout.rtl ? 1 : 0);
      std::vector<int32_t> order(pieces.size());
      ubidi_reorderVisual(levels.data(), static_cast<int32_t>(pieces.size()), order.data());
      visual_x.assign(pieces.size(), 0);
      int64_t pen = x;
      for (int32_t logical_index : order) {
        visual_x[static_cast<size_t>(logical_index)] = pen;
        pen += pieces[static_cast<size_t>(logical_index)].width;
      }
    }
    ubidi_close(bidi);
  }

  const int32_t baseline = top + line.ascent;
  PageLine text;
  text.top = top;
  text.bottom = top + line.height;
  text.heading = layout.kind == BlockKind::kHeading;
  text.block = layout.block;
  const size_t first_link_area = page->links.size();
  int64_t ink_left = -1, ink_right = -1;
  if (first_line && layout.kind == BlockKind::kListItem && !block.marker.empty()) {
    // The marker hangs left of the first line.
    const StyleInfo& style = StyleOfRun(layout, 0);
    const Shaped marker = shapes.Shape(style.face, style.size, block.marker);
    const int64_t marker_x = std::max<int64_t>(0, x - marker.advance - style.size * 64 * 2 / 5);
    GlyphRun run;
    run.face = style.face;
    run.pixel_size = style.size;
    int64_t pen = marker_x;
    const ShapedGlyph* g = shapes.Glyphs(marker);
    for (uint32_t k = 0; k < marker.count; ++k) {
      run.glyphs.push_back({g[k].id, static_cast<int32_t>(pen + g[k].x_offset), baseline * 64 - g[k].y_offset});
      pen += g[k].advance;
    }
    page->runs.push_back(std::move(run));
    text.text = block.marker + " ";
    ink_left = marker_x;
  }

  struct Underline {
    int64_t from = 0, to = 0;
    int32_t y = 0, thickness = 0;
    uint32_t link = kNoLink;
    bool open = false;
  } underline;
  auto close_underline = [&] {
    if (!underline.open) return;
    FilledRect rect;
    rect.x = Floor64(underline.from);
    rect.width = std::max<int32_t>(1, Ceil64(underline.to) - rect.x);
    rect.y = underline.y;
    rect.height = underline.thickness;
    page->rects.push_back(rect);
    underline.open = false;
  };
  bool after_space = false;
  for (size_t index = 0; index < pieces.size(); ++index) {
    const Piece& piece = pieces[index];
    if (!visual_x.empty()) {
      x = visual_x[index];
      after_space = false;  // underlines are not joined across reordered words
    }
    if (piece.space) {
      x += piece.width;
      // Glue between ideographs stretches but is no space of the text.
      if (piece.end > piece.begin && !text.text.empty() && text.text.back() != ' ') text.text += ' ';
      after_space = visual_x.empty();
      continue;
    }
    if (piece.blank) {
      x += piece.width;
      if (piece.end > piece.begin) text.text += ' ';
      continue;
    }
    const StyleInfo& style = StyleOfRun(layout, piece.run);
    const std::vector<Run>& runs = block.runs;
    const uint32_t source = piece.run < layout.run_sources.size() ? layout.run_sources[piece.run] : 0;
    const uint32_t link = source < runs.size() ? runs[source].link : kNoLink;
    const bool underlined = style.underline || (link != kNoLink && edition.settings.underline_links);
    if (underlined) {
      const int32_t y = baseline + style.shift + std::max<int32_t>(1, style.size / 9);
      if (underline.open && after_space && underline.link == link && underline.y == y) {
        underline.to = x + piece.width;
      } else {
        close_underline();
        underline = {x, x + piece.width, y, std::max<int32_t>(1, style.size / 16), link, true};
      }
    } else {
      close_underline();
    }
    after_space = false;
    GlyphRun* run = nullptr;
    for (GlyphRun& r : page->runs)
      if (r.face == style.face && r.pixel_size == style.size) run = &r;
    if (run == nullptr) {
      page->runs.emplace_back();
      run = &page->runs.back();
      run->face = style.face;
      run->pixel_size = style.size;
    }
    const ShapedGlyph* g = shapes.Glyphs(piece.shaped);
    int64_t pen = x;
    const int32_t y = (baseline + style.shift) * 64;
    for (uint32_t k = 0; k < piece.shaped.count; ++k) {
      run->glyphs.push_back({g[k].id, static_cast<int32_t>(pen + g[k].x_offset), y - g[k].y_offset});
      // Where each character went, for search hits; an added hyphen is not
      // in the flow.
      const uint32_t offset = piece.begin + g[k].cluster;
      if (offset < piece.end) {
        if (!text.chars.empty() && text.chars.back().offset == offset)
          text.chars.back().right = std::max(text.chars.back().right, Ceil64(pen + g[k].advance));
        else
          text.chars.push_back({offset, Floor64(pen), Ceil64(pen + g[k].advance)});
      }
      pen += g[k].advance;
    }
    if (link != kNoLink) {
      // One area per link and line: words of a link joined by its spaces.
      const int32_t left = Floor64(x), right = Ceil64(x + piece.width);
      LinkArea* area = page->links.size() > first_link_area ? &page->links.back() : nullptr;
      if (area != nullptr && area->link == link) {
        area->width = right - area->x;
      } else {
        page->links.push_back({link, layout.block, left, top, right - left, line.height});
      }
    }
    ink_left = ink_left < 0 ? x : std::min(ink_left, x);
    ink_right = std::max(ink_right, x + piece.width);
    x += piece.width;
    // Soft hyphens are invisible unless a line breaks at one.
    std::string_view shown(layout.text.data() + piece.begin, piece.end - piece.begin);
    for (size_t at = 0; at < shown.size();) {
      const size_t soft = std::min(shown.find("\xC2\xAD", at), shown.size());
      text.text.append(shown.substr(at, soft - at));
      at = soft + 2;
    }
    if (piece.hyphen) text.text += '-';
  }
  close_underline();
  if (layout.kind == BlockKind::kPreformatted && last.type == ItemType::kPenalty && last.penalty > -kInfinitePenalty &&
      !pieces.empty()) {
    // A preformatted line too long for the page goes on in the next: a
    // mark at the right edge says so.
    const StyleInfo& style = StyleOfRun(layout, last.run);
    const Shaped mark = shapes.Shape(style.face, style.size, kContinuation);
    const int64_t mark_x = layout.left + (first_line ? layout.first_shift : 0) + available - mark.advance;
    GlyphRun run;
    run.face = style.face;
    run.pixel_size = style.size;
    int64_t pen = mark_x;
    const ShapedGlyph* g = shapes.Glyphs(mark);
    for (uint32_t k = 0; k < mark.count; ++k) {
      run.glyphs.push_back({g[k].id, static_cast<int32_t>(pen + g[k].x_offset), (baseline + style.shift) * 64});
      pen += g[k].advance;
    }
    page->runs.push_back(std::move(run));
    ink_right = std::max(ink_right, pen);
    text.text += kContinuation;
  }
  if (ink_left < 0) ink_left = ink_right = layout.left;
  text.left = Floor64(ink_left);
  text.right = Ceil64(ink_right);
  page->lines.push_back(std::move(text));
}

// Lays out the page that begins at `start` into `page` (when given) and
// returns where the next page begins: a block past the last when the book
// ends on this page.
PageStart Typesetter::State::FillPage(const PageStart& start, Page* page) {
  struct Placed {
    uint32_t block, line;
    int32_t top;
  };
  std::vector<Placed> placed;
  const uint32_t block_count = source.BlockCount();
  PageStart end{block_count, 0, {}};
  bool full = false;
  int32_t y = 0;
  int32_t previous_margin = 0;
  for (uint32_t b = start.block; b < block_count && !full; ++b) {
    std::shared_ptr<const BlockLayout> layout = Layout(b);
    if (layout->kind == BlockKind::kPageBreak) {
      if (placed.empty()) continue;
      // Only when something follows: a book's last page break makes no page.
      uint32_t next = b + 1;
      while (next < block_count && Layout(next)->lines.empty()) ++next;
      end = {next < block_count ? b + 1 : block_count, 0, {}};
      break;
    }
    const uint32_t first_line = b == start.block ? start.line : 0;
    const int32_t gap = placed.empty() || first_line > 0 ? 0 : std::max(previous_margin, layout->margin_top);
    for (uint32_t i = first_line; i < layout->lines.size(); ++i) {
      const int32_t before = i == first_line ? gap : 0;
      const int32_t height = layout->lines[i].height;
      if (!placed.empty() && y + before + height > text_height) {
        end = {b, i, {}};
        full = true;
        break;
      }
      placed.push_back({b, i, y + before});
      y += before + height;
    }
    if (!layout->lines.empty()) previous_margin = layout->margin_bottom;
  }

  if (full) {
    // The page's first line (page breaks and empty blocks may come before it).
    const Placed top_line = placed.front();
    auto starts_page = [&](uint32_t block, uint32_t line) { return block == top_line.block && line == top_line.line; };
    auto first_on_page = [&](uint32_t block) { return block == top_line.block ? top_line.line : 0; };
    // Widows and orphans: the paragraph the page breaks in leaves enough
    // lines on each side, or goes to the next page whole.
    std::shared_ptr<const BlockLayout> layout = Layout(end.block);
    const uint32_t count = static_cast<uint32_t>(layout->lines.size());
    const uint32_t widows = std::max<uint32_t>(1, edition.settings.widow_lines);
    const uint32_t orphans = std::max<uint32_t>(1, edition.settings.orphan_lines);
    if (end.line > 0 && layout->kind != BlockKind::kHeading) {
      const uint32_t top = first_on_page(end.block);
      uint32_t line = end.line;
      if (top == 0 && line < orphans) {
        line = 0;
      } else if (count - line < widows) {
        const uint32_t wanted = count >= widows ? count - widows : 0;
        const uint32_t least = top == 0 ? orphans : top + 1;
        line = wanted >= least ? wanted : top == 0 ? 0 : line;
      }
      // Nor does a page end in half a word, when a line less keeps the rules.
      const auto ends_hyphenated = [&](uint32_t l) {
        const Item& last = layout->items[layout->lines[l].last];
        return last.type == ItemType::kPenalty && last.flagged;
      };
      if (line > 0 && line == end.line && ends_hyphenated(line - 1) && line - 1 >= (top == 0 ? orphans : top + 1))
        --line;
      if (!starts_page(end.block, line)) end.line = line;
    } else if (end.line > 0 && end.block != top_line.block) {
      end.line = 0;  // a heading is not split
    }
    // A heading (or whatever keeps with what follows) never ends a page.
    while (end.line == 0) {
      uint32_t previous = end.block;
      bool found = false;
      while (previous > top_line.block) {
        --previous;
        std::shared_ptr<const BlockLayout> before = Layout(previous);
        if (before->kind == BlockKind::kPageBreak) break;
        if (before->lines.empty()) continue;
        found = before->keep_with_next;
        break;
      }
      if (!found || first_on_page(previous) != 0 || starts_page(previous, 0)) break;
      end = {previous, 0, {}};
    }
    while (!placed.empty() &&
           (placed.back().block > end.block || (placed.back().block == end.block && placed.back().line >= end.line)))
      placed.pop_back();
  }

  if (page != nullptr) {
    *page = Page();
    if (!placed.empty())
      page->first = {placed.front().block, Layout(placed.front().block)->lines[placed.front().line].offset};
    for (const Placed& p : placed) {
      std::shared_ptr<const BlockLayout> layout = Layout(p.block);
      RenderLine(*layout, p.line, text_top + p.top, page);
    }
  }
  if (end.block < block_count) end.position = PositionOf(end);
  if (placed.empty()) end = {block_count, 0, {}};
  return end;
}

FlowPosition Typesetter::State::PositionOf(const PageStart& start) {
  if (start.block >= source.BlockCount()) return {start.block, 0};
  std::shared_ptr<const BlockLayout> layout = Layout(start.block);
  if (start.line >= layout->lines.size()) return {start.block, 0};
  return {start.block, layout->lines[start.line].offset};
}

// Makes sure the start of page `number` is known; false when the book has
// fewer pages.
bool Typesetter::State::EnsurePage(int32_t number) {
  while (static_cast<int32_t>(starts.size()) < number && !complete) {
    PageStart next = FillPage(starts.back(), nullptr);
    if (next.block >= source.BlockCount()) {
      complete = true;
      break;
    }
    starts.push_back(next);
  }
  return number >= 1 && number <= static_cast<int32_t>(starts.size());
}

Typesetter::Typesetter(EditionSource& source, FontSet& fonts, const LayoutSettings& settings)
    : state_(std::make_unique<State>(source, fonts, settings)) {
  state_->Init();
}

Typesetter::Typesetter(const DeviceEdition& edition, FontSet& fonts, const LayoutSettings& settings)
    : whole_(std::make_unique<EditionSource>(edition)), state_(std::make_unique<State>(*whole_, fonts, settings)) {
  state_->Init();
}

Typesetter::~Typesetter() = default;

const LayoutSettings& Typesetter::settings() const { return state_->settings; }

const Page* Typesetter::GetPage(int32_t number) {
  State& s = *state_;
  if (number < 1) return nullptr;
  if (s.page_number == number) return &s.page;
  if (!s.EnsurePage(number)) return nullptr;
  s.page_number = 0;
  const PageStart next = s.FillPage(s.starts[static_cast<size_t>(number - 1)], &s.page);
  s.page_number = number;
  // Where the next page starts comes with this one: paging on through the
  // book places each page once more, not twice.
  if (static_cast<size_t>(number) == s.starts.size() && !s.complete) {
    if (next.block >= s.source.BlockCount())
      s.complete = true;
    else
      s.starts.push_back(next);
  }
  return &s.page;
}

int32_t Typesetter::PageCount() {
  State& s = *state_;
  s.EnsurePage(std::numeric_limits<int32_t>::max());
  return static_cast<int32_t>(s.starts.size());
}

std::optional<FlowPosition> Typesetter::StartOf(int32_t number) {
  State& s = *state_;
  if (!s.EnsurePage(number)) return std::nullopt;
  return s.starts[static_cast<size_t>(number - 1)].position;
}

int32_t Typesetter::PageOf(const FlowPosition& position) {
  State& s = *state_;
  while (!s.complete && !Before(position, s.starts.back().position))
    s.EnsurePage(static_cast<int32_t>(s.starts.size()) + 1);
  // The last page that starts at or before the position.
  auto it = std::upper_bound(s.starts.begin() + 1, s.starts.end(), position,
                             [](const FlowPosition& p, const PageStart& start) { return Before(p, start.position); });
  return static_cast<int32_t>(it - s.starts.begin());
}

}  // namespace ikutil::typeset
