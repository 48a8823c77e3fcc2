#include "binary.h"

#include <filesystem>

#include "vellix/formats/codepage.h"
#include "vellix/formats/file_io.h"

namespace vellix::formats {

std::string UInt16BE(uint16_t v) { return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)}; }

std::string UInt32BE(uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>((v >> 16) & 0xFF), static_cast<char>((v >> 8) & 0xFF),
          static_cast<char>(v & 0xFF)};
}

std::string FindResourceFile(const std::string& folder, std::string_view tag) {
  for (const std::string& name : ListFolder(folder, EntryKind::kFile)) {
    if (Utf8Length(name) != 4) continue;
    InputFile file((std::filesystem::path(folder) / name).string());
    std::string head = file.ReadUpTo(0, 6);
    if (head.size() == 6 && std::string_view(head).substr(2) == tag) return name;
  }
  return "";
}

}  // namespace vellix::formats
