#include "text_document.h"

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

bool IsBlank(std::string_view line) { return line.find_first_not_of(' ') == std::string_view::npos; }

}  // namespace

std::string DecodeText(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF" && IsValidUtf8(bytes)) return std::string(bytes.substr(3));
  return IsValidUtf8(bytes) ? std::string(bytes) : Cp1252ToUtf8(bytes);
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
      switch (b) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case 0x7F: out += "&#127;"; break;
        default: out += ' ';  // a control character XML cannot carry
      }
      ++i;
      continue;
    }
    // One multi-byte character (the text is valid UTF-8 here).
    int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
    char32_t c = b & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < utf8.size(); ++k)
      c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += static_cast<size_t>(extra) + 1;
    if (c == 0xFFFE || c == 0xFFFF) {
      out += ' ';  // not characters XML can hold
      continue;
    }
    char ref[16];
    int n = std::snprintf(ref, sizeof ref, "&#%u;", static_cast<unsigned>(c));
    out.append(ref, static_cast<size_t>(n));
  }
}

}  // namespace

std::string XmlAscii(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + utf8.size() / 16);
  AppendXmlAscii(out, utf8, false);
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
    if (IsBlank(s)) {
      line("</p><p>");
    } else {
      AppendXmlAscii(out, s, true);
      out.append("\r\n");
    }
  });
  line("</p>");
  line("</body>");
  out.append("</html>");
  return out;
}

}  // namespace vellix
