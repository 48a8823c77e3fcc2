#include "ikutil/epub_export.h"

#include <png.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <set>
#include <vector>

#include "ikutil/device_edition.h"
#include "vellix/formats/error.h"
#include "vellix/formats/file_io.h"
#include "vellix/formats/ocf_container.h"
#include "vellix/formats/random.h"

namespace ikutil {
namespace {

// A document grows to about this much before the flow goes on in the next.
constexpr size_t kPartBytes = size_t{100} * 1024;

// Text as XML character data: markup escaped, and the characters XML
// cannot carry left out.
void AppendXml(std::string& out, std::string_view text, bool attribute = false) {
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '&':
        out += "&amp;";
        continue;
      case '<':
        out += "&lt;";
        continue;
      case '>':
        out += "&gt;";
        continue;
      case '"':
        if (attribute) {
          out += "&quot;";
          continue;
        }
        break;
      default:
        break;
    }
    if (c < 0x20 && c != '\t' && c != '\n') continue;
    // U+FFFE and U+FFFF are no characters.
    if (c == 0xEF && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xBF &&
        (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xBE) {
      i += 2;
      continue;
    }
    out += static_cast<char>(c);
  }
}

std::string Xml(std::string_view text, bool attribute = false) {
  std::string out;
  AppendXml(out, text, attribute);
  return out;
}

std::string Trim(std::string_view s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string_view::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return std::string(s.substr(b, e - b + 1));
}

std::string Em(int tenths) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1fem", tenths / 10.0);
  std::string text = buffer;
  if (text == "0.0em" || text == "-0.0em") return "0";
  return text;
}

// True when `uri` starts with a scheme ("https:", "mailto:").
bool HasUriScheme(std::string_view uri) {
  size_t colon = uri.find(':');
  if (colon == 0 || colon == std::string_view::npos) return false;
  for (size_t i = 0; i < colon; ++i) {
    char c = uri[i];
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!letter && (i == 0 || !((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'))) return false;
  }
  return true;
}

// The book's language as a language tag: "pt_BR" (a locale's name, as
// some tools write it) becomes "pt-BR"; anything that is no tag "und".
std::string LanguageTag(std::string_view language) {
  std::string tag(language);
  std::replace(tag.begin(), tag.end(), '_', '-');
  size_t start = 0;
  for (size_t subtag = 0; start <= tag.size(); ++subtag) {
    size_t end = std::min(tag.find('-', start), tag.size());
    size_t length = end - start;
    bool letters = true, alphanumeric = true;
    for (size_t i = start; i < end; ++i) {
      char c = tag[i];
      bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
      letters = letters && letter;
      alphanumeric = alphanumeric && (letter || (c >= '0' && c <= '9'));
    }
    if (length == 0 || length > 8 || !alphanumeric || (subtag == 0 && (!letters || length < 2))) return "und";
    start = end + 1;
  }
  return tag;
}

std::string PartName(size_t part) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "part%04zu.xhtml", part + 1);
  return buffer;
}

std::string ImageName(size_t image) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "image%04zu.png", image + 1);
  return buffer;
}

// A grey image as an 8-bit grey PNG.
std::string EncodeGreyPng(const GreyImage& image) {
  std::string out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return "";
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return "";
  }
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, png_size_t length) {
        static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<const char*>(data), length);
      },
      nullptr);
  uint32_t width = std::max<uint32_t>(image.width, 1), height = std::max<uint32_t>(image.height, 1);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<uint8_t> row(width, 0xFF);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      size_t at = static_cast<size_t>(y) * image.width + x;
      row[x] = x < image.width && y < image.height && at < image.pixels.size() ? image.pixels[at] : 0xFF;
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

std::string NowUtc() {
  std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm utc{};
  gmtime_r(&now, &utc);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return buffer;
}

