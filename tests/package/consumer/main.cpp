// Loads the shelf named on the command line and prints its titles, then
// creates a Builder through the toolkit's class registry.
#include <iostream>
#include <memory>

#include "ikpubx/builder.h"
#include "ikpubx/module.h"
#include "vellix/bookshelf.h"
#include "vellix/error.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  try {
    vellix::Bookshelf shelf;
    shelf.Load(argv[1]);
    if (!shelf.Books()) return 1;
    shelf.Sort();
    for (const auto& book : *shelf.Books()) std::cout << book->Title() << "\n";
  } catch (const vellix::formats::AutomationError& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  std::shared_ptr<ikpubx::IBuilder> builder;
  if (ikpubx::Failed(ikpubx::CreateObject(ikpubx::kBuilderIndependentProgId, &builder))) return 1;
  std::cout << "builder ready\n";
  return 0;
}
