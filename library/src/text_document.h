// Plain text to an OEB XHTML document.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vellix {

// Text bytes as UTF-8: kept when they are valid UTF-8, else read as
// Windows-1252.
std::string DecodeText(std::string_view bytes);

// How DecodeText reads a text, decided by all of its bytes.
enum class TextEncoding { kUtf8, kUtf8WithBom, kCp1252 };

// Decides the encoding of a text fed in pieces of any size, so a large file
// can be checked without holding it whole.
class TextEncodingScan {
 public:
  void Feed(std::string_view bytes);
  // The encoding DecodeText would choose for all the bytes fed so far.
  TextEncoding Result() const;

 private:
  std::string pending_;  // the start of a character the next piece completes
  std::string first_;    // up to the first three bytes, for the byte order mark
  bool valid_ = true;
};

// Decodes a text fed in pieces as DecodeText decodes it whole, given the
// encoding a TextEncodingScan found. Each returned view holds whole
// characters and stays valid until the next call.
class TextDecoder {
 public:
  explicit TextDecoder(TextEncoding encoding);
  std::string_view Feed(std::string_view bytes);
  // What the last piece left unfinished (only when the text changed
  // between the scan and the decoding).
  std::string_view Finish();

 private:
  TextEncoding encoding_;
  size_t bom_left_;
  std::string pending_;
  std::string out_;
};

// The text as ASCII the XML parser accepts: every character above 0x7E as
// a numeric character reference, characters XML cannot carry at all (C0
// controls other than TAB) as a space. Markup characters are left alone.
std::string XmlAscii(std::string_view utf8);

// Writes the converted document piece by piece to `sink`: Begin, the text
// (UTF-8) in pieces of whole characters, then End. Lines may run across
// pieces; what is held between calls does not grow with the text.
class DocumentWriter {
 public:
  using Sink = std::function<void(std::string_view)>;
  explicit DocumentWriter(Sink sink) : sink_(std::move(sink)) {}

  void Begin(const std::string& title, const std::string& author, const std::string& category,
             const std::optional<std::string>& style_sheet);
  void Text(std::string_view utf8);
  void End();

 private:
  void EndLine();
  void Send();

  Sink sink_;
  std::string out_;
  size_t leading_spaces_ = 0;  // spaces that begin the line, until it proves not blank
  bool in_line_ = false;       // some of the current line has been seen
  bool has_content_ = false;   // the current line is not blank
  bool after_cr_ = false;      // a CR ended the last line; an LF next belongs to it
};

// The converted document for `text` (UTF-8), with the optional style sheet.
std::string ConvertedDocument(std::string_view text, const std::string& title, const std::string& author,
                              const std::string& category, const std::optional<std::string>& style_sheet);

}  // namespace vellix
