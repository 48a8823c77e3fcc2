#include "vellix/formats/markup.h"

namespace vellix {

std::string EscapeMarkup(std::string_view text) {
  if (text.find_first_of("&<>") == std::string_view::npos) return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace vellix
