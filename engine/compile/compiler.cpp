#include "compiler.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <tuple>
#include <unordered_map>

#include "css.h"
#include "images.h"
#include "source_document.h"
#include "vellix/formats/ascii.h"
#include "vellix/formats/codepage.h"
#include "vellix/formats/html_cleanup.h"
#include "vellix/formats/oebff_writer.h"
#include "vellix/formats/xml.h"

namespace ikutil {
namespace {

// The styles every document starts from, as a browser's own sheet gives
// them; author sheets and style attributes come on top.
constexpr std::string_view kDefaultSheet = R"(
h1 { font-size: xx-large; font-weight: bold; margin-top: 1em; margin-bottom: 0.5em; text-align: left }
h2 { font-size: x-large; font-weight: bold; margin-top: 1em; margin-bottom: 0.5em; text-align: left }
h3 { font-size: large; font-weight: bold; margin-top: 1em; margin-bottom: 0.5em; text-align: left }
h4 { font-size: medium; font-weight: bold; margin-top: 1em; margin-bottom: 0.5em; text-align: left }
h5 { font-size: small; font-weight: bold; margin-top: 1em; margin-bottom: 0.5em; text-align: left }
h6 { font-size: x-small; font-weight: bold; margin-top: 1em; margin-bottom: 0.5em; text-align: left }
p { margin-top: 0.5em; margin-bottom: 0.5em }
blockquote { margin: 0.5em 2em }
ul, ol, dd { margin-left: 2em }
ul { list-style-type: disc }
ol { list-style-type: decimal }
ul ul { list-style-type: circle }
ul ul ul { list-style-type: square }
pre { font-family: monospace; white-space: pre; text-align: left; margin-top: 0.5em; margin-bottom: 0.5em }
tt, code, kbd, samp { font-family: monospace }
em, i, cite, var, dfn, address { font-style: italic }
strong, b, th { font-weight: bold }
u, ins { text-decoration: underline }
del, s, strike { text-decoration: line-through }
sup { vertical-align: super; font-size: smaller }
sub { vertical-align: sub; font-size: smaller }
big { font-size: larger }
small { font-size: smaller }
center { text-align: center }
)";

// Elements that make blocks of their own unless a sheet says otherwise.
bool IsBlockElement(std::string_view name) {
  static const std::set<std::string_view> kBlocks = {
      "html", "body", "p", "div", "blockquote", "h1", "h2", "h3", "h4", "h5", "h6", "ul", "ol", "li", "dl", "dt", "dd",
      "pre", "table", "tr", "td", "th", "caption", "thead", "tbody", "tfoot", "center", "address", "form", "noscript",
      "colgroup", "col", "menu", "dir", "hr",
      // HTML5's sectioning and grouping elements
      "section", "article", "aside", "nav", "header", "footer", "main", "figure", "figcaption", "hgroup", "details",
      "summary"};
  return kBlocks.count(name) > 0;
}

bool IsHiddenElement(std::string_view name) {
  return name == "head" || name == "title" || name == "script" || name == "style" || name == "meta" || name == "link" ||
         name == "object" || name == "param" || name == "applet" || name == "map";
}

// Every element the compiler knows; the content of others is kept, with a
// warning.
bool IsKnownElement(std::string_view name) {
  static const std::set<std::string_view> kInline = {
      "a",   "span", "em",  "i",    "cite", "var",    "strong", "b",     "u",   "sup",  "sub",
      "tt",  "code", "kbd", "samp", "big",  "small",  "font",   "br",    "img", "abbr", "acronym",
      "dfn", "q",    "ins", "del",  "s",    "strike", "bdo",    "label", "nobr"};
  return IsBlockElement(name) || IsHiddenElement(name) || kInline.count(name) > 0 || name == "svg";
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// Whether text in `block` is set as text in `book` would be: the same tag,
// or a less specific one ("en" in an "en-US" book), letter case and "_"
// for "-" aside.
bool WithinLanguage(std::string_view block, std::string_view book) {
  if (block.size() > book.size()) return false;
  for (size_t i = 0; i < block.size(); ++i) {
    const auto norm = [](char c) { return c == '_' ? '-' : vellix::formats::LowerAscii(c); };
    if (norm(block[i]) != norm(book[i])) return false;
  }
  return block.size() == book.size() || book[block.size()] == '-' || book[block.size()] == '_';
}

bool IsWide(UChar32 c) {
  if (c < 0x1100) return false;
  const int width = u_getIntPropertyValue(c, UCHAR_EAST_ASIAN_WIDTH);
  return width == U_EA_WIDE || width == U_EA_FULLWIDTH;
}

// Whether the character at `at` of `text`, or the last one of `text`, is an
// East Asian wide one.
bool IsWideAt(std::string_view text, size_t at) {
  auto i = static_cast<int32_t>(at);
  UChar32 c;
  U8_NEXT(text.data(), i, static_cast<int32_t>(text.size()), c);
  return IsWide(c);
}

bool IsWideBefore(std::string_view text) {
  if (text.empty()) return false;
  auto i = static_cast<int32_t>(text.size());
  UChar32 c;
  U8_PREV(text.data(), 0, i, c);
  return IsWide(c);
}

// Styles as the cascade computes them, before they are rounded into the
// edition's tables. Lengths in tenths of the body's em; the font size in
// percent of the body's.
struct Computed {
  // Inherited.
  FontFamily family = FontFamily::kSerif;
  double font_size = 100;
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool line_through = false;
  // The direction `dir` gives: 0 the text's own (its first letter), 1 left
  // to right, 2 right to left.
  uint8_t direction = 0;
  VerticalAlign vertical = VerticalAlign::kBaseline;
  TextAlign align = TextAlign::kJustify;
  double text_indent = 0;
  double line_height = 120;
  bool pre = false;
  std::string list_style = "disc";
  // The element's own.
  std::string display;
  double margin_top = 0, margin_bottom = 0, margin_left = 0, margin_right = 0;
  bool break_before = false, break_after = false;
  // Margins of the enclosing blocks, added up.
  double indent_left = 0, indent_right = 0;
};

double ToTenths(const css::Value& v, double font_size) {
  double n = v.number;
  switch (v.unit) {
    case css::Unit::kNone:
      return 0;
    case css::Unit::kEm:
      return n * font_size / 10;
    case css::Unit::kEx:
      return n * font_size / 20;
    case css::Unit::kPercent:
      return n * 3;  // of a line about thirty ems wide
    case css::Unit::kPx:
      return n * 10 / 16;
    case css::Unit::kPt:
      return n * 10 / 12;
    case css::Unit::kPc:
      return n * 10;
    case css::Unit::kIn:
      return n * 60;
    case css::Unit::kCm:
      return n * 60 / 2.54;
    case css::Unit::kMm:
      return n * 6 / 2.54;
    case css::Unit::kRem:
      return n * 10;  // the root's em is the body's
  }
  return 0;
}

double FontSize(const css::Value& v, double parent) {
  static const std::pair<std::string_view, double> kKeywords[] = {{"xx-small", 60}, {"x-small", 75}, {"small", 89},
                                                                  {"medium", 100},  {"large", 120},  {"x-large", 150},
                                                                  {"xx-large", 200}};
  if (v.IsKeyword("smaller")) return parent / 1.2;
  if (v.IsKeyword("larger")) return parent * 1.2;
  for (const auto& [k, size] : kKeywords)
    if (v.keyword == k) return size;
  switch (v.unit) {
    case css::Unit::kEm:
      return parent * v.number;
    case css::Unit::kEx:
      return parent * v.number / 2;
    case css::Unit::kPercent:
      return parent * v.number / 100;
    case css::Unit::kRem:
      return 100 * v.number;
    default:
      return ToTenths(v, 100) * 10;  // absolute lengths, against a 12 pt body
  }
}

int8_t SizeStep(double percent) {
  static constexpr double kBounds[] = {67, 82, 95, 110, 135, 175};
  int8_t step = -3;
  for (double bound : kBounds)
    if (percent >= bound) ++step;
  return step;
}

int16_t ClampTenths(double v, double low, double high) {
  if (!std::isfinite(v)) return 0;
  return static_cast<int16_t>(std::lround(std::clamp(v, low, high)));
}

void Apply(const css::Declaration& d, Computed& s, const Computed& parent) {
  const css::Value& v = d.value;
  using css::Property;
  switch (d.property) {
    case Property::kFontFamily:
      s.family = v.IsKeyword("monospace")    ? FontFamily::kMono
                 : v.IsKeyword("sans-serif") ? FontFamily::kSans
                                             : FontFamily::kSerif;
      break;
    case Property::kFontSize:
      s.font_size = std::clamp(FontSize(v, parent.font_size), 10.0, 1000.0);
      break;
    case Property::kFontWeight:
      s.bold = v.IsKeyword("bold");
      break;
    case Property::kFontStyle:
      s.italic = v.IsKeyword("italic");
      break;
    case Property::kTextAlign:
      s.align = v.IsKeyword("left")     ? TextAlign::kLeft
                : v.IsKeyword("right")  ? TextAlign::kRight
                : v.IsKeyword("center") ? TextAlign::kCenter
                                        : TextAlign::kJustify;
      break;
    case Property::kTextIndent:
      s.text_indent = ToTenths(v, s.font_size);
      break;
    case Property::kMarginTop:
      s.margin_top = ToTenths(v, s.font_size);
      break;
    case Property::kMarginBottom:
      s.margin_bottom = ToTenths(v, s.font_size);
      break;
    case Property::kMarginLeft:
      s.margin_left = ToTenths(v, s.font_size);
      break;
    case Property::kMarginRight:
      s.margin_right = ToTenths(v, s.font_size);
      break;
    case Property::kLineHeight:
      if (v.IsKeyword("normal"))
        s.line_height = 120;
      else if (v.unit == css::Unit::kNone || v.unit == css::Unit::kEm)
        s.line_height = v.number * 100;
      else if (v.unit == css::Unit::kPercent)
        s.line_height = v.number;
      else
        s.line_height = ToTenths(v, 100) * 1000 / s.font_size;
      break;
    case Property::kTextDecoration:
      // A decoration adds to those of the enclosing elements; "none" ends them.
      if (v.IsKeyword("none")) {
        s.underline = s.line_through = false;
      } else {
        s.underline = s.underline || v.IsKeyword("underline") || v.IsKeyword("underline line-through");
        s.line_through = s.line_through || v.IsKeyword("line-through") || v.IsKeyword("underline line-through");
      }
      break;
    case Property::kVerticalAlign:
      s.vertical = v.IsKeyword("super") ? VerticalAlign::kSuper
                   : v.IsKeyword("sub") ? VerticalAlign::kSub
                                        : VerticalAlign::kBaseline;
      break;
    case Property::kDisplay:
      s.display = v.keyword;
      break;
    case Property::kPageBreakBefore:
      s.break_before = v.IsKeyword("always");
      break;
    case Property::kPageBreakAfter:
      s.break_after = v.IsKeyword("always");
      break;
    case Property::kWhiteSpace:
      s.pre = v.IsKeyword("pre");
      break;
    case Property::kListStyleType:
      s.list_style = v.keyword;
      break;
  }
}

std::string Roman(uint32_t n, bool upper) {
  static const std::pair<uint32_t, const char*> kNumerals[] = {
      {1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"}, {100, "c"}, {90, "xc"}, {50, "l"},
      {40, "xl"},  {10, "x"},   {9, "ix"},  {5, "v"},    {4, "iv"},  {1, "i"}};
  std::string out;
  for (const auto& [value, numeral] : kNumerals)
    while (n >= value) out += numeral, n -= value;
  if (upper)
    for (char& c : out) c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string Marker(const std::string& type, int64_t number) {
  if (type == "none") return "";
  if (type == "circle") return "\xE2\x97\xA6";
  if (type == "square") return "\xE2\x96\xAA";
  if (type == "disc") return "\xE2\x80\xA2";
  if (number >= 1 && (type == "lower-alpha" || type == "upper-alpha")) {
    std::string letters;
    for (int64_t n = number; n > 0; n = (n - 1) / 26)
      letters.insert(letters.begin(), static_cast<char>((type[0] == 'l' ? 'a' : 'A') + (n - 1) % 26));
    return letters + ".";
  }
  if (number >= 1 && number < 4000 && (type == "lower-roman" || type == "upper-roman"))
    return Roman(static_cast<uint32_t>(number), type[0] == 'u') + ".";
  return std::to_string(number) + ".";
}

// Presentational attributes of old HTML, as declarations just above the
// default sheet.
std::vector<css::Declaration> AttributeHints(const pugi::xml_node& element, std::string_view name) {
  std::vector<css::Declaration> hints;
  std::vector<css::Issue> ignored;
  std::string text;
  // A table's align places the table, not the text in it (a manual whose
  // pages sit in one centred table is not centred text).
  if (pugi::xml_attribute align = name != "table" ? element.attribute("align") : pugi::xml_attribute()) {
    std::string a = vellix::formats::LowerAscii(align.value());
    if (a == "left" || a == "right" || a == "center" || a == "justify") text += "text-align:" + a + ";";
  }
  // A right-to-left block is set flush right unless it says otherwise.
  if (vellix::formats::LowerAscii(element.attribute("dir").value()) == "rtl" && !element.attribute("align") &&
      IsBlockElement(name))
    text += "text-align:right;";
  // A list's type: "a" and "A" differ by case, so it is not lowered.
  if (pugi::xml_attribute type =
          name == "ol" || name == "ul" || name == "li" ? element.attribute("type") : pugi::xml_attribute()) {
    static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
        {"1", "decimal"},     {"a", "lower-alpha"}, {"A", "upper-alpha"}, {"i", "lower-roman"},
        {"I", "upper-roman"}, {"disc", "disc"},     {"circle", "circle"}, {"square", "square"}};
    std::string given = vellix::formats::TrimmedAscii(type.value());
    for (const auto& [value, style] : kTypes)
      if (given == value) text += "list-style-type:" + std::string(style) + ";";
  }
  if (name == "font") {
    if (pugi::xml_attribute size = element.attribute("size")) {
      static constexpr std::string_view kSizes[] = {"x-small", "small",    "medium",  "large",
                                                    "x-large", "xx-large", "xx-large"};
      std::string value = vellix::formats::TrimmedAscii(size.value());
      bool relative = !value.empty() && (value[0] == '+' || value[0] == '-');
      std::optional<int64_t> given = vellix::formats::LeadingInteger(value);
      int64_t n = given ? std::clamp<int64_t>(*given, -100, 100) : relative ? 0 : 3;
      if (relative) n += 3;
      text += "font-size:" + std::string(kSizes[std::clamp<int64_t>(n, 1, 7) - 1]) + ";";
    }
    if (pugi::xml_attribute face = element.attribute("face")) {
      std::string f = face.value();
      if (f.find_first_of(";{}") == std::string::npos) text += "font-family:" + f + ";";
    }
  }
  if (!text.empty()) hints = css::ParseDeclarations(text, ignored);
  return hints;
}

// How a table is set, found before its content is compiled. A grid when
// every cell holds only text (inline elements, paragraphs, line breaks) and
// spans one row and one column, and there are two columns or more: each
// row is then one block with its cells parted by tabs, which the
// typesetter sets in columns, or labelled with their headers when the
// columns do not fit. Any other table is set as blocks, each cell labelled
// with its column's header.
struct TableShape {
  bool grid = true;
  size_t columns = 0;
  std::vector<std::string> labels;  // the header row's cells; empty without one
};

// A header cell's text as a label: white space collapsed, at most a few
// words long.
std::string LabelOf(const pugi::xml_node& cell) {
  constexpr size_t kMaxLabel = 60;
  std::string text = DecodeHtmlEntities(vellix::formats::TextOf(cell));
  std::string label;
  bool space = false;
  for (char c : text) {
    if (IsSpace(c)) {
      space = !label.empty();
      continue;
    }
    if (space) label += ' ';
    space = false;
    label += c;
  }
  if (label.size() > kMaxLabel) {
    size_t cut = kMaxLabel;
    while (cut > 0 && (static_cast<unsigned char>(label[cut]) & 0xC0) == 0x80) --cut;
    label = label.substr(0, cut) + "\u2026";
  }
  return label;
}

// The walk stops at a nested table (the outer one is then no grid), whose
// own walk covers it: nested tables cost their size once.
TableShape MeasureTable(const pugi::xml_node& table) {
  TableShape shape;
  size_t rows = 0, cells = 0, cell_depth = 0;
  bool all_headers = true;
  std::vector<pugi::xml_node> first_row;
  vellix::formats::WalkTree(table, [&](const pugi::xml_node& n, size_t depth) {
    if (cell_depth > 0 && depth <= cell_depth) cell_depth = 0;
    if (n.type() != pugi::node_element) return vellix::formats::Walk::kInto;
    const std::string name = ElementName(n);
    if (name == "table") {
      shape.grid = false;
      return vellix::formats::Walk::kStop;
    }
    if (name == "tr") {
      ++rows;
      cells = 0;
      cell_depth = 0;
    } else if ((name == "td" || name == "th") && cell_depth == 0) {
      const int64_t span =
          std::clamp<int64_t>(vellix::formats::LeadingInteger(n.attribute("colspan").value()).value_or(1), 1, 1000);
      cells += static_cast<size_t>(span);
      shape.columns = std::max(shape.columns, cells);
      if (rows == 0 || span > 1 || vellix::formats::LeadingInteger(n.attribute("rowspan").value()).value_or(1) > 1)
        shape.grid = false;
      if (rows == 1) {
        first_row.push_back(n);
        all_headers = all_headers && name == "th" && span == 1;
      }
      cell_depth = depth;
    } else if (cell_depth > 0 && (name == "img" || name == "svg" || name == "object" ||
                                  (IsBlockElement(name) && name != "p" && name != "div" && name != "center"))) {
      shape.grid = false;
    }
    return vellix::formats::Walk::kInto;
  });
  if (shape.columns < 2) shape.grid = false;
  if (all_headers && !first_row.empty() && shape.columns >= 2)
    for (const pugi::xml_node& cell : first_row) shape.labels.push_back(LabelOf(cell));
  return shape;
}

}  // namespace

struct EditionCompilerState {
  SourceFiles& files;
  CompileSettings settings;
  ProblemSink problems;
  DeviceEdition edition;
  css::StyleSheet default_sheet;

  std::map<std::tuple<int, int, bool, bool, bool, bool, int>, uint16_t> text_style_index;
  std::map<std::tuple<int, int, int, int, int, int, int, bool>, uint16_t> block_style_index;

  struct ImageEntry {
    bool ok = false;
    uint32_t index = kNoImage;
    bool budget = false;  // left out for the book's picture budget
    std::string error;
  };
  std::unordered_map<std::string, ImageEntry> images;
  // Linked and imported sheets, parsed once and kept for the book's later
  // documents while their text comes to kKeptSheetBytes in all; past that
  // the next document reads them again (their problems are told once).
  static constexpr size_t kKeptSheetBytes = size_t{8} << 20;
  std::map<std::string, std::shared_ptr<const css::StyleSheet>> linked_sheets;
  size_t linked_sheet_bytes = 0;
  std::set<std::string> sheets_reported;
  uint64_t selector_tests = 0;
  uint64_t image_pixels = 0;  // decoded so far, against kMaxBookImagePixels
  uint64_t runs = 0;          // made so far, against the run budget

  std::map<std::string, FlowPosition> anchors;  // "doc.htm#id"
  std::map<std::string, FlowPosition> document_starts;
  struct PendingLink {
    uint32_t link = 0;
    std::string href;  // as written, kept when it leads nowhere
    std::string document;
    std::string fragment;
    Problem where;
  };
  std::vector<PendingLink> pending_links;
  std::optional<std::vector<ContentsTarget>> given_contents;
  std::set<std::string> foreign_css_noted;  // properties (or problems) noted once per book

  EditionCompilerState(SourceFiles& f, CompileSettings s, ProblemSink p)
      : files(f), settings(std::move(s)), problems(std::move(p)) {
    std::vector<css::Issue> issues;
    default_sheet = css::ParseStyleSheet(kDefaultSheet, issues);
  }

  void Report(const std::string& file, Place place, int16_t severity, std::string message) {
    if (!problems) return;
    Problem p;
    p.file = file;
    p.message = std::move(message);
    p.line = place.line;
    p.column = place.column;
    p.severity = severity;
    problems(p);
  }

  uint16_t TextStyleIndex(const TextStyle& t) {
    auto key = std::make_tuple(int(t.family), int(t.size_step), t.bold, t.italic, t.underline, t.line_through,
                               int(t.vertical));
    auto it = text_style_index.find(key);
    if (it != text_style_index.end()) return it->second;
    if (edition.text_styles.size() >= 0xFFFF) return 0;
    uint16_t index = static_cast<uint16_t>(edition.text_styles.size());
    edition.text_styles.push_back(t);
    text_style_index.emplace(key, index);
    return index;
  }

  uint16_t BlockStyleIndex(const BlockStyle& b) {
    auto key = std::make_tuple(int(b.align), int(b.text_indent), int(b.margin_top), int(b.margin_bottom),
                               int(b.margin_left), int(b.margin_right), int(b.line_height), b.keep_with_next);
    auto it = block_style_index.find(key);
    if (it != block_style_index.end()) return it->second;
    if (edition.block_styles.size() >= 0xFFFF) return 0;
    uint16_t index = static_cast<uint16_t>(edition.block_styles.size());
    edition.block_styles.push_back(b);
    block_style_index.emplace(key, index);
    return index;
  }
};

struct EditionCompiler::State : EditionCompilerState {
  using EditionCompilerState::EditionCompilerState;
};

namespace {

// One document's walk: an explicit stack of open elements, so a document
// nested a hundred thousand deep costs memory, not the call stack.
class DocumentCompiler {
 public:
  DocumentCompiler(EditionCompilerState& state, const std::string& href, const SourceDocument& doc,
                   uint64_t source_size)
      : s_(state), href_(href), doc_(doc), source_size_(source_size) {}

  CompileStatus Compile();

 private:
  // How a sheet's rules take part in the cascade.
  struct SheetUse {
    const css::StyleSheet* sheet;
    int origin;
  };
  struct Frame {
    pugi::xml_node node;
    std::string name;
    std::string_view id, classes;
    uint32_t chain = 0;  // the same for elements whose own keys and ancestors' keys agree
    Computed style;
    bool block = false;
    bool hidden = false;
    BlockKind kind = BlockKind::kParagraph;
    uint8_t level = 0;
    uint8_t list_depth = 0;
    int64_t list_counter = 0;  // lists: the last number given
    size_t list_frame = SIZE_MAX;
    std::string marker;  // list items: given to the first block only
    bool marker_pending = false;
    uint32_t link = kNoLink;
    uint32_t first_block = 0;  // headings: where they began
    // Tables. A grid's row makes one block: what is inside it is set
    // inline, its cells parted by tabs.
    bool grid_row = false;  // the row itself
    bool in_grid_row = false;
    bool flattened = false;  // a block set inline in a grid's row
    std::string label;       // cells of other tables: given to the first block only
    bool label_pending = false;
    std::string language;  // from lang or xml:lang, here or on an ancestor
  };
  struct OpenTable {
    size_t frame = 0;  // in frames_
    TableShape shape;
    bool header_row = false;  // the open row heads the columns
    size_t rows = 0;          // rows begun
    size_t column = 0;        // columns begun in the open row
    uint32_t rows_set = 0;    // grids: row blocks written
  };

  void CollectSheets();
  css::Media Media() const { return {s_.settings.device_width, s_.settings.device_height}; }
  void ReportCss(const std::vector<css::Issue>& issues, const std::string& file, const LineMap* lines, size_t base,
                 Place fixed);
  void ComputeStyle(Frame& frame, const Frame* parent);
  bool SelectorMatches(const css::Selector& selector, const Frame& frame) const;

  bool Enter(const pugi::xml_node& node);
  void Leave();
  void AddText(std::string_view text);
  void AppendRun(const std::string& text, uint16_t style, uint32_t link);
  void LineBreak();
  void SoftBreak(const Frame& frame);
  bool EnterTablePart(Frame& frame);
  void EnsureBlock();
  void EndBlock();
  bool PushBlock(Block block);
  void AddImage(const pugi::xml_node& node, const Frame& frame);
  void AddImage(const pugi::xml_node& node, const std::string& src, const std::string& alt, const Frame& frame);
  void AddSvg(const pugi::xml_node& node, const Frame& frame);
  void AddPageBreak();
  void RecordAnchors(const pugi::xml_node& node);
  uint32_t MakeLink(const pugi::xml_node& node, const std::string& href);
  TextStyle TextStyleOf(const Frame& frame) const;
  BlockStyle BlockStyleOf(const Frame& frame) const;
  FlowPosition Here() const;
  void Progress(const pugi::xml_node& node);

  EditionCompilerState& s_;
  const std::string& href_;
  const SourceDocument& doc_;
  uint64_t source_size_;
  uint64_t reported_progress_ = 0;
  bool cancelled_ = false;
  bool runs_capped_ = false;  // the run budget was reached in this document

  std::vector<SheetUse> sheets_;
  std::vector<std::shared_ptr<const css::StyleSheet>> own_sheets_;
  // A rule a chain of elements matches, with the specificity of its best
  // selector; kept per chain, since selectors look at nothing else. Many
  // paragraphs in the same place are matched once.
  struct MatchedRule {
    uint32_t sheet = 0;
    uint32_t rule = 0;
    uint32_t specificity = 0;
  };
  const std::vector<MatchedRule>& MatchedRules(Frame& frame, const Frame* parent);
  std::unordered_map<std::string, uint32_t> chain_ids_;
  std::vector<std::vector<MatchedRule>> chain_rules_;
  std::vector<Frame> frames_;
  std::vector<size_t> block_frames_;
  std::vector<OpenTable> tables_;
  std::set<std::string> unknown_reported_;

  // The block being filled.
  bool open_ = false;
  Block block_;
  bool block_is_row_ = false;  // the block being filled is a grid's row
  bool space_pending_ = false;
  bool space_breaks_line_ = false;  // the pending white space holds a line end
  uint16_t space_style_ = 0;
  uint32_t space_link_ = kNoLink;
  size_t text_size_ = 0;
};

void DocumentCompiler::ReportCss(const std::vector<css::Issue>& issues, const std::string& file, const LineMap* lines,
                                 size_t base, Place fixed) {
  for (const css::Issue& issue : issues) {
    Place place = lines ? lines->At(base + issue.offset) : fixed;
    if (issue.not_shown && !s_.settings.foreign_css) continue;
    if (s_.settings.foreign_css) {
      const std::string& key = issue.property.empty() ? issue.message : issue.property;
      if (!s_.foreign_css_noted.insert(key).second) continue;
      s_.Report(file, place, 0,
                issue.property.empty()
                    ? issue.message + "; dropped"
                    : "CSS property \"" + issue.property + "\" (or a value of it) is not shown on the device; dropped");
      continue;
    }
    s_.Report(file, place, issue.error ? 2 : 1, issue.message);
  }
}

void DocumentCompiler::CollectSheets() {
  sheets_.push_back({&s_.default_sheet, 0});
  if (s_.settings.css_support < 2) return;
  // A book whose documents each link big sheets of their own would
  // otherwise hold every one of them, parsed, at once.
  if (s_.linked_sheet_bytes > EditionCompilerState::kKeptSheetBytes) {
    s_.linked_sheets.clear();
    s_.linked_sheet_bytes = 0;
  }
  // A linked or imported sheet, read once for the whole book.
  const auto read_sheet = [&](const std::string& target, Status& read) -> std::shared_ptr<const css::StyleSheet> {
    if (auto it = s_.linked_sheets.find(target); it != s_.linked_sheets.end()) return it->second;
    std::string bytes;
    if (read = s_.files.Read(target, bytes); !read.ok()) return nullptr;
    std::vector<css::Issue> issues;
    auto sheet = std::make_shared<const css::StyleSheet>(css::ParseStyleSheet(bytes, issues, Media()));
    if (s_.sheets_reported.insert(target).second) {
      LineMap lines(bytes);
      ReportCss(issues, target, &lines, 0, {});
    }
    s_.linked_sheets[target] = sheet;
    s_.linked_sheet_bytes += bytes.size();
    return sheet;
  };
  // A sheet after the sheets it imports, which are found from the sheet's
  // own address and stay inside the book; a cycle, or imports nested past
  // any real sheet's, end there.
  constexpr size_t kMaxImportDepth = 8;
  std::vector<std::string> importing;
  std::function<void(std::shared_ptr<const css::StyleSheet>, const std::string&, Place)> add;
  add = [&](std::shared_ptr<const css::StyleSheet> sheet, const std::string& base, Place place) {
    for (const std::string& href : sheet->imports) {
      std::optional<std::string> target = ResolveHref(base, href, s_.files.MayClimb());
      if (target && (importing.size() >= kMaxImportDepth ||
                     std::find(importing.begin(), importing.end(), *target) != importing.end())) {
        s_.Report(href_, place, 1, "style sheet \"" + href + "\" imports itself; left out");
        continue;
      }
      Status read(Status::Code::kOutside, "not found");
      std::shared_ptr<const css::StyleSheet> imported = target ? read_sheet(*target, read) : nullptr;
      if (!imported) {
        s_.Report(href_, place, 2, DescribeReadFailure("style sheet \"" + href + "\"", read));
        continue;
      }
      importing.push_back(*target);
      add(imported, *target, place);
      importing.pop_back();
    }
    sheets_.push_back({sheet.get(), 2});
    own_sheets_.push_back(std::move(sheet));
  };
  // <style> and <link rel="stylesheet"> in document order, wherever they are.
  vellix::formats::WalkTree(doc_.dom, [&](const pugi::xml_node& n, size_t) {
    if (n.type() == pugi::node_element) {
      std::string name = ElementName(n);
      if (name == "style") {
        size_t base;
        std::string text = StyleElementText(n, &base);
        std::vector<css::Issue> issues;
        auto sheet = std::make_shared<const css::StyleSheet>(css::ParseStyleSheet(text, issues, Media()));
        ReportCss(issues, href_, doc_.cleaned || base == SIZE_MAX ? nullptr : &doc_.lines, base, doc_.Of(n));
        add(sheet, href_, doc_.Of(n));
      } else if (name == "link" && n.attribute("href") &&
                 vellix::formats::LowerAscii(n.attribute("rel").value()).find("stylesheet") != std::string::npos &&
                 vellix::formats::LowerAscii(n.attribute("rel").value()).find("alternate") == std::string::npos) {
        std::optional<std::string> target = ResolveHref(href_, n.attribute("href").value(), s_.files.MayClimb());
        Status read(Status::Code::kOutside, "not found");
        std::shared_ptr<const css::StyleSheet> sheet = target ? read_sheet(*target, read) : nullptr;
        if (sheet) {
          importing.push_back(*target);
          add(sheet, *target, doc_.Of(n));
          importing.pop_back();
        } else {
          s_.Report(href_, doc_.Of(n), 2,
                    DescribeReadFailure(std::string("style sheet \"") + n.attribute("href").value() + "\"", read));
        }
      }
    }
    return vellix::formats::Walk::kInto;
  });
}

// How far up the ancestors a selector's other parts are looked for.
constexpr size_t kMaxAncestors = 256;

bool DocumentCompiler::SelectorMatches(const css::Selector& selector, const Frame& frame) const {
  if (!selector.supported || selector.parts.empty()) return false;
  auto key = [](const Frame& f) { return css::ElementKey{f.name, f.id, f.classes}; };
  if (!css::Matches(selector.parts.back(), key(frame))) return false;
  // Ancestors, nearest first; a deep document is searched only so far up.
  size_t part = selector.parts.size() - 1;
  size_t top = frames_.size();  // frame is the one being pushed, above the stack
  for (size_t seen = 0; part > 0 && top > 0 && seen < kMaxAncestors; ++seen) {
    --top;
    if (css::Matches(selector.parts[part - 1], key(frames_[top]))) --part;
  }
  return part == 0;
}

const std::vector<DocumentCompiler::MatchedRule>& DocumentCompiler::MatchedRules(Frame& frame, const Frame* parent) {
  std::string chain_key = std::to_string(parent ? parent->chain : 0);
  for (std::string_view part : {std::string_view(frame.name), frame.id, frame.classes}) {
    chain_key += '\0';
    chain_key += part;
  }
  auto [it, fresh] = chain_ids_.try_emplace(std::move(chain_key), static_cast<uint32_t>(chain_rules_.size() + 1));
  frame.chain = it->second;
  if (!fresh) return chain_rules_[frame.chain - 1];
  std::vector<MatchedRule> matched;
  // Only the selectors whose last part asks for this element's name, id or
  // classes are tried: a sheet of many rules costs what matches.
  std::vector<css::SelectorRef> candidates;
  const css::ElementKey element{frame.name, frame.id, frame.classes};
  std::vector<css::ElementKey> ancestors;
  for (const SheetUse& use : sheets_)
    if (use.sheet->FilesByAncestor()) {
      for (size_t top = frames_.size(); top > 0 && ancestors.size() < kMaxAncestors; --top)
        ancestors.push_back({frames_[top - 1].name, frames_[top - 1].id, frames_[top - 1].classes});
      break;
    }
  for (size_t sheet = 0; sheet < sheets_.size(); ++sheet) {
    const css::StyleSheet& rules = *sheets_[sheet].sheet;
    candidates.clear();
    rules.Candidates(element, ancestors, candidates);
    s_.selector_tests += candidates.size();
    for (size_t c = 0; c < candidates.size();) {
      const uint32_t rule_index = candidates[c].rule;
      const css::Rule& rule = rules.rules[rule_index];
      uint32_t best = 0;
      bool any = false;
      for (; c < candidates.size() && candidates[c].rule == rule_index; ++c) {
        const css::Selector& selector = rule.selectors[candidates[c].selector];
        if (SelectorMatches(selector, frame)) {
          any = true;
          best = std::max(best, selector.specificity);
        }
      }
      if (any) matched.push_back({static_cast<uint32_t>(sheet), rule_index, best});
    }
  }
  chain_rules_.push_back(std::move(matched));
  return chain_rules_.back();
}

void DocumentCompiler::ComputeStyle(Frame& frame, const Frame* parent) {
  static const Computed kRoot;
  const Computed& p = parent ? parent->style : kRoot;
  Computed& s = frame.style;
  s = p;
  s.display.clear();
  s.margin_top = s.margin_bottom = s.margin_left = s.margin_right = 0;
  s.break_before = s.break_after = false;
  if (!parent) s.underline = s.line_through = false;
  if (pugi::xml_attribute dir = frame.node.attribute("dir")) {
    const std::string d = vellix::formats::LowerAscii(dir.value());
    s.direction = d == "ltr" ? 1 : d == "rtl" ? 2 : d == "auto" ? 0 : s.direction;
  }

  struct Entry {
    std::tuple<bool, int, uint32_t, size_t> key;
    const css::Declaration* declaration;
  };
  std::vector<Entry> entries;
  size_t order = 0;
  // Rules count in sheet order: a sheet's rules come after every rule of
  // the sheets before it.
  size_t sheets_counted = 0;
  for (const MatchedRule& m : MatchedRules(frame, parent)) {
    while (sheets_counted < m.sheet) order += sheets_[sheets_counted++].sheet->rules.size();
    const SheetUse& use = sheets_[m.sheet];
    for (const css::Declaration& d : use.sheet->rules[m.rule].declarations)
      entries.push_back({{d.important, use.origin, m.specificity, order + m.rule + 1}, &d});
  }
  while (sheets_counted < sheets_.size()) order += sheets_[sheets_counted++].sheet->rules.size();
  std::vector<css::Declaration> hints = AttributeHints(frame.node, frame.name);
  for (const css::Declaration& d : hints) entries.push_back({{false, 1, 0, 0}, &d});
  std::vector<css::Declaration> inline_style;
  if (s_.settings.css_support >= 1) {
    if (pugi::xml_attribute style = frame.node.attribute("style")) {
      std::vector<css::Issue> issues;
      inline_style = css::ParseDeclarations(style.value(), issues);
      ReportCss(issues, href_, nullptr, 0, doc_.Of(frame.node));
    }
  }
  for (const css::Declaration& d : inline_style) entries.push_back({{d.important, 3, 0, ++order}, &d});
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.key < b.key; });
  // The font size first: ems in the other properties depend on it.
  for (const Entry& e : entries)
    if (e.declaration->property == css::Property::kFontSize) Apply(*e.declaration, s, p);
  for (const Entry& e : entries)
    if (e.declaration->property != css::Property::kFontSize) Apply(*e.declaration, s, p);
}

TextStyle DocumentCompiler::TextStyleOf(const Frame& frame) const {
  TextStyle t;
  t.family = frame.style.family;
  t.size_step = SizeStep(frame.style.font_size);
  t.bold = frame.style.bold;
  t.italic = frame.style.italic;
  t.underline = frame.style.underline || (frame.link != kNoLink && s_.settings.underline_links);
  t.line_through = frame.style.line_through;
  t.vertical = frame.style.vertical;
  return t;
}

BlockStyle DocumentCompiler::BlockStyleOf(const Frame& frame) const {
  const Computed& c = frame.style;
  BlockStyle b;
  b.align = c.pre ? TextAlign::kLeft : c.align;
  b.text_indent = ClampTenths(c.text_indent, -1000, 1000);
  b.margin_top = ClampTenths(c.margin_top, 0, 1000);
  b.margin_bottom = ClampTenths(c.margin_bottom, 0, 1000);
  b.margin_left = ClampTenths(c.indent_left + c.margin_left, 0, 1000);
  b.margin_right = ClampTenths(c.indent_right + c.margin_right, 0, 1000);
  b.line_height = static_cast<uint16_t>(ClampTenths(c.line_height, 50, 1000));
  // A definition term never ends a page, as a heading does not.
  b.keep_with_next = frame.kind == BlockKind::kHeading || frame.name == "dt";
  return b;
}

FlowPosition DocumentCompiler::Here() const {
  FlowPosition p;
  p.block = static_cast<uint32_t>(s_.edition.blocks.size());
  p.offset = open_ ? static_cast<uint32_t>(text_size_ + (space_pending_ && text_size_ > 0 ? 1 : 0)) : 0;
  return p;
}

void DocumentCompiler::Progress(const pugi::xml_node& node) {
  if (!s_.settings.progress) return;
  ptrdiff_t offset = node.offset_debug();
  if (offset <= 0) return;
  uint64_t at = std::min<uint64_t>(static_cast<uint64_t>(offset), source_size_);
  if (doc_.cleaned && !doc_.text.empty())  // the clean-up's output is not the file: scale
    at = std::min<uint64_t>(source_size_, static_cast<uint64_t>(offset) * source_size_ / doc_.text.size());
  if (at >= reported_progress_ + 4096) {
    reported_progress_ = at;
    s_.settings.progress(at);
  }
}

bool DocumentCompiler::PushBlock(Block block) {
  // A paragraph of many short runs leaves its vector up to half empty; the
  // flow keeps every block to the end of the book.
  block.runs.shrink_to_fit();
  s_.edition.blocks.push_back(std::move(block));
  if (s_.settings.cancelled && s_.settings.cancelled()) cancelled_ = true;
  return !cancelled_;
}

void DocumentCompiler::EnsureBlock() {
  if (open_) return;
  const Frame& frame = frames_[block_frames_.empty() ? 0 : block_frames_.back()];
  block_ = Block();
  block_.kind = frame.kind;
  block_.level = frame.level;
  block_.style = s_.BlockStyleIndex(BlockStyleOf(frame));
  // Blocks in another language than the book's are hyphenated in theirs; a
  // language given to inline text only is not kept.
  if (!frame.language.empty() && !WithinLanguage(frame.language, s_.edition.language)) block_.language = frame.language;
  // The first block of a list item carries its marker, also when it is a
  // paragraph inside the item.
  if (block_.kind == BlockKind::kListItem) {
    for (size_t i = block_frames_.size(); i > 0 && block_frames_.size() - i < 64; --i) {
      Frame& owner = frames_[block_frames_[i - 1]];
      if (owner.name != "li") continue;
      if (owner.marker_pending) block_.marker = owner.marker;
      owner.marker_pending = false;
      break;
    }
  }
  block_is_row_ = frame.grid_row && !tables_.empty();
  if (block_is_row_) {
    const OpenTable& table = tables_.back();
    block_.kind = BlockKind::kParagraph;
    block_.level = table.rows_set > 0 ? kTableRow : table.header_row ? kTableHeaderRow : kTableFirstRow;
  }
  open_ = true;
  text_size_ = 0;
  // The first block of a cell of a table that is no grid starts with its
  // column's header.
  for (size_t i = block_frames_.size(); !tables_.empty() && i > 0 && block_frames_.size() - i < 64; --i) {
    Frame& owner = frames_[block_frames_[i - 1]];
    if (owner.name == "tr" || owner.name == "table") break;  // a nested table's rows are its own
    if (owner.name != "td" && owner.name != "th") continue;
    if (owner.label_pending) {
      TextStyle bold = TextStyleOf(owner);
      bold.bold = true;
      AppendRun(owner.label + ": ", s_.TextStyleIndex(bold), kNoLink);
    }
    owner.label_pending = false;
    break;
  }
}

void DocumentCompiler::EndBlock() {
  space_pending_ = false;
  if (!open_) return;
  open_ = false;
  // A line break that ends a block makes no line of its own.
  if (!block_.runs.empty() && !block_.runs.back().text.empty() && block_.runs.back().text.back() == '\n' &&
      block_.kind != BlockKind::kPreformatted) {
    block_.runs.back().text.pop_back();
    if (block_.runs.back().text.empty()) block_.runs.pop_back();
  }
  if (block_.runs.empty()) return;
  if (block_is_row_ && !tables_.empty()) ++tables_.back().rows_set;
  PushBlock(std::move(block_));
}

void DocumentCompiler::AddText(std::string_view raw) {
  const Frame& frame = frames_.back();
  if (frame.hidden) return;
  // A grid's row is one line of cells: white space in it is a space.
  bool pre = frame.style.pre && !frame.in_grid_row;
  std::string text;
  text.reserve(raw.size());
  if (pre) {
    // White space kept as it is: a space pending from the text before
    // ("call <span style='white-space: pre'>f(x)</span>") is kept too.
    if (space_pending_ && !raw.empty()) {
      const bool after_break =
          !block_.runs.empty() && !block_.runs.back().text.empty() && block_.runs.back().text.back() == '\n';
      if (open_ && text_size_ > 0 && !after_break) AppendRun(" ", space_style_, space_link_);
      space_pending_ = false;
    }
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '\r') {
        text += '\n';
        if (i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
      } else {
        text += raw[i];
      }
    }
  } else {
    uint16_t style = s_.TextStyleIndex(TextStyleOf(frame));
    for (size_t i = 0; i < raw.size(); ++i) {
      const char c = raw[i];
      if (IsSpace(c)) {
        // A run of white space becomes one space, in the style of where it
        // began: "<a>here</a> there" leaves the space out of the link.
        if (!space_pending_) {
          space_pending_ = true;
          space_style_ = style;
          space_link_ = frame.link;
          space_breaks_line_ = false;
        }
        space_breaks_line_ |= c == '\n' || c == '\r';
        continue;
      }
      // A line end between two ideographs (Chinese, Japanese) is no space.
      if (space_pending_ && space_breaks_line_ && IsWideAt(raw, i) &&
          IsWideBefore(!text.empty()         ? std::string_view(text)
                       : block_.runs.empty() ? std::string_view()
                                             : block_.runs.back().text))
        space_pending_ = false;
      if (space_pending_) {
        bool after_break = !block_.runs.empty() && !block_.runs.back().text.empty() &&
                           (block_.runs.back().text.back() == '\n' || block_.runs.back().text.back() == kCellSeparator);
        if (!text.empty() ||
            (space_style_ == style && space_link_ == frame.link && open_ && text_size_ > 0 && !after_break)) {
          text += ' ';
        } else if (open_ && text_size_ > 0 && !after_break) {
          AppendRun(" ", space_style_, space_link_);
        }
        space_pending_ = false;
      }
      text += c;
    }
  }
  if (text.empty()) return;
  // Text right after a block's start, inside a <pre>, loses one line end.
  EnsureBlock();
  if (pre && text_size_ == 0 && block_.runs.empty() && text[0] == '\n') text.erase(0, 1);
  if (text.empty()) return;
  // A block's direction given by `dir` travels as a mark before its text
  // (left-to-right or right-to-left mark): the format has no field for it,
  // and a reader that does not look for it shows nothing of it.
  if (text_size_ == 0 && block_.runs.empty()) {
    const uint8_t direction = frames_[block_frames_.empty() ? 0 : block_frames_.back()].style.direction;
    if (direction != 0) text.insert(0, direction == 1 ? "\u200E" : "\u200F");
  }
  AppendRun(text, s_.TextStyleIndex(TextStyleOf(frame)), frame.link);
}

