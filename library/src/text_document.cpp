#include "text_document.h"

#include <algorithm>
#include <cstdio>

#include "vellix/formats/codepage.h"
#include "vellix/formats/markup.h"

namespace vellix {
namespace {

// Calls `line` for each line of `text`; CR LF, CR and LF all end a line,
// and a final line end adds no empty line.
template <typename F>
void ForEachLine(std::string_view text, F&& line) {
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    const char* stop = p;
    while (stop < end && *stop != '\n' && *stop != '\r') ++stop;
    line(std::string_view(p, static_cast<size_t>(stop - p)));
    if (stop == end) return;
    p = stop + ((*stop == '\r' && stop + 1 < end && stop[1] == '\n') ? 2 : 1);
  }
}

}  // namespace

std::string DecodeText(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF" && formats::IsValidUtf8(bytes)) return std::string(bytes.substr(3));
  return formats::IsValidUtf8(bytes) ? std::string(bytes) : formats::Cp1252ToUtf8(bytes);
}

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Bytes a UTF-8 sequence starting with `lead` claims; 1 for a byte that
// cannot start one, which validation rejects on its own.
size_t SequenceLength(unsigned char lead) {
  if (lead < 0xC0) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  if (lead < 0xF8) return 4;
  return 1;
}

// Calls `whole` with `bytes` cut on character boundaries: a character that
// `pending` began is finished first, and one the piece cuts off at its end
// is kept in `pending` for the next call.
template <typename F>
void SplitOnCharacters(std::string& pending, std::string_view bytes, F&& whole) {
  if (!pending.empty()) {
    size_t need = SequenceLength(static_cast<unsigned char>(pending[0])) - pending.size();
    size_t take = std::min(need, bytes.size());
    pending.append(bytes.substr(0, take));
    bytes.remove_prefix(take);
    if (take < need) return;
    whole(std::string_view(pending));
    pending.clear();
  }
  size_t keep = 0;
  for (size_t back = 1; back <= 4 && back <= bytes.size(); ++back) {
    unsigned char b = static_cast<unsigned char>(bytes[bytes.size() - back]);
    if ((b & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    if (SequenceLength(b) > back) keep = back;
    break;
  }
  whole(bytes.substr(0, bytes.size() - keep));
  pending.assign(bytes.substr(bytes.size() - keep));
}

}  // namespace

void TextEncodingScan::Feed(std::string_view bytes) {
  if (first_.size() < kByteOrderMark.size()) first_.append(bytes.substr(0, kByteOrderMark.size() - first_.size()));
  if (!valid_) return;
  SplitOnCharacters(pending_, bytes, [this](std::string_view s) {
    if (valid_ && !formats::IsValidUtf8(s)) valid_ = false;
  });
}

TextEncoding TextEncodingScan::Result() const {
  if (!valid_ || !pending_.empty()) return TextEncoding::kCp1252;  // pending: cut off at the end
  return first_ == kByteOrderMark ? TextEncoding::kUtf8WithBom : TextEncoding::kUtf8;
}

TextDecoder::TextDecoder(TextEncoding encoding)
    : encoding_(encoding), bom_left_(encoding == TextEncoding::kUtf8WithBom ? kByteOrderMark.size() : 0) {}

std::string_view TextDecoder::Feed(std::string_view bytes) {
  size_t skip = std::min(bom_left_, bytes.size());
  bytes.remove_prefix(skip);
  bom_left_ -= skip;
  if (encoding_ == TextEncoding::kCp1252) {
    out_ = formats::Cp1252ToUtf8(bytes);  // every byte is a character of its own
    return out_;
  }
  out_.clear();
  SplitOnCharacters(pending_, bytes, [this](std::string_view s) { out_.append(s); });
  return out_;
}

std::string_view TextDecoder::Finish() {
  out_ = std::move(pending_);
  pending_.clear();
  return out_;
}

namespace {

// Appends `utf8` as XML-safe ASCII, escaping markup first when asked.
// Plain ASCII runs are copied whole: this is the hot loop of a conversion.
void AppendXmlAscii(std::string& out, std::string_view utf8, bool escape_markup) {
  size_t i = 0;
  while (i < utf8.size()) {
    size_t run = i;
    while (run < utf8.size()) {
      unsigned char b = utf8[run];
      if (b >= 0x7F || (b < 0x20 && b != '\t' && b != '\n' && b != '\r') ||
          (escape_markup && (b == '&' || b == '<' || b == '>')))
        break;
      ++run;
    }
    out.append(utf8.data() + i, run - i);
    if (run == utf8.size()) break;
    i = run;
    unsigned char b = utf8[i];
    if (b < 0x80) {
      if (const char* escape = formats::MarkupEscapeOf(static_cast<char>(b)))
        out += escape;
      else if (b == 0x7F)
        out += "&#127;";
      else
        out += ' ';  // a control character XML cannot carry
      ++i;
      continue;
    }
    // One multi-byte character (the text is valid UTF-8 here).
    int32_t c = formats::NextUtf8Char(utf8, i);
    if (c < 0 || c == 0xFFFE || c == 0xFFFF) {
      out += ' ';  // not characters XML can hold
      continue;
    }
    char ref[16];
    int n = std::snprintf(ref, sizeof ref, "&#%u;", static_cast<unsigned>(c));
    out.append(ref, static_cast<size_t>(n));
  }
}

// Output is handed to the sink once this much has gathered.
constexpr size_t kSendAt = 1 << 16;

}  // namespace

std::string XmlAscii(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + utf8.size() / 16);
  AppendXmlAscii(out, utf8, false);
  return out;
}

