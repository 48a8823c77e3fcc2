// Small text helpers of the library (ASCII only, as the formats need).
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vellix::formats {

inline char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

// The value of a hexadecimal digit, or -1.
inline int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Every "%XX" escape (two hexadecimal digits) as its byte; anything else,
// a "%" without two digits after it included, stays as written.
inline std::string PercentDecoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// Equal but for the case of ASCII letters.
inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

inline bool StartsWithIgnoringAsciiCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsIgnoringAsciiCase(s.substr(0, prefix.size()), prefix);
}

inline std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

// The blanks of HTML and CSS (space, tab, LF, CR, FF), and of XML.
inline constexpr std::string_view kAsciiBlanks = " \t\n\r\f";
inline constexpr std::string_view kXmlBlanks = " \t\n\r";

// `s` without the leading and trailing characters found in `blanks`.
inline std::string_view TrimAscii(std::string_view s, std::string_view blanks = kAsciiBlanks) {
  size_t b = s.find_first_not_of(blanks);
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(blanks) - b + 1);
}

inline std::string TrimmedAscii(std::string_view s, std::string_view blanks = kAsciiBlanks) {
  return std::string(TrimAscii(s, blanks));
}

// Removes leading and trailing spaces (only spaces, as the formats trim).
inline std::string TrimSpaces(std::string_view s) { return TrimmedAscii(s, " "); }

// The integer `s` starts with, after blanks and an optional sign, as
// markup writes numbers ("3", " +2", "-1px" give 3, 2, -1); nullopt when
// no digit follows or the number does not fit.
inline std::optional<int64_t> LeadingInteger(std::string_view s) {
  size_t i = s.find_first_not_of(kAsciiBlanks);
  if (i == std::string_view::npos) return std::nullopt;
  if (s[i] == '+' && i + 1 < s.size() && s[i + 1] != '-') ++i;
  int64_t value = 0;
  auto [end, error] = std::from_chars(s.data() + i, s.data() + s.size(), value);
  if (error != std::errc()) return std::nullopt;
  return value;
}

// `s` as a whole, when it is nothing but decimal digits that fit.
inline std::optional<uint64_t> DecimalNumber(std::string_view s) {
  if (s.empty() || s.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
  uint64_t value = 0;
  auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (error != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

}  // namespace vellix::formats