std::string StyleSheet(const DeviceEdition& e) {
  static const char* const kSizes[] = {"60%", "75%", "89%", "100%", "120%", "150%", "200%"};
  static const char* const kAlign[] = {"justify", "left", "center", "right"};
  std::string css =
      "body { margin: 0 }\n"
      "p, pre, div, h1, h2, h3, h4, h5, h6 { margin: 0 }\n"
      "img { max-width: 100% }\n"
      ".image { text-align: center }\n";
  for (size_t i = 0; i < e.block_styles.size(); ++i) {
    const BlockStyle& b = e.block_styles[i];
    css += ".b" + std::to_string(i) + " { text-align: " + kAlign[std::min<size_t>(size_t(b.align), 3)] +
           "; text-indent: " + Em(b.text_indent) + "; margin: " + Em(b.margin_top) + " " + Em(b.margin_right) + " " +
           Em(b.margin_bottom) + " " + Em(b.margin_left) + "; line-height: " + std::to_string(b.line_height) + "% }\n";
  }
  for (size_t i = 0; i < e.text_styles.size(); ++i) {
    const TextStyle& t = e.text_styles[i];
    css += ".t" + std::to_string(i) + " { font-family: " +
           (t.family == FontFamily::kMono   ? "monospace"
            : t.family == FontFamily::kSans ? "sans-serif"
                                            : "serif") +
           "; font-size: " + kSizes[std::clamp<int>(t.size_step, -3, 3) + 3] +
           "; font-weight: " + (t.bold ? "bold" : "normal") + "; font-style: " + (t.italic ? "italic" : "normal") +
           "; text-decoration: " +
           (t.underline && t.line_through ? "underline line-through"
            : t.underline                 ? "underline"
            : t.line_through              ? "line-through"
                                          : "none") +
           "; vertical-align: " +
           (t.vertical == VerticalAlign::kSuper ? "super"
            : t.vertical == VerticalAlign::kSub ? "sub"
                                                : "baseline") +
           " }\n";
  }
  return css;
}

class Exporter {
 public:
  Exporter(const DeviceEdition& edition, const BookInformation& info) : e_(edition), info_(info) {}

  std::vector<std::pair<std::string, std::string>> Files();

 private:
  void AssignParts();
  uint32_t Shown(uint32_t block) const;
  std::string Target(FlowPosition target) const;
  std::string BlockXhtml(uint32_t index) const;
  std::string RowXhtml(const Block& row, const std::string& attributes, const std::string& style) const;
  std::string Runs(const Block& block, bool pre) const;
  std::string Document(const std::string& title, const std::string& body, const std::string& to_root) const;
  std::string Package(size_t parts) const;
  std::string AccessibilityMetadata() const;
  std::string Nav() const;
  std::string Ncx() const;
  struct Entry {
    int level;
    std::string label, href;
  };
  std::vector<Entry> Contents() const;

  const DeviceEdition& e_;
  const BookInformation& info_;
  std::vector<int64_t> part_of_;  // -1 for blocks that make no element (page breaks)
  std::vector<std::vector<uint32_t>> parts_;
  std::set<uint32_t> targets_;
  std::string identifier_, title_, language_, author_;
};

void Exporter::AssignParts() {
  part_of_.assign(e_.blocks.size(), -1);
  size_t bytes = 0;
  bool start_new = true;
  for (uint32_t i = 0; i < e_.blocks.size(); ++i) {
    const Block& b = e_.blocks[i];
    if (b.kind == BlockKind::kPageBreak) {
      start_new = true;
      continue;
    }
    size_t size = 64;
    for (const Run& run : b.runs) size += run.text.size() + 32;
    if (start_new || bytes + size > kPartBytes) {
      parts_.emplace_back();
      bytes = 0;
      start_new = false;
    }
    bytes += size;
    parts_.back().push_back(i);
    part_of_[i] = static_cast<int64_t>(parts_.size() - 1);
  }
}

// The block a place in the flow shows at: a page break leads to what
// follows it (or, at the end, to what came before).
uint32_t Exporter::Shown(uint32_t block) const {
  for (uint32_t b = block; b < part_of_.size(); ++b)
    if (part_of_[b] >= 0) return b;
  for (uint32_t b = std::min<uint32_t>(block, static_cast<uint32_t>(part_of_.size())); b > 0; --b)
    if (part_of_[b - 1] >= 0) return b - 1;
  return 0;
}

