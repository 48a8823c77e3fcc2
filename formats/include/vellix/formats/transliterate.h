// Text for the device's single-byte strings (a book's title and author):
// what Windows-1252 lacks is written in Latin letters rather than lost.
#pragma once

#include <string>
#include <string_view>

namespace vellix::formats {

// `text` (UTF-8) with each run of characters Windows-1252 lacks
// transliterated by ICU ("Any-Latin; Latin-ASCII": "Пушкин" -> "Pushkin",
// "東京" -> "dong jing"); characters it keeps are left as they are, and what
// even the transliteration cannot write stays for the code page's "?".
// Invalid UTF-8 is returned unchanged.
std::string TransliteratedForCp1252(std::string_view text);

}  // namespace vellix::formats
