// Table rows: columns measured once per table, rows set in them or as
// labelled cells.
#include "typesetter_state.h"

namespace ikutil::typeset {

// ---------------------------------------------------------------------------
// Tables.

namespace {
// Rows measured to choose the columns: enough for the tables of documents;
// a later row wider than its columns is set labelled on its own.
constexpr uint32_t kMeasuredRows = 256;
// More columns than a hand-held's line can show: labelled rows at once.
constexpr size_t kMaxColumns = 16;
}  // namespace

// The table `block` is a row of, measured the first time.
std::shared_ptr<const TableLayout> Typesetter::State::TableOf(uint32_t block) {
  auto known = tables.upper_bound(block);
  if (known != tables.end() && known->second->start <= block) return known->second;
  // The rows are read on as far as the table goes.
  auto table = std::make_shared<TableLayout>();
  uint32_t start = block;
  while (start > 0 && source.BlockAt(start).level == kTableRow && IsTableRow(source.BlockAt(start - 1))) --start;
  uint32_t end = start + 1;
  const uint32_t count = source.BlockCount();
  while (end < count && IsTableRow(source.BlockAt(end)) && source.BlockAt(end).level == kTableRow) ++end;
  table->start = start;
  table->end = end;
  table->header = source.BlockAt(start).level == kTableHeaderRow;
  MeasureTable(*table);
  tables[end] = table;
  return table;
}

// The natural width of each cell of a row, in 26.6 pixels.
void Typesetter::State::CellWidths(uint32_t block, std::vector<int32_t>* widths) {
  BlockLayout row;
  row.align = TextAlign::kLeft;
  row.width = row.first_width = std::numeric_limits<int32_t>::max() / 2;  // no word is split
  AddRuns(row, source.BlockAt(block));
  for (uint32_t i = 0; i < row.text.size(); ++i)
    if (row.text[i] == kCellSeparator) row.tabs.push_back(i);
  widths->assign(row.tabs.size() + 1, 0);
  if (row.tabs.size() >= kMaxColumns) return;
  BuildItems(row);
  for (const Item& item : row.items) {
    if (item.type == ItemType::kPenalty || item.stretch == kFillStretch) continue;
    const size_t cell = CellAt(row, item.begin);
    if (item.type == ItemType::kGlue && CellAt(row, item.end) != cell) continue;  // between cells
    (*widths)[cell] += item.width;
  }
}

void Typesetter::State::MeasureTable(TableLayout& table) {
  const Block& first = source.BlockAt(table.start);
  static const BlockStyle kDefaultStyle;
  const BlockStyle& style =
      first.style < edition.block_styles.size() ? edition.block_styles[first.style] : kDefaultStyle;
  int32_t margin_left = 0;
  const int64_t width = int64_t{LineWidth(style, &margin_left)} * 64;
  // Three quarters of an em at least between columns: three spaces.
  const int64_t gap = int64_t{body} * 48;
  std::vector<int32_t> widest, cells;
  bool fits = true;
  for (uint32_t b = table.start; b < table.end && b < table.start + kMeasuredRows && fits; ++b) {
    shapes.Trim(kMaxCachedGlyphs);
    CellWidths(b, &cells);
    if (cells.size() > kMaxColumns) fits = false;
    if (cells.size() > widest.size()) widest.resize(cells.size(), 0);
    int64_t total = 0;
    for (size_t c = 0; c < cells.size(); ++c) widest[c] = std::max(widest[c], cells[c]);
    for (int32_t w : widest) total += w;
    if (total + gap * static_cast<int64_t>(widest.size() - 1) > width) fits = false;
  }
  if (fits && widest.size() >= 2) {
    int64_t total = 0;
    for (int32_t w : widest) total += w;
    // Room to spare widens the gaps, up to two ems.
    const int64_t spare = width - total - gap * static_cast<int64_t>(widest.size() - 1);
    const int64_t wider =
        gap + std::min<int64_t>(int64_t{body} * 128 - gap, spare / static_cast<int64_t>(widest.size() - 1));
    int64_t x = 0;
    for (int32_t w : widest) {
      table.column_x.push_back(static_cast<int32_t>(x));
      x += w + wider;
    }
    table.span = static_cast<int32_t>(x - wider);
    table.columns = true;
  }
  if (!table.header) return;
  // The header row's cells, as labels.
  std::string text;
  std::vector<uint16_t> run_styles;
  for (const Run& run : first.runs) {
    text += run.text;
    run_styles.resize(text.size(), run.style < edition_styles ? run.style : 0);
  }
  size_t begin = 0;
  while (begin <= text.size()) {
    size_t end = std::min(text.find(kCellSeparator, begin), text.size());
    std::string label = vellix::formats::TrimmedAscii(std::string_view(text).substr(begin, end - begin));
    std::replace_if(label.begin(), label.end(), IsBlank, ' ');
    uint16_t label_style = begin < run_styles.size() ? run_styles[begin] : 0;
    int32_t label_width = 0;
    std::vector<std::pair<std::string, int32_t>> wrapped;
    if (!label.empty()) {
      label_width = LabelWidth(label, styles[label_style]);
      if (label_width > width * 2 / 5) wrapped = WrapLabel(label, styles[label_style], static_cast<int32_t>(width));
    }
    table.wrapped_labels.push_back(std::move(wrapped));
    table.labels.push_back(std::move(label));
    table.label_styles.push_back(label_style);
    table.label_widths.push_back(label_width);
    begin = end + 1;
  }
}

// Makes `label` "text:" (a header cell may be a page long: at most a few
// lines of it are kept); its width with the space after it.
int32_t Typesetter::State::LabelWidth(std::string& label, const StyleInfo& style) {
  constexpr size_t kMostShaped = 1024;
  if (label.size() > kMostShaped) {
    size_t cut = kMostShaped;
    while (cut > 0 && (static_cast<unsigned char>(label[cut]) & 0xC0) == 0x80) --cut;
    label.resize(cut);
  }
  label += ':';
  return shapes.Shape(style.face, style.size, label).advance + style.space;
}

// `label` in lines no wider than `width` (26.6): broken at its spaces, and
// a word wider than the line between its characters.
std::vector<std::pair<std::string, int32_t>> Typesetter::State::WrapLabel(const std::string& label,
                                                                          const StyleInfo& style, int32_t width) {
  std::vector<std::pair<std::string, int32_t>> lines;
  std::string line;
  auto advance = [&](std::string_view s) { return shapes.Shape(style.face, style.size, s).advance; };
  auto flush = [&] {
    if (!line.empty()) lines.emplace_back(line, advance(line));
    line.clear();
  };
  size_t at = 0;
  while (at < label.size()) {
    const size_t space = std::min(label.find(' ', at), label.size());
    std::string word = label.substr(at, space - at);
    at = space + 1;
    if (word.empty()) continue;
    const std::string joined = line.empty() ? word : line + " " + word;
    if (advance(joined) <= width) {
      line = joined;
      continue;
    }
    flush();
    // A word wider than the line goes on over as many lines as it takes.
    while (advance(word) > width) {
      int32_t keep = 0;
      for (int32_t i = 0; i < static_cast<int32_t>(word.size());) {
        int32_t next = i;
        U8_FWD_1(word.data(), next, static_cast<int32_t>(word.size()));
        if (keep > 0 && advance(std::string_view(word).substr(0, next)) > width) break;
        keep = i = next;
      }
      lines.emplace_back(word.substr(0, keep), advance(std::string_view(word).substr(0, keep)));
      word.erase(0, keep);
    }
    line = word;
  }
  flush();
  return lines;
}

// A table row: in the table's columns on one line, or labelled cells on
// lines of their own; the header row of a labelled table makes no lines,
// its cells head the others.
void Typesetter::State::BuildRow(BlockLayout& layout, const BlockStyle& style) {
  layout.table = TableOf(layout.block);
  const TableLayout& table = *layout.table;
  for (uint32_t i = 0; i < layout.text.size(); ++i)
    if (layout.text[i] == kCellSeparator) layout.tabs.push_back(i);
  const bool centred = style.align == TextAlign::kCenter;
  layout.align = TextAlign::kLeft;
  layout.first_shift = 0;
  layout.first_width = layout.width;
  const bool header = table.header && layout.block == table.start;
  // Rows apart: a little in columns, more between groups of lines.
  const int32_t apart = table.columns ? body / 4 : body / 2;
  layout.margin_top = std::max(layout.margin_top, apart);
  layout.margin_bottom = std::max(layout.margin_bottom, apart);
  if (!table.columns && !table.header) {
    // Without headers a row's first line stands out: the rest hang an em
    // to its right.
    const int32_t hang = std::min(body * 64, layout.width / 4);
    layout.left += hang;
    layout.width -= hang;
    layout.first_shift = -hang;
  }
  BuildItems(layout);
  if (table.columns && SetInColumns(layout)) {
    // A centred table's columns are centred on the line.
    if (centred) layout.first_shift = std::max(0, layout.width - table.span) / 2;
    layout.keep_with_next = header;
    layout.rule_below = header;
    breaks.assign(1, static_cast<uint32_t>(layout.items.size() - 1));
    MakeLines(layout, breaks, style);
    return;
  }
  // The header row of a labelled table is set whole, as a line of its own
  // (wrapped when it must be) that stays with the first row.
  if (header) {
    layout.keep_with_next = true;
  } else {
    SetLabelled(layout);
  }
  if (layout.items.empty()) return;
  BreakParams params;
  params.first_width = layout.first_width;
  params.width = layout.width;
  params.line_stretch = body * 64 * 3;
  params.tolerance = kSecondPassTolerance;
  if (!BreakTotalFit(layout.items, params, &breaks)) {
    // What the line-break rules keep together (code, paths) parts now.
    for (Item& item : layout.items)
      if (item.kept) item.penalty = item.wrapped ? kInfinitePenalty - 1 : kCharacterBreakPenalty / 2;
    params.emergency = true;
    BreakFirstFit(layout.items, params, &breaks);
  }
  MakeLines(layout, breaks, style);
}

// The row's items on one line, each cell at its column; false when a cell
// is wider than its column (a row past those measured).
bool Typesetter::State::SetInColumns(BlockLayout& layout) {
  const TableLayout& table = *layout.table;
  if (layout.tabs.size() >= table.column_x.size()) return false;
  std::vector<Item> line;
  line.reserve(layout.items.size() + layout.tabs.size());
  int64_t x = 0;
  size_t cell = 0;
  for (const Item& source : layout.items) {
    Item item = source;
    if (item.type == ItemType::kPenalty || item.stretch == kFillStretch || (item.blank && item.begin == item.end))
      continue;
    const size_t at = CellAt(layout, item.begin);
    if (item.type == ItemType::kGlue) {
      if (CellAt(layout, item.end) != at) continue;  // between cells
      item.stretch = item.shrink = 0;
    } else if (at != cell) {
      // Over to the cell's column.
      const int64_t to = table.column_x[at];
      if (x > to - int64_t{body} * 32) return false;
      Item blank;
      blank.type = ItemType::kBox;
      blank.blank = true;
      blank.run = item.run;
      blank.begin = layout.tabs[cell];
      blank.end = layout.tabs[at - 1] + 1;
      blank.width = static_cast<int32_t>(to - x);
      line.push_back(blank);
      x = to;
      cell = at;
    }
    x += item.width;
    line.push_back(item);
  }
  if (line.empty() || x > layout.width) return false;
  AppendForcedBreak(line, static_cast<uint32_t>(layout.text.size()));
  layout.items.swap(line);
  return true;
}

// Each cell on lines of its own, after its column's label.
void Typesetter::State::SetLabelled(BlockLayout& layout) {
  const TableLayout& table = *layout.table;
  std::vector<Item> lines;
  lines.reserve(layout.items.size() + 4 * layout.tabs.size());
  size_t cell = SIZE_MAX;
  auto end_cell = [&](uint32_t at) {
    while (!lines.empty() && lines.back().type != ItemType::kBox) lines.pop_back();
    if (!lines.empty()) AppendForcedBreak(lines, at);
  };
  for (const Item& item : layout.items) {
    if (item.type == ItemType::kPenalty && item.penalty <= -kInfinitePenalty && item.begin >= layout.text.size())
      continue;
    if (item.type == ItemType::kGlue && item.stretch == kFillStretch && item.begin >= layout.text.size()) continue;
    const size_t at = CellAt(layout, item.begin);
    if (item.type == ItemType::kGlue && CellAt(layout, item.end) != at) continue;  // between cells
    if (item.type == ItemType::kBox && !(item.blank && item.begin == item.end) && at != cell) {
      if (cell != SIZE_MAX) end_cell(at > 0 ? layout.tabs[at - 1] : item.begin);
      const uint32_t cell_start = at == 0 ? 0 : layout.tabs[at - 1] + 1;
      Item room;
      room.blank = true;
      room.run = item.run;
      room.begin = room.end = cell_start;
      if (at < table.wrapped_labels.size() && !table.wrapped_labels[at].empty()) {
        // A label too wide to stand beside: its lines, then the cell below.
        room.label = true;
        const auto& wrapped = table.wrapped_labels[at];
        for (size_t k = 0; k < wrapped.size() && k <= 0xFFFF; ++k) {
          room.label_line = static_cast<uint16_t>(k);
          room.width = wrapped[k].second;
          lines.push_back(room);
          AppendForcedBreak(lines, cell_start);
        }
        room.width = 0;
      } else if (at < table.labels.size() && !table.labels[at].empty()) {
        room.label = true;
        room.width = table.label_widths[at];
      } else if (at > 0 && !table.header && layout.first_shift == 0) {
        room.width = body * 64;  // a row past the measured ones: the cell indented
      }
      if (room.width > 0) lines.push_back(room);
      cell = at;
    }
    if (cell == SIZE_MAX) continue;
    lines.push_back(item);
  }
  end_cell(static_cast<uint32_t>(layout.text.size()));
  if (lines.empty()) {
    layout.items.clear();
    return;
  }
  layout.items.swap(lines);
}

// Text into boxes, glue and penalties: a box per word (one per run it
// spans, and per syllable when hyphenating), glue for the spaces, a
// penalty where a line may break without a space (after a dash), and a
// forced break at each line break.

}  // namespace ikutil::typeset
