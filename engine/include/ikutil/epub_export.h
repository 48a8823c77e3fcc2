// A device book of ours written as an EPUB 3 book.
//
// The flow becomes XHTML documents, a new one at every page break and
// about every 100 KB; the style table one CSS sheet; the images PNG files;
// the table of contents a navigation document and an NCX (for readers of
// EPUB 2); links between documents stay links. The metadata comes from the
// book's information area: title, author, category (as the subject),
// identifier and language.
#pragma once

#include <string>

namespace ikutil {

struct EpubExportResult {
  bool ok = false;
  bool missing = false;  // the book file is not there
  std::string error;     // why, naming the book
};

// Reads the book file at `book_path` and writes the EPUB at `epub_path`
// through a temporary file in its folder. A book file whose content is not
// ours is refused, and nothing is written. Never throws.
EpubExportResult ExportEpub(const std::string& book_path, const std::string& epub_path);

}  // namespace ikutil