void DocumentCompiler::AppendRun(const std::string& text, uint16_t style, uint32_t link) {
  text_size_ += text.size();
  const bool same = !block_.runs.empty() && block_.runs.back().style == style && block_.runs.back().link == link;
  const bool capped = !block_.runs.empty() && s_.runs >= s_.settings.run_budget;
  if (same || capped) {
    if (!same && !runs_capped_) {
      runs_capped_ = true;
      s_.Report(href_, {}, 1,
                "the book holds more than " + std::to_string(s_.settings.run_budget) +
                    " runs of styled text: from here on, inline styles and links within a paragraph are dropped and "
                    "their text is kept");
    }
    block_.runs.back().text += text;
    return;
  }
  ++s_.runs;
  block_.runs.push_back({text, style, link});
}

void DocumentCompiler::LineBreak() {
  const Frame& frame = frames_.back();
  EnsureBlock();
  AppendRun("\n", s_.TextStyleIndex(TextStyleOf(frame)), frame.link);
  space_pending_ = false;
}

// White space where a block or a line break would part text that must
// stay on one line (in a grid's row).
void DocumentCompiler::SoftBreak(const Frame& frame) {
  if (space_pending_) return;
  space_pending_ = true;
  space_style_ = s_.TextStyleIndex(TextStyleOf(frame));
  space_link_ = frame.link;
  space_breaks_line_ = false;
}

