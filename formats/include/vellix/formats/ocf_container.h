// The container of an EPUB book: a zip archive (read through libzip) with a
// "mimetype" entry, "META-INF/container.xml" naming the package document,
// and optionally "META-INF/encryption.xml".
//
// Opening reads and checks the whole archive at once, in memory: nothing is
// ever extracted to disk. An archive is refused, with a message that names
// the book and the entry at fault, when
// - its central directory cannot be read (a truncated or corrupt zip);
// - it holds more than `max_entries` entries;
// - an entry name is absolute ("/x", "C:x"), climbs out with "..", holds a
//   backslash, a control character or is empty, or repeats another name;
// - an entry is a symbolic link;
// - an entry expands past `max_entry_bytes`, or all of them together past
//   `max_total_bytes` (zip bombs: sizes are counted while inflating, so a
//   central directory that lies about them is caught too);
// - an entry is encrypted with zip's own encryption, or encryption.xml names
//   a resource encrypted otherwise than by font obfuscation ("is
//   encrypted"). Obfuscated fonts are left out of the container; the
//   device has fonts of its own.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vellix::formats {

struct OcfLimits {
  size_t max_entries = 10000;
  uint64_t max_entry_bytes = 64ull << 20;   // 64 MiB expanded
  uint64_t max_total_bytes = 256ull << 20;  // 256 MiB expanded, all entries together
  // Only the package document is inflated (with mimetype, container.xml
  // and encryption.xml): the other entries are checked by name and header
  // alone, and Read gives nullopt for them. Enough for a book's metadata.
  bool package_only = false;
};

class OcfContainer {
 public:
  // The package document's entry name ("OEBPS/content.opf").
  const std::string& PackagePath() const { return package_path_; }
  // The folder of the package document, with a trailing '/' ("" at the top).
  std::string PackageFolder() const;
  // The bytes of an entry by its exact name; nullopt when there is none
  // (folders, obfuscated fonts and missing names alike).
  std::optional<std::string_view> Read(const std::string& name) const;
  // Every entry kept, in archive order.
  const std::vector<std::string>& Names() const { return names_; }
  // Entries left out because encryption.xml marks them as obfuscated fonts.
  const std::set<std::string>& ObfuscatedFonts() const { return obfuscated_fonts_; }
  // The total of the kept entries' expanded sizes.
  uint64_t ExpandedBytes() const { return expanded_bytes_; }

 private:
  friend struct OcfReader;
  std::string package_path_;
  std::vector<std::string> names_;
  std::map<std::string, std::string, std::less<>> entries_;
  std::set<std::string> obfuscated_fonts_;
  uint64_t expanded_bytes_ = 0;
};

struct OcfOpenResult {
  std::unique_ptr<OcfContainer> container;  // null when refused
  std::string error;                        // why, naming the book (and entry)
  bool encrypted = false;                   // refused because it is encrypted
};

// Opens the EPUB at `path`. Never throws.
OcfOpenResult OpenOcfContainer(const std::string& path, const OcfLimits& limits = {});
// The same over the archive's bytes; `display_name` names the book in
// messages.
OcfOpenResult OpenOcfContainerFromBytes(std::string_view bytes, const std::string& display_name,
                                        const OcfLimits& limits = {});

// An EPUB container's bytes: "mimetype" first and stored, as readers
// require, then `entries` (name, bytes) deflated in the order given.
// Throws AutomationError when libzip fails.
std::string BuildOcfArchive(const std::vector<std::pair<std::string, std::string>>& entries);

// The font obfuscation methods of EPUB (the only encryption a book may
// carry and still be read).
bool IsFontObfuscation(std::string_view algorithm);

}  // namespace vellix::formats
