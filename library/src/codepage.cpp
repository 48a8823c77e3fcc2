#include "vellix/codepage.h"

#include <array>
#include <unordered_map>

#include "vellix/error.h"

namespace vellix {
namespace {

// Characters of bytes 0x80-0x9F; the rest of the code page is Latin-1.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char32_t CharOf(unsigned char byte) {
  return (byte >= 0x80 && byte < 0xA0) ? kHighControls[byte - 0x80] : byte;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

namespace {

// Decodes one code point at `i`; returns false on a malformed sequence.
bool DecodeUtf8(std::string_view s, size_t& i, char32_t& out) {
  unsigned char b = s[i];
  int extra;
  char32_t c;
  if (b < 0x80) { out = b; ++i; return true; }
  if (b >= 0xC2 && b < 0xE0) { extra = 1; c = b & 0x1F; }
  else if (b >= 0xE0 && b < 0xF0) { extra = 2; c = b & 0x0F; }
  else if (b >= 0xF0 && b < 0xF5) { extra = 3; c = b & 0x07; }
  else return false;
  if (i + extra >= s.size()) return false;
  for (int k = 1; k <= extra; ++k) {
    unsigned char t = s[i + k];
    if ((t & 0xC0) != 0x80) return false;
    c = (c << 6) | (t & 0x3F);
  }
  if ((extra == 2 && c < 0x800) || (extra == 3 && (c < 0x10000 || c > 0x10FFFF)) ||
      (c >= 0xD800 && c <= 0xDFFF))
    return false;
  i += extra + 1;
  out = c;
  return true;
}

}  // namespace

std::string Cp1252ToUtf8(std::string_view bytes) {
  size_t ascii = 0;
  while (ascii < bytes.size() && static_cast<unsigned char>(bytes[ascii]) < 0x80) ++ascii;
  if (ascii == bytes.size()) return std::string(bytes);  // the common case
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (unsigned char b : bytes) AppendUtf8(out, CharOf(b));
  return out;
}

namespace {

std::optional<std::string> Encode(std::string_view text, bool lossy) {
  static const std::unordered_map<char32_t, char> reverse = [] {
    std::unordered_map<char32_t, char> m;
    for (int b = 0x80; b < 0xA0; ++b) m[kHighControls[b - 0x80]] = static_cast<char>(b);
    return m;
  }();
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    unsigned char b = text[i];
    if (b < 0x80) { out += static_cast<char>(b); ++i; continue; }
    char32_t c;
    if (!DecodeUtf8(text, i, c)) {
      if (!lossy) return std::nullopt;
      out += '?';
      ++i;
      continue;
    }
    if (c >= 0xA0 && c <= 0xFF) {
      out += static_cast<char>(c);
    } else if (auto it = reverse.find(c); it != reverse.end()) {
      out += it->second;
    } else {
      if (!lossy) return std::nullopt;
      out += '?';
    }
  }
  return out;
}

}  // namespace

std::optional<std::string> Utf8ToCp1252(std::string_view text) { return Encode(text, false); }

std::string Utf8ToCp1252Lossy(std::string_view text) { return *Encode(text, true); }

std::string ToCp1252OrRaise(std::string_view text) {
  auto bytes = Utf8ToCp1252(text);
  if (!bytes) Raise(kInvalidArgument);
  return *bytes;
}

size_t Utf8Length(std::string_view text) {
  size_t n = 0;
  for (size_t i = 0; i < text.size();) {
    char32_t c;
    if (!DecodeUtf8(text, i, c)) ++i;
    ++n;
  }
  return n;
}

bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {  // ASCII runs, the common case
      ++i;
      continue;
    }
    char32_t c;
    if (!DecodeUtf8(text, i, c)) return false;
  }
  return true;
}

}  // namespace vellix