// Tables, rows and cells; false when the element is none of these.
bool DocumentCompiler::EnterTablePart(Frame& frame) {
  const std::string& name = frame.name;
  if (name == "table") {
    EndBlock();
    frame.block = true;
    OpenTable table;
    table.frame = frames_.size();
    table.shape = MeasureTable(frame.node);
    tables_.push_back(std::move(table));
    return true;
  }
  if (tables_.empty() || tables_.back().frame >= frames_.size()) return false;
  OpenTable& table = tables_.back();
  if (name == "tr") {
    table.header_row = table.rows == 0 && !table.shape.labels.empty();
    table.column = 0;
    ++table.rows;
    frame.block = true;
    if (table.shape.grid) {
      frame.grid_row = frame.in_grid_row = true;
      frame.style.pre = false;
      // A centred table: its rows say so, the typesetter centres the columns.
      if (vellix::formats::LowerAscii(frames_[table.frame].node.attribute("align").value()) == "center")
        frame.style.align = TextAlign::kCenter;
    }
    return true;
  }
  if (name != "td" && name != "th") return false;
  const size_t column = table.column;
  table.column += static_cast<size_t>(std::clamp<int64_t>(
      vellix::formats::LeadingInteger(frame.node.attribute("colspan").value()).value_or(1), 1, 1000));
  if (table.shape.grid && frame.in_grid_row) {
    frame.block = false;
    if (column > 0) {
      space_pending_ = false;
      EnsureBlock();
      AppendRun(std::string(1, kCellSeparator), s_.TextStyleIndex(TextStyleOf(frame)), kNoLink);
    }
    return true;
  }
  frame.block = true;
  if (table.shape.columns < 2) return true;
  // Rows apart; each cell under its column's header, or indented after the
  // row's first cell when there is no header.
  if (column == 0) {
    frame.style.margin_top = std::max(frame.style.margin_top, 5.0);
  } else if (table.shape.labels.empty()) {
    frame.style.margin_left += 10;
  }
  if (!table.header_row && column < table.shape.labels.size() && !table.shape.labels[column].empty()) {
    frame.label = table.shape.labels[column];
    frame.label_pending = true;
  }
  return true;
}

