#include "install.h"

#include <dlfcn.h>

#include <filesystem>

namespace vellix {

std::string LibraryFolder() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<const void*>(&LibraryFolder), &info) == 0 || !info.dli_fname) return ".";
  return std::filesystem::path(info.dli_fname).parent_path().string();
}

}  // namespace vellix
