// Rewrites a badly formed HTML file in place as well-formed XHTML (libtidy):
// the head's title and meta elements are kept, every character outside
// ASCII becomes a numeric character reference, and nothing is fetched.
#pragma once

#include <string>

namespace vellix {

// Returns false when the file could not be read or rewritten; the file is
// then unchanged.
bool CleanUpHtmlInPlace(const std::string& path);

}  // namespace vellix
