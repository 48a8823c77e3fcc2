// Lines into glyphs: a broken line's words placed, justified and
// reordered where the text runs right to left, with its underlines,
// link areas and text.
#include "typesetter_state.h"

namespace ikutil::typeset {

// One piece of a line: a word (consecutive boxes of one run), a space, or
// blank room (an indent, an empty cell).
struct Typesetter::State::LinePiece {
  bool space = false;
  bool blank = false;
  bool hyphen = false;
  bool label = false;
  bool mirrored = false;  // neutral characters set right to left: brackets drawn mirrored
  uint16_t label_line = 0;
  uint32_t run = 0;
  uint32_t begin = 0, end = 0;
  int64_t width = 0;  // 26.6
  int32_t stretch = 0, shrink = 0;
  Shaped shaped;
};

// How far a line's drawing reaches left and right (26.6), for its
// rectangle; -1 while nothing is drawn.
struct Typesetter::State::Ink {
  int64_t left = -1, right = -1;
  void Add(int64_t from, int64_t to) {
    left = left < 0 ? from : std::min(left, from);
    right = std::max(right, to);
  }
};

namespace {

// An underline (or a line through) being drawn, extended over the words of
// one link or style.
struct Underline {
  int64_t from = 0, to = 0;
  int32_t y = 0, thickness = 0;
  uint32_t link = kNoLink;
  bool open = false;