void DocumentCompiler::AddPageBreak() {
  EndBlock();
  const auto& blocks = s_.edition.blocks;
  if (blocks.empty() || blocks.back().kind == BlockKind::kPageBreak) return;
  Block b;
  b.kind = BlockKind::kPageBreak;
  PushBlock(std::move(b));
}

void DocumentCompiler::RecordAnchors(const pugi::xml_node& node) {
  for (const char* attribute : {"id", "name"}) {
    pugi::xml_attribute a = node.attribute(attribute);
    if (!a || !*a.value()) continue;
    s_.anchors.emplace(href_ + "#" + a.value(), Here());
  }
}

uint32_t DocumentCompiler::MakeLink(const pugi::xml_node& node, const std::string& target) {
  Link link;
  auto index = static_cast<uint32_t>(s_.edition.links.size());
  if (HasScheme(target)) {
    link.external = true;
    link.uri = target;
    s_.edition.links.push_back(std::move(link));
    return index;
  }
  s_.edition.links.push_back(link);
  EditionCompilerState::PendingLink pending;
  pending.link = index;
  Place place = doc_.Of(node);
  pending.where.file = href_;
  pending.where.line = place.line;
  pending.where.column = place.column;
  size_t hash = target.find('#');
  if (hash != std::string::npos) pending.fragment = vellix::formats::OEBFFDecodeHref(target.substr(hash + 1));
  std::optional<std::string> document = ResolveHref(href_, target, s_.files.MayClimb());
  if (!document) {
    // A page the reader may have elsewhere: the book is sound without it.
    s_.Report(href_, place, 1, "\"" + target + "\" links to a document that is not part of the book");
    // Kept as an address outside the book, as the device keeps web links.
    s_.edition.links[index].external = true;
    s_.edition.links[index].uri = target;
    return index;
  }
  pending.href = target;
  pending.document = *document;
  s_.pending_links.push_back(std::move(pending));
  return index;
}

