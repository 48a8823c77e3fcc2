// Builds device books byte by byte for tests, benchmarks, fuzz seeds and
// the sample bookshelf. It shares no code with the library's writer, so a
// fault in one is not hidden by the same fault in the other.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vellix::fixtures {

std::string U16(uint16_t v);
std::string U32(uint32_t v);

// The seven information strings (raw single-byte text).
struct Info {
  std::string id = "ID42";
  std::string category = "Fiction";
  std::string third{};
  std::string title = "A Title";
  std::string author_last = "Writer";
  std::string author_middle{};
  std::string author_first = "Some";
  std::string Strings() const;  // seven strings, each ended by NUL
};

// RSRC.INF: 12 uninterpreted bytes, 24 carried bytes (0x01..0x18), the
// information strings, then `trailing`.
std::string RsrcInf(const Info& info, const std::string& trailing = "");
std::string CarriedBytes();

// A resource file: format word, four-byte tag, then `body`.
std::string Resource(uint16_t format, const std::string& tag, const std::string& body);

// A string resource holding one string `id` (layout as the library writes).
std::string StringResource(const std::string& text, uint16_t id = 128);

// Source data of a periodical: "<source>:<type>:" + marker 00 00 00 02 +
// issue + feed id + NUL. No issue gives FF FF FF FF.
std::string SourceRecord(const std::string& source, const std::string& type, std::optional<uint32_t> issue,
                         const std::string& feed);

struct Entry {
  std::string name;  // four bytes; "    " for the data fork
  std::string tag;   // four bytes
  std::string data;
};

// A whole book file: header, information area (carried bytes + strings),
// folder name, directory, data blocks.
std::string BookFile(const std::string& info_area, const std::string& folder_name, const std::vector<Entry>& entries);
// A book file whose information area is CarriedBytes() + info.Strings(),
// with an optional RSRC string resource holding `source_record`.
std::string SimpleBookFile(const Info& info, const std::string& source_record = "",
                           const std::string& data_fork = "fork");

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

// A book folder: RSRC.INF, DATA.FRK and the given resource files.
void MakeBookFolder(const std::string& path, const std::string& rsrc_inf, const std::string& data_fork,
                    const std::vector<std::pair<std::string, std::string>>& resources = {});

}  // namespace vellix::fixtures