  void Close(Page* page) {
    if (!open) return;
    FilledRect rect;
    rect.x = Floor64(from);
    rect.width = std::max<int32_t>(1, Ceil64(to) - rect.x);
    rect.y = y;
    rect.height = thickness;
    page->rects.push_back(rect);
    open = false;
  }
};

}  // namespace

// Glyphs of text that is not in the flow (a label) at `x` on a baseline.
void Typesetter::State::DrawShaped(Page* page, const StyleInfo& style, const Shaped& shaped, int64_t x,
                                   int32_t baseline) {
  GlyphRun run;
  run.face = style.face;
  run.pixel_size = style.size;
  run.embolden = style.embolden;
  const ShapedGlyph* g = shapes.Glyphs(shaped);
  for (uint32_t k = 0; k < shaped.count; ++k) {
    run.glyphs.push_back(
        {g[k].id, static_cast<int32_t>(x + g[k].x_offset), (baseline + style.shift) * 64 - g[k].y_offset});
    x += g[k].advance;
  }
  page->runs.push_back(std::move(run));
}

void Typesetter::State::RenderLine(const BlockLayout& layout, size_t index, int32_t top, Page* page) {
  const LineBox& line = layout.lines[index];
  if (layout.kind == BlockKind::kRule) {
    FilledRect rule;
    rule.x = Floor64(layout.left + layout.first_shift);
    rule.width = Floor64(layout.width);
    rule.height = std::max<int32_t>(1, body / 16);
    rule.y = top + (line.height - rule.height) / 2;
    rule.grey = 0;
    page->rects.push_back(rule);
    return;
  }
  if (layout.kind == BlockKind::kImage) {
    RenderImage(layout, line, top, page);
    return;
  }
  std::vector<LinePiece> pieces = LinePieces(layout, line);
  const int64_t x = Justify(layout, index, pieces);
  const std::vector<int64_t> visual_x = VisualPositions(layout, pieces, x);

  const int32_t baseline = top + line.ascent;
  PageLine text;
  text.top = top;
  text.bottom = top + line.height;
  text.heading = layout.kind == BlockKind::kHeading;
  text.block = layout.block;
  Ink ink;
  const Block& block = source.BlockAt(layout.block);
  if (index == 0 && layout.kind == BlockKind::kListItem && !block.marker.empty()) {
    // The marker hangs left of the first line.
    const StyleInfo& style = StyleOfRun(layout, 0);
    const Shaped marker = shapes.Shape(style.face, style.size, block.marker);
    const int64_t marker_x = std::max<int64_t>(0, x - marker.advance - style.size * 64 * 2 / 5);
    DrawShaped(page, style, marker, marker_x, baseline - style.shift);
    text.text = block.marker + " ";
    ink.left = marker_x;
  }
  DrawPieces(layout, line, pieces, visual_x, x, top, page, text, ink);
  DrawLineEnd(layout, index, !pieces.empty(), top, page, text, ink);
  if (ink.left < 0) ink.left = ink.right = layout.left;
  text.left = Floor64(ink.left);
  text.right = Ceil64(ink.right);
  page->lines.push_back(std::move(text));
}

void Typesetter::State::RenderImage(const BlockLayout& layout, const LineBox& line, int32_t top, Page* page) {
  const Block& block = source.BlockAt(layout.block);
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
}

std::vector<Typesetter::State::LinePiece> Typesetter::State::LinePieces(const BlockLayout& layout,
                                                                        const LineBox& line) {
  std::vector<LinePiece> pieces;
  const std::vector<Item>& items = layout.items;
  for (uint32_t i = line.first; i < line.last; ++i) {
    const Item& item = items[i];
    if (item.type == ItemType::kPenalty) continue;
    if (item.type == ItemType::kGlue || item.blank) {
      // A space, or blank room (an indent, an empty cell); glue that fills
      // the line and empty blanks take no room.
      const bool space = item.type == ItemType::kGlue;
      if (space ? item.stretch == kFillStretch : item.width == 0) continue;
      LinePiece piece;
      piece.space = space;
      piece.blank = !space;
      piece.label = !space && item.label;
      piece.label_line = item.label_line;
      piece.run = item.run;
      piece.begin = item.begin;
      piece.end = item.end;
      piece.width = item.width;
      piece.stretch = space ? item.stretch : 0;
      piece.shrink = space ? item.shrink : 0;
      pieces.push_back(piece);
      continue;
    }
    if (!pieces.empty() && !pieces.back().space && !pieces.back().blank && pieces.back().run == item.run &&
        pieces.back().end == item.begin) {
      pieces.back().end = item.end;
      continue;
    }
    LinePiece word;
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
  for (LinePiece& piece : pieces) {
    if (piece.space || piece.blank) continue;
    const StyleInfo& style = StyleOfRun(layout, piece.run);
    scratch.assign(layout.text, piece.begin, piece.end - piece.begin);
    if (piece.hyphen && !scratch.ends_with("\xC2\xAD")) scratch += '-';
    if (piece.hyphen && scratch.ends_with("\xC2\xAD")) scratch.replace(scratch.size() - 2, 2, "-");
    piece.shaped = shapes.Shape(style.face, style.size, scratch);
    piece.width = piece.shaped.advance;
  }
  return pieces;
}

int64_t Typesetter::State::Justify(const BlockLayout& layout, size_t index, std::vector<LinePiece>& pieces) const {
  const LineBox& line = layout.lines[index];
  int64_t natural = 0, stretch = 0, shrink = 0;
  for (const LinePiece& piece : pieces) {
    natural += piece.width;
    stretch += piece.stretch;
    shrink += piece.shrink;
  }
  const bool first_line = index == 0;
  const Item& last = layout.items[line.last];
  // A line of code or a path broken at its end leaves room for the mark.
  const int64_t available = (first_line ? layout.first_width : layout.width) - (last.wrapped ? last.width : 0);
  int64_t x = layout.left + (first_line ? layout.first_shift : 0);
  const bool ends_paragraph = last.type == ItemType::kPenalty && last.penalty <= -kInfinitePenalty;
  const int64_t slack = available - natural;
  // A line the emergency pass left very loose reads better ragged than
  // with gaps more than two ems wider than a space.
  int64_t gaps = 0;
  for (const LinePiece& piece : pieces) gaps += piece.space ? 1 : 0;
  const bool too_loose = gaps > 0 && slack > gaps * 2 * body * 64;
  if ((layout.align == TextAlign::kJustify && !ends_paragraph && !too_loose) || slack < 0) {
    // Spread the slack over the spaces, in proportion to what each may
    // give; a line too long (the last of a paragraph may be set tight, and
    // any in an emergency) shrinks its spaces whatever they allow.
    int64_t spaces = 0;
    for (const LinePiece& piece : pieces) spaces += piece.space ? piece.width : 0;
    const bool by_width = slack < 0 && shrink == 0;
    const int64_t give = slack > 0 ? stretch : by_width ? spaces : shrink;
    if (give > 0) {
      int64_t left_over = slack;
      int64_t left_give = give;
      for (LinePiece& piece : pieces) {
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
  return x;
}

namespace {

// Where in `text` the first letter of a strong direction is, or `from`.
int32_t FirstStrong(const icu::UnicodeString& text, int32_t from, int32_t to, bool* right_to_left) {
  *right_to_left = false;
  for (int32_t i = from; i < to;) {
    const UChar32 c = text.char32At(i);
    const UCharDirection d = u_charDirection(c);
    // A block's direction mark belongs to the paragraph, not to its first word.
    const bool mark = c == 0x200E || c == 0x200F;
    if (!mark && (d == U_LEFT_TO_RIGHT || d == U_RIGHT_TO_LEFT || d == U_RIGHT_TO_LEFT_ARABIC)) {
      *right_to_left = d != U_LEFT_TO_RIGHT;
      return i;
    }
    i += U16_LENGTH(c);
  }
  return from;
}

}  // namespace

std::vector<int64_t> Typesetter::State::VisualPositions(const BlockLayout& layout, std::vector<LinePiece>& pieces,
                                                        int64_t x) const {
  std::vector<int64_t> visual_x;
  if (pieces.empty() || !NeedsBidi(layout, pieces.front().begin, pieces.back().end)) return visual_x;
  // The pieces go where the bidirectional algorithm puts them; the line's
  // text stays in reading order.
  icu::UnicodeString logical;
  std::vector<int32_t> starts;
  for (const LinePiece& piece : pieces) {
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
  if (U_SUCCESS(status)) {
    std::vector<UBiDiLevel> levels(pieces.size());
    for (size_t i = 0; i < pieces.size(); ++i) {
      // A word goes with its letters, not with the quote or bracket before
      // it: "Hello in right-to-left text stays with the Latin after it.
      const int32_t end = i + 1 < pieces.size() ? starts[i + 1] : logical.length();
      bool right_to_left = false;
      const int32_t strong = FirstStrong(logical, starts[i], end, &right_to_left);
      levels[i] = strong < logical.length() ? ubidi_getLevelAt(bidi, strong) : (layout.rtl ? 1 : 0);
      // HarfBuzz mirrors the brackets of the right-to-left words it shapes;
      // brackets shaped on their own are mirrored here.
      pieces[i].mirrored = (levels[i] & 1) != 0 && !right_to_left && !pieces[i].space && !pieces[i].blank;
    }
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
  return visual_x;
}

void Typesetter::State::DrawPieces(const BlockLayout& layout, const LineBox& line, const std::vector<LinePiece>& pieces,
                                   const std::vector<int64_t>& visual_x, int64_t x, int32_t top, Page* page,
                                   PageLine& text, Ink& ink) {
  const Block& block = source.BlockAt(layout.block);
  const int32_t baseline = top + line.ascent;
  const size_t first_link_area = page->links.size();
  Underline underline;
  Underline strike;
  bool after_space = false;
  for (size_t index = 0; index < pieces.size(); ++index) {
    const LinePiece& piece = pieces[index];
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
    if (piece.label && layout.table) {
      // A table cell's label: its column's header.
      const size_t cell = CellAt(layout, piece.begin);
      const TableLayout& table = *layout.table;
      if (cell < table.labels.size()) {
        const StyleInfo& style = styles[table.label_styles[cell]];
        const auto& wrapped = table.wrapped_labels[cell];
        const bool own_line = piece.label_line < wrapped.size();
        const std::string& shown = own_line ? wrapped[piece.label_line].first : table.labels[cell];
        const Shaped label = shapes.Shape(style.face, style.size, shown);
        DrawShaped(page, style, label, x, baseline);
        text.text += own_line ? shown : shown + " ";
        ink.Add(x, x + label.advance);
      }
    }
    if (piece.blank) {
      x += piece.width;
      // An empty first cell of a row leaves no space in the text.
      if (piece.end > piece.begin && !(layout.table && text.text.empty())) text.text += ' ';
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
        underline.Close(page);
        underline = {x, x + piece.width, y, std::max<int32_t>(1, style.size / 16), link, true};
      }
    } else {
      underline.Close(page);
    }
    if (style.line_through) {
      // Through the middle of the lower-case letters, about half the x-height.
      const int32_t y =
          baseline + style.shift - std::max<int32_t>(1, static_cast<int32_t>(std::lround(style.size * 0.28)));
      if (strike.open && after_space && strike.y == y) {
        strike.to = x + piece.width;
      } else {
        strike.Close(page);
        strike = {x, x + piece.width, y, std::max<int32_t>(1, style.size / 16), kNoLink, true};
      }
    } else {
      strike.Close(page);
    }
    after_space = false;
    DrawWord(page, style, piece, layout.text, x, baseline, text);
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
    ink.Add(x, x + piece.width);
    x += piece.width;
    // Soft hyphens are invisible unless a line breaks at one; the marks
    // that give a block its direction are never seen.
    std::string_view shown(layout.text.data() + piece.begin, piece.end - piece.begin);
    if (piece.begin == 0 && (shown.starts_with("\u200E") || shown.starts_with("\u200F"))) shown.remove_prefix(3);
    for (size_t at = 0; at < shown.size();) {
      const size_t soft = std::min(shown.find("\xC2\xAD", at), shown.size());
      text.text.append(shown.substr(at, soft - at));
      at = soft + 2;
    }
    if (piece.hyphen) text.text += '-';
  }
  underline.Close(page);
  strike.Close(page);
}

void Typesetter::State::DrawWord(Page* page, const StyleInfo& style, const LinePiece& piece,
                                 std::string_view block_text, int64_t x, int32_t baseline, PageLine& text) {
  // Words of one face, size and weight share a run.
  GlyphRun* run = nullptr;
  for (GlyphRun& r : page->runs)
    if (r.face == style.face && r.pixel_size == style.size && r.embolden == style.embolden) run = &r;
  if (run == nullptr) {
    page->runs.emplace_back();
    run = &page->runs.back();
    run->face = style.face;
    run->pixel_size = style.size;
    run->embolden = style.embolden;
  }
  const ShapedGlyph* g = shapes.Glyphs(piece.shaped);
  int64_t pen = x;
  const int32_t y = (baseline + style.shift) * 64;
  for (uint32_t k = 0; k < piece.shaped.count; ++k) {
    uint32_t glyph = g[k].id;
    if (piece.mirrored && piece.begin + g[k].cluster < piece.end) {
      const auto at = static_cast<int32_t>(piece.begin + g[k].cluster);
      int32_t i = at;
      UChar32 c = 0;
      U8_NEXT(block_text.data(), i, static_cast<int32_t>(block_text.size()), c);
      const UChar32 mirror = c >= 0 ? u_charMirror(c) : c;
      if (mirror != c) {
        const FT_UInt mirrored = FT_Get_Char_Index(fonts.Get(style.face).ft, static_cast<FT_ULong>(mirror));
        if (mirrored != 0) glyph = mirrored;
      }
    }
    run->glyphs.push_back({glyph, static_cast<int32_t>(pen + g[k].x_offset), y - g[k].y_offset});
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
}

void Typesetter::State::DrawLineEnd(const BlockLayout& layout, size_t index, bool has_words, int32_t top, Page* page,
                                    PageLine& text, Ink& ink) {
  const LineBox& line = layout.lines[index];
  const Item& last = layout.items[line.last];
  if (last.type == ItemType::kPenalty && last.penalty > -kInfinitePenalty && has_words &&
      (layout.kind == BlockKind::kPreformatted || last.wrapped)) {
    // A preformatted line, or code or a path, too long for the page goes
    // on in the next: a mark at the right edge says so.
    const StyleInfo& style = StyleOfRun(layout, last.run);
    const Shaped mark = shapes.Shape(style.face, style.size, kContinuation);
    const int64_t available = index == 0 ? layout.first_width : layout.width;
    const int64_t mark_x = layout.left + (index == 0 ? layout.first_shift : 0) + available - mark.advance;
    DrawShaped(page, style, mark, mark_x, top + line.ascent);
    ink.right = std::max(ink.right, mark_x + mark.advance);
    text.text += kContinuation;
  }
  if (layout.rule_below && layout.table) {
    // A rule under a table's header row, as wide as its columns.
    FilledRect rule;
    rule.x = Floor64(layout.left);
    rule.width = std::max<int32_t>(1, Ceil64(layout.table->span));
    rule.height = std::max<int32_t>(1, body / 16);
    rule.y = top + line.height - rule.height;
    page->rects.push_back(rule);
  }
}

}  // namespace ikutil::typeset
