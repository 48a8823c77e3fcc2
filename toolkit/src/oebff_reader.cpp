#include "ikpubx/oebff_reader.h"

#include <new>

#include "vellix/formats/codepage.h"
#include "vellix/formats/oebff_parser.h"

namespace ikpubx {

OEBFFReader::OEBFFReader(std::string_view container_path, const Progress& progress) noexcept {
  try {
    // Room for the longest diagnostic, so composing one after a failure
    // cannot run out of memory.
    diagnostic_.reserve(64);
    std::optional<size_t> length = vellix::formats::Cp1252Length(container_path);
    if (!length || *length > kMaxPathLength || container_path.find('\0') != std::string_view::npos)
      throw COEBFFContainerException(kOEBFFFileNotFound);
    vellix::formats::OEBFFParser parser;
    try {
      parser.Parse(std::string(container_path), progress);
    } catch (...) {
      unfinished_part_ = parser.UnfinishedPart();
      throw;
    }
    std::unique_ptr<OEBFFNode> root = parser.TakeRoot();
    std::vector<OEBFFNode*> parts;
    parts.reserve(static_cast<size_t>(parser.PartCount()));
    for (int32_t i = 0; i < root->ChildCount(); ++i)
      if (root->Child(i)->Kind() == OEBFFNodeKind::kPart) parts.push_back(root->Child(i));
    root_ = std::move(root);
    parts_ = std::move(parts);
    part_count_ = static_cast<int32_t>(parts_.size());
  } catch (const COEBFFContainerException& e) {
    Fail(E_FAIL, e.Code());
  } catch (const std::bad_alloc&) {
    Fail(E_OUTOFMEMORY, kOEBFFNoError);
  } catch (...) {
    // Nothing in the reader throws anything else; whatever it was, it is
    // no answer from the user.
    Fail(E_FAIL, -1);
  }
}

OEBFFReader::~OEBFFReader() = default;

OEBFFNode* OEBFFReader::Part(int32_t index) const {
  if (index < 0 || index >= part_count_) return nullptr;
  return parts_[static_cast<size_t>(index)];
}

void OEBFFReader::Fail(HRESULT result, int32_t code) noexcept {
  root_.reset();
  parts_.clear();
  part_count_ = 0;
  failed_ = 1;
  result_ = result;
  error_code_ = code;
  try {
    if (result == E_OUTOFMEMORY)
      diagnostic_ = ComposeDiagnostic("Out of memory", static_cast<uint32_t>(result));
    else
      diagnostic_ = ComposeDiagnostic(COEBFFContainerException::MessageFor(code), static_cast<uint32_t>(code));
  } catch (...) {
    diagnostic_.clear();  // could not even say why; the flag and code remain
  }
}

}  // namespace ikpubx
