// Markup escaping of the text fields that device books store.
#pragma once

#include <string>
#include <string_view>

namespace vellix {

// "&" -> "&amp;", "<" -> "&lt;", ">" -> "&gt;"; everything else, quotes
// included, stays as it is.
std::string EscapeMarkup(std::string_view text);

}  // namespace vellix
