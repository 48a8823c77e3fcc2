#include "vellix/formats/markup.h"

#include <utility>

namespace vellix::formats {

std::string EscapeMarkup(std::string_view text) {
  if (text.find_first_of("&<>") == std::string_view::npos) return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (const char* escape = MarkupEscapeOf(c))
      out += escape;
    else
      out += c;
  }
  return out;
}

void AppendEscapedXml(std::string& out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') ? ' ' : c;
    }
  }
}

std::string UnescapeMarkup(std::string_view text) {
  static constexpr std::pair<std::string_view, char> kEscapes[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}};
  if (text.find('&') == std::string_view::npos) return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    bool undone = false;
    for (const auto& [escape, c] : kEscapes) {
      if (text.substr(i, escape.size()) == escape) {
        out += c;
        i += escape.size();
        undone = true;
        break;
      }
    }
    if (!undone) out += text[i++];
  }
  return out;
}

}  // namespace vellix::formats
