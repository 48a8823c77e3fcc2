// Places in a text: byte offsets turned into lines and columns, both from
// 1, as editors show them. Columns count characters (UTF-8 sequences), not
// bytes, so a place after "é" is where the user's cursor would be.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace vellix::formats {

struct TextPlace {
  int32_t line = -1;  // -1: unknown
  int32_t column = -1;
};

class LineMap {
 public:
  LineMap() = default;
  // Keeps a view of `text`, which must outlive the map.
  explicit LineMap(std::string_view text) : text_(text) {
    starts_.push_back(0);
    uint32_t continuations = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      if (i % kStride == 0) continuations_before_.push_back(continuations);
      if (text[i] == '\n') starts_.push_back(i + 1);
      if (IsContinuation(text[i])) ++continuations;
    }
    if (continuations == 0) continuations_before_.clear();  // plain ASCII: columns are bytes
  }

  // The place of the byte at `offset` (the end of the text is a place too);
  // unknown past the end.
  TextPlace At(size_t offset) const {
    if (starts_.empty() || offset > text_.size()) return {};
    auto it = std::upper_bound(starts_.begin(), starts_.end(), offset);
    size_t line = static_cast<size_t>(it - starts_.begin());
    size_t start = starts_[line - 1];
    size_t column = 1 + (offset - start) - (ContinuationsBefore(offset) - ContinuationsBefore(start));
    return {static_cast<int32_t>(line), static_cast<int32_t>(column)};
  }

 private:
  // Every kStride bytes the count of continuation bytes so far, so a place
  // on a megabyte-long line costs no more than one on a short line.
  static constexpr size_t kStride = 64;

  static bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

  size_t ContinuationsBefore(size_t offset) const {
    if (continuations_before_.empty()) return 0;
    size_t block = offset / kStride;
    if (block >= continuations_before_.size()) block = continuations_before_.size() - 1;
    size_t count = continuations_before_[block];
    for (size_t i = block * kStride; i < offset; ++i) count += IsContinuation(text_[i]) ? 1 : 0;
    return count;
  }

  std::string_view text_;
  std::vector<size_t> starts_;
  std::vector<uint32_t> continuations_before_;
};

}  // namespace vellix::formats
