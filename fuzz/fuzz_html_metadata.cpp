// Any HTML: reading its metadata either works or gives a clear error (a
// document too deep or tangled is refused before the clean-up), and a
// document that was read is well-formed on disk afterwards (the clean-up
// rewrites badly formed files in place).
#include <cstdint>

#include "fuzz_common.h"
#include "vellix/book.h"
#include "vellix/error.h"
#include "vellix/formats/xml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string htm = fuzz::Scratch() + "/in.htm";
  fuzz::WriteBytes(htm, data, size);
  std::string title, author, category;
  bool read = false;
  try {
    read = vellix::Book().ExtractMetadata(htm, title, author, category);
  } catch (const vellix::formats::AutomationError& e) {
    // 91: no head; 5: markup too deep or tangled to clean up.
    if (e.number() != 91 && e.number() != 5) fuzz::Fail("fuzz_html_metadata", "an unexpected error number");
    return 0;
  }
  if (read) {
    vellix::formats::XmlDocument doc;
    vellix::formats::LoadXmlFile(htm, doc);
    if (!doc.parsed) fuzz::Fail("fuzz_html_metadata", "read, but the file does not parse");
  }
  return 0;
}