std::string Exporter::Target(FlowPosition target) const {
  uint32_t block = Shown(target.block);
  return PartName(static_cast<size_t>(part_of_[block])) + "#b" + std::to_string(block);
}

std::string Exporter::Runs(const Block& block, bool pre) const {
  std::string out;
  for (const Run& run : block.runs) {
    if (run.text.empty()) continue;
    std::string text;
    for (size_t at = 0; at < run.text.size();) {
      size_t line_end = run.text.find('\n', at);
      size_t end = line_end == std::string::npos ? run.text.size() : line_end;
      AppendXml(text, std::string_view(run.text).substr(at, end - at));
      if (line_end == std::string::npos) break;
      text += pre ? "\n" : "<br/>";
      at = line_end + 1;
    }
    if (run.style != 0) text = "<span class=\"t" + std::to_string(run.style) + "\">" + text + "</span>";
    if (run.link != kNoLink && run.link < e_.links.size()) {
      const Link& link = e_.links[run.link];
      // A broken link, or a relative one to a file the book does not hold,
      // would lead nowhere in the export: its text stays, plain.
      if (!link.broken && (!link.external || HasUriScheme(link.uri))) {
        std::string href = link.external ? link.uri : Target(link.target);
        text = "<a href=\"" + Xml(href, true) + "\">" + text + "</a>";
      }
    }
    out += text;
  }
  return out;
}

// A table row: its runs parted into cells at the separators.
std::string Exporter::RowXhtml(const Block& row, const std::string& attributes, const std::string& style) const {
  const char* cell = row.level == kTableHeaderRow ? "th" : "td";
  std::vector<Block> cells(1);
  for (const Run& run : row.runs) {
    size_t at = 0;
    for (size_t tab = run.text.find(kCellSeparator); tab != std::string::npos;
         at = tab + 1, tab = run.text.find(kCellSeparator, at)) {
      cells.back().runs.push_back({run.text.substr(at, tab - at), run.style, run.link});
      cells.emplace_back();
    }
    cells.back().runs.push_back({run.text.substr(at), run.style, run.link});
  }
  std::string out = "<tr" + attributes + " class=\"" + style + "\">";
  for (const Block& c : cells) out += std::string("<") + cell + ">" + Runs(c, false) + "</" + cell + ">";
  return out + "</tr>\n";
}

std::string Exporter::BlockXhtml(uint32_t index) const {
  const Block& b = e_.blocks[index];
  std::string attributes;
  if (targets_.count(index)) attributes += " id=\"b" + std::to_string(index) + "\"";
  if (!b.language.empty()) {
    const std::string tag = Xml(LanguageTag(b.language), true);
    attributes += " xml:lang=\"" + tag + "\" lang=\"" + tag + "\"";
  }
  std::string style = "b" + std::to_string(b.style);
  switch (b.kind) {
    case BlockKind::kHeading: {
      std::string tag = "h" + std::to_string(std::clamp<int>(b.level, 1, 6));
      return "<" + tag + attributes + " class=\"" + style + "\">" + Runs(b, false) + "</" + tag + ">\n";
    }
    case BlockKind::kListItem: {
      std::string marker = b.marker.empty() ? "" : "<span class=\"marker\">" + Xml(b.marker) + "</span> ";
      return "<p" + attributes + " class=\"" + style + " item\">" + marker + Runs(b, false) + "</p>\n";
    }
    case BlockKind::kPreformatted:
      return "<pre" + attributes + " class=\"" + style + "\">" + Runs(b, true) + "</pre>\n";
    case BlockKind::kImage:
      if (b.image >= e_.images.size()) return "";
      return "<div" + attributes + " class=\"" + style + " image\"><img src=\"../images/" + ImageName(b.image) +
             "\" alt=\"" + Xml(b.alt, true) + "\"/></div>\n";
    case BlockKind::kRule:
      return "<hr" + attributes + " class=\"" + style + "\"/>\n";
    case BlockKind::kPageBreak:
      return "";
    case BlockKind::kParagraph:
    default:
      if (IsTableRow(b)) return RowXhtml(b, attributes, style);
      return "<p" + attributes + " class=\"" + style + "\">" + Runs(b, false) + "</p>\n";
  }
}

