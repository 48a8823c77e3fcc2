#include "text_document.h"

#include "vellix/codepage.h"
#include "vellix/helpers.h"

namespace vellix {
namespace {

// Calls `line` for each line of `text`; CR LF, CR and LF all end a line,
// and a final line end adds no empty line.
template <typename F>
void ForEachLine(std::string_view text, F&& line) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      line(text.substr(start));
      return;
    }
    line(text.substr(start, end - start));
    start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
}

bool IsBlank(std::string_view line) { return line.find_first_not_of(' ') == std::string_view::npos; }

}  // namespace

std::string DecodeText(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF" && IsValidUtf8(bytes)) return std::string(bytes.substr(3));
  return IsValidUtf8(bytes) ? std::string(bytes) : Cp1252ToUtf8(bytes);
}

std::string XmlAscii(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + utf8.size() / 16);
  for (size_t i = 0; i < utf8.size();) {
    unsigned char b = utf8[i];
    if (b < 0x80) {
      if (b == 0x7F) out += "&#127;";
      else if (b < 0x20 && b != '\t' && b != '\n' && b != '\r') out += ' ';
      else out += static_cast<char>(b);
      ++i;
      continue;
    }
    // Decode one multi-byte character (the text is valid UTF-8 here).
    int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
    char32_t c = b & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < utf8.size(); ++k)
      c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += static_cast<size_t>(extra) + 1;
    if (c == 0xFFFE || c == 0xFFFF) {
      out += ' ';  // not characters XML can hold
      continue;
    }
    out += "&#" + std::to_string(static_cast<uint32_t>(c)) + ";";
  }
  return out;
}

std::string ConvertedDocument(std::string_view text, const std::string& title,
                              const std::string& author, const std::string& category,
                              const std::optional<std::string>& style_sheet) {
  std::string out;
  out.reserve(text.size() + text.size() / 8 + 512);
  auto line = [&out](std::string_view s) {
    out.append(s);
    out.append("\r\n");
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
  ForEachLine(text, [&](std::string_view s) {
    if (IsBlank(s)) line("</p><p>");
    else line(XmlAscii(EscapeMarkup(s)));
  });
  line("</p>");
  line("</body>");
  out.append("</html>");
  return out;
}

}  // namespace vellix