void DocumentCompiler::AddImage(const pugi::xml_node& node, const Frame& frame) {
  AddImage(node, node.attribute("src").value(), DecodeHtmlEntities(node.attribute("alt").value()), frame);
}

// An SVG drawing is not drawn (the device shows bitmaps): a cover that
// only frames a bitmap shows the bitmap, any other drawing its title.
void DocumentCompiler::AddSvg(const pugi::xml_node& node, const Frame& frame) {
  pugi::xml_node image = node.find_node([](const pugi::xml_node& n) { return ElementName(n) == "image"; });
  std::string href;
  if (image) {
    for (pugi::xml_attribute a : image.attributes())
      if (std::string_view(a.name()) == "href" || std::string_view(a.name()).ends_with(":href")) href = a.value();
  }
  pugi::xml_node title = node.find_node([](const pugi::xml_node& n) { return ElementName(n) == "title"; });
  std::string alt = vellix::formats::TrimmedAscii(DecodeHtmlEntities(title ? vellix::formats::TextOf(title) : ""));
  if (!href.empty()) {
    AddImage(node, href, alt, frame);
    return;
  }
  s_.Report(href_, doc_.Of(node), 1, "an SVG drawing is not shown; its title stands in its place");
  if (alt.empty()) return;
  EndBlock();
  Block b;
  b.kind = BlockKind::kParagraph;
  b.style = s_.BlockStyleIndex(BlockStyleOf(frames_[block_frames_.empty() ? 0 : block_frames_.back()]));
  b.runs.push_back({alt, s_.TextStyleIndex(TextStyleOf(frame)), frame.link});
  PushBlock(std::move(b));
}

