// Markup escaping of the text fields that device books store.
#pragma once

#include <string>
#include <string_view>

namespace vellix::formats {

// The escape of a markup character ("&amp;", "&lt;", "&gt;"), or null for
// any other character.
inline const char* MarkupEscapeOf(char c) {
  return c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : nullptr;
}

// "&" -> "&amp;", "<" -> "&lt;", ">" -> "&gt;"; everything else, quotes
// included, stays as it is.
std::string EscapeMarkup(std::string_view text);

// The readable text of a field stored escaped: undoes exactly what
// EscapeMarkup does, in one pass ("&amp;lt;" -> "&lt;"). Any other "&..."
// stays as it is. For showing fields to people; stored values keep their
// escapes.
std::string UnescapeMarkup(std::string_view text);

// `text` appended to `out` as XML or HTML text or attribute value: "&",
// "<", ">", '"' and "'" escaped, and the C0 controls XML cannot carry
// (all but tab and line ends) as spaces.
void AppendEscapedXml(std::string& out, std::string_view text);
inline std::string EscapedXml(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  AppendEscapedXml(out, text);
  return out;
}

}  // namespace vellix::formats
