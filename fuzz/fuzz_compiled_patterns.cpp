// Compiled hyphenation patterns from the cache folder: any bytes, given the
// checksum they need, load into a dictionary whose every index stays in
// its table, or into nothing; either way without a crash, a leak or a read
// past the input. Loaded ones compile back to bytes that load again.
#include <zlib.h>

#include <cstdint>
#include <string>

#include "compiled_patterns.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The checksum is made here, so that the bytes reach the parser.
  std::string bytes(reinterpret_cast<const char*>(data), size);
  const auto crc = static_cast<uint32_t>(crc32(0, data, static_cast<uInt>(size)));
  for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>(crc >> shift);
  HyphenDict* dict = ikutil::typeset::LoadCompiledPatterns(bytes, "fuzz");
  if (dict == nullptr) return 0;
  const std::string again = ikutil::typeset::CompilePatterns(*dict, "fuzz");
  hnj_hyphen_free(dict);
  HyphenDict* reloaded = ikutil::typeset::LoadCompiledPatterns(again, "fuzz");
  if (reloaded == nullptr) fuzz::Fail("fuzz_compiled_patterns", "compiled patterns do not load again");
  hnj_hyphen_free(reloaded);
  return 0;
}