void DocumentWriter::Begin(const std::string& title, const std::string& author, const std::string& category,
                           const std::optional<std::string>& style_sheet) {
  auto line = [this](std::string_view s) {
    out_.append(s);
    out_.append("\r\n");
  };
  line("<?xml version=\"1.0\" ?>");
  line("<!DOCTYPE html PUBLIC \"+//ISBN 0-9673008-1-9//DTD OEB 1.0 Document//EN\" \"oebdoc1.dtd\">");
  line("<html>");
  line("<head>");
  line("<title>" + XmlAscii(title) + "</title>");
  line("<meta name=\"author\" content=\"" + XmlAscii(author) + "\"/>");
  line("<meta name=\"genre\" content=\"" + XmlAscii(category) + "\"/>");
  if (style_sheet) {
    line("<style type=\"text/css\">");
    ForEachLine(*style_sheet, [&](std::string_view s) { line(XmlAscii(s)); });
    line("</style>");
  }
  line("</head>");
  line("<body>");
  line("<p>");
  Send();
}

// CR LF, CR and LF all end a line, and a final line end adds no empty
// line; a line of nothing but spaces closes the paragraph.
void DocumentWriter::Text(std::string_view text) {
  size_t i = 0;
  const size_t size = text.size();
  while (i < size) {
    char c = text[i];
    if (after_cr_) {
      after_cr_ = false;
      if (c == '\n') {
        ++i;
        continue;
      }
    }
    if (c == '\n' || c == '\r') {
      EndLine();
      after_cr_ = c == '\r';
      ++i;
      continue;
    }
    in_line_ = true;
    if (!has_content_) {
      size_t start = i;
      while (i < size && text[i] == ' ') ++i;
      leading_spaces_ += i - start;
      if (i == size || text[i] == '\n' || text[i] == '\r') continue;
      has_content_ = true;
      while (leading_spaces_ > 0) {  // a line may begin with any number of them
        size_t n = std::min(leading_spaces_, kSendAt);
        out_.append(n, ' ');
        leading_spaces_ -= n;
        if (out_.size() >= kSendAt) Send();
      }
    }
    size_t stop = i;
    while (stop < size && text[stop] != '\n' && text[stop] != '\r') ++stop;
    AppendXmlAscii(out_, text.substr(i, stop - i), true);
    i = stop;
    if (out_.size() >= kSendAt) Send();
  }
  Send();
}

void DocumentWriter::EndLine() {
  out_.append(has_content_ ? "\r\n" : "</p><p>\r\n");
  in_line_ = has_content_ = false;
  leading_spaces_ = 0;
}

void DocumentWriter::End() {
  if (in_line_) EndLine();
  out_.append("</p>\r\n</body>\r\n</html>");
  Send();
}

void DocumentWriter::Send() {
  if (out_.empty()) return;
  sink_(out_);
  out_.clear();
}

std::string ConvertedDocument(std::string_view text, const std::string& title, const std::string& author,
                              const std::string& category, const std::optional<std::string>& style_sheet) {
  std::string out;
  out.reserve(text.size() + text.size() / 8 + 512);
  DocumentWriter writer([&out](std::string_view s) { out.append(s); });
  writer.Begin(title, author, category, style_sheet);
  writer.Text(text);
  writer.End();
  return out;
}

}  // namespace vellix
