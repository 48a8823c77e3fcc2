#include "vellix/formats/oebff_parser.h"

#include <array>
#include <cstring>
#include <new>
#include <string_view>

#include "vellix/formats/ascii.h"

namespace vellix::formats {
namespace {

constexpr uint8_t kCR = '\r';
constexpr uint8_t kLF = '\n';

constexpr std::array<bool, 256> MakeNameBytes() {
  std::array<bool, 256> is{};
  for (int c = 'a'; c <= 'z'; ++c) is[c] = true;
  for (int c = 'A'; c <= 'Z'; ++c) is[c] = true;
  for (int c = '0'; c <= '9'; ++c) is[c] = true;
  is['.'] = is['-'] = is['_'] = is['/'] = true;
  is[0xB7] = true;
  for (int c = 0xC0; c <= 0xFF; ++c) is[c] = c != 0xD7 && c != 0xF7;
  return is;
}
constexpr std::array<bool, 256> kNameBytes = MakeNameBytes();

bool IsLineBreakOrTab(uint8_t c) { return c == kCR || c == kLF || c == '\t'; }

// ASCII case folding only: the values compared are fixed ASCII words.
constexpr auto EqualsIgnoreCase = EqualsIgnoringAsciiCase;

// Runs of CR, LF and TAB become one space when text follows and vanish at
// the end; a string of spaces only is empty.
void NormalizeQuoted(const std::string& raw, std::string* out) {
  out->clear();
  for (size_t i = 0; i < raw.size();) {
    if (!IsLineBreakOrTab(static_cast<uint8_t>(raw[i]))) {
      out->push_back(raw[i++]);
      continue;
    }
    while (i < raw.size() && IsLineBreakOrTab(static_cast<uint8_t>(raw[i]))) ++i;
    if (i < raw.size()) out->push_back(' ');
  }
  if (out->find_first_not_of(' ') == std::string::npos) out->clear();
}

// The href its Content-Disposition header gives a part ("" without one).
std::string PartHref(const OEBFFNode& part) {
  for (int32_t i = 0; i < part.ChildCount(); ++i) {
    const OEBFFNode* field = part.Child(i);
    if (field->Kind() != OEBFFNodeKind::kHeaderField || !EqualsIgnoreCase(field->Name(), "content-disposition"))
      continue;
    for (int32_t a = 0; a < field->AttributeCount(); ++a) {
      std::string key, value;
      if (field->Attribute(a, &key, &value) && EqualsIgnoreCase(key, "href")) return value;
    }
  }
  return {};
}

void Require(bool done) {
  if (!done) throw std::bad_alloc();
}

}  // namespace

bool OEBFFIsNameByte(uint8_t c) { return kNameBytes[c]; }

bool OEBFFParser::Parse(const std::string& path, const ContainerProgress& progress) {
  if (progress) {
    // A step back over a window's edge reloads an earlier window; progress
    // is only ever reported forward.
    file_.SetLoadObserver([&progress, reported = int64_t{-1}](int64_t offset, int64_t size) mutable {
      if (offset <= reported) return;
      reported = offset;
      if (!progress(offset, size)) throw OEBFFContainerError(kOEBFFUserAborted);
    });
  }
  try {
    path_ = std::make_shared<const std::string>(path);
    ParseOpenFile();
  } catch (...) {
    file_.Close();
    file_.SetLoadObserver(nullptr);
    throw;
  }
  file_.Close();
  file_.SetLoadObserver(nullptr);
  return true;
}

void OEBFFParser::Fail(int32_t code) { throw OEBFFContainerError(code); }

void OEBFFParser::ParseOpenFile() {
  if (!file_.Open(*path_)) Fail(kOEBFFFileNotFound);
  size_ = file_.Size();
  root_ = NewNode(OEBFFNodeKind::kContainer);
  current_ = root_.get();
  ReadHeaderBlock();
  // Back onto the CR LF that ends the last header line, so that a delimiter
  // right after the block's empty line is found in its "empty line" form.
  StepBack();
  StepBack();

  if (!CheckContainer()) Fail(kOEBFFInvalidContainer);
  delimiter_ = "\n--" + boundary_;
  delimiter_after_empty_line_ = "\n\r\n--" + boundary_;
  int64_t preamble_end = 0;
  if (!SearchDelimiter(&preamble_end)) Fail(kOEBFFInvalidContainer);
  MatchString("\r\n");

  for (;;) {
    OEBFFNode* part = root_->AddChild(NewNode(OEBFFNodeKind::kPart));
    Require(part != nullptr);
    current_ = part;
    ReadHeaderBlock();
    if (!CheckPart(*part)) Fail(kOEBFFInvalidPart);
    current_ = root_.get();
    int64_t body_start = file_.Position();
    int64_t body_end = 0;
    if (!SearchDelimiter(&body_end)) {
      unfinished_part_ = PartHref(*part);
      Fail(kOEBFFInvalidContainer);
    }
    part->SetBodyRange(body_start, body_end);
    ++part_count_;
    if (MatchString("--")) return;  // the closing delimiter; the rest is ignored
    MatchString("\r\n");
  }
}

std::unique_ptr<OEBFFNode> OEBFFParser::NewNode(OEBFFNodeKind kind) const {
  return std::make_unique<OEBFFNode>(kind, path_);
}

// --- Primitives -----------------------------------------------------------

int OEBFFParser::PeekChar() {
  uint8_t c = GetChar();
  StepBack();
  return c;
}

void OEBFFParser::StepBack() {
  // After a get that met the end (and consumed nothing) only the flag goes.
  if (file_.AtEnd() || file_.Position() == 0) {
    file_.StepBack();
    return;
  }
  file_.StepBack();
  // A CR LF pair is undone as one unit.
  if (file_.Position() > 0 && file_.Peek() == kLF) {
    file_.StepBack();
    if (file_.Peek() != kCR) file_.Seek(file_.Position() + 1);
  }
}

bool OEBFFParser::MatchString(const std::string& text) {
  int64_t mark = Mark();
  for (char expected : text) {
    uint8_t c = GetChar();
    if (file_.AtEnd() || c != static_cast<uint8_t>(expected)) {
      RestoreMark(mark);
      return false;
    }
  }
  return true;
}

bool OEBFFParser::MatchChar(uint8_t expected) {
  uint8_t c = GetChar();
  if (!file_.AtEnd() && c == expected) return true;
  StepBack();
  return false;
}

bool OEBFFParser::SkipWhiteSpace() {
  bool skipped = false;
  for (;;) {
    uint8_t c = GetChar();
    if (c != ' ' && c != '\t') break;
    skipped = true;
  }
  StepBack();
  return skipped;
}

bool OEBFFParser::ReadToken(std::string* token) {
  token->clear();
  uint8_t c = GetChar();
  if (!OEBFFIsNameByte(c) && c != ':') {
    StepBack();
    return false;
  }
  do {
    token->push_back(static_cast<char>(c));
    c = GetChar();
  } while (OEBFFIsNameByte(c));
  StepBack();
  return true;
}

bool OEBFFParser::ReadQuoted(std::string* text) {
  uint8_t quote = GetChar();
  if (quote != '"' && quote != '\'') {
    StepBack();
    return false;
  }
  raw_.clear();
  for (;;) {
    uint8_t c = GetChar();
    if (c == quote) break;
    if (c == 0) Fail(kOEBFFUnexpectedEnd);  // a NUL byte or the end of the file
    if (c < 0x20 ? !IsLineBreakOrTab(c) : c > 0x7F) Fail(kOEBFFIllegalCharacter);
    raw_.push_back(static_cast<char>(c));
  }
  NormalizeQuoted(raw_, text);
  return true;
}

bool OEBFFParser::MatchEquals() {
  int64_t mark = Mark();
  SkipWhiteSpace();
  if (!MatchChar('=')) {
    RestoreMark(mark);
    return false;
  }
  SkipWhiteSpace();
  return true;
}

// --- Grammar --------------------------------------------------------------

void OEBFFParser::ReadHeaderBlock() {
  while (ReadHeaderField()) {
  }
}

// Reads one header field into the current node. True when the next field
// has begun (its name was met and the position put back before it); false
// when the block's empty line has been consumed.
bool OEBFFParser::ReadHeaderField() {
  std::string& name = name_;
  SkipWhiteSpace();
  if (!ReadToken(&name)) Fail(kOEBFFInvalidMimeHeaders);
  if (!MatchChar(':')) Fail(kOEBFFInvalidMimeHeaders);
  if (!SkipWhiteSpace()) Fail(kOEBFFInvalidMimeHeaders);

  OEBFFNode* field = current_->AddChild(NewNode(OEBFFNodeKind::kHeaderField));
  Require(field != nullptr);
  Require(field->SetName(name));
  int64_t mark = Mark();
  std::string& token = token_;
  std::string& quoted = quoted_;
  for (;;) {
    SkipWhiteSpace();
    int next = PeekChar();
    if (next == '"' || next == '\'') {
      ReadQuoted(&quoted);
      Require(field->AppendValue(quoted));
    } else {
      if (!ReadToken(&token)) Fail(kOEBFFInvalidAttributeValue);
      MatchChar(';');
      if (PeekChar() == ':') {  // that token names the next field
        RestoreMark(mark);
        return true;
      }
      if (MatchEquals()) {
        if (!ReadQuoted(&quoted)) Fail(kOEBFFInvalidAttributeValue);
        Require(field->AddAttribute(token, quoted));
        MatchChar(';');
      } else {
        Require(field->AppendValue(token));
      }
    }
    SkipWhiteSpace();
    // One byte at a time: after a partial match the matched bytes stay
    // consumed, so a line that starts with a blank continues this field.
    if (MatchChar(kCR) && MatchChar(kLF) && MatchChar(kCR) && MatchChar(kLF)) return false;
    mark = Mark();
  }
}

bool OEBFFParser::CheckContainer() {
  if (!root_->HasChildren()) return false;
  bool version = false, content_type = false, boundary = false;
  std::string name, value;
  for (int32_t i = 0; i < root_->ChildCount(); ++i) {
    const OEBFFNode& field = *root_->Child(i);
    if (field.Name() == "MIME-Version") {
      if (field.Value() != "1.0") return false;
      version = true;
    } else if (field.Name() == "Content-Type") {
      if (!EqualsIgnoreCase(field.Value(), "multipart/related") || !field.HasAttributes()) return false;
      for (int32_t a = 0; field.Attribute(a, &name, &value); ++a) {
        if (EqualsIgnoreCase(name, "type") && !EqualsIgnoreCase(value, "application/x-oeb1")) return false;
        if (EqualsIgnoreCase(name, "boundary")) {
          boundary_ = value;
          boundary = true;
        }
      }
      content_type = true;
    }
  }
  return version && content_type && boundary;
}

bool OEBFFParser::CheckPart(const OEBFFNode& part) const {
  if (!part.HasChildren()) return false;
  bool content_type = false, package = false, gzip = false;
  bool oeb_id = false, uncompressed_type = false, href = false;
  std::string name, value;
  for (int32_t i = 0; i < part.ChildCount(); ++i) {
    const OEBFFNode& field = *part.Child(i);
    const std::string& field_name = field.Name();
    if (field_name == "Content-Type") {
      content_type = true;
      if (EqualsIgnoreCase(field.Value(), "text/xml")) package = true;
      if (EqualsIgnoreCase(field.Value(), "application/x-gzip")) gzip = true;
    } else if (package) {
      continue;  // a package part needs nothing else
    } else if (field_name == "Content-OEB-ID") {
      oeb_id = true;
    } else if (field_name == "Content-Uncompressed-Type") {
      if (gzip) uncompressed_type = true;
    } else if (field_name == "Content-Disposition") {
      if (!field.HasAttributes()) return false;
      for (int32_t a = 0; field.Attribute(a, &name, &value); ++a)
        if (EqualsIgnoreCase(name, "href")) href = true;
    }
  }
  if (package) return true;
  return content_type && href && oeb_id && (!gzip || uncompressed_type);
}

// Finds the first CR at or after the position that is followed by LF "--"
// and the boundary, or by LF CR LF "--" and the boundary. Leaves the
// position after the boundary and sets `candidate_end` one past that CR.
// Bodies are skipped with memchr over the window, and the bytes after each
// CR are compared in place; only a CR too near the window's end for both
// forms to fit is looked past through the file.
bool OEBFFParser::SearchDelimiter(int64_t* candidate_end) {
  const size_t longest = delimiter_after_empty_line_.size();
  for (;;) {
    std::span<const uint8_t> ahead = file_.Ahead();
    if (ahead.empty()) return false;
    const uint8_t* begin = ahead.data();
    const uint8_t* end = begin + ahead.size();
    const uint8_t* p = begin;
    for (;;) {
      const auto* cr = static_cast<const uint8_t*>(std::memchr(p, kCR, static_cast<size_t>(end - p)));
      if (!cr) {
        file_.Advance(static_cast<size_t>(end - begin));
        break;
      }
      p = cr + 1;
      if (static_cast<size_t>(end - p) < longest) {
        file_.Advance(static_cast<size_t>(p - begin));
        int64_t after_cr = file_.Position();
        if (MatchString(delimiter_) || MatchString(delimiter_after_empty_line_)) {
          *candidate_end = after_cr;
          return true;
        }
        break;  // the window may have moved: look again from after the CR
      }
      if (p[0] != kLF) continue;  // most CRs end here
      const std::string* found = nullptr;
      if (p[1] == '-' && std::memcmp(p, delimiter_.data(), delimiter_.size()) == 0)
        found = &delimiter_;
      else if (p[1] == kCR && std::memcmp(p, delimiter_after_empty_line_.data(), longest) == 0)
        found = &delimiter_after_empty_line_;
      if (!found) continue;
      *candidate_end = file_.Position() + (p - begin);
      file_.Advance(static_cast<size_t>(p - begin) + found->size());
      return true;
    }
  }
}

}  // namespace vellix::formats
