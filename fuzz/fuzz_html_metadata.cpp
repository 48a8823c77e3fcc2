// Any HTML: reading its metadata either works or gives a clear error (a
// document too deep or tangled is refused before the clean-up), and the
// document itself is only read: its bytes on disk are the same afterwards,
// however badly formed they were.
#include <cstdint>

#include "fuzz_common.h"
#include "vellix/book.h"
#include "vellix/error.h"
#include "vellix/formats/file_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string htm = fuzz::Scratch() + "/in.htm";
  fuzz::WriteBytes(htm, data, size);
  std::string title, author, category;
  try {
    vellix::Book().ExtractMetadata(htm, title, author, category);
  } catch (const vellix::formats::AutomationError& e) {
    // 91: no head; 5: markup too deep or tangled to clean up.
    if (e.number() != 91 && e.number() != 5) fuzz::Fail("fuzz_html_metadata", "an unexpected error number");
  }
  const std::string after = vellix::formats::ReadWholeFile(htm);
  if (after.size() != size || (size > 0 && after.compare(0, size, reinterpret_cast<const char*>(data), size) != 0))
    fuzz::Fail("fuzz_html_metadata", "reading the metadata changed the document");
  return 0;
}
