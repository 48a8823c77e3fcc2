// A built device book as an EPUB 3 book (the engine's exporter behind the
// toolkit, so that the object library reaches it the one way it reaches
// the engine).
#pragma once

#include <string>

#include "ikpubx/hresult.h"

namespace ikpubx {

// Writes the book file `book` as the EPUB `epub`. S_OK on success;
// otherwise E_FAIL with the reason, naming the file, in `error`, and
// `missing` (when given) telling whether the book file is not there at
// all. Never throws.
HRESULT ExportBookAsEpub(const std::string& book, const std::string& epub, std::string* error, bool* missing = nullptr);

}  // namespace ikpubx
