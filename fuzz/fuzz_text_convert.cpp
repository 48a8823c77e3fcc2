// Any text converts into a document that parses as XML and holds only
// ASCII characters XML accepts.
#include <cstdint>

#include "fuzz_common.h"
#include "vellix/book.h"
#include "vellix/error.h"
#include "vellix/formats/xml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string txt = fuzz::Scratch() + "/in.txt";
  const std::string htm = fuzz::Scratch() + "/out.htm";
  fuzz::WriteBytes(txt, data, size);
  vellix::Book book;
  book.Load(txt);
  // Head fields the way a user types them, with and without non-ASCII.
  book.SetTitle(size % 2 ? "Caf\xC3\xA9 \xE2\x82\xAC" : "Plain");
  book.SetAuthor("A. Writer");
  book.ConvertTxtToHtm(htm);

  vellix::formats::XmlDocument doc;
  vellix::formats::LoadXmlFile(htm, doc);
  if (!doc.parsed) fuzz::Fail("fuzz_text_convert", "the converted document does not parse");
  std::FILE* f = std::fopen(htm.c_str(), "rb");
  for (int c; (c = std::fgetc(f)) != EOF;)
    if (c > 0x7E || (c < 0x20 && c != '\t' && c != '\r' && c != '\n'))
      fuzz::Fail("fuzz_text_convert", "a byte XML or ASCII does not allow");
  std::fclose(f);
  return 0;
}
