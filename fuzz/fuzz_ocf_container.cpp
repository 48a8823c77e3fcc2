// Any archive either opens as an EPUB container whose every entry name is
// safe to use, or is refused with a message; nothing is written anywhere.
#include <cstdint>
#include <string>

#include "fuzz_common.h"
#include "vellix/formats/ocf_container.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vellix::formats::OcfLimits limits;
  // Small enough that a bomb costs the fuzzer little, large enough for the seeds.
  limits.max_entries = 2000;
  limits.max_entry_bytes = 4u << 20;
  limits.max_total_bytes = 8u << 20;
  vellix::formats::OcfOpenResult opened = vellix::formats::OpenOcfContainerFromBytes(
      std::string_view(reinterpret_cast<const char*>(data), size), "book.epub", limits);
  if (!opened.container) {
    if (opened.error.rfind("book.epub: ", 0) != 0) fuzz::Fail("fuzz_ocf_container", "a refusal that names no book");
    return 0;
  }
  uint64_t total = 0;
  for (const std::string& name : opened.container->Names()) {
    bool climbs = name == ".." || name.rfind("../", 0) == 0 || name.find("/../") != std::string::npos ||
                  (name.size() >= 3 && name.compare(name.size() - 3, 3, "/..") == 0);
    if (name.empty() || name[0] == '/' || name.find('\\') != std::string::npos || climbs)
      fuzz::Fail("fuzz_ocf_container", "an unsafe entry name was accepted");
    std::optional<std::string_view> bytes = opened.container->Read(name);
    if (!bytes) fuzz::Fail("fuzz_ocf_container", "a listed entry cannot be read");
    if (bytes->size() > limits.max_entry_bytes) fuzz::Fail("fuzz_ocf_container", "an entry past its limit");
    total += bytes->size();
  }
  if (total > limits.max_total_bytes) fuzz::Fail("fuzz_ocf_container", "a book past its limit");
  if (!opened.container->Read(opened.container->PackagePath()))
    fuzz::Fail("fuzz_ocf_container", "an open book without its package document");
  return 0;
}
