// The library's global object: where the user keeps device books.
#pragma once

#include <string>

namespace vellix {

class Application {
 public:
  // The folder in the "Locations\DsK" setting; "" when unset or unreadable.
  static std::string DskDirectory();
  // The folder in the "Locations\BookShelf" setting; "" when unset or
  // unreadable. The folder is not checked.
  static std::string BookshelfDirectory();
};

}  // namespace vellix
