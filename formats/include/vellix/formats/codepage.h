// The 8-bit code page of the device formats and exports: Windows-1252.
//
// Inside the suite text is UTF-8. Every byte of the code page maps to one
// character (the five unassigned bytes to U+0081, U+008D, U+008F, U+0090,
// U+009D), so bytes -> text -> bytes is exact.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vellix::formats {

// Single-byte text to UTF-8. Never fails.
std::string Cp1252ToUtf8(std::string_view bytes);

// UTF-8 to single-byte text. Returns nothing when the text is not valid
// UTF-8 or holds a character the code page lacks.
std::optional<std::string> Utf8ToCp1252(std::string_view text);

// As above, but characters the code page lacks (and invalid bytes) become "?".
std::string Utf8ToCp1252Lossy(std::string_view text);

// As above, but throws AutomationError 5 when the text cannot be converted.
std::string ToCp1252OrRaise(std::string_view text);

// Number of characters in UTF-8 text (code points); invalid bytes count one each.
size_t Utf8Length(std::string_view text);

bool IsValidUtf8(std::string_view text);

// Throws AutomationError 5 ("... : the <what> is not valid UTF-8") unless
// `text` is valid UTF-8. For text handed in by a caller, which is never
// repaired: a guess would write characters nobody typed.
void RequireUtf8(std::string_view text, std::string_view what);

// The number of 8-bit characters `text` needs, or nothing when it is not
// valid UTF-8 or holds a character the code page lacks.
std::optional<size_t> Cp1252Length(std::string_view text);

// The one UTF-8 decoder of the suite: the character at `i`, moving `i`
// past it; a negative value for a malformed, overlong or surrogate
// sequence (then `i` moves past its longest valid-looking prefix).
int32_t NextUtf8Char(std::string_view text, size_t& i);

// Appends the UTF-8 form of one character (nothing for a surrogate or a
// value past U+10FFFF).
void AppendUtf8(std::string& out, char32_t c);

}  // namespace vellix::formats