std::string Exporter::Document(const std::string& title, const std::string& body, const std::string& to_root) const {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n"
         "<html xmlns=\"http://www.w3.org/1999/xhtml\" xmlns:epub=\"http://www.idpf.org/2007/ops\" xml:lang=\"" +
         Xml(language_, true) + "\" lang=\"" + Xml(language_, true) +
         "\">\n<head>\n<meta charset=\"UTF-8\"/>\n<title>" + Xml(title) +
         "</title>\n<link rel=\"stylesheet\" type=\"text/css\" href=\"" + to_root + "style.css\"/>\n</head>\n<body>\n" +
         body + "</body>\n</html>\n";
}

std::vector<Exporter::Entry> Exporter::Contents() const {
  std::vector<Entry> entries;
  // In the reading order, as readers require of the contents: a book's
  // own contents may list first what it placed last (notes kept out of
  // its reading order). Entries in order keep their nesting.
  std::vector<const TocEntry*> ordered;
  for (const TocEntry& t : e_.toc)
    if (!Trim(t.title).empty() && !e_.blocks.empty()) ordered.push_back(&t);
  std::stable_sort(ordered.begin(), ordered.end(), [&](const TocEntry* a, const TocEntry* b) {
    return Shown(a->target.block) < Shown(b->target.block);
  });
  int depth = 0;
  for (const TocEntry* t : ordered) {
    // A level may go down any number of steps but up only one at a time.
    int level = std::clamp<int>(t->level, 1, depth + 1);
    depth = level;
    entries.push_back({level, Trim(t->title), Target(t->target)});
  }
  if (entries.empty()) entries.push_back({1, title_, PartName(0)});
  return entries;
}

std::string Exporter::Nav() const {
  std::string list;
  int depth = 0;
  for (const Entry& entry : Contents()) {
    if (entry.level > depth) {
      list += "<ol>\n";
      ++depth;
    } else {
      list += "</li>\n";
      for (; depth > entry.level; --depth) list += "</ol>\n</li>\n";
    }
    list += "<li><a href=\"text/" + Xml(entry.href, true) + "\">" + Xml(entry.label) + "</a>";
  }
  list += "</li>\n";
  for (; depth > 1; --depth) list += "</ol>\n</li>\n";
  list += "</ol>\n";
  return Document(
      title_, "<nav epub:type=\"toc\" role=\"doc-toc\" id=\"toc\">\n<h1>" + Xml(title_) + "</h1>\n" + list + "</nav>\n",
      "");
}

std::string Exporter::Ncx() const {
  std::string points;
  int depth = 0, id = 0;
  // Points that lead to one place share its place in the reading order
  // (a heading of the contents that leads to its first entry is one).
  std::map<std::string, size_t> order_of;
  for (const Entry& entry : Contents()) {
    if (entry.level <= depth)
      for (; depth >= entry.level; --depth) points += "</navPoint>\n";
    ++id;
    size_t order = order_of.emplace(entry.href, order_of.size() + 1).first->second;
    points += "<navPoint id=\"n" + std::to_string(id) + "\" playOrder=\"" + std::to_string(order) +
              "\"><navLabel><text>" + Xml(entry.label) + "</text></navLabel><content src=\"text/" +
              Xml(entry.href, true) + "\"/>\n";
    depth = entry.level;
  }
  for (; depth > 0; --depth) points += "</navPoint>\n";
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<ncx xmlns=\"http://www.daisy.org/z3986/2005/ncx/\" version=\"2005-1\" xml:lang=\"" +
         Xml(language_, true) + "\">\n<head>\n<meta name=\"dtb:uid\" content=\"" + Xml(identifier_, true) +
         "\"/>\n<meta name=\"dtb:depth\" content=\"1\"/>\n<meta name=\"dtb:totalPageCount\" content=\"0\"/>\n"
         "<meta name=\"dtb:maxPageNumber\" content=\"0\"/>\n</head>\n<docTitle><text>" +
         Xml(title_) + "</text></docTitle>\n<navMap>\n" + points + "</navMap>\n</ncx>\n";
}

