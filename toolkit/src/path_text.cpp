#include "path_text.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace ikpubx {
namespace {

// The characters that bytes 0x80-0x9F stand for.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool InCodePage(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return true;
  return std::find(kHighControls.begin(), kHighControls.end(), c) != kHighControls.end();
}

// Decodes one character at `i`; false on any invalid, overlong or
// surrogate form.
bool DecodeOne(std::string_view s, size_t& i, char32_t& out) {
  uint8_t lead = static_cast<uint8_t>(s[i]);
  if (lead < 0x80) {
    out = lead;
    ++i;
    return true;
  }
  size_t extra = 0;
  if ((lead & 0xE0) == 0xC0)
    extra = 1;
  else if ((lead & 0xF0) == 0xE0)
    extra = 2;
  else if ((lead & 0xF8) == 0xF0)
    extra = 3;
  else
    return false;
  if (s.size() - i <= extra) return false;
  char32_t c = lead & (0x3F >> extra);
  for (size_t k = 1; k <= extra; ++k) {
    uint8_t b = static_cast<uint8_t>(s[i + k]);
    if ((b & 0xC0) != 0x80) return false;
    c = (c << 6) | (b & 0x3F);
  }
  static constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  if (c < kSmallest[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
  out = c;
  i += extra + 1;
  return true;
}

}  // namespace

std::optional<size_t> Cp1252Length(std::string_view utf8) {
  size_t count = 0;
  for (size_t i = 0; i < utf8.size(); ++count) {
    char32_t c = 0;
    if (!DecodeOne(utf8, i, c) || !InCodePage(c)) return std::nullopt;
  }
  return count;
}

}  // namespace ikpubx
