// Documents in the encoding their authors saved them in. Inside the suite
// text is UTF-8; a document says what it is by its byte order mark, its XML
// declaration or an HTML <meta> naming a charset, and is converted once, as
// it is read.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vellix::formats {

// The encoding `bytes` show or declare, lower case: "utf-8", "utf-16le" or
// "utf-16be" from a byte order mark or, without one, from a first "<" of
// two bytes; otherwise the name in the XML declaration or in a <meta> of the
// first 1024 bytes. Empty when nothing says.
std::string DetectMarkupEncoding(std::string_view bytes);

// `bytes` in the encoding called `name` (any name or alias ICU knows) as
// UTF-8; bytes the encoding cannot map become U+FFFD. Nothing when the name
// is unknown.
std::optional<std::string> ConvertToUtf8(std::string_view bytes, std::string_view name);

// A markup document as UTF-8, without its byte order mark: converted from
// the encoding it shows or declares; with none, or one nobody knows, kept
// when it is valid UTF-8 and read as Windows-1252 when not. Never fails.
std::string DecodeMarkup(std::string_view bytes);

}  // namespace vellix::formats