std::string Exporter::Package(size_t parts) const {
  std::string manifest =
      "<item id=\"nav\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" properties=\"nav\"/>\n"
      "<item id=\"ncx\" href=\"toc.ncx\" media-type=\"application/x-dtbncx+xml\"/>\n"
      "<item id=\"css\" href=\"style.css\" media-type=\"text/css\"/>\n";
  std::string spine;
  for (size_t p = 0; p < parts; ++p) {
    std::string id = "p" + std::to_string(p + 1);
    manifest += "<item id=\"" + id + "\" href=\"text/" + PartName(p) + "\" media-type=\"application/xhtml+xml\"/>\n";
    spine += "<itemref idref=\"" + id + "\"/>\n";
  }
  for (size_t i = 0; i < e_.images.size(); ++i)
    manifest +=
        "<item id=\"i" + std::to_string(i + 1) + "\" href=\"images/" + ImageName(i) + "\" media-type=\"image/png\"/>\n";
  std::string metadata = "<dc:identifier id=\"book-id\">" + Xml(identifier_) + "</dc:identifier>\n<dc:title>" +
                         Xml(title_) + "</dc:title>\n<dc:language>" + Xml(language_) + "</dc:language>\n";
  if (!author_.empty()) metadata += "<dc:creator id=\"author\">" + Xml(author_) + "</dc:creator>\n";
  if (!author_.empty() && !info_.author_last_name.empty()) {
    std::string file_as = info_.author_last_name;
    std::string rest = Trim(info_.author_first_name + " " + info_.author_middle_name);
    if (!rest.empty()) file_as += ", " + rest;
    metadata += "<meta refines=\"#author\" property=\"file-as\">" + Xml(file_as) +
                "</meta>\n<meta refines=\"#author\" property=\"role\" scheme=\"marc:relators\">aut</meta>\n";
  }
  if (!Trim(info_.category).empty()) metadata += "<dc:subject>" + Xml(Trim(info_.category)) + "</dc:subject>\n";
  metadata += "<meta property=\"dcterms:modified\">" + NowUtc() + "</meta>\n";
  metadata += AccessibilityMetadata();
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" unique-identifier=\"book-id\" xml:lang=\"" +
         Xml(language_, true) + "\">\n<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n" + metadata +
         "</metadata>\n<manifest>\n" + manifest + "</manifest>\n<spine toc=\"ncx\">\n" + spine +
         "</spine>\n</package>\n";
}

// How the book may be read, for readers and the checkers of shops and
// libraries: text throughout, pictures beside it (described when every one
// has its alternative text), no hazard, contents and reading order given.
std::string Exporter::AccessibilityMetadata() const {
  bool headings = false, all_described = true;
  size_t pictures = 0;
  for (const Block& b : e_.blocks) {
    headings = headings || b.kind == BlockKind::kHeading;
    if (b.kind != BlockKind::kImage || b.image >= e_.images.size()) continue;
    ++pictures;
    all_described = all_described && !Trim(b.alt).empty();
  }
  auto meta = [](const char* property, const std::string& value) {
    return std::string("<meta property=\"schema:") + property + "\">" + value + "</meta>\n";
  };
  std::string out = meta("accessMode", "textual");
  if (pictures > 0) out += meta("accessMode", "visual");
  if (pictures == 0 || all_described) out += meta("accessModeSufficient", "textual");
  if (pictures > 0) out += meta("accessModeSufficient", "textual,visual");
  out += meta("accessibilityFeature", "tableOfContents") + meta("accessibilityFeature", "readingOrder");
  if (headings) out += meta("accessibilityFeature", "structuralNavigation");
  if (pictures > 0 && all_described) out += meta("accessibilityFeature", "alternativeText");
  out += meta("accessibilityHazard", "none");
  std::string summary = "The text can be read aloud and restyled; a table of contents";
  summary += headings ? " and headings lead through it" : " leads through it";
  if (pictures > 0)
    summary += all_described ? ", and every picture is described in text" : ", and some pictures have no description";
  out += meta("accessibilitySummary", summary + ".");
  return out;
}