void DocumentCompiler::AddImage(const pugi::xml_node& node, const std::string& src, const std::string& alt,
                                const Frame& frame) {
  std::optional<std::string> target = ResolveHref(href_, src, s_.files.MayClimb());
  bool svg = vellix::formats::LowerAscii(src).ends_with(".svg");
  EditionCompilerState::ImageEntry entry;
  if (src.empty() || !target) {
    entry.error = "image \"" + src + "\" is outside the package";
  } else if (auto it = s_.images.find(*target); it != s_.images.end()) {
    entry = it->second;
  } else {
    std::string bytes;
    if (Status read = s_.files.Read(*target, bytes); !read.ok()) {
      entry.error = DescribeReadFailure("image \"" + src + "\"", read);
    } else if (uint64_t declared = DeclaredImagePixels(bytes), budget = s_.settings.image_pixel_budget;
               declared > budget - std::min(s_.image_pixels, budget)) {
      entry.budget = true;
      entry.error = "image \"" + src + "\" left out: the book's pictures would take more than " +
                    (budget >= 1000000 ? std::to_string(budget / 1000000) + " million" : std::to_string(budget)) +
                    " pixels to decode";
    } else {
      GreyImageResult decoded = DecodeGreyImage(bytes, s_.settings.device_width, s_.settings.device_height);
      s_.image_pixels += std::max(declared, decoded.source_pixels);
      if (decoded.ok) {
        entry.ok = true;
        entry.index = static_cast<uint32_t>(s_.edition.images.size());
        s_.edition.images.push_back(std::move(decoded.image));
      } else {
        entry.error = "image \"" + src + "\": " + decoded.error;
      }
    }
    s_.images[*target] = entry;
  }
  EndBlock();
  if (!entry.ok) {
    if (svg)
      s_.Report(href_, doc_.Of(node), 1,
                "the SVG image \"" + src + "\" is not shown; its alternative text stands in its place");
    else
      s_.Report(href_, doc_.Of(node), entry.budget ? 1 : 2, entry.error);
    std::string kept = vellix::formats::TrimmedAscii(alt);
    if (!kept.empty()) {
      Block b;
      b.kind = BlockKind::kParagraph;
      b.style = s_.BlockStyleIndex(BlockStyleOf(frames_[block_frames_.empty() ? 0 : block_frames_.back()]));
      b.runs.push_back({kept, s_.TextStyleIndex(TextStyleOf(frame)), frame.link});
      PushBlock(std::move(b));
    }
    return;
  }
  // A picture nobody describes is lost to a reader who cannot see it, and
  // to the text the book is searched and read aloud by.
  if (vellix::formats::TrimmedAscii(alt).empty())
    s_.Report(href_, doc_.Of(node), 1, "the image \"" + src + "\" has no alternative text");
  Block b;
  b.kind = BlockKind::kImage;
  b.style = s_.BlockStyleIndex(BlockStyleOf(frames_[block_frames_.empty() ? 0 : block_frames_.back()]));
  b.image = entry.index;
  b.alt = alt;
  PushBlock(std::move(b));
}

