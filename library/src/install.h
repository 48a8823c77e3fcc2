// Where the library's installation files live.
#pragma once

#include <string>

namespace vellix {

// The folder the library was loaded from, where its installation files
// ("dtds/default.opf", the optional "default.css") live.
std::string LibraryFolder();

}  // namespace vellix