std::vector<std::pair<std::string, std::string>> Exporter::Files() {
  title_ = Trim(info_.title).empty() ? "Untitled" : Trim(info_.title);
  language_ = Trim(e_.language).empty() ? "en" : LanguageTag(Trim(e_.language));
  identifier_ = Trim(info_.book_id);
  if (identifier_.empty()) identifier_ = "urn:vellix:" + vellix::formats::NewGuidString();
  for (const std::string* part : {&info_.author_first_name, &info_.author_middle_name, &info_.author_last_name}) {
    std::string word = Trim(*part);
    if (word.empty()) continue;
    if (!author_.empty()) author_ += ' ';
    author_ += word;
  }

  AssignParts();
  // A book with nothing to show still gets one (empty) document.
  if (parts_.empty()) parts_.emplace_back();
  for (const Link& link : e_.links)
    if (!link.external && !part_of_.empty()) targets_.insert(Shown(link.target.block));
  for (const TocEntry& t : e_.toc)
    if (!part_of_.empty()) targets_.insert(Shown(t.target.block));

  std::vector<std::pair<std::string, std::string>> files;
  files.emplace_back("META-INF/container.xml",
                     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">\n"
                     "<rootfiles>\n<rootfile full-path=\"OEBPS/content.opf\" "
                     "media-type=\"application/oebps-package+xml\"/>\n</rootfiles>\n</container>\n");
  files.emplace_back("OEBPS/content.opf", Package(parts_.size()));
  files.emplace_back("OEBPS/nav.xhtml", Nav());
  files.emplace_back("OEBPS/toc.ncx", Ncx());
  files.emplace_back("OEBPS/style.css", StyleSheet(e_));
  for (size_t p = 0; p < parts_.size(); ++p) {
    std::string body;
    // Table rows in a table of their own: from a row that starts one to
    // the last that continues it.
    bool in_table = false;
    for (uint32_t block : parts_[p]) {
      const Block& b = e_.blocks[block];
      const bool row = IsTableRow(b);
      if (in_table && (!row || b.level != kTableRow)) body += "</table>\n";
      if (row && (!in_table || b.level != kTableRow)) body += "<table>\n";
      in_table = row;
      body += BlockXhtml(block);
    }
    if (in_table) body += "</table>\n";
    if (parts_[p].empty()) body = "<p></p>\n";
    files.emplace_back("OEBPS/text/" + PartName(p), Document(title_, body, "../"));
  }
  for (size_t i = 0; i < e_.images.size(); ++i)
    files.emplace_back("OEBPS/images/" + ImageName(i), EncodeGreyPng(e_.images[i]));
  return files;
}

}  // namespace

EpubExportResult ExportEpub(const std::string& book_path, const std::string& epub_path) {
  EpubExportResult result;
  EditionReadResult read = ReadDeviceEdition(book_path);
  if (read.error != EditionError::kNone) {
    result.missing = read.error == EditionError::kCannotOpen && !vellix::formats::IsFile(book_path);
    if (read.error == EditionError::kNotABookFile || read.error == EditionError::kNotOurs)
      result.error =
          book_path + ": not a book this program built (it holds no device edition of ours): " + read.message;
    else
      result.error = book_path + ": " + read.message;
    return result;
  }
  try {
    Exporter exporter(read.edition, read.info);
    std::string archive = vellix::formats::BuildOcfArchive(exporter.Files());
    vellix::formats::AtomicFileWriter out(epub_path);
    out.Write(archive);
    out.Commit();
    result.ok = true;
  } catch (const vellix::formats::AutomationError& e) {
    result.error = epub_path + ": " + e.what();
  } catch (const std::bad_alloc&) {
    result.error = book_path + ": out of memory";
  }
  return result;
}

}  // namespace ikutil
