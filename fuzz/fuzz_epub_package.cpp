// Any package document, navigation document, NCX and chapter, put in a
// well-made container, are read without a crash: a book comes out with a
// spine of documents the container holds, or a message naming the book.
// The input is the four files separated by lines "----".
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "epub_book.h"
#include "fuzz_common.h"
#include "vellix/formats/ocf_container.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  for (size_t at = 0;;) {
    size_t cut = input.find("\n----\n", at);
    parts.push_back(input.substr(at, cut == std::string::npos ? std::string::npos : cut - at));
    if (cut == std::string::npos || parts.size() == 4) break;
    at = cut + 6;
  }
  parts.resize(4);
  static const std::string kContainer =
      "<?xml version=\"1.0\"?><container version=\"1.0\" "
      "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles><rootfile full-path=\"OPS/package.opf\" "
      "media-type=\"application/oebps-package+xml\"/></rootfiles></container>";
  std::string archive = vellix::formats::BuildOcfArchive({{"META-INF/container.xml", kContainer},
                                                          {"OPS/package.opf", parts[0]},
                                                          {"OPS/nav.xhtml", parts[1]},
                                                          {"OPS/toc.ncx", parts[2]},
                                                          {"OPS/c1.xhtml", parts[3]}});
  vellix::formats::OcfOpenResult opened = vellix::formats::OpenOcfContainerFromBytes(archive, "book.epub");
  if (!opened.container) fuzz::Fail("fuzz_epub_package", "a well-made container was refused");
  std::shared_ptr<const vellix::formats::OcfContainer> container(std::move(opened.container));
  ikutil::EpubReadResult read = ikutil::ReadEpubPackage(container, "book.epub");
  if (!read.book) {
    if (read.error.rfind("book.epub: ", 0) != 0) fuzz::Fail("fuzz_epub_package", "a refusal that names no book");
    return 0;
  }
  if (read.book->spine.empty()) fuzz::Fail("fuzz_epub_package", "a book without a spine");
  // Hrefs count from the package's folder, OPS/: one "../" climbs to the
  // container's top, and no further.
  for (const std::string& href : read.book->spine) {
    const std::string_view inside = std::string_view(href).substr(href.rfind("../", 0) == 0 ? 3 : 0);
    if (inside.empty() || inside[0] == '/' || inside.rfind("../", 0) == 0)
      fuzz::Fail("fuzz_epub_package", "a spine item outside the book");
  }
  for (const ikutil::EpubContentsEntry& entry : read.book->contents)
    if (entry.label.empty() || entry.level < 1) fuzz::Fail("fuzz_epub_package", "an empty contents entry");
  return 0;
}
