// Finding text in a device edition's flow, as a reader would look for it:
// letter case is ignored, any run of white space (line breaks included)
// matches any other, soft hyphens are invisible and typographic quotes
// match plain ones. The flow holds words whole, so a word the typesetter
// hyphenated across two lines is found like any other.
//
// Hits never span two blocks. Positions are byte offsets into a block's
// text (the concatenated text of its runs).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "ikutil/device_edition.h"

namespace ikutil {
class EditionSource;
}

namespace ikutil::typeset {

struct FlowHit {
  uint32_t block = 0;
  uint32_t begin = 0;  // bytes into the block's text
  uint32_t end = 0;
};

class TextFinder {
 public:
  // `source` must outlive the finder, which reads its blocks as far as it
  // looks (passing on its EditionReadError).
  TextFinder(EditionSource& source, std::string_view text);
  // A whole edition in memory, which must outlive the finder.
  TextFinder(const DeviceEdition& edition, std::string_view text);
  ~TextFinder();

  // Nothing to look for (only white space or nothing at all).
  bool Empty() const { return needle_.empty(); }

  // The first hit that starts at or after `from`, looking no further than
  // block `last_block`.
  std::optional<FlowHit> Next(const FlowPosition& from, uint32_t last_block = UINT32_MAX);
  // Every hit that starts at or after `from` and before `to`, in order.
  std::vector<FlowHit> Between(const FlowPosition& from, const FlowPosition& to);

 private:
  // Prepares `folded_` and `ends_` for `block`.
  void Fold(uint32_t block);

  std::unique_ptr<EditionSource> whole_;  // over the edition given, when one was
  EditionSource& source_;
  std::u32string needle_;
  uint32_t folded_block_ = UINT32_MAX;
  std::u32string folded_;         // the block's text as compared
  std::vector<uint32_t> starts_;  // byte offset where each folded character starts
  std::vector<uint32_t> ends_;    // and where it ends (after a whole run of white space)
};

// `text` as the finder compares it, as UTF-8: for tests and messages.
std::string FoldForSearch(std::string_view text);

}  // namespace ikutil::typeset
