// Small helpers shared by the library's classes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vellix {

// "&" -> "&amp;", "<" -> "&lt;", ">" -> "&gt;"; everything else, quotes
// included, stays as it is.
std::string EscapeMarkup(std::string_view text);

// The readable text of a field stored escaped: undoes exactly what
// EscapeMarkup does, in one pass ("&amp;lt;" -> "&lt;"). Any other "&..."
// stays as it is. For showing fields to people; stored values keep their
// escapes.
std::string UnescapeMarkup(std::string_view text);

// The two (four) bytes of `v`, most significant first.
std::string UInt16BE(uint16_t v);
std::string UInt32BE(uint32_t v);

// The name of the first file in `folder` (in listing order) whose name has
// exactly four characters and whose bytes 2-5 equal `tag` exactly; "" when
// none does.
std::string FindResourceFile(const std::string& folder, std::string_view tag);

}  // namespace vellix

namespace vellix {

// A new GUID as 32 upper-case hexadecimal digits (no braces, no hyphens);
// "" when the system cannot supply random bits.
std::string NewGuidString();

// The folder the library was loaded from, where its installation files
// ("dtds/default.opf", the optional "default.css") live.
std::string LibraryFolder();

}  // namespace vellix
