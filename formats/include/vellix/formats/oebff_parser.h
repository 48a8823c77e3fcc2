// The recursive-descent scanner that reads an OEBFF container.
//
// It walks the file through a WindowedFile, byte by byte for headers and
// with memchr over the window for bodies, and builds the node tree: the
// container's header fields under the root, then one part node per part
// with its header fields and its body's byte range. Backtracking uses
// marks (remembered positions) and step-backs (undoing one read, a CR LF
// pair as one unit). Every error throws OEBFFContainerError with its
// code after the file has been closed.
//
// The file is read through a window of at most 100 KiB, so memory stays
// flat for containers of any size.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "vellix/formats/oebff_error.h"
#include "vellix/formats/oebff_node.h"
#include "vellix/formats/windowed_file.h"

namespace vellix::formats {

// The bytes a header token is made of: ASCII letters and digits, ". - _ /",
// 0xB7, and the code page's letters 0xC0-0xFF without 0xD7 and 0xF7.
bool OEBFFIsNameByte(uint8_t c);

class OEBFFParser {
 public:
  // `window_size` other than the default serves tests only.
  explicit OEBFFParser(int64_t window_size = WindowedFile::kWindowSize) : file_(window_size) {}
  OEBFFParser(const OEBFFParser&) = delete;
  OEBFFParser& operator=(const OEBFFParser&) = delete;

  // Reads the container at `path` (as the file system names it); one call
  // per parser. Returns
  // true, or throws OEBFFContainerError (or std::bad_alloc); the file
  // is closed either way.
  bool Parse(const std::string& path, const ContainerProgress& progress = {});

  // The tree read by Parse (the parser keeps nothing of it).
  std::unique_ptr<OEBFFNode> TakeRoot() { return std::move(root_); }
  int32_t PartCount() const { return part_count_; }
  int64_t Size() const { return size_; }
  // After Parse failed because the file ends inside a part's body, that
  // part's href as its headers give it; empty otherwise.
  const std::string& UnfinishedPart() const { return unfinished_part_; }

 private:
  void ParseOpenFile();
  [[noreturn]] void Fail(int32_t code);

  // Primitives.
  uint8_t GetChar() { return file_.ReadByte(); }  // 0 at the end of the file
  int PeekChar();
  void StepBack();
  int64_t Mark() const { return file_.Position(); }
  void RestoreMark(int64_t mark) { file_.Seek(mark); }
  bool MatchString(const std::string& text);
  bool MatchChar(uint8_t c);
  bool SkipWhiteSpace();
  bool ReadToken(std::string* token);
  bool ReadQuoted(std::string* text);
  bool MatchEquals();

  // Grammar.
  bool ReadHeaderField();
  void ReadHeaderBlock();
  bool CheckContainer();
  bool CheckPart(const OEBFFNode& part) const;
  bool SearchDelimiter(int64_t* candidate_end);
  std::unique_ptr<OEBFFNode> NewNode(OEBFFNodeKind kind) const;

  WindowedFile file_;
  int32_t part_count_ = 0;
  int64_t size_ = 0;
  std::unique_ptr<OEBFFNode> root_;
  OEBFFNode* current_ = nullptr;
  std::string boundary_;
  std::string unfinished_part_;
  std::shared_ptr<const std::string> path_;
  // CR LF "--" boundary, and the same after one more CR LF, without the
  // leading CR (the search stops on it).
  std::string delimiter_;
  std::string delimiter_after_empty_line_;
  // Scratch text of the header reader, kept to reuse its memory.
  std::string name_, token_, quoted_, raw_;
};

}  // namespace vellix::formats
