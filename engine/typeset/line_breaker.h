// Breaking a paragraph into lines. A paragraph is a list of items: boxes
// (text that is never split), glue (space that may stretch or shrink, a
// place to break) and penalties (a place to break at a price; flagged when
// the break adds a hyphen). BreakTotalFit chooses the breaks of the whole
// paragraph at once, minimising the demerits of its lines; BreakFirstFit
// fills each line as far as it goes.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

namespace ikutil::typeset {

enum class ItemType : uint8_t { kBox, kGlue, kPenalty };

// A penalty of kInfinitePenalty forbids a break; of -kInfinitePenalty forces one.
inline constexpr int32_t kInfinitePenalty = 10000;
// Glue stretch that fills any line (the end of a paragraph).
inline constexpr int32_t kFillStretch = std::numeric_limits<int32_t>::max();

struct Item {
  ItemType type = ItemType::kBox;
  // One byte of flags, so that an item stays 32 bytes.
  bool flagged : 1 = false;  // penalties: breaking here ends the line in a hyphen
  bool blank : 1 = false;    // boxes: an advance without glyphs (an indent, a tab)
  bool hyphen : 1 = false;   // flagged penalties: the typesetter adds the hyphen
  bool kept : 1 = false;     // penalties: a space the line-break rules keep; a break only in an emergency
  bool label : 1 = false;    // blank boxes: room for a table cell's label, drawn there
  bool wrapped : 1 = false;  // penalties: a break inside code or a path; the line ends in a continuation mark
  uint16_t label_line = 0;   // label boxes: which line of a wrapped label
  uint32_t run = 0;          // the run of the block the text is in
  uint32_t begin = 0;        // bytes of the block's text this item covers
  uint32_t end = 0;
  int32_t width = 0;  // 26.6 pixels; for a penalty the width added at a break there
  int32_t stretch = 0;
  int32_t shrink = 0;
  int32_t penalty = 0;
};

struct BreakParams {
  int32_t first_width = 0;        // 26.6 pixels, the first line
  int32_t width = 0;              // the other lines
  int32_t line_stretch = 0;       // stretch every line has besides its glue (ragged text)
  double tolerance = 200;         // the worst badness accepted, 0 .. 10000
  bool emergency = false;         // accept any line, and an overfull one when nothing else is left
  int32_t emergency_stretch = 0;  // in an emergency: more stretch per line, to tell loose lines from looser
  bool use_flagged = true;        // false: flagged penalties are no places to break
  double line_penalty = 10;
  double adjacent_flagged_demerits = 10000;
  double final_flagged_demerits = 5000;
  double fitness_demerits = 10000;
  int max_flagged_run = 2;  // most lines in a row that end in a flagged break
};

// Fills `breaks` with the index of the item that ends each line (a glue or
// a penalty; the last one is the paragraph's end) and returns true, or
// returns false when no set of lines is within the tolerance. The items
// must end in a forced break. In an emergency it always succeeds.
bool BreakTotalFit(const std::vector<Item>& items, const BreakParams& params, std::vector<uint32_t>* breaks);

// Breaks each line at the last place where the line still fits (at its
// shrink), or at the first place when nothing fits. Always succeeds.
void BreakFirstFit(const std::vector<Item>& items, const BreakParams& params, std::vector<uint32_t>* breaks);

// The first item of the line that follows a break at `index`: glue and
// penalties after a break are dropped, up to a box or a forced break.
uint32_t LineStartAfter(const std::vector<Item>& items, uint32_t index);

}  // namespace ikutil::typeset
