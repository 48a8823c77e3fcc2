// Any bytes, as a document in whatever encoding they show or declare,
// decode to valid UTF-8 without a crash or a read past the input.
#include <cstdint>
#include <string_view>

#include "fuzz_common.h"
#include "vellix/formats/codepage.h"
#include "vellix/formats/text_decoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (!vellix::formats::IsValidUtf8(vellix::formats::DecodeMarkup(bytes)))
    fuzz::Fail("fuzz_markup_decoding", "the decoded text is not UTF-8");
  return 0;
}
