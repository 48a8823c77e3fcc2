#include "vellix/formats/text_decoding.h"

#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <memory>
#include <vector>

#include "vellix/formats/ascii.h"
#include "vellix/formats/codepage.h"
#include "vellix/formats/xml.h"

namespace vellix::formats {
namespace {

constexpr size_t kMetaWindow = 1024;  // where browsers look for a <meta charset> too

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == ':';
}

// The charset of the first <meta> naming one, both as <meta charset="x">
// and as <meta http-equiv="Content-Type" content="text/html; charset=x">.
std::string MetaCharset(std::string_view bytes) {
  const std::string head = LowerAscii(bytes.substr(0, kMetaWindow));
  const std::string_view text(head);
  for (size_t at = text.find("<meta"); at != std::string_view::npos; at = text.find("<meta", at + 5)) {
    const std::string_view tag = text.substr(at, text.find('>', at) - at);
    for (size_t c = tag.find("charset"); c != std::string_view::npos; c = tag.find("charset", c + 7)) {
      size_t i = c + 7;
      while (i < tag.size() && IsSpace(tag[i])) ++i;
      if (i >= tag.size() || tag[i] != '=') continue;
      ++i;
      while (i < tag.size() && (IsSpace(tag[i]) || tag[i] == '"' || tag[i] == '\'')) ++i;
      size_t end = i;
      while (end < tag.size() && IsNameChar(tag[end])) ++end;
      if (end > i) return std::string(tag.substr(i, end - i));
    }
  }
  return "";
}

bool IsLatin1Family(std::string_view name) {
  return name == "iso-8859-1" || name == "latin1" || name == "l1" || name == "windows-1252" || name == "cp1252" ||
         name == "us-ascii" || name == "ascii" || name == "iso_8859-1";
}

bool IsUtf8(std::string_view name) { return name == "utf-8" || name == "utf8"; }

// Labels whose files, in practice, hold the wider code page of the same
// name: a GB2312 page often has GBK characters, an EUC-KR one Windows-949.
std::string_view WiderCodePage(std::string_view name) {
  if (name == "gb2312" || name == "gb_2312-80" || name == "csgb2312" || name == "x-gbk" || name == "chinese")
    return "gbk";
  if (name == "euc-kr" || name == "ks_c_5601-1987" || name == "korean" || name == "cseuckr") return "windows-949";
  if (name == "iso-8859-8-i") return "iso-8859-8";
  return name;
}

}  // namespace

std::string DetectMarkupEncoding(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return "utf-8";
  if (bytes.substr(0, 2) == "\xFF\xFE") return "utf-16le";
  if (bytes.substr(0, 2) == "\xFE\xFF") return "utf-16be";
  if (bytes.size() >= 2 && bytes[0] == '\0' && bytes[1] == '<') return "utf-16be";
  if (bytes.size() >= 2 && bytes[0] == '<' && bytes[1] == '\0') return "utf-16le";
  std::string declared = DeclaredXmlEncoding(bytes);
  return declared.empty() ? MetaCharset(bytes) : declared;
}

std::optional<std::string> ConvertToUtf8(std::string_view bytes, std::string_view name) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UConverter, decltype(&ucnv_close)> converter(ucnv_open(std::string(name).c_str(), &status),
                                                               &ucnv_close);
  if (U_FAILURE(status) || !converter) return std::nullopt;
  // No encoding ICU reads makes more than two UTF-16 units of a byte.
  std::vector<UChar> units(bytes.size() * 2 + 1);
  const int32_t length = ucnv_toUChars(converter.get(), units.data(), static_cast<int32_t>(units.size()), bytes.data(),
                                       static_cast<int32_t>(bytes.size()), &status);
  if (U_FAILURE(status)) return std::nullopt;
  std::string text;
  text.reserve(static_cast<size_t>(length) + static_cast<size_t>(length) / 2);
  for (int32_t i = 0; i < length;) {
    UChar32 c;
    U16_NEXT(units.data(), i, length, c);
    AppendUtf8(text, U_IS_SURROGATE(c) ? 0xFFFD : static_cast<char32_t>(c));
  }
  return text;
}

std::string DecodeMarkup(std::string_view bytes) {
  const std::string encoding = DetectMarkupEncoding(bytes);
  if (encoding == "utf-16le" || encoding == "utf-16be") {
    if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF") bytes.remove_prefix(2);
    return ConvertToUtf8(bytes, encoding).value_or(std::string());
  }
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  // A declaration of UTF-16 or UTF-32 over bytes that are neither is wrong:
  // the bytes are taken as they look.
  const bool wide = encoding.rfind("utf-16", 0) == 0 || encoding.rfind("utf-32", 0) == 0 ||
                    encoding.rfind("ucs-", 0) == 0 || encoding == "unicode";
  if (!encoding.empty() && !IsUtf8(encoding) && !IsLatin1Family(encoding) && !wide)
    if (std::optional<std::string> text = ConvertToUtf8(bytes, WiderCodePage(encoding))) return *std::move(text);
  if (!IsLatin1Family(encoding) && IsValidUtf8(bytes)) return std::string(bytes);
  return Cp1252ToUtf8(bytes);
}

}  // namespace vellix::formats