// Opens an element; false when its content is to be skipped.
bool DocumentCompiler::Enter(const pugi::xml_node& node) {
  Frame frame;
  frame.node = node;
  frame.name = ElementName(node);
  frame.id = node.attribute("id").value();
  frame.classes = node.attribute("class").value();
  const Frame* parent = frames_.empty() ? nullptr : &frames_.back();
  if (parent) {
    frame.hidden = parent->hidden;
    frame.list_depth = parent->list_depth;
    frame.list_frame = parent->list_frame;
    frame.link = parent->link;
    frame.kind = parent->kind;
    frame.level = parent->level;
    frame.in_grid_row = parent->in_grid_row;
    frame.language = parent->language;
  }
  for (const char* attribute : {"xml:lang", "lang"}) {
    std::string value = vellix::formats::TrimmedAscii(node.attribute(attribute).value());
    if (IsLanguageTag(value)) {
      frame.language = std::move(value);
      break;
    }
  }
  const std::string& name = frame.name;
  if (!IsKnownElement(name) && unknown_reported_.insert(name).second)
    s_.Report(href_, doc_.Of(node), 1, "element <" + name + "> not known; its content is kept");
  ComputeStyle(frame, parent);
  std::string display = frame.style.display;
  // The `hidden` attribute hides as the browsers' own sheet does: a sheet
  // of the book's that sets `display` wins.
  const bool hidden = IsHiddenElement(name) || node.attribute("hidden");
  if (display.empty()) display = hidden ? "none" : IsBlockElement(name) ? "block" : "inline";
  if (display == "none") return false;
  frame.block = display == "block";
  // Margins of enclosing blocks add up, as nested boxes do.
  if (parent) {
    frame.style.indent_left = parent->style.indent_left + (parent->block ? parent->style.margin_left : 0);
    frame.style.indent_right = parent->style.indent_right + (parent->block ? parent->style.margin_right : 0);
  }
  if (frame.style.break_before && !frame.in_grid_row) AddPageBreak();
  if (cancelled_) return false;

  if (name == "br" || name == "hr" || name == "img") frame.block = false;  // blocks of their own, no container
  if (name == "br") {
    RecordAnchors(node);
    frames_.push_back(std::move(frame));
    if (frames_.back().in_grid_row)
      SoftBreak(frames_.back());
    else
      LineBreak();
    return true;
  }
  if (name == "hr") {
    EndBlock();
    RecordAnchors(node);
    Block rule;
    rule.kind = BlockKind::kRule;
    rule.style = s_.BlockStyleIndex(BlockStyleOf(frame));
    frames_.push_back(std::move(frame));
    PushBlock(std::move(rule));
    return true;
  }
  if (name == "img") {
    RecordAnchors(node);
    frames_.push_back(std::move(frame));
    AddImage(node, frames_.back());
    return true;
  }
  if (name == "svg") {
    RecordAnchors(node);
    AddSvg(node, frame);
    return false;
  }
  if (!EnterTablePart(frame) && frame.block && frame.in_grid_row) {
    // A paragraph in a grid's cell: its text goes on in the row.
    frame.block = false;
    frame.flattened = true;
    SoftBreak(frame);
  }
  if (frame.block) {
    EndBlock();
    if (name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6') {
      frame.kind = BlockKind::kHeading;
      frame.level = static_cast<uint8_t>(name[1] - '0');
      frame.first_block = static_cast<uint32_t>(s_.edition.blocks.size());
    } else if (name == "ul" || name == "ol") {
      frame.list_depth = static_cast<uint8_t>(std::min(frame.list_depth + 1, 255));
      frame.list_frame = frames_.size();
      if (name == "ol") {
        if (std::optional<int64_t> start = vellix::formats::LeadingInteger(node.attribute("start").as_string("1")))
          frame.list_counter = std::clamp<int64_t>(*start, -1000000, 1000000) - 1;
      }
    } else if (name == "li") {
      frame.kind = BlockKind::kListItem;
      frame.level = static_cast<uint8_t>(std::max<int>(1, frame.list_depth));
      int64_t number = 1;
      if (frame.list_frame != SIZE_MAX && frame.list_frame < frames_.size()) {
        Frame& list = frames_[frame.list_frame];
        if (pugi::xml_attribute value = node.attribute("value")) {
          if (std::optional<int64_t> given = vellix::formats::LeadingInteger(value.value()))
            list.list_counter = std::clamp<int64_t>(*given, -1000000, 1000000) - 1;
        }
        number = ++list.list_counter;
      }
      frame.marker = Marker(frame.style.list_style, number);
      frame.marker_pending = true;
    } else if (frame.style.pre || name == "pre") {
      frame.kind = BlockKind::kPreformatted;
    } else if (frame.kind != BlockKind::kListItem) {
      frame.kind = BlockKind::kParagraph;
      frame.level = 0;
    }
    if (frame.style.pre) frame.kind = BlockKind::kPreformatted;
    if (frame.grid_row) {
      frame.kind = BlockKind::kParagraph;
      frame.level = 0;
    }
  }
  RecordAnchors(node);
  if (name == "a") {
    if (pugi::xml_attribute href = node.attribute("href")) {
      frame.link = MakeLink(node, vellix::formats::TrimmedAscii(href.value()));
      if (s_.settings.underline_links) frame.style.underline = true;
    }
  }
  if (frame.block) block_frames_.push_back(frames_.size());
  frames_.push_back(std::move(frame));
  return true;
}

void DocumentCompiler::Leave() {
  Frame& frame = frames_.back();
  if (frame.block) {
    EndBlock();
    block_frames_.pop_back();
    if (frame.kind == BlockKind::kHeading &&
        (frames_.size() < 2 || frames_[frames_.size() - 2].kind != BlockKind::kHeading)) {
      TocEntry entry;
      entry.level = frame.level;
      entry.target = {frame.first_block, 0};
      for (size_t b = frame.first_block; b < s_.edition.blocks.size(); ++b) {
        for (const Run& run : s_.edition.blocks[b].runs) {
          for (char c : run.text) entry.title += c == '\n' ? ' ' : c;
        }
        if (!entry.title.empty() && b + 1 < s_.edition.blocks.size()) entry.title += ' ';
      }
      entry.title = vellix::formats::TrimmedAscii(entry.title);
      if (!entry.title.empty()) s_.edition.toc.push_back(std::move(entry));
    }
  }
  if (!tables_.empty() && tables_.back().frame == frames_.size() - 1) tables_.pop_back();
  if (frame.flattened) SoftBreak(frame);
  bool break_after = frame.style.break_after && !frame.in_grid_row;
  frames_.pop_back();
  if (break_after) AddPageBreak();
}

