// Where the library's installation files live.
#pragma once

#include <string>

namespace vellix {

// The folder the library was loaded from.
std::string LibraryFolder();

// Where the library's installation files ("dtds/default.opf", the optional
// "default.css") live: beside the library in a build tree, and in the
// installed data folder ("<prefix>/share/vellix") otherwise.
std::string DataFolder();

}  // namespace vellix
