// Whether a UTF-8 path can be spelled in the 8-bit code page (Windows-1252).
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace ikpubx {

// The number of 8-bit characters `utf8` needs, or nothing when it is not
// valid UTF-8 or holds a character Windows-1252 lacks. The five bytes the
// code page leaves unassigned stand for U+0081, U+008D, U+008F, U+0090 and
// U+009D, as everywhere in the suite.
std::optional<size_t> Cp1252Length(std::string_view utf8);

}  // namespace ikpubx
