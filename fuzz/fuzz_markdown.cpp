// Any Markdown becomes an XHTML document that parses as XML, with the
// title the source gave in its head.
#include <cstdint>
#include <string>

#include "fuzz_common.h"
#include "vellix/formats/markdown.h"
#include "vellix/formats/xml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  vellix::formats::MarkdownDocument document = vellix::formats::ConvertMarkdown(text);
  std::string xhtml = vellix::formats::MarkdownXhtml(document, document.title, "A. Writer", "Notes");
  vellix::formats::XmlDocument doc;
  vellix::formats::LoadXmlText(xhtml, doc);
  if (!doc.parsed) fuzz::Fail("fuzz_markdown", "the converted document does not parse");
  return 0;
}
