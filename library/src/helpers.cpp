#include "vellix/helpers.h"

#include <cerrno>
#include <utility>

#include "fileio.h"
#include "vellix/codepage.h"

namespace vellix {

std::string EscapeMarkup(std::string_view text) {
  if (text.find_first_of("&<>") == std::string_view::npos) return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string UnescapeMarkup(std::string_view text) {
  static constexpr std::pair<std::string_view, char> kEscapes[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}};
  if (text.find('&') == std::string_view::npos) return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    bool undone = false;
    for (const auto& [escape, c] : kEscapes) {
      if (text.substr(i, escape.size()) == escape) {
        out += c;
        i += escape.size();
        undone = true;
        break;
      }
    }
    if (!undone) out += text[i++];
  }
  return out;
}

std::string UInt16BE(uint16_t v) {
  return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
}

std::string UInt32BE(uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>((v >> 16) & 0xFF),
          static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)};
}

std::string FindResourceFile(const std::string& folder, std::string_view tag) {
  for (const std::string& name : ListFolder(folder, EntryKind::kFile)) {
    if (Utf8Length(name) != 4) continue;
    InputFile file(JoinPath(folder, name));
    std::string head = file.ReadUpTo(0, 6);
    if (head.size() == 6 && std::string_view(head).substr(2) == tag) return name;
  }
  return "";
}

}  // namespace vellix

#include <dlfcn.h>
#include <sys/random.h>

namespace vellix {

std::string NewGuidString() {
  unsigned char bytes[16];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return "";
    }
    got += static_cast<size_t>(n);
  }
  // A version 4 GUID: Data1..Data3 print as numbers, the last eight bytes
  // in storage order; with random bits both read the same.
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned char b : bytes) {
    text += kHex[b >> 4];
    text += kHex[b & 0x0F];
  }
  return text;
}

std::string LibraryFolder() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<const void*>(&LibraryFolder), &info) == 0 || !info.dli_fname)
    return ".";
  return ParentPart(info.dli_fname);
}

}  // namespace vellix
