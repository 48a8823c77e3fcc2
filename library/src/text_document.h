// Plain text to an OEB XHTML document.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vellix {

// Text bytes as UTF-8: kept when they are valid UTF-8, else read as
// Windows-1252.
std::string DecodeText(std::string_view bytes);

// The text as ASCII the XML parser accepts: every character above 0x7E as
// a numeric character reference, characters XML cannot carry at all (C0
// controls other than TAB) as a space. Markup characters are left alone.
std::string XmlAscii(std::string_view utf8);

// The converted document for `text` (UTF-8), with the optional style sheet.
std::string ConvertedDocument(std::string_view text, const std::string& title,
                              const std::string& author, const std::string& category,
                              const std::optional<std::string>& style_sheet);

}  // namespace vellix
