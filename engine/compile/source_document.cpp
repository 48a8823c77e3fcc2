#include "source_document.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

#include "vellix/formats/ascii.h"
#include "vellix/formats/text_decoding.h"

namespace ikutil {
namespace {

// No line-end conversion: offsets inside text stay those of the file, and
// the compiler folds "\r\n" itself. White-space-only text is kept, as it
// separates words between inline elements.
constexpr unsigned kParseFlags =
    pugi::parse_cdata | pugi::parse_escapes | pugi::parse_wconv_attribute | pugi::parse_ws_pcdata;

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// HTML's Latin-1 entities, U+00A0 to U+00FF in order.
constexpr std::array<std::string_view, 96> kLatin1Entities = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",   "ordf",
    "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",   "sup3",   "acute",  "micro",
    "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave",
    "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",
    "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",
    "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",  "agrave", "aacute",
    "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil", "egrave", "eacute", "ecirc",  "euml",   "igrave",
    "iacute", "icirc",  "iuml",   "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide",
    "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};

constexpr std::pair<std::string_view, uint32_t> kOtherEntities[] = {
    {"ensp", 0x2002},   {"emsp", 0x2003},   {"thinsp", 0x2009}, {"ndash", 0x2013}, {"mdash", 0x2014},
    {"lsquo", 0x2018},  {"rsquo", 0x2019},  {"sbquo", 0x201A},  {"ldquo", 0x201C}, {"rdquo", 0x201D},
    {"bdquo", 0x201E},  {"dagger", 0x2020}, {"Dagger", 0x2021}, {"bull", 0x2022},  {"hellip", 0x2026},
    {"permil", 0x2030}, {"lsaquo", 0x2039}, {"rsaquo", 0x203A}, {"euro", 0x20AC},  {"trade", 0x2122},
    {"OElig", 0x152},   {"oelig", 0x153},   {"Scaron", 0x160},  {"scaron", 0x161}, {"Yuml", 0x178},
    {"fnof", 0x192},    {"circ", 0x2C6},    {"tilde", 0x2DC},   {"zwnj", 0x200C},  {"zwj", 0x200D},
};

bool HasOneDocumentElement(const pugi::xml_document& dom, pugi::xml_node& extra) {
  int elements = 0;
  for (pugi::xml_node n : dom.children()) {
    if (n.type() == pugi::node_element && ++elements > 1) {
      extra = n;
      return false;
    }
    if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) {
      bool blank = true;
      for (const char* p = n.value(); *p; ++p) blank = blank && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n');
      if (!blank) {
        extra = n;
        return false;
      }
    }
  }
  return elements == 1;
}

}  // namespace

Place SourceDocument::Of(const pugi::xml_node& node) const {
  if (cleaned) return {};
  ptrdiff_t offset = node.offset_debug();
  if (offset < 0) return {};
  if (node.type() == pugi::node_element && offset > 0) --offset;  // the '<', not the name
  return lines.At(static_cast<size_t>(offset));
}

ParseOutcome ParseSource(std::string_view bytes, SourceDocument& doc) {
  return ParseSourceText(vellix::formats::DecodeMarkup(bytes), doc);
}

ParseOutcome ParseSourceText(std::string text, SourceDocument& doc) {
  doc.dom.reset();
  doc.text = std::move(text);
  if (doc.text.starts_with("\xEF\xBB\xBF")) doc.text.erase(0, 3);
  doc.lines = LineMap(doc.text);
  ParseOutcome outcome;
  pugi::xml_parse_result result =
      doc.dom.load_buffer(doc.text.data(), doc.text.size(), kParseFlags, pugi::encoding_utf8);
  if (!result) {
    outcome.error = result.description();
    outcome.offset = static_cast<size_t>(std::max<ptrdiff_t>(0, result.offset));
    outcome.place = doc.lines.At(outcome.offset);
    return outcome;
  }
  pugi::xml_node extra;
  if (!HasOneDocumentElement(doc.dom, extra)) {
    outcome.error = extra ? "content after the document element" : "no document element";
    outcome.place = extra ? doc.Of(extra) : Place{1, 1};
    return outcome;
  }
  outcome.parsed = true;
  return outcome;
}

std::string ElementName(const pugi::xml_node& node) {
  std::string_view name = node.name();
  size_t colon = name.rfind(':');
  if (colon != std::string_view::npos) name.remove_prefix(colon + 1);
  return vellix::formats::LowerAscii(name);
}

std::string DecodeHtmlEntities(std::string_view text) {
  if (text.find('&') == std::string_view::npos) return std::string(text);
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    size_t amp = text.find('&', i);
    if (amp == std::string_view::npos) break;
    out.append(text.substr(i, amp - i));
    size_t semi = text.find(';', amp);
    std::string_view name =
        semi == std::string_view::npos || semi - amp > 10 ? std::string_view() : text.substr(amp + 1, semi - amp - 1);
    uint32_t cp = 0;
    for (size_t k = 0; k < kLatin1Entities.size() && !name.empty(); ++k)
      if (kLatin1Entities[k] == name) cp = 0xA0 + static_cast<uint32_t>(k);
    for (const auto& [n, c] : kOtherEntities)
      if (!name.empty() && n == name) cp = c;
    if (cp) {
      AppendUtf8(out, cp);
      i = semi + 1;
    } else {
      out += '&';
      i = amp + 1;
    }
  }
  out.append(text.substr(i));
  return out;
}

std::string StyleElementText(const pugi::xml_node& style, size_t* offset) {
  std::string text;
  *offset = SIZE_MAX;
  for (pugi::xml_node c : style.children()) {
    if (c.type() != pugi::node_pcdata && c.type() != pugi::node_cdata) continue;
    if (*offset == SIZE_MAX && c.offset_debug() >= 0) *offset = static_cast<size_t>(c.offset_debug());
    text += c.value();
  }
  return text;
}

}  // namespace ikutil
