#include "line_breaker.h"

#include <algorithm>
#include <cmath>

namespace ikutil::typeset {

static_assert(sizeof(Item) <= 32, "items are many: keep them small");

namespace {

struct Totals {
  int64_t width = 0;
  int64_t stretch = 0;
  int64_t shrink = 0;
  int32_t fill = 0;  // glue that fills any line
};

void AddGlue(Totals& t, const Item& glue) {
  t.width += glue.width;
  if (glue.stretch == kFillStretch)
    ++t.fill;
  else
    t.stretch += glue.stretch;
  t.shrink += glue.shrink;
}

bool IsForced(const Item& item) { return item.type == ItemType::kPenalty && item.penalty <= -kInfinitePenalty; }

bool IsBreakpoint(const std::vector<Item>& items, size_t i) {
  const Item& item = items[i];
  if (item.type == ItemType::kGlue) return i > 0 && items[i - 1].type == ItemType::kBox;
  return item.type == ItemType::kPenalty && item.penalty < kInfinitePenalty;
}

// The totals at the start of the line after a break at `index`, given the
// totals of the items before it.
Totals TotalsAfter(const std::vector<Item>& items, uint32_t index, Totals sums) {
  const uint32_t start = LineStartAfter(items, index);
  for (uint32_t j = index; j < start; ++j)
    if (items[j].type == ItemType::kGlue) AddGlue(sums, items[j]);
  return sums;
}

struct Node {
  uint32_t position = 0;  // the item the line before ends at
  uint32_t line = 0;      // lines before this break
  uint8_t fitness = 1;    // 0 tight, 1 normal, 2 loose, 3 very loose
  uint8_t flagged_run = 0;
  Totals after;
  double demerits = 0;
  int32_t previous = -1;
};

constexpr double kAwful = 1e30;

}  // namespace

uint32_t LineStartAfter(const std::vector<Item>& items, uint32_t index) {
  uint32_t j = index + 1;
  while (j < items.size() && items[j].type != ItemType::kBox && !IsForced(items[j])) ++j;
  return j;
}

bool BreakTotalFit(const std::vector<Item>& items, const BreakParams& params, std::vector<uint32_t>* breaks) {
  breaks->clear();
  if (items.empty()) return true;
  const int runs = params.max_flagged_run + 1;
  std::vector<Node> nodes;
  nodes.reserve(items.size() / 4 + 8);
  nodes.push_back(Node());
  std::vector<int32_t> active{0}, next_active;
  struct Candidate {
    double demerits = kAwful;
    int32_t from = -1;
  };
  std::vector<Candidate> best(static_cast<size_t>(4 * runs));
  Totals sums;  // of the items before the current one

  for (uint32_t i = 0; i < items.size(); ++i) {
    const Item& item = items[i];
    if (item.type == ItemType::kBox) {
      sums.width += item.width;
      continue;
    }
    if (IsBreakpoint(items, i)) {
      const bool is_penalty = item.type == ItemType::kPenalty;
      const bool forced = IsForced(item);
      const bool flagged = is_penalty && item.flagged;
      const bool last = i + 1 == items.size();
      const int64_t break_width = is_penalty ? item.width : 0;
      std::fill(best.begin(), best.end(), Candidate());
      double least = kAwful;
      int32_t overfull = -1;
      next_active.clear();
      for (int32_t a : active) {
        const Node& from = nodes[static_cast<size_t>(a)];
        const int64_t line_width = from.line == 0 ? params.first_width : params.width;
        const int64_t natural = sums.width - from.after.width + break_width;
        const int32_t fill = sums.fill - from.after.fill;
        const int64_t stretch =
            sums.stretch - from.after.stretch + params.line_stretch + (params.emergency ? params.emergency_stretch : 0);
        const int64_t shrink = sums.shrink - from.after.shrink;
        double ratio = 0;
        if (natural < line_width) {
          if (fill > 0)
            ratio = 0;
          else if (stretch > 0)
            ratio = static_cast<double>(line_width - natural) / static_cast<double>(stretch);
          else
            ratio = kAwful;
        } else if (natural > line_width) {
          ratio = shrink > 0 ? static_cast<double>(line_width - natural) / static_cast<double>(shrink) : -kAwful;
        }
        if (ratio < -1) {
          overfull = a;
          continue;  // this line only gets longer: the node is done
        }
        if (!forced) next_active.push_back(a);
        const double badness = std::min(10000.0, 100.0 * std::fabs(ratio) * ratio * ratio);
        if (!params.emergency && badness > params.tolerance) continue;
        const int run = flagged ? from.flagged_run + 1 : 0;
        if (run > params.max_flagged_run) continue;
        double demerits = (params.line_penalty + badness) * (params.line_penalty + badness);
        if (is_penalty && !forced) {
          const double p = item.penalty;
          demerits += p >= 0 ? p * p : -p * p;
        }
        if (flagged && from.flagged_run > 0) demerits += params.adjacent_flagged_demerits;
        if (last && from.flagged_run > 0) demerits += params.final_flagged_demerits;
        const int fitness = ratio < -0.5 ? 0 : ratio <= 0.5 ? 1 : ratio <= 1 ? 2 : 3;
        if (std::abs(fitness - from.fitness) > 1) demerits += params.fitness_demerits;
        demerits += from.demerits;
        Candidate& slot = best[static_cast<size_t>(fitness) * static_cast<size_t>(runs) + static_cast<size_t>(run)];
        if (demerits < slot.demerits) slot = {demerits, a};
        least = std::min(least, demerits);
      }
      if (params.emergency && least >= kAwful && next_active.empty() && overfull >= 0) {
        // Nothing fits: an overfull line from the latest break beats no
        // paragraph at all.
        least = nodes[static_cast<size_t>(overfull)].demerits;
        best[static_cast<size_t>(runs)] = {least, overfull};
      }
      if (least < kAwful) {
        const Totals after = TotalsAfter(items, i, sums);
        for (size_t s = 0; s < best.size(); ++s) {
          const Candidate& c = best[s];
          if (c.from < 0 || c.demerits > least + params.fitness_demerits) continue;
          Node node;
          node.position = i;
          node.line = nodes[static_cast<size_t>(c.from)].line + 1;
          node.fitness = static_cast<uint8_t>(s / static_cast<size_t>(runs));
          node.flagged_run = static_cast<uint8_t>(s % static_cast<size_t>(runs));
          node.after = after;
          node.demerits = c.demerits;
          node.previous = c.from;
          next_active.push_back(static_cast<int32_t>(nodes.size()));
          nodes.push_back(node);
        }
      }
      active.swap(next_active);
      if (active.empty()) return false;
    }
    if (item.type == ItemType::kGlue) AddGlue(sums, item);
  }

  int32_t chosen = -1;
  for (int32_t a : active) {
    const Node& node = nodes[static_cast<size_t>(a)];
    if (node.position + 1 != items.size() || a == 0) continue;
    if (chosen < 0 || node.demerits < nodes[static_cast<size_t>(chosen)].demerits) chosen = a;
  }
  if (chosen < 0) return false;
  for (int32_t n = chosen; n > 0; n = nodes[static_cast<size_t>(n)].previous)
    breaks->push_back(nodes[static_cast<size_t>(n)].position);
  std::reverse(breaks->begin(), breaks->end());
  return true;
}

void BreakFirstFit(const std::vector<Item>& items, const BreakParams& params, std::vector<uint32_t>* breaks) {
  breaks->clear();
  Totals sums, start;
  int64_t line_width = params.first_width;
  int64_t last_fit = -1;
  Totals last_fit_sums;
  auto begin_line_after = [&](uint32_t index, const Totals& before) {
    breaks->push_back(index);
    start = TotalsAfter(items, index, before);
    line_width = params.width;
    last_fit = -1;
  };
  for (uint32_t i = 0; i < items.size(); ++i) {
    const Item& item = items[i];
    if (item.type == ItemType::kBox) {
      sums.width += item.width;
      continue;
    }
    if (IsBreakpoint(items, i)) {
      const int64_t break_width = item.type == ItemType::kPenalty ? item.width : 0;
      while (true) {
        const int64_t natural = sums.width - start.width + break_width;
        const int64_t shrink = sums.shrink - start.shrink;
        if (natural - shrink <= line_width) {
          if (IsForced(item))
            begin_line_after(i, sums);
          else
            last_fit = i, last_fit_sums = sums;
          break;
        }
        if (last_fit >= 0) {
          begin_line_after(static_cast<uint32_t>(last_fit), last_fit_sums);
          continue;
        }
        begin_line_after(i, sums);  // nothing fits: the line is overfull
        break;
      }
    }
    if (item.type == ItemType::kGlue) AddGlue(sums, item);
  }
  if (!items.empty() && (breaks->empty() || breaks->back() + 1 != items.size()))
    breaks->push_back(static_cast<uint32_t>(items.size() - 1));
}

}  // namespace ikutil::typeset
