#include "install.h"

#include <dlfcn.h>

#include <filesystem>

namespace vellix {

std::string LibraryFolder() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<const void*>(&LibraryFolder), &info) == 0 || !info.dli_fname) return ".";
  return std::filesystem::path(info.dli_fname).parent_path().string();
}

std::string DataFolder() {
  const std::filesystem::path library = LibraryFolder();
  std::error_code ec;
  if (std::filesystem::is_directory(library / "dtds", ec)) return library.string();
#ifdef VELLIX_DATA_FROM_LIBRARY
  // Installed: the data folder, found relative to the library so that the
  // whole tree may be moved (a package unpacked somewhere else).
  return (library / VELLIX_DATA_FROM_LIBRARY).lexically_normal().string();
#else
  return library.string();
#endif
}

}  // namespace vellix
