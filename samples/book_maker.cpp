#include "book_maker.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vellix::fixtures {

std::string U16(uint16_t v) { return {char(v >> 8), char(v & 0xFF)}; }

std::string U32(uint32_t v) { return {char(v >> 24), char((v >> 16) & 0xFF), char((v >> 8) & 0xFF), char(v & 0xFF)}; }

std::string Info::Strings() const {
  std::string out;
  for (const std::string* s : {&id, &category, &third, &title, &author_last, &author_middle, &author_first}) {
    out += *s;
    out += '\0';
  }
  return out;
}

std::string CarriedBytes() {
  std::string out;
  for (int i = 1; i <= 24; ++i) out += char(i);
  return out;
}

std::string RsrcInf(const Info& info, const std::string& trailing) {
  return std::string("INFHEADER\xEE\xEE\xEE", 12) + CarriedBytes() + info.Strings() + trailing;
}

std::string Resource(uint16_t format, const std::string& tag, const std::string& body) {
  return U16(format) + tag + body;
}

std::string StringResource(const std::string& text, uint16_t id) {
  uint32_t n = static_cast<uint32_t>(text.size());
  std::string out = U16(1) + "RSRC" + std::string(4, '\0') + U32(32 + n) + std::string(18, '\0');
  out += text;
  out += U16(id) + U32(n) + U32(32) + std::string(2, '\0');
  return out;
}

std::string SourceRecord(const std::string& source, const std::string& type, std::optional<uint32_t> issue,
                         const std::string& feed) {
  return source + ":" + type + ":" + std::string("\x10\x20", 2) + std::string("\0\0\0\x02", 4) +
         U32(issue.value_or(0xFFFFFFFFu)) + feed + std::string(1, '\0') + "tail";
}

std::string BookFile(const std::string& info_area, const std::string& folder_name, const std::vector<Entry>& entries) {
  std::string out = U16(2) + "BOOKVREN" + std::string(8, '\0');
  out += U16(static_cast<uint16_t>(entries.size()));
  out += U16(static_cast<uint16_t>(folder_name.size()));
  out += U16(static_cast<uint16_t>(info_area.size()));
  out += info_area + folder_name;
  auto header = [](const Entry& e) {
    return e.name + std::string(4, '\0') + U32(static_cast<uint32_t>(e.data.size())) + e.tag + std::string(4, '\0');
  };
  for (const Entry& e : entries) out += header(e);
  for (const Entry& e : entries) out += header(e) + e.data;
  return out;
}

std::string SimpleBookFile(const Info& info, const std::string& source_record, const std::string& data_fork) {
  std::vector<Entry> entries = {{"    ", "    ", data_fork}};
  if (!source_record.empty()) entries.push_back({"SRCR", "RSRC", StringResource(source_record)});
  return BookFile(CarriedBytes() + info.Strings(), "BOOK.RES", entries);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void MakeBookFolder(const std::string& path, const std::string& rsrc_inf, const std::string& data_fork,
                    const std::vector<std::pair<std::string, std::string>>& resources) {
  std::filesystem::create_directories(path);
  WriteFile(path + "/RSRC.INF", rsrc_inf);
  WriteFile(path + "/DATA.FRK", data_fork);
  for (const auto& [name, bytes] : resources) WriteFile(path + "/" + name, bytes);
}

}  // namespace vellix::fixtures
