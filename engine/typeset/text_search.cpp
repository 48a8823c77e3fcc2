#include "text_search.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <functional>
#include <string>

#include "edition_source.h"

namespace ikutil::typeset {
namespace {

constexpr char32_t kSoftHyphen = 0xAD;

bool IsSpace(char32_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v' || c == 0xA0 ||
         (c > 0x7F && u_isUWhiteSpace(static_cast<UChar32>(c)));
}

// One character as compared: folded case, plain quotes.
char32_t Fold(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
  switch (c) {
    case 0x2018:
    case 0x2019:
    case 0x02BC:
      return '\'';
    case 0x201C:
    case 0x201D:
      return '"';
    default:
      return static_cast<char32_t>(u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT));
  }
}

// Calls `emit(character, begin, end)` for each character of `text` as
// compared, `begin` and `end` its bytes; a run of white space is one space.
template <typename Emit>
void ForEachFolded(std::string_view text, Emit emit) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  int32_t i = 0;
  bool in_space = false;
  uint32_t space_begin = 0;
  while (i < length) {
    const int32_t begin = i;
    UChar32 c = 0;
    if (bytes[i] < 0x80) {
      c = bytes[i++];
    } else {
      U8_NEXT(bytes, i, length, c);
      if (c < 0) c = 0xFFFD;
    }
    const auto ch = static_cast<char32_t>(c);
    if (ch == kSoftHyphen) continue;
    if (IsSpace(ch)) {
      if (!in_space) space_begin = static_cast<uint32_t>(begin);
      in_space = true;
      continue;
    }
    if (in_space) emit(U' ', space_begin, static_cast<uint32_t>(begin));
    in_space = false;
    emit(Fold(ch), static_cast<uint32_t>(begin), static_cast<uint32_t>(i));
  }
  if (in_space) emit(U' ', space_begin, static_cast<uint32_t>(length));
}

std::u32string FoldedNeedle(std::string_view text) {
  std::u32string out;
  ForEachFolded(text, [&](char32_t c, uint32_t, uint32_t) { out.push_back(c); });
  // White space at either end would only make a hit start or end in a gap.
  while (!out.empty() && out.back() == U' ') out.pop_back();
  if (!out.empty() && out.front() == U' ') out.erase(out.begin());
  return out;
}

}  // namespace

std::string FoldForSearch(std::string_view text) {
  std::string out;
  for (char32_t c : FoldedNeedle(text)) {
    char buffer[4];
    int32_t n = 0;
    UBool error = false;
    U8_APPEND(reinterpret_cast<uint8_t*>(buffer), n, 4, static_cast<UChar32>(c), error);
    if (!error) out.append(buffer, static_cast<size_t>(n));
  }
  return out;
}

TextFinder::TextFinder(EditionSource& source, std::string_view text) : source_(source), needle_(FoldedNeedle(text)) {}

TextFinder::TextFinder(const DeviceEdition& edition, std::string_view text)
    : whole_(std::make_unique<EditionSource>(edition)), source_(*whole_), needle_(FoldedNeedle(text)) {}

TextFinder::~TextFinder() = default;

void TextFinder::Fold(uint32_t block) {
  if (folded_block_ == block) return;
  folded_.clear();
  starts_.clear();
  ends_.clear();
  // The runs' text in one piece, as the block's offsets count it.
  std::string text;
  for (const Run& run : source_.BlockAt(block).runs) text += run.text;
  ForEachFolded(text, [&](char32_t c, uint32_t begin, uint32_t end) {
    folded_.push_back(c);
    starts_.push_back(begin);
    ends_.push_back(end);
  });
  folded_block_ = block;
}

std::optional<FlowHit> TextFinder::Next(const FlowPosition& from, uint32_t last_block) {
  if (needle_.empty()) return std::nullopt;
  const std::boyer_moore_horspool_searcher searcher(needle_.begin(), needle_.end());
  const uint32_t end = static_cast<uint32_t>(std::min<uint64_t>(source_.BlockCount(), uint64_t{last_block} + 1));
  for (uint32_t block = from.block; block < end; ++block) {
    if (source_.BlockAt(block).runs.empty()) continue;
    Fold(block);
    auto begin = folded_.begin();
    if (block == from.block) {
      const auto skip = std::lower_bound(starts_.begin(), starts_.end(), from.offset) - starts_.begin();
      begin += skip;
    }
    const auto found = std::search(begin, folded_.end(), searcher);
    if (found == folded_.end()) continue;
    const auto first = static_cast<size_t>(found - folded_.begin());
    return FlowHit{block, starts_[first], ends_[first + needle_.size() - 1]};
  }
  return std::nullopt;
}

std::vector<FlowHit> TextFinder::Between(const FlowPosition& from, const FlowPosition& to) {
  std::vector<FlowHit> hits;
  FlowPosition at = from;
  while (auto hit = Next(at, to.block)) {
    if (hit->block > to.block || (hit->block == to.block && hit->begin >= to.offset)) break;
    hits.push_back(*hit);
    at = {hit->block, hit->end};
  }
  return hits;
}

}  // namespace ikutil::typeset
