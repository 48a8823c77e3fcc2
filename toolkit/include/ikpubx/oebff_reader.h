// OEBFFReader: the toolkit's description of one OEBFF container.
//
// Constructing a reader parses the container's header blocks into a node
// tree and records where each part's body lies in the file; no body is
// copied, decoded or decompressed. Reading never throws: a container that
// cannot be read leaves Failed() true, no tree, no parts, and the error's
// code and diagnostic text for the caller to show or log.
//
//   ikpubx::OEBFFReader reader("/books/story.oeb");
//   if (reader.Failed()) { log(reader.Diagnostic()); return; }
//   for (const ikpubx::OEBFFNode* part : reader.Parts())
//     copy bytes [part->BodyStart(), part->BodyEnd() - 1) of the file;
//
// The reader holds no file open after construction and uses a fixed amount
// of memory for any container size, apart from the tree itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ikpubx/hresult.h"
#include "ikpubx/oebff_exception.h"
#include "ikpubx/oebff_node.h"

namespace ikpubx {

class OEBFFReader {
 public:
  // Paths longer than this (counted in 8-bit characters) are refused.
  static constexpr size_t kMaxPathLength = 499;

  // Told how far reading has come (bytes of `size`), about every 100 KiB.
  // Answering false stops the reading with code kOEBFFUserAborted.
  using Progress = vellix::formats::ContainerProgress;

  // Reads the container at `container_path` (UTF-8). A path the 8-bit code
  // page cannot spell, one longer than kMaxPathLength characters, or one
  // holding a NUL fails with code kOEBFFFileNotFound, as a missing file does.
  explicit OEBFFReader(std::string_view container_path, const Progress& progress = {}) noexcept;
  virtual ~OEBFFReader();
  OEBFFReader(const OEBFFReader&) = delete;
  OEBFFReader& operator=(const OEBFFReader&) = delete;

  bool Failed() const { return failed_ != 0; }
  // S_OK when read; E_FAIL when the container was refused (see ErrorCode);
  // E_OUTOFMEMORY when memory ran out.
  HRESULT Result() const { return result_; }
  // An OEBFFError; kOEBFFNoError when read (and after running out of
  // memory); -1 ("Unknown error") when something unforeseen stopped it.
  int32_t ErrorCode() const { return error_code_; }
  // "<message>\r\nError 0x<code, 8 hex digits>\r\n" after a failure, else "".
  const std::string& Diagnostic() const { return diagnostic_; }
  // When the container ends inside a part's body: that part's href (the
  // container is refused with kOEBFFInvalidContainer); else "".
  const std::string& UnfinishedPart() const { return unfinished_part_; }

  // The container node, null after a failure.
  OEBFFNode* Root() const { return root_.get(); }
  int32_t PartCount() const { return part_count_; }
  // The part nodes in container order; they belong to the tree.
  const std::vector<OEBFFNode*>& Parts() const { return parts_; }
  // Null when `index` is out of range.
  OEBFFNode* Part(int32_t index) const;

 private:
  void Fail(HRESULT result, int32_t code) noexcept;

  std::unique_ptr<OEBFFNode> root_;
  int32_t part_count_ = 0;
  int32_t failed_ = 0;
  std::vector<OEBFFNode*> parts_;
  HRESULT result_ = S_OK;
  int32_t error_code_ = kOEBFFNoError;
  std::string diagnostic_;
  std::string unfinished_part_;
};

}  // namespace ikpubx
