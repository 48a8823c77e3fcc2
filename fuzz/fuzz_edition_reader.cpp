// Arbitrary bytes as a device edition's book file: the reader either refuses
// them with an error code or returns an edition that, written again and read
// back, is the same edition with the same book information. Read lazily,
// block by block as the viewer reads, the same bytes are refused exactly
// when the whole reader refuses them, and give the same edition.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "edition_source.h"
#include "fuzz_common.h"
#include "ikutil/device_edition.h"
#include "vellix/formats/error.h"

namespace {

bool SameInformation(const ikutil::BookInformation& a, const ikutil::BookInformation& b) {
  return a.book_id == b.book_id && a.category == b.category && a.sub_category == b.sub_category && a.title == b.title &&
         a.author_last_name == b.author_last_name && a.author_middle_name == b.author_middle_name &&
         a.author_first_name == b.author_first_name && a.folder_name == b.folder_name && a.periodical == b.periodical &&
         a.content_feed_id == b.content_feed_id && a.issue == b.issue;
}

// The edition read block by block, images first; nothing when refused.
std::optional<ikutil::DeviceEdition> ReadLazily(std::string_view bytes) {
  try {
    auto source = ikutil::EditionSource::OverBytes(bytes, "The book");
    for (uint32_t k = 0; k < source->ImageCount(); ++k) source->ImageAt(k);
    for (uint32_t i = 0; i < source->BlockCount(); ++i) source->BlockAt(i);
    if (!source->complete()) fuzz::Fail("fuzz_edition_reader", "the last block read leaves the source incomplete");
    return source->TakeEdition();
  } catch (const ikutil::EditionReadError& e) {
    if (std::string_view(e.what()).empty()) fuzz::Fail("fuzz_edition_reader", "a lazy error without a message");
    return std::nullopt;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  ikutil::EditionReadResult first = ikutil::ReadDeviceEditionFromBytes(bytes);
  const std::optional<ikutil::DeviceEdition> lazy = ReadLazily(bytes);
  if (lazy.has_value() != (first.error == ikutil::EditionError::kNone))
    fuzz::Fail("fuzz_edition_reader", "the lazy reader and the whole reader disagree");
  if (lazy && !(*lazy == first.edition)) fuzz::Fail("fuzz_edition_reader", "the lazy reader reads another edition");
  if (first.error != ikutil::EditionError::kNone) {
    if (first.message.empty()) fuzz::Fail("fuzz_edition_reader", "an error without a message");
    return 0;
  }
  const std::string path = fuzz::Scratch() + "/again.imp";
  ikutil::WriteOptions options;
  options.compress = size % 2 == 0;
  options.rle_trigger = static_cast<int>(size % 101);
  try {
    ikutil::WriteDeviceBook(first.edition, first.info, options, path);
  } catch (const vellix::formats::AutomationError& e) {
    fuzz::Fail("fuzz_edition_reader", e.what());
  }
  ikutil::EditionReadResult second = ikutil::ReadDeviceEdition(path);
  if (second.error != ikutil::EditionError::kNone) fuzz::Fail("fuzz_edition_reader", second.message.c_str());
  if (!(second.edition == first.edition)) fuzz::Fail("fuzz_edition_reader", "the edition changed on the way back");
  if (!SameInformation(first.info, second.info))
    fuzz::Fail("fuzz_edition_reader", "the book information changed on the way back");
  return 0;
}
