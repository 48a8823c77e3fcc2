#include "http_text.h"

#include <cstdio>

#include "vellix/formats/ascii.h"
#include "vellix/formats/markup.h"

namespace vellix::server {

std::string EscapeHtml(std::string_view text) { return formats::EscapedXml(text); }

std::string EncodeUrlPart(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string PercentDecode(std::string_view text) { return formats::PercentDecoded(text); }

std::string EntityTag(uint64_t size, int64_t mtime_ns, uint64_t inode) {
  char text[80];
  std::snprintf(text, sizeof text, "\"%llx-%llx-%llx\"", static_cast<unsigned long long>(size),
                static_cast<unsigned long long>(mtime_ns), static_cast<unsigned long long>(inode));
  return text;
}

std::string HttpDate(std::time_t when) {
  std::tm utc{};
  gmtime_r(&when, &utc);
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
  return text;
}

std::time_t ParseHttpDate(const std::string& text) {
  std::tm utc{};
  const char* end = strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &utc);
  if (!end || *end) return -1;
  return timegm(&utc);
}

std::string LogTime(std::time_t when) {
  std::tm utc{};
  gmtime_r(&when, &utc);
  char text[64];
  std::strftime(text, sizeof text, "[%d/%b/%Y:%H:%M:%S +0000]", &utc);
  return text;
}

bool ConstantTimeEquals(std::string_view a, std::string_view b) {
  // The length is no secret worth hiding; the content is.
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

}  // namespace vellix::server
