// Any manifest: the container is written whole or not at all, never holds
// a byte from outside the package's folder, and leaves no stray files; and
// every container written reads back through the toolkit's reader with one
// part per manifest element, each body the file's bytes and each href the
// manifest's, once both are percent-decoded.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <vector>

#include "fuzz_common.h"
#include "ikpubx/oebff_reader.h"
#include "vellix/book.h"
#include "vellix/error.h"
#include "vellix/formats/file_io.h"
#include "vellix/formats/oebff_writer.h"
#include "vellix/formats/xml.h"

namespace {

const std::string kFooter = vellix::formats::OEBFFContainerFooter();
// A NUL inside: no header line (attribute text) can ever hold it.
const std::string kSecret("OUTSIDE\0SECRET", 14);

size_t Entries(const std::string& folder) {
  size_t n = 0;
  for (auto it = std::filesystem::recursive_directory_iterator(folder);
       it != std::filesystem::recursive_directory_iterator(); ++it)
    ++n;
  return n;
}

// The bytes a part of the container holds.
std::string Body(const std::string& container, const vellix::formats::OEBFFNode& part) {
  return container.substr(static_cast<size_t>(part.BodyStart()),
                          static_cast<size_t>(part.BodyEnd() - 1 - part.BodyStart()));
}

// What a file reads back as: a final CR LF counts as part of the delimiter.
std::string ReadBackOf(std::string bytes) {
  if (bytes.size() >= 2 && bytes.compare(bytes.size() - 2, 2, "\r\n") == 0) bytes.resize(bytes.size() - 2);
  return bytes;
}

std::string HrefOf(const vellix::formats::OEBFFNode& part) {
  std::string name, value;
  for (int32_t i = 0; i < part.ChildCount(); ++i) {
    const vellix::formats::OEBFFNode& field = *part.Child(i);
    if (field.Name() != "Content-Disposition") continue;
    for (int32_t a = 0; field.Attribute(a, &name, &value); ++a)
      if (name == "href") return value;
  }
  fuzz::Fail("fuzz_oebff_writer", "a part has no href");
}

// Reads the written container back and checks it against the package.
void CheckRoundTrip(const std::string& folder, const std::string& package, const std::vector<std::string>& skipped) {
  const std::string path = folder + "/book.oeb";
  ikpubx::OEBFFReader reader(path);
  if (reader.Failed()) fuzz::Fail("fuzz_oebff_writer", "the reader refused a written container");
  std::vector<std::string> hrefs;
  vellix::formats::XmlDocument doc;
  vellix::formats::LoadXmlText(package, doc);  // as the writer reads the package
  if (doc.parsed)
    for (pugi::xml_node item : doc.Root().child("manifest").children())
      if (item.type() == pugi::node_element) hrefs.push_back(item.attribute("href").value());
  if (reader.PartCount() != static_cast<int32_t>(hrefs.size() + 1))
    fuzz::Fail("fuzz_oebff_writer", "not one part per manifest element");
  std::string container = vellix::formats::ReadWholeFile(path);
  if (Body(container, *reader.Part(0)) != package) fuzz::Fail("fuzz_oebff_writer", "the package part differs");
  for (size_t i = 0; i < hrefs.size(); ++i) {
    const vellix::formats::OEBFFNode& part = *reader.Part(static_cast<int32_t>(i + 1));
    if (vellix::formats::OEBFFDecodeHref(HrefOf(part)) != vellix::formats::OEBFFDecodeHref(hrefs[i]))
      fuzz::Fail("fuzz_oebff_writer", "an href reads back differently");
    // A skipped href (one leading out of the folder) and a missing file
    // frame an empty body.
    std::string expected;
    const std::string file = folder + "/" + hrefs[i];
    if (std::find(skipped.begin(), skipped.end(), hrefs[i]) == skipped.end() && vellix::formats::IsFile(file))
      expected = ReadBackOf(vellix::formats::ReadWholeFile(file));
    if (Body(container, part) != expected) fuzz::Fail("fuzz_oebff_writer", "a body differs from its file");
  }
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
    // Names an href can only carry percent-encoded, and a file that holds
    // the part delimiter (the writer refuses it).
    for (const char* name : {"caf\xC3\xA9.htm", "a b.htm", "q\"uote.htm", "50%.htm", "cr\r\nlf.htm"})
      fuzz::WriteBytes(folder + "/" + name, reinterpret_cast<const uint8_t*>(name), std::strlen(name));
    const std::string delimiter = vellix::formats::OEBFFBodyDelimiter();
    fuzz::WriteBytes(folder + "/delimiter.txt", reinterpret_cast<const uint8_t*>(delimiter.data()), delimiter.size());
    return true;
  }();
  (void)once;
  std::string package = "<?xml version=\"1.0\"?>\n<package><manifest>" +
                        std::string(reinterpret_cast<const char*>(data), size) + "</manifest></package>";
  fuzz::WriteBytes(folder + "/book.opf", reinterpret_cast<const uint8_t*>(package.data()), package.size());
  fs::remove(folder + "/book.oeb");
  size_t before = Entries(root);
  std::vector<std::string> skipped;
  try {
    skipped = vellix::Book().BuildOEBFile("book", folder);
  } catch (const vellix::formats::AutomationError& e) {
    if (fs::exists(folder + "/book.oeb")) fuzz::Fail("fuzz_oebff_writer", "a failed build left a container");
    if (Entries(root) != before) fuzz::Fail("fuzz_oebff_writer", "a failed build left a file");
    return 0;
  }
  std::string container = vellix::formats::ReadWholeFile(folder + "/book.oeb");
  if (container.rfind("MIME-Version: 1.0\r\n", 0) != 0 || container.size() < kFooter.size() ||
      container.compare(container.size() - kFooter.size(), kFooter.size(), kFooter) != 0)
    fuzz::Fail("fuzz_oebff_writer", "the container is not whole");
  // The package itself (the first part) is the fuzzed text; look after it.
  size_t package_end = container.find("packageIKL2000\r\n\r\n") + 18 + package.size();
  if (container.find(kSecret, package_end) != std::string::npos)
    fuzz::Fail("fuzz_oebff_writer", "a file from outside the package folder was read");
  if (Entries(root) != before + 1) fuzz::Fail("fuzz_oebff_writer", "a stray file was left");
  CheckRoundTrip(folder, package, skipped);
  return 0;
}