CompileStatus DocumentCompiler::Compile() {
  CollectSheets();
  pugi::xml_node root = doc_.Root();
  pugi::xml_node body;
  for (pugi::xml_node c : root.children())
    if (c.type() == pugi::node_element && ElementName(c) == "body") body = c;
  // The document element (and head) are entered for their styles only; the
  // walk covers the body, or the whole document when it has none.
  pugi::xml_node start = body ? body : root;
  std::vector<pugi::xml_node> chain;
  for (pugi::xml_node n = start; n && n.type() == pugi::node_element; n = n.parent()) chain.push_back(n);
  std::reverse(chain.begin(), chain.end());
  // The book's language, unless the package names one: the first
  // document's, from its body or its root (lang or xml:lang).
  if (s_.edition.language.empty()) {
    for (auto n = chain.rbegin(); n != chain.rend() && s_.edition.language.empty(); ++n) {
      for (const char* attribute : {"xml:lang", "lang"}) {
        const std::string value = vellix::formats::TrimmedAscii(n->attribute(attribute).value());
        if (!value.empty() && value.size() < 36 && vellix::formats::IsValidUtf8(value)) {
          s_.edition.language = value;
          break;
        }
      }
    }
  }
  for (size_t i = 0; i + 1 < chain.size(); ++i) {
    if (!Enter(chain[i])) return CompileStatus::kCompiled;
  }

  s_.document_starts.emplace(href_, Here());
  size_t base_depth = frames_.size();
  pugi::xml_node node = start;
  bool entering = true;
  while (node && !cancelled_) {
    if (entering) {
      Progress(node);
      bool descend = false;
      if (node.type() == pugi::node_element) {
        descend = Enter(node);
      } else if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) {
        if (!frames_.empty()) AddText(DecodeHtmlEntities(node.value()));
      }
      if (descend && node.first_child()) {
        node = node.first_child();
        continue;
      }
      if (descend) Leave();
    } else {
      Leave();
    }
    if (node == start) break;
    if (node.next_sibling()) {
      node = node.next_sibling();
      entering = true;
    } else {
      node = node.parent();
      entering = false;
    }
  }
  EndBlock();
  while (frames_.size() > base_depth) frames_.pop_back();
  if (cancelled_) return CompileStatus::kCancelled;
  if (s_.settings.progress && reported_progress_ < source_size_) s_.settings.progress(source_size_);
  return CompileStatus::kCompiled;
}

// Clamps a position into the flow: past the end means the end of the last
// block.
FlowPosition Clamp(FlowPosition p, const std::vector<Block>& blocks) {
  if (blocks.empty()) return {};
  if (p.block >= blocks.size()) return {static_cast<uint32_t>(blocks.size() - 1), 0};
  // A place recorded just before a page break (a chapter or heading that
  // starts a page) is shown on the page that follows the break.
  if (blocks[p.block].kind == BlockKind::kPageBreak) {
    uint32_t next = p.block;
    while (next < blocks.size() && blocks[next].kind == BlockKind::kPageBreak) ++next;
    if (next < blocks.size()) return {next, 0};
  }
  size_t size = 0;
  for (const Run& run : blocks[p.block].runs) size += run.text.size();
  if (p.offset > size) p.offset = static_cast<uint32_t>(size);
  return p;
}

}  // namespace

EditionCompiler::EditionCompiler(SourceFiles& files, CompileSettings settings, ProblemSink problems)
    : state_(std::make_unique<State>(files, std::move(settings), std::move(problems))) {
  state_->edition.settings.underline_links = state_->settings.underline_links;
  state_->TextStyleIndex(TextStyle());
  state_->BlockStyleIndex(BlockStyle());
}

EditionCompiler::~EditionCompiler() = default;

CompileStatus EditionCompiler::AddDocument(const std::string& href) {
  State& s = *state_;
  std::string text;
  if (Status read = s.files.Read(href, text); !read.ok()) {
    s.Report(href, {}, 2, DescribeReadFailure("document", read));
    return CompileStatus::kFailed;
  }
  const std::string* bytes = &text;
  auto doc = std::make_unique<SourceDocument>();
  ParseOutcome outcome = ParseSource(*bytes, *doc);
  if (!outcome.parsed) {
    s.Report(href, outcome.place, 1, "not well-formed (" + outcome.error + "); cleaned up");
    const vellix::formats::MarkupShape shape = vellix::formats::MeasureMarkup(*bytes);
    if (!shape.WithinLimits()) {
      s.Report(href, {}, 2, "cannot be cleaned up: the document " + shape.Excess());
      return CompileStatus::kFailed;
    }
    // The source as first read, with its own line map: parsing the clean-up
    // replaces the document's text, which its map views.
    const std::string source = doc->text;
    const LineMap source_lines(source);
    // The text as decoded goes to the clean-up, which then reads UTF-8.
    std::optional<std::string> cleaned = vellix::formats::CleanUpHtml(source);
    ParseOutcome again;
    if (cleaned) again = ParseSourceText(*cleaned, *doc);
    if (!again.parsed) {
      if (!cleaned) {
        s.Report(href, outcome.place, 2, "cannot be read even after clean-up");
        return CompileStatus::kFailed;
      }
      // Name the place that failed: the clean-up's text around it, found
      // again in the source.
      std::string_view rest(doc->text);
      rest = rest.substr(std::min(again.offset, rest.size()));
      rest = rest.substr(0, std::min<size_t>({rest.find('\n'), rest.find('\r'), 24}));
      Place place = outcome.place;
      const size_t found = rest.size() >= 3 ? source.find(rest) : std::string::npos;
      if (found != std::string::npos) place = source_lines.At(found);
      s.Report(href, place, 2,
               "cannot be read even after clean-up (" + again.error + " at \"" + std::string(rest) + "\")");
      return CompileStatus::kFailed;
    }
    doc->cleaned = true;
  }
  // The parsed tree holds its own text: the bytes as read are not needed
  // while the document is compiled.
  const uint64_t source_size = text.size();
  std::string().swap(text);
  DocumentCompiler compiler(s, href, *doc, source_size);
  return compiler.Compile();
}

void EditionCompiler::SetContents(std::vector<ContentsTarget> contents) {
  state_->given_contents = std::move(contents);
}

uint64_t EditionCompiler::SelectorTests() const { return state_->selector_tests; }

DeviceEdition EditionCompiler::Finish() {
  State& s = *state_;
  DeviceEdition& e = s.edition;
  // Documents linked to that are not part of the book: whether the package
  // holds them at all.
  std::map<std::string, bool> held;
  auto package_holds = [&](const std::string& document) {
    auto [it, added] = held.emplace(document, false);
    if (added) {
      std::string bytes;
      it->second = s.files.Read(document, bytes).code() != Status::Code::kNotFound;
    }
    return it->second;
  };
  // Messages name a link as its page writes it: the package-relative form
  // counts from the folder all sources share, which may be "/" itself.
  for (const State::PendingLink& pending : s.pending_links) {
    Link& link = e.links[pending.link];
    auto report = [&](int16_t severity, const std::string& message) {
      Problem p = pending.where;
      p.severity = severity;
      p.message = message;
      if (s.problems) s.problems(p);
    };
    auto start = s.document_starts.find(pending.document);
    if (start == s.document_starts.end() && !package_holds(pending.document)) {
      // A file that is nowhere: the link is broken, as a viewer reports it.
      report(2, "link to \"" + pending.href + "\", a file that does not exist");
      link.broken = true;
      link.uri = pending.href;
    } else if (start == s.document_starts.end()) {
      // A page the reader may have elsewhere: an address outside the book.
      report(1, "\"" + pending.href + "\" links to a document that is not part of the book");
      link.external = true;
      link.uri = pending.href;
    } else if (!pending.fragment.empty()) {
      auto anchor = s.anchors.find(pending.document + "#" + pending.fragment);
      if (anchor == s.anchors.end()) {
        // Broken rather than leading to the book's start: a viewer reports it.
        report(2, "link to \"" + pending.href + "\", an anchor that does not exist");
        link.broken = true;
        link.uri = pending.href;
      } else {
        link.target = Clamp(anchor->second, e.blocks);
      }
    } else {
      link.target = Clamp(start->second, e.blocks);
    }
  }
  if (s.given_contents) {
    e.toc.clear();
    for (const ContentsTarget& given : *s.given_contents) {
      auto start = s.document_starts.find(given.document);
      if (start == s.document_starts.end()) continue;
      TocEntry entry;
      // The device shows six levels of contents; an entry nested deeper in
      // a book's own contents stands at the sixth, after its parent.
      entry.level = std::min<uint8_t>(given.level, 6);
      entry.title = given.label;
      entry.target = start->second;
      if (!given.fragment.empty())
        if (auto anchor = s.anchors.find(given.document + "#" + given.fragment); anchor != s.anchors.end())
          entry.target = anchor->second;
      e.toc.push_back(std::move(entry));
    }
  }
  for (TocEntry& entry : e.toc) entry.target = Clamp(entry.target, e.blocks);
  s.pending_links.clear();
  return std::move(e);
}

}  // namespace ikutil
