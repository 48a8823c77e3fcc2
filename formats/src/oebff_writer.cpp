#include "vellix/formats/oebff_writer.h"

#include "vellix/formats/ascii.h"
#include "vellix/formats/oebff_parser.h"

namespace vellix::formats {
namespace {

std::string Delimiter() { return std::string("\r\n--") + kOEBFFBoundary + "\r\n"; }

bool EscapeAt(std::string_view text, size_t i) {
  return text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0;
}

// Bytes that cannot stand for themselves inside the quoted href: the reader
// refuses most of them, turns CR, LF and TAB into spaces, and would end the
// string at the quote.
bool NeedsEscape(unsigned char c) { return c < 0x20 || c > 0x7E || c == '"' || c == '\\'; }

}  // namespace

bool OEBFFIsHeaderToken(std::string_view value) {
  if (value.empty()) return false;
  for (char c : value)
    if (!OEBFFIsNameByte(static_cast<uint8_t>(c))) return false;
  return true;
}

std::string OEBFFEncodeHref(std::string_view href) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  bool only_spaces = !href.empty() && href.find_first_not_of(' ') == std::string_view::npos;
  std::string out;
  out.reserve(href.size());
  for (size_t i = 0; i < href.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(href[i]);
    if (NeedsEscape(c) || (c == '%' && !EscapeAt(href, i)) || (c == ' ' && only_spaces)) {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

std::string OEBFFDecodeHref(std::string_view href) { return PercentDecoded(href); }

std::string OEBFFBodyDelimiter() { return std::string("\r\n--") + kOEBFFBoundary; }

std::string OEBFFContainerHeader() {
  return std::string("MIME-Version: 1.0\r\n") +
         "Content-Type: multipart/related;\r\n"
         "\ttype=\"application/x-oeb1\";\r\n"
         "\tstart=\"" +
         kOEBFFStart +
         "\";\r\n"
         "\tboundary=\"" +
         kOEBFFBoundary + "\"\r\n";
}

std::string OEBFFPackagePartHeader() {
  return Delimiter() + "Content-Type: text/xml\r\nContent-ID: " + kOEBFFStart + "\r\n\r\n";
}

std::string OEBFFFilePartHeader(std::string_view content_type, std::string_view oeb_id, std::string_view href) {
  std::string text = Delimiter();
  text.append("Content-Type: ").append(content_type).append("\r\n");
  text.append("Content-OEB-ID: ").append(oeb_id).append("\r\n");
  text.append("Content-Disposition: href=\"").append(OEBFFEncodeHref(href)).append("\"\r\n");
  text.append("Content-Transfer-Encoding: binary\r\n\r\n");
  return text;
}

std::string OEBFFContainerFooter() { return std::string("\r\n--") + kOEBFFBoundary + "--\r\n"; }

}  // namespace vellix::formats
