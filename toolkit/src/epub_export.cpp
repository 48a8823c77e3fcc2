#include "ikpubx/epub_export.h"

#include "ikutil/epub_export.h"

namespace ikpubx {

HRESULT ExportBookAsEpub(const std::string& book, const std::string& epub, std::string* error, bool* missing) {
  try {
    ikutil::EpubExportResult result = ikutil::ExportEpub(book, epub);
    if (error) *error = result.error;
    if (missing) *missing = result.missing;
    return result.ok ? S_OK : E_FAIL;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace ikpubx
