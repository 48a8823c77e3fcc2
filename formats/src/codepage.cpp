#include "vellix/formats/codepage.h"

#include <unicode/utf8.h>

#include <algorithm>
#include <array>

#include "vellix/formats/error.h"

namespace vellix::formats {
namespace {

// Characters of bytes 0x80-0x9F; the rest of the code page is Latin-1.
constexpr std::array<char32_t, 32> kHighControls = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char32_t CharOf(unsigned char byte) { return (byte >= 0x80 && byte < 0xA0) ? kHighControls[byte - 0x80] : byte; }

// The byte that stands for `c`, or -1 when the code page lacks it.
int ByteOf(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
  for (size_t i = 0; i < kHighControls.size(); ++i)
    if (kHighControls[i] == c) return static_cast<int>(0x80 + i);
  return -1;
}

size_t AsciiPrefix(std::string_view s) {
  size_t n = 0;
  while (n < s.size() && static_cast<unsigned char>(s[n]) < 0x80) ++n;
  return n;
}

std::optional<std::string> Encode(std::string_view text, bool lossy) {
  std::string out;
  out.reserve(text.size());
  size_t i = AsciiPrefix(text);
  out.append(text.substr(0, i));
  while (i < text.size()) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    size_t start = i;
    UChar32 c = NextUtf8Char(text, i);
    int byte = c < 0 ? -1 : ByteOf(static_cast<char32_t>(c));
    if (byte < 0) {
      if (!lossy) return std::nullopt;
      out += '?';
      if (c < 0) i = start + 1;
      continue;
    }
    out += static_cast<char>(byte);
  }
  return out;
}

}  // namespace

int32_t NextUtf8Char(std::string_view s, size_t& i) {
  // One character is at most four bytes; ICU's int32_t indexes then fit
  // texts of any length.
  const auto* bytes = reinterpret_cast<const uint8_t*>(s.data() + i);
  int32_t length = static_cast<int32_t>(std::min<size_t>(s.size() - i, U8_MAX_LENGTH));
  int32_t at = 0;
  UChar32 c;
  U8_NEXT(bytes, at, length, c);
  i += static_cast<size_t>(at);
  return c;
}

void AppendUtf8(std::string& out, char32_t c) {
  uint8_t buffer[U8_MAX_LENGTH];
  int32_t length = 0;
  UBool error = false;
  U8_APPEND(buffer, length, U8_MAX_LENGTH, static_cast<UChar32>(c), error);
  if (!error) out.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(length));
}

std::string Cp1252ToUtf8(std::string_view bytes) {
  size_t ascii = AsciiPrefix(bytes);
  if (ascii == bytes.size()) return std::string(bytes);  // the common case
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  out.append(bytes.substr(0, ascii));
  for (unsigned char b : bytes.substr(ascii)) AppendUtf8(out, CharOf(b));
  return out;
}

std::optional<std::string> Utf8ToCp1252(std::string_view text) { return Encode(text, false); }

std::string Utf8ToCp1252Lossy(std::string_view text) { return *Encode(text, true); }

std::string ToCp1252OrRaise(std::string_view text) {
  auto bytes = Utf8ToCp1252(text);
  if (!bytes) Raise(kInvalidArgument);
  return *bytes;
}

std::optional<size_t> Cp1252Length(std::string_view text) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); ++count) {
    UChar32 c = NextUtf8Char(text, i);
    if (c < 0 || ByteOf(static_cast<char32_t>(c)) < 0) return std::nullopt;
  }
  return count;
}

size_t Utf8Length(std::string_view text) {
  size_t n = 0;
  for (size_t i = 0; i < text.size(); ++n) {
    size_t start = i;
    if (NextUtf8Char(text, i) < 0) i = start + 1;
  }
  return n;
}

bool IsValidUtf8(std::string_view text) {
  for (size_t i = AsciiPrefix(text); i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    if (NextUtf8Char(text, i) < 0) return false;
  }
  return true;
}

void RequireUtf8(std::string_view text, std::string_view what) {
  if (IsValidUtf8(text)) return;
  Raise(kInvalidArgument, "the " + std::string(what) + " is not valid UTF-8");
}

}  // namespace vellix::formats
