#include "page_layout.h"

#include <algorithm>
#include <cmath>

#include "typesetter_state.h"

namespace ikutil::typeset {

int32_t BodyPixelSize(const LayoutSettings& settings) {
  double size = std::clamp(settings.font_size, kMinFontSize, kMaxFontSize);
  if (settings.large) size *= 1.35;
  return std::max<int32_t>(8, static_cast<int32_t>(std::lround(size)));
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
    const PageStart unkept = end;
    bool chain_from_top = false;
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
      if (found && (first_on_page(previous) != 0 || starts_page(previous, 0))) chain_from_top = true;
      if (!found || first_on_page(previous) != 0 || starts_page(previous, 0)) break;
      end = {previous, 0, {}};
    }
    // A chain longer than a page breaks where the page is full: moved whole,
    // it would leave one line here and again on every page after. Nor is a
    // chain moved that fills most of the page, which would be left near empty.
    if (end.block != unkept.block || end.line != unkept.line) {
      int32_t chain_top = y;
      for (const Placed& p : placed)
        if (p.block == end.block && p.line == end.line) chain_top = p.top;
      if (chain_from_top || y - chain_top > text_height / 2) end = unkept;
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
