// Any manifest: the container is written whole or not at all, never holds
// a byte from outside the package's folder, and leaves no stray files.
#include <cstdint>
#include <filesystem>

#include "vellix/formats/file_io.h"
#include "fuzz_common.h"
#include "vellix/book.h"
#include "vellix/error.h"
#include "vellix/formats/oebff_writer.h"

namespace {

const std::string kFooter = vellix::OEBFFContainerFooter();
// A NUL inside: no header line (attribute text) can ever hold it.
const std::string kSecret("OUTSIDE\0SECRET", 14);

size_t Entries(const std::string& folder) {
  size_t n = 0;
  for (auto it = std::filesystem::recursive_directory_iterator(folder);
       it != std::filesystem::recursive_directory_iterator(); ++it)
    ++n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace fs = std::filesystem;
  const std::string root = fuzz::Scratch();
  const std::string folder = root + "/pkg";
  static bool once = [&] {
    fs::create_directories(folder + "/sub");
    fuzz::WriteBytes(root + "/secret.txt", reinterpret_cast<const uint8_t*>(kSecret.data()), kSecret.size());
    fuzz::WriteBytes(folder + "/a.htm", reinterpret_cast<const uint8_t*>("<html/>\r\n"), 9);
    fuzz::WriteBytes(folder + "/sub/b.gif", reinterpret_cast<const uint8_t*>("GIF"), 3);
    fs::create_symlink(root + "/secret.txt", folder + "/link.txt");
    return true;
  }();
  (void)once;
  std::string package = "<?xml version=\"1.0\"?>\n<package><manifest>" +
                        std::string(reinterpret_cast<const char*>(data), size) + "</manifest></package>";
  fuzz::WriteBytes(folder + "/book.opf", reinterpret_cast<const uint8_t*>(package.data()), package.size());
  fs::remove(folder + "/book.oeb");
  size_t before = Entries(root);
  try {
    vellix::Book().BuildOEBFile("book", folder);
  } catch (const vellix::AutomationError& e) {
    if (fs::exists(folder + "/book.oeb")) fuzz::Fail("fuzz_oebff_writer", "a failed build left a container");
    if (Entries(root) != before) fuzz::Fail("fuzz_oebff_writer", "a failed build left a file");
    return 0;
  }
  std::string container = vellix::ReadWholeFile(folder + "/book.oeb");
  if (container.rfind("MIME-Version: 1.0\r\n", 0) != 0 || container.size() < kFooter.size() ||
      container.compare(container.size() - kFooter.size(), kFooter.size(), kFooter) != 0)
    fuzz::Fail("fuzz_oebff_writer", "the container is not whole");
  // The package itself (the first part) is the fuzzed text; look after it.
  size_t package_end = container.find("packageIKL2000\r\n\r\n") + 18 + package.size();
  if (container.find(kSecret, package_end) != std::string::npos)
    fuzz::Fail("fuzz_oebff_writer", "a file from outside the package folder was read");
  if (Entries(root) != before + 1) fuzz::Fail("fuzz_oebff_writer", "a stray file was left");
  return 0;
}
