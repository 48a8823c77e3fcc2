// Blocks into items: runs of styled text, words shaped and hyphenated,
// glue and penalties for the line breaker.
#include "typesetter_state.h"

#include <cctype>
#include <string_view>

namespace ikutil::typeset {

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

// Loaded the first time a paragraph in the language needs it: loading the
// patterns costs more than laying out a page.
Typesetter::State::Hyphenation& Typesetter::State::HyphenationOf(std::string_view language) {
  auto it = hyphenations.find(language);
  if (it == hyphenations.end()) {
    it = hyphenations.emplace(std::string(language), Hyphenation()).first;
    it->second.hyphenator = Hyphenator::ForLanguage(language);
  }
  return it->second;
}

// The patterns of the block being laid out: its own language's, else the book's.
Typesetter::State::Hyphenation& Typesetter::State::BlockHyphenation() {
  if (hyphenation == nullptr) hyphenation = &HyphenationOf(block_language);
  return *hyphenation;
}

// Appends to `offsets` where `word` (letters) may be hyphenated, plus `base`,
// in the language of the block being laid out.
void Typesetter::State::HyphenationPoints(std::string_view word, uint32_t base) {
  if (word.size() > 0xFFFF) return;
  Hyphenation& language = BlockHyphenation();
  if (language.hyphenator == nullptr) return;
  scratch.assign(word);
  auto& words = language.words;
  auto it = words.find(scratch);
  if (it == words.end()) {
    points.clear();
    language.hyphenator->Points(word, &points);
    const auto first = static_cast<uint32_t>(hyphen_points.size());
    for (uint32_t p : points) hyphen_points.push_back(static_cast<uint16_t>(p));
    it = words.emplace(scratch, std::make_pair(first, static_cast<uint32_t>(points.size()))).first;
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
  info.embolden = t.bold && !(face_index < kCjkFace && face_index % 4 >= 2 && fonts.Available(face_index));
  info.underline = t.underline;
  info.line_through = t.line_through;
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
// face of the same weight and slant (Arabic, Hebrew), else the Korean face
// for Hangul and the CJK face; `face` when none has it.
FaceIndex Typesetter::State::FaceFor(UChar32 c, FaceIndex face) {
  if (FT_Get_Char_Index(fonts.Get(face).ft, static_cast<FT_ULong>(c)) != 0) return face;
  const FaceIndex sans = FaceOf(FontFamily::kSans, face % 4 >= 2, face % 2 == 1);
  const UBlockCode block = ublock_getCode(c);
  const bool hangul = block == UBLOCK_HANGUL_SYLLABLES || block == UBLOCK_HANGUL_JAMO ||
                      block == UBLOCK_HANGUL_COMPATIBILITY_JAMO || block == UBLOCK_HANGUL_JAMO_EXTENDED_A ||
                      block == UBLOCK_HANGUL_JAMO_EXTENDED_B;
  // One face for all of a Korean text: the CJK face may have a few syllables only.
  const FaceIndex first = hangul ? kHangulFace : kCjkFace, second = hangul ? kCjkFace : kHangulFace;
  for (FaceIndex other : {sans, FaceOf(FontFamily::kSans, false, false), first, second}) {
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
  block_language = block.language.empty() ? std::string_view(edition.language) : std::string_view(block.language);
  hyphenation = nullptr;
  layout->kind = block.kind;
  layout->align = block.kind == BlockKind::kPreformatted ? TextAlign::kLeft : style.align;
  layout->keep_with_next = style.keep_with_next || block.kind == BlockKind::kHeading;
  auto tenths = [&](int v) { return static_cast<int32_t>(std::lround(std::max(0, v) * body / 10.0)); };
  layout->margin_top = tenths(style.margin_top);
  layout->margin_bottom = tenths(style.margin_bottom);
  int32_t margin_left = 0;
  const int32_t width = LineWidth(style, &margin_left);
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
  if (IsTableRow(block)) {
    BuildRow(*layout, style);
    return layout;
  }
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
    const bool hyphenate = !done && block.kind != BlockKind::kHeading && BlockHyphenation().hyphenator != nullptr;
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
        if (item.kept) item.penalty = item.wrapped ? kInfinitePenalty - 1 : kCharacterBreakPenalty / 2;
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

// The width of a block's lines in pixels, and its left margin. Margins
// never take more than 40% of the line, whatever the sheet says: deep
// nesting, or a desktop page's room for a sidebar, must leave a column of
// text a reader can read.
int32_t Typesetter::State::LineWidth(const BlockStyle& style, int32_t* margin_left) const {
  auto tenths = [&](int v) { return static_cast<int32_t>(std::lround(std::max(0, v) * body / 10.0)); };
  int32_t left = tenths(style.margin_left), right = tenths(style.margin_right);
  const int32_t most = text_width * 2 / 5;
  if (left + right > most) {
    const double scale = static_cast<double>(most) / (left + right);
    left = static_cast<int32_t>(left * scale);
    right = static_cast<int32_t>(right * scale);
  }
  *margin_left = left;
  return text_width - left - right;
}

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
  auto run_at = [&](uint32_t offset) { return RunAt(layout, offset); };
  if (layout.indent > 0) {
    Item box;
    box.blank = true;
    box.width = layout.indent;
    items.push_back(box);
  }
  bool line_open = false;  // the current line holds something a space may follow
  // Code and paths are set whole: one that fits a line moves to the next
  // line whole; a longer one breaks only before a slash or after
  // punctuation (elsewhere when nothing better is left), and the broken line
  // ends in the continuation mark. Their places to break are made here and
  // forbidden below for those that turn out to fit.
  struct Guard {
    uint32_t begin = 0, end = 0;  // the text between spaces that holds the offset
    bool guarded = false;
  } guard;
  std::vector<std::pair<uint32_t, uint32_t>> guarded_spans;
  auto guard_at = [&](uint32_t offset) {
    if (offset >= guard.begin && offset < guard.end) return guard;
    guard = {offset, offset + 1, false};
    while (guard.begin > 0 && !IsBlank(text[guard.begin - 1])) --guard.begin;
    while (guard.end < text.size() && !IsBlank(text[guard.end])) ++guard.end;
    guard.guarded = std::string_view(text).substr(guard.begin, guard.end - guard.begin).find('/') != std::string::npos;
    for (uint32_t i = guard.begin; i < guard.end && !guard.guarded; ++i)
      guard.guarded = StyleOfRun(layout, run_at(i)).face / 4 == static_cast<int>(FontFamily::kMono);
    if (guard.guarded) guarded_spans.emplace_back(guard.begin, guard.end);
    return guard;
  };
  auto add_wrap_point = [&](uint32_t at, int32_t penalty) {
    Item p;
    p.type = ItemType::kPenalty;
    p.wrapped = true;
    p.penalty = penalty;
    p.run = run_at(at - 1);
    p.begin = p.end = at;
    p.width = ContinuationWidth(layout, p.run);
    items.push_back(p);
  };
  // Before a slash that a name follows: a folder's closing slash stays.
  auto slash_starts_name = [&](uint32_t at) {
    return text[at] == '/' && at + 1 < text.size() && !IsBlank(text[at + 1]) &&
           std::ispunct(static_cast<unsigned char>(text[at + 1])) == 0;
  };
  // After a dot, colon or underscore that joins two names ("sphinx.ext",
  // "std::string", "set_key").
  auto joiner_ends_name = [&](uint32_t at) {
    auto alnum = [&](uint32_t i) { return std::isalnum(static_cast<unsigned char>(text[i])) != 0; };
    const char joiner = text[at - 1];
    return at >= 2 && (joiner == '.' || joiner == ':' || joiner == '_') && alnum(at) &&
           (alnum(at - 2) || (joiner == ':' && at >= 3 && text[at - 2] == ':' && alnum(at - 3)));
  };
  // A word of a long path or name parts before each of its slashes and
  // after each joiner.
  auto add_word = [&](uint32_t begin, uint32_t end) {
    if (guard_at(begin).guarded)
      for (uint32_t cut = begin + 1; cut < end; ++cut)
        if (slash_starts_name(cut) || joiner_ends_name(cut)) {
          AddWord(layout, begin, cut);
          add_wrap_point(cut, kExplicitHyphenPenalty);
          begin = cut;
        }
    AddWord(layout, begin, end);
  };
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
        add_word(word_begin, word_end);
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
        if (const Guard g = guard_at(end - 1); g.guarded) {
          const char before = text[end - 1];
          const bool after_punctuation = std::ispunct(static_cast<unsigned char>(before)) != 0 && before != '/' &&
                                         before != '(' && before != '[' && before != '{' && before != '<';
          // Elsewhere only in an emergency, as the places the line-break rules keep.
          const bool preferred = after_punctuation || slash_starts_name(end);
          add_wrap_point(end, preferred ? kExplicitHyphenPenalty : kInfinitePenalty);
          items.back().kept = !preferred;
          continue;
        }
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
  // Code or a path as wide as a line or less is not parted.
  const int32_t narrowest = std::min(layout.width, layout.first_width);
  size_t item = 0;
  for (const auto& [begin, end] : guarded_spans) {
    while (item < items.size() && items[item].begin < begin) ++item;
    size_t last = item;
    int64_t width = 0;
    for (; last < items.size() && items[last].end <= end && items[last].type != ItemType::kGlue; ++last)
      if (items[last].type == ItemType::kBox) width += items[last].width;
    if (width > narrowest) continue;
    for (size_t i = item; i < last; ++i)
      if (items[i].wrapped) {
        items[i].wrapped = items[i].kept = false;
        items[i].penalty = kInfinitePenalty;
      }
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
  uint32_t run = RunAt(layout, begin);
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
  uint32_t run = RunAt(layout, begin);
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
  // Nor any part of a path ("vellix-publisher" in "/usr/bin/vellix-publisher").
  for (uint32_t i = begin; i > 0 && !IsBlank(text[i - 1]); --i)
    if (text[i - 1] == '/') return false;
  for (uint32_t i = end; i < text.size() && !IsBlank(text[i]); ++i)
    if (text[i] == '/') return false;
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

// Appends to `offsets` the hyphenation points of the runs of letters in
// [begin, end).
void Typesetter::State::PatternPoints(const BlockLayout& layout, uint32_t begin, uint32_t end) {
  const std::string& text = layout.text;
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

// Splits the boxes of the word [begin, end) (from `first_item` to the end
// of the items) where it may break: at its hyphenation points, or, when it
// fits no line (`anywhere`), also between characters where no better place
// leaves a part that fits.
void Typesetter::State::SplitWord(BlockLayout& layout, size_t first_item, uint32_t begin, uint32_t end, bool anywhere) {
  const std::string& text = layout.text;
  std::vector<Item>& items = layout.items;
  const bool too_wide = anywhere;
  const bool may_hyphenate = MayHyphenate(layout, first_item, begin, end);
  offsets.clear();
  pattern_points.clear();
  if (too_wide) {
    // The word parts after its no-break spaces and at its hyphenation
    // points, even when that leaves a loose line; a part is split between
    // its characters only when it is itself wider than the line.
    if (may_hyphenate) {
      PatternPoints(layout, begin, end);
      pattern_points.swap(offsets);
    }
    const int64_t widest = std::min(layout.width, layout.first_width - layout.indent);
    auto width_of = [&](uint32_t from, uint32_t to) {  // in the styles of the runs it spans
      int64_t total = 0;
      auto run = RunAt(layout, from);
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
    size_t next_point = 0;
    while (part < end) {
      size_t joint = std::string_view(text.data(), end).find("\xC2\xA0", part);
      uint32_t part_end = joint == std::string_view::npos ? end : static_cast<uint32_t>(joint + 2);
      while (next_point < pattern_points.size() && pattern_points[next_point] <= part) ++next_point;
      if (next_point < pattern_points.size()) part_end = std::min(part_end, pattern_points[next_point]);
      const int64_t mark = part_end < end ? StyleOfRun(layout, RunAt(layout, part_end - 1)).hyphen : 0;
      const bool wide = (part == begin && part_end == end) || width_of(part, part_end) + mark > widest;
      for (int32_t i = static_cast<int32_t>(part); wide && i < static_cast<int32_t>(part_end);) {
        U8_FWD_1(text.data(), i, static_cast<int32_t>(part_end));
        if (i < static_cast<int32_t>(part_end)) offsets.push_back(static_cast<uint32_t>(i));
      }
      if (part_end < end) offsets.push_back(part_end);
      part = part_end;
    }
  } else {
    if (!may_hyphenate) return;
    PatternPoints(layout, begin, end);
  }
  if (offsets.empty()) return;

  // Whether the word breaks between two letters at `at`.
  auto between_letters = [&](uint32_t at) {
    int32_t before = static_cast<int32_t>(at), after = static_cast<int32_t>(at);
    UChar32 previous, next;
    U8_PREV(text.data(), 0, before, previous);
    U8_NEXT(text.data(), after, static_cast<int32_t>(text.size()), next);
    return previous >= 0 && next >= 0 && u_isalpha(previous) && u_isalpha(next);
  };
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
    penalties.clear();
    for (uint32_t cut : local) {
      const uint32_t at = box.begin + cut;
      Item& p = penalties.emplace_back();
      p.type = ItemType::kPenalty;
      const bool hyphen_point = !too_wide || std::binary_search(pattern_points.begin(), pattern_points.end(), at);
      p.penalty = hyphen_point ? kHyphenPenalty : kCharacterBreakPenalty;
      // After a no-break space the parts are words: break there first.
      if (too_wide && at >= 2 && text.compare(at - 2, 2, "\xC2\xA0") == 0) {
        p.penalty = kHyphenPenalty;
      } else if (hyphen_point || (may_hyphenate && between_letters(at))) {
        // A word broken between letters, at a hyphenation point or not,
        // ends its line in a hyphen. A word wider than the line breaks on
        // as many lines as it needs: those hyphens are not counted.
        p.flagged = !too_wide;
        p.hyphen = true;
        p.width = StyleOfRun(layout, box.run).hyphen;
      }
    }
    SplitBox(layout, box, local, penalties, items);
  }
}

// Appends `box` split at `cuts` (ascending byte offsets inside it) with
// `penalties[k]` after part k. The parts are measured by the glyphs of the
// whole box, so that a word left whole keeps its kerning.
void Typesetter::State::SplitBox(const BlockLayout& layout, const Item& box, const std::vector<uint32_t>& cuts,
                                 const std::vector<Item>& penalties, std::vector<Item>& items) {
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
    Item penalty = penalties[k];
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
          penalties.assign(offsets.size(), anywhere);
          SplitBox(layout, box, offsets, penalties, items);
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

}  // namespace ikutil::typeset
