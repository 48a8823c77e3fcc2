#include "css.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <optional>
#include <string>
#include <unordered_set>

#include "vellix/formats/ascii.h"

namespace ikutil::css {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// Offsets of a trimmed piece within the text it came from.
struct Span {
  size_t begin = 0;
  size_t end = 0;
};

Span Trim(std::string_view text, Span span) {
  while (span.begin < span.end && IsSpace(text[span.begin])) ++span.begin;
  while (span.end > span.begin && IsSpace(text[span.end - 1])) --span.end;
  return span;
}

// The sheet with every comment replaced by spaces (line ends kept), so
// offsets still point into the original text.
std::string BlankComments(std::string_view text, std::vector<Issue>& issues) {
  std::string out(text);
  char quote = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    char c = out[i];
    if (quote) {
      if (c == '\\')
        ++i;
      else if (c == quote || c == '\n')
        quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '/' && i + 1 < out.size() && out[i + 1] == '*') {
      size_t end = out.find("*/", i + 2);
      if (end == std::string::npos) {
        issues.push_back({i, true, "comment not closed"});
        end = out.size();
      } else {
        end += 2;
      }
      for (size_t j = i; j < end; ++j)
        if (out[j] != '\n') out[j] = ' ';
      i = end - 1;
    }
  }
  return out;
}

// The offset of the first of `stops` at nesting depth 0 outside strings,
// from `from`, before `end`; `end` when there is none.
size_t FindFirstOutside(std::string_view text, size_t from, size_t end, std::string_view stops) {
  int depth = 0;
  char quote = 0;
  for (size_t i = from; i < end; ++i) {
    char c = text[i];
    if (quote) {
      if (c == '\\')
        ++i;
      else if (c == quote)
        quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (depth == 0 && stops.find(c) != std::string_view::npos) {
      return i;
    } else if (c == '(' || c == '{' || c == '[') {
      ++depth;
    } else if ((c == ')' || c == '}' || c == ']') && depth > 0) {
      --depth;
    }
  }
  return end;
}

// The same for one stop character.
size_t FindOutside(std::string_view text, size_t from, size_t end, char stop) {
  return FindFirstOutside(text, from, end, std::string_view(&stop, 1));
}

std::vector<std::string_view> Words(std::string_view value) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < value.size()) {
    while (i < value.size() && IsSpace(value[i])) ++i;
    size_t start = i;
    while (i < value.size() && !IsSpace(value[i])) ++i;
    if (i > start) words.push_back(value.substr(start, i - start));
  }
  return words;
}

// A number with an optional unit ("1.5em", "80%", "0"), or nullopt.
std::optional<Value> ParseNumber(std::string_view text) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits_start = i;
  bool digits = false;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, digits = true;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, digits = true;
  }
  if (!digits || i - digits_start > 32) return std::nullopt;
  Value v;
  // Not strtod: the user's locale may want a decimal comma.
  std::string_view number = text.substr(text[0] == '+' ? 1 : 0, i - (text[0] == '+' ? 1 : 0));
  if (std::from_chars(number.data(), number.data() + number.size(), v.number).ec != std::errc()) return std::nullopt;
  std::string_view unit = text.substr(i);
  static const std::pair<std::string_view, Unit> kUnits[] = {
      {"", Unit::kNone}, {"em", Unit::kEm}, {"ex", Unit::kEx},   {"%", Unit::kPercent},
      {"px", Unit::kPx}, {"pt", Unit::kPt}, {"pc", Unit::kPc},   {"in", Unit::kIn},
      {"cm", Unit::kCm}, {"mm", Unit::kMm}, {"rem", Unit::kRem},
  };
  for (const auto& [name, u] : kUnits) {
    if (unit == name) {
      v.unit = u;
      return v;
    }
  }
  return std::nullopt;
}

// A length or percentage; a bare number only when it is zero.
std::optional<Value> ParseLength(std::string_view text) {
  std::optional<Value> v = ParseNumber(text);
  if (v && v->unit == Unit::kNone && v->number != 0) return std::nullopt;
  return v;
}

bool OneOf(std::string_view value, std::initializer_list<std::string_view> words) {
  return std::find(words.begin(), words.end(), value) != words.end();
}

Value Keyword(std::string_view k) {
  Value v;
  v.keyword = std::string(k);
  return v;
}

// The generic family a font list comes down to; empty when none is known.
std::string GenericFamily(std::string_view list) {
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string_view::npos) comma = list.size();
    std::string name(list.substr(start, comma - start));
    name.erase(std::remove_if(name.begin(), name.end(), [](char c) { return c == '"' || c == '\''; }), name.end());
    Span s = Trim(name, {0, name.size()});
    name = name.substr(s.begin, s.end - s.begin);
    if (OneOf(name, {"monospace", "courier", "courier new", "consolas", "lucida console", "andale mono"}))
      return "monospace";
    if (OneOf(name, {"sans-serif", "arial", "helvetica", "verdana", "tahoma", "trebuchet ms", "geneva"}))
      return "sans-serif";
    if (OneOf(name, {"serif", "times", "times new roman", "georgia", "palatino", "book antiqua"})) return "serif";
    start = comma + 1;
  }
  return "";
}

// Properties of the subset the device cannot show (colours, boxes,
// floats): accepted without a word.
bool IsKnownButNotShown(std::string_view name) {
  static constexpr std::string_view kPrefixes[] = {"border", "padding", "background"};
  for (std::string_view p : kPrefixes)
    if (name.substr(0, p.size()) == p) return true;
  return OneOf(name, {"color",
                      "width",
                      "height",
                      "float",
                      "clear",
                      "letter-spacing",
                      "word-spacing",
                      "text-transform",
                      "font-variant",
                      "list-style-image",
                      "list-style-position",
                      "page-break-inside",
                      "orphans",
                      "widows",
                      "direction",
                      "unicode-bidi",
                      "visibility",
                      "min-width",
                      "max-width",
                      "min-height",
                      "max-height",
                      "text-shadow",
                      "quotes",
                      "content"});
}

bool IsFontSizeKeyword(std::string_view v) {
  return OneOf(v, {"xx-small", "x-small", "small", "medium", "large", "x-large", "xx-large", "smaller", "larger"});
}

// The "font" shorthand: [style] [variant] [weight] [stretch] size[/line
// height] family. What it leaves out goes back to its initial value, as
// in browsers; a system font ("caption", "menu") changes nothing here.
template <typename Add, typename Bad>
void ConvertFont(std::string_view v, Add add, Bad bad_value) {
  if (OneOf(v, {"caption", "icon", "menu", "message-box", "small-caption", "status-bar"})) return;
  std::vector<std::string_view> words = Words(v);
  bool italic = false, bold = false;
  size_t i = 0;
  for (; i < words.size(); ++i) {
    std::string_view w = words[i];
    if (OneOf(w, {"italic", "oblique"}))
      italic = true;
    else if (OneOf(w, {"bold", "bolder", "600", "700", "800", "900"}))
      bold = true;
    else if (!OneOf(w, {"normal", "small-caps", "lighter", "100", "200", "300", "400", "500", "ultra-condensed",
                        "extra-condensed", "condensed", "semi-condensed", "semi-expanded", "expanded", "extra-expanded",
                        "ultra-expanded"}))
      break;
  }
  if (i + 1 >= words.size()) return bad_value();  // a size and a family are both needed
  std::string_view size_text = words[i], line_text;
  if (size_t slash = size_text.find('/'); slash != std::string_view::npos) {
    line_text = size_text.substr(slash + 1);
    size_text = size_text.substr(0, slash);
  }
  Value size, line = Keyword("normal");
  if (IsFontSizeKeyword(size_text)) {
    size = Keyword(size_text);
  } else if (auto n = ParseLength(size_text); n && n->number >= 0) {
    size = *n;
  } else {
    return bad_value();
  }
  if (!line_text.empty() && line_text != "normal") {
    auto n = ParseNumber(line_text);
    if (!n || n->number < 0) return bad_value();
    line = *n;
  }
  add(Property::kFontStyle, Keyword(italic ? "italic" : "normal"));
  add(Property::kFontWeight, Keyword(bold ? "bold" : "normal"));
  add(Property::kFontSize, size);
  add(Property::kLineHeight, line);
  const size_t family_start = static_cast<size_t>(words[i + 1].data() - v.data());
  std::string family = GenericFamily(v.substr(family_start));
  if (!family.empty()) add(Property::kFontFamily, Keyword(family));
}

// Converts one declaration to typed ones; reports what it cannot use.
void Convert(const std::string& name, std::string_view value, bool important, size_t offset,
             std::vector<Declaration>& out, std::vector<Issue>& issues) {
  auto add = [&](Property p, Value v) { out.push_back({p, std::move(v), important}); };
  auto bad_value = [&] {
    issues.push_back({offset, false, "value \"" + std::string(value) + "\" of " + name + " not supported", name});
  };
  std::string lowered = vellix::formats::LowerAscii(value);
  std::string_view v = lowered;
  if (v == "inherit") return;  // inherited properties inherit anyway

  if (name == "font-family") {
    std::string family = GenericFamily(v);
    if (!family.empty()) add(Property::kFontFamily, Keyword(family));
  } else if (name == "font") {
    ConvertFont(v, add, bad_value);
  } else if (name == "font-size") {
    if (IsFontSizeKeyword(v))
      add(Property::kFontSize, Keyword(v));
    else if (auto n = ParseLength(v); n && n->number >= 0)
      add(Property::kFontSize, *n);
    else
      bad_value();
  } else if (name == "font-weight") {
    if (OneOf(v, {"bold", "bolder", "600", "700", "800", "900"}))
      add(Property::kFontWeight, Keyword("bold"));
    else if (OneOf(v, {"normal", "lighter", "100", "200", "300", "400", "500"}))
      add(Property::kFontWeight, Keyword("normal"));
    else
      bad_value();
  } else if (name == "font-style") {
    if (OneOf(v, {"italic", "oblique"}))
      add(Property::kFontStyle, Keyword("italic"));
    else if (v == "normal")
      add(Property::kFontStyle, Keyword("normal"));
    else
      bad_value();
  } else if (name == "text-align") {
    if (OneOf(v, {"left", "right", "center", "justify"}))
      add(Property::kTextAlign, Keyword(v));
    else
      bad_value();
  } else if (name == "text-indent" || name == "margin-top" || name == "margin-bottom" || name == "margin-left" ||
             name == "margin-right" || name == "margin") {
    std::vector<std::string_view> words = name == "margin" ? Words(v) : std::vector<std::string_view>{v};
    std::vector<Value> lengths;
    for (std::string_view w : words) {
      std::optional<Value> n = w == "auto" ? ParseLength("0") : ParseLength(w);
      if (!n) return bad_value();
      lengths.push_back(*n);
    }
    if (lengths.empty() || lengths.size() > 4) return bad_value();
    if (name == "text-indent") return add(Property::kTextIndent, lengths[0]);
    if (name == "margin-top") return add(Property::kMarginTop, lengths[0]);
    if (name == "margin-bottom") return add(Property::kMarginBottom, lengths[0]);
    if (name == "margin-left") return add(Property::kMarginLeft, lengths[0]);
    if (name == "margin-right") return add(Property::kMarginRight, lengths[0]);
    // top, right, bottom, left; missing ones copy their opposite side.
    Value top = lengths[0];
    Value right = lengths.size() > 1 ? lengths[1] : top;
    Value bottom = lengths.size() > 2 ? lengths[2] : top;
    Value left = lengths.size() > 3 ? lengths[3] : right;
    add(Property::kMarginTop, top);
    add(Property::kMarginRight, right);
    add(Property::kMarginBottom, bottom);
    add(Property::kMarginLeft, left);
  } else if (name == "line-height") {
    if (v == "normal")
      add(Property::kLineHeight, Keyword("normal"));
    else if (auto n = ParseNumber(v); n && n->number >= 0)
      add(Property::kLineHeight, *n);
    else
      bad_value();
  } else if (name == "text-decoration") {
    std::vector<std::string_view> words = Words(v);
    bool underline = false;
    bool line_through = false;
    for (std::string_view w : words) {
      if (!OneOf(w, {"none", "underline", "overline", "line-through", "blink"})) return bad_value();
      underline = underline || w == "underline";
      line_through = line_through || w == "line-through";
    }
    add(Property::kTextDecoration, Keyword(underline && line_through ? "underline line-through"
                                           : underline               ? "underline"
                                           : line_through            ? "line-through"
                                                                     : "none"));
  } else if (name == "vertical-align") {
    if (OneOf(v, {"super", "sub"}))
      add(Property::kVerticalAlign, Keyword(v));
    else if (OneOf(v, {"baseline", "top", "middle", "bottom", "text-top", "text-bottom"}) || ParseLength(v))
      add(Property::kVerticalAlign, Keyword("baseline"));
    else
      bad_value();
  } else if (name == "display") {
    if (OneOf(v, {"none", "block", "inline"}))
      add(Property::kDisplay, Keyword(v));
    else if (OneOf(v, {"list-item", "table", "table-row", "table-cell", "table-caption"}))
      add(Property::kDisplay, Keyword("block"));
    else
      bad_value();
  } else if (name == "page-break-before" || name == "page-break-after") {
    Property p = name == "page-break-before" ? Property::kPageBreakBefore : Property::kPageBreakAfter;
    if (OneOf(v, {"always", "left", "right"}))
      add(p, Keyword("always"));
    else if (OneOf(v, {"auto", "avoid"}))
      add(p, Keyword("auto"));
    else
      bad_value();
  } else if (name == "white-space") {
    if (OneOf(v, {"normal", "pre", "nowrap"}))
      add(Property::kWhiteSpace, Keyword(v == "pre" ? "pre" : "normal"));
    else
      bad_value();
  } else if (name == "list-style-type" || name == "list-style") {
    const std::initializer_list<std::string_view> kTypes = {"disc",        "circle",      "square",      "decimal",
                                                            "lower-alpha", "upper-alpha", "lower-roman", "upper-roman",
                                                            "lower-latin", "upper-latin", "none"};
    bool found = false;
    for (std::string_view w : Words(v)) {
      if (!OneOf(w, kTypes)) continue;
      std::string type(w);
      if (type == "lower-latin") type = "lower-alpha";
      if (type == "upper-latin") type = "upper-alpha";
      add(Property::kListStyleType, Keyword(type));
      found = true;
      break;
    }
    if (!found && name == "list-style-type") bad_value();
  } else if (!IsKnownButNotShown(name)) {
    issues.push_back({offset, false, "unknown property \"" + name + "\"", name});
  } else {
    issues.push_back({offset, false, "property \"" + name + "\" not shown", name, true});
  }
}

// Parses the declarations between `begin` and `end` of `text`.
void ParseDeclarationsIn(std::string_view text, size_t begin, size_t end, std::vector<Declaration>& out,
                         std::vector<Issue>& issues) {
  size_t at = begin;
  while (at < end) {
    size_t semicolon = FindOutside(text, at, end, ';');
    Span piece = Trim(text, {at, semicolon});
    at = semicolon + 1;
    if (piece.begin == piece.end) continue;
    size_t colon = FindOutside(text, piece.begin, piece.end, ':');
    if (colon == piece.end) {
      issues.push_back({piece.begin, true, "expected \"property: value\""});
      continue;
    }
    Span name_span = Trim(text, {piece.begin, colon});
    std::string name = vellix::formats::LowerAscii(text.substr(name_span.begin, name_span.end - name_span.begin));
    if (name.empty() || !std::all_of(name.begin(), name.end(), IsNameChar)) {
      issues.push_back({piece.begin, true, "bad property name"});
      continue;
    }
    Span value = Trim(text, {colon + 1, piece.end});
    std::string_view value_text = text.substr(value.begin, value.end - value.begin);
    bool important = false;
    size_t bang = value_text.rfind('!');
    if (bang != std::string_view::npos) {
      Span flag = Trim(value_text, {bang + 1, value_text.size()});
      if (vellix::formats::LowerAscii(value_text.substr(flag.begin, flag.end - flag.begin)) != "important") {
        issues.push_back({value.begin + bang, true, "expected \"!important\""});
        continue;
      }
      important = true;
      value_text = value_text.substr(0, Trim(value_text, {0, bang}).end);
    }
    if (value_text.empty()) {
      issues.push_back({piece.begin, true, "property \"" + name + "\" without a value"});
      continue;
    }
    if (value_text.find_first_of("{}") != std::string_view::npos) {
      issues.push_back({value.begin, true, "unexpected brace in a value"});
      continue;
    }
    Convert(name, value_text, important, piece.begin, out, issues);
  }
}

// Parses one selector group ("div p.note"); false for a syntax error.
bool ParseSelector(std::string_view text, Selector& selector) {
  size_t i = 0;
  Compound current;
  bool in_compound = false;
  auto finish = [&] {
    if (in_compound) selector.parts.push_back(std::move(current));
    current = Compound();
    in_compound = false;
  };
  auto read_name = [&]() -> std::string {
    size_t start = i;
    while (i < text.size() && IsNameChar(text[i])) ++i;
    return std::string(text.substr(start, i - start));
  };
  while (i < text.size()) {
    char c = text[i];
    if (IsSpace(c)) {
      finish();
      ++i;
    } else if (c == '>' || c == '+' || c == '~') {
      finish();
      selector.supported = false;
      ++i;
    } else if (c == '*') {
      if (in_compound) return false;
      in_compound = true;
      ++i;
    } else if (c == '.' || c == '#') {
      ++i;
      std::string name = read_name();
      if (name.empty()) return false;
      if (c == '.') {
        current.classes.push_back(name);
        selector.specificity += 10;
      } else {
        current.id = name;
        selector.specificity += 100;
      }
      in_compound = true;
    } else if (c == ':') {
      while (i < text.size() && text[i] == ':') ++i;
      if (read_name().empty()) return false;
      if (i < text.size() && text[i] == '(') {
        size_t close = text.find(')', i);
        if (close == std::string_view::npos) return false;
        i = close + 1;
      }
      selector.supported = false;
      in_compound = true;
    } else if (c == '[') {
      size_t close = text.find(']', i);
      if (close == std::string_view::npos) return false;
      i = close + 1;
      selector.supported = false;
      in_compound = true;
    } else if (IsNameChar(c) && !in_compound) {
      current.element = vellix::formats::LowerAscii(read_name());
      selector.specificity += 1;
      in_compound = true;
    } else {
      return false;
    }
  }
  finish();
  return !selector.parts.empty();
}

bool ParseSelectors(std::string_view text, std::vector<Selector>& selectors) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) comma = text.size();
    Span s = Trim(text, {start, comma});
    Selector selector;
    if (!ParseSelector(text.substr(s.begin, s.end - s.begin), selector)) return false;
    selectors.push_back(std::move(selector));
    start = comma + 1;
  }
  return true;
}

// `@import url("x.css") media;` or `@import "x.css";` (`prelude` is what
// follows the name): the address into `sheet.imports` when the media fit.
// An import after the first rule is ignored, as browsers ignore it.
void ReadImport(std::string_view prelude, const Media& media, StyleSheet& sheet, std::vector<Issue>& issues,
                size_t at) {
  std::string_view rest = vellix::formats::TrimAscii(prelude);
  bool url = false;
  if (rest.size() >= 4 && vellix::formats::LowerAscii(std::string(rest.substr(0, 4))) == "url(") {
    url = true;
    rest = vellix::formats::TrimAscii(rest.substr(4));
  }
  std::string href;
  if (!rest.empty() && (rest[0] == '"' || rest[0] == '\'')) {
    const size_t close = rest.find(rest[0], 1);
    if (close == std::string_view::npos) return issues.push_back({at, true, "\"@import\" without its address"});
    href = std::string(rest.substr(1, close - 1));
    rest = rest.substr(close + 1);
  } else if (url) {
    const size_t close = rest.find(')');
    href = std::string(vellix::formats::TrimAscii(rest.substr(0, close)));
    rest = close == std::string_view::npos ? std::string_view() : rest.substr(close);
  }
  if (url) {
    rest = vellix::formats::TrimAscii(rest);
    if (rest.empty() || rest[0] != ')') return issues.push_back({at, true, "\"@import\" without its address"});
    rest.remove_prefix(1);
  }
  if (href.empty()) return issues.push_back({at, true, "\"@import\" without its address"});
  if (!sheet.rules.empty()) return issues.push_back({at, false, "\"@import\" after a rule ignored"});
  rest = vellix::formats::TrimAscii(rest);
  if (rest.empty() || MediaMatches(rest, media)) sheet.imports.push_back(std::move(href));
}

// The rules of `text` into `sheet`; "@media" blocks that fit the device
// are read as rules of their own place. Every search for a rule's end
// stops at the end of the block it is in, so the whole sheet is read in
// one pass. Blocks are entered without recursion: each open one keeps
// where it ends, and reading goes on past its "}" once it is done.
void ParseRules(std::string_view text, const Media& media, StyleSheet& sheet, std::vector<Issue>& issues) {
  struct Block {
    size_t end;
    int depth;
  };
  std::vector<Block> open{{text.size(), 0}};
  size_t i = 0;
  while (!open.empty()) {
    const size_t end = open.back().end;
    const int depth = open.back().depth;
    if (i >= end) {
      open.pop_back();
      i = end + 1;
      continue;
    }
    if (IsSpace(text[i])) {
      ++i;
      continue;
    }
    // The markers that hide a sheet from old browsers.
    if (text.substr(i, 4) == "<!--") {
      i += 4;
      continue;
    }
    if (text.substr(i, 3) == "-->") {
      i += 3;
      continue;
    }
    if (text[i] == '}') {
      issues.push_back({i, true, "unexpected \"}\""});
      ++i;
      continue;
    }
    if (text[i] == '@') {
      size_t stop = FindFirstOutside(text, i, end, ";{");
      size_t name_end = i + 1;
      while (name_end < stop && IsNameChar(text[name_end])) ++name_end;
      const std::string name = vellix::formats::LowerAscii(text.substr(i, name_end - i));
      if (stop < end && text[stop] == '{') {
        size_t close = FindOutside(text, stop + 1, end, '}');
        if (name == "@media") {
          // Blocks nested deeper than any real sheet nests them are skipped.
          if (depth < 8 && MediaMatches(text.substr(name_end, stop - name_end), media)) {
            open.push_back({close, depth + 1});
            i = stop + 1;
            continue;
          }
        } else {
          issues.push_back({i, false, "\"" + name + "\" ignored"});
        }
        i = close + 1;
      } else {
        if (name == "@import") {
          ReadImport(text.substr(name_end, stop - name_end), media, sheet, issues, i);
        } else if (name != "@charset") {
          // @namespace, @page, ...: not part of the subset.
          issues.push_back({i, false, "\"" + name + "\" ignored"});
        }
        i = stop + 1;
      }
      continue;
    }
    size_t brace = FindOutside(text, i, end, '{');
    if (brace == end) {
      issues.push_back({i, true, "selector without a declaration block"});
      i = end;
      continue;
    }
    size_t close = FindOutside(text, brace + 1, end, '}');
    if (close == end) issues.push_back({brace, true, "declaration block not closed"});
    Rule rule;
    Span selector_span = Trim(text, {i, brace});
    if (!ParseSelectors(text.substr(selector_span.begin, selector_span.end - selector_span.begin), rule.selectors)) {
      issues.push_back({i, true, "bad selector"});
    } else {
      ParseDeclarationsIn(text, brace + 1, close, rule.declarations, issues);
      if (!rule.declarations.empty()) sheet.rules.push_back(std::move(rule));
    }
    i = close + 1;
  }
}

// One media query: "[only|not] type [and (feature: value)]..." or
// "(feature: value) [and ...]".
bool QueryMatches(std::string_view query, const Media& media) {
  std::string text = vellix::formats::LowerAscii(query);
  bool negate = false;
  bool matches = true;
  size_t i = 0;
  bool first = true;
  while (i < text.size()) {
    if (IsSpace(text[i])) {
      ++i;
      continue;
    }
    if (text[i] == '(') {
      size_t close = text.find(')', i);
      if (close == std::string::npos) return false;
      std::string_view feature = std::string_view(text).substr(i + 1, close - i - 1);
      i = close + 1;
      size_t colon = feature.find(':');
      if (colon == std::string_view::npos) {
        // A feature alone holds when it is not zero: the screen has a
        // width and a height, and shows shades of grey.
        Span n = Trim(feature, {0, feature.size()});
        matches = matches && OneOf(feature.substr(n.begin, n.end - n.begin), {"width", "height", "monochrome"});
        continue;
      }
      Span n = Trim(feature, {0, colon});
      Span val = Trim(feature, {colon + 1, feature.size()});
      std::string_view name = feature.substr(n.begin, n.end - n.begin);
      std::string_view value = feature.substr(val.begin, val.end - val.begin);
      if (name == "orientation") {
        bool portrait = media.height_px >= media.width_px;
        matches = matches && ((value == "portrait") == portrait) && OneOf(value, {"portrait", "landscape"});
        continue;
      }
      std::string_view base = name;
      int compare = 0;  // -1: max-, 1: min-
      if (base.substr(0, 4) == "min-") compare = 1, base.remove_prefix(4);
      if (base.substr(0, 4) == "max-") compare = -1, base.remove_prefix(4);
      if (base.substr(0, 7) == "device-") base.remove_prefix(7);
      std::optional<Value> length = ParseLength(value);
      double px = 0;
      if (length && length->unit == Unit::kPx)
        px = length->number;
      else if (length && (length->unit == Unit::kEm || length->unit == Unit::kRem))
        px = length->number * 16;
      else if (length && length->unit == Unit::kNone)
        px = 0;
      else
        return false;
      double have;
      if (base == "width")
        have = media.width_px;
      else if (base == "height")
        have = media.height_px;
      else
        return false;  // features the device cannot answer do not hold
      matches = matches && (compare == 0 ? have == px : compare > 0 ? have >= px : have <= px);
      continue;
    }
    size_t start = i;
    while (i < text.size() && !IsSpace(text[i]) && text[i] != '(') ++i;
    std::string_view word = std::string_view(text).substr(start, i - start);
    if (word == "and") continue;
    if (first && word == "only") continue;
    if (first && word == "not") {
      negate = true;
      continue;
    }
    first = false;
    if (!OneOf(word, {"all", "screen", "handheld"})) matches = false;
  }
  return negate ? !matches : matches;
}

}  // namespace

bool MediaMatches(std::string_view queries, const Media& media) {
  size_t start = 0;
  Span all = Trim(queries, {0, queries.size()});
  if (all.begin == all.end) return true;  // "@media {" is for every medium
  while (start <= queries.size()) {
    size_t comma = queries.find(',', start);
    if (comma == std::string_view::npos) comma = queries.size();
    if (QueryMatches(queries.substr(start, comma - start), media)) return true;
    start = comma + 1;
  }
  return false;
}

StyleSheet ParseStyleSheet(std::string_view original, std::vector<Issue>& issues, const Media& media) {
  std::string blanked = BlankComments(original, issues);
  StyleSheet sheet;
  ParseRules(blanked, media, sheet, issues);
  sheet.Index();
  return sheet;
}

namespace {

// The most telling key a compound asks for: "#id", ".class" or the name;
// empty when it asks for none.
std::string KeyOf(const Compound& compound) {
  if (!compound.id.empty()) return "#" + compound.id;
  if (!compound.classes.empty()) return "." + compound.classes.front();
  return compound.element;
}

// Calls `use` with each class of a class attribute's list until it answers
// true; whether one did.
template <typename Use>
bool AnyClass(std::string_view list, Use&& use) {
  size_t i = 0;
  while (i < list.size()) {
    while (i < list.size() && IsSpace(list[i])) ++i;
    size_t start = i;
    while (i < list.size() && !IsSpace(list[i])) ++i;
    if (i > start && use(list.substr(start, i - start))) return true;
  }
  return false;
}

// Calls `use` with each key `element` carries: "#id", each ".class", the
// name, "*".
template <typename Use>
void ForEachKey(const ElementKey& element, std::string& probe, Use&& use) {
  if (!element.id.empty()) use(probe.assign(1, '#').append(element.id));
  AnyClass(element.classes, [&](std::string_view name) {
    use(probe.assign(1, '.').append(name));
    return false;
  });
  if (!element.name.empty()) use(probe.assign(element.name));
  use(probe.assign(1, '*'));
}

}  // namespace

void StyleSheet::Index() {
  by_id_.clear();
  by_class_.clear();
  by_element_.clear();
  others_.clear();
  by_ancestor_.clear();
  for (uint32_t r = 0; r < rules.size(); ++r) {
    for (uint32_t k = 0; k < rules[r].selectors.size(); ++k) {
      const Selector& selector = rules[r].selectors[k];
      if (!selector.supported || selector.parts.empty()) continue;
      const Compound& key = selector.parts.back();
      SelectorRef ref{r, k};
      // An ancestor's id beats its class, which beats its name: the rarer
      // the key, the fewer elements try the selector.
      std::string ancestor;
      for (size_t p = 0; p + 1 < selector.parts.size(); ++p) {
        std::string candidate = KeyOf(selector.parts[p]);
        auto rank = [](const std::string& k) { return k.empty() ? 0 : k[0] == '#' ? 3 : k[0] == '.' ? 2 : 1; };
        if (rank(candidate) > rank(ancestor)) ancestor = std::move(candidate);
      }
      if (!ancestor.empty()) {
        std::string last = KeyOf(key);
        by_ancestor_[last.empty() ? "*" : last][ancestor].push_back(ref);
      } else if (!key.id.empty()) {
        by_id_[key.id].push_back(ref);
      } else if (!key.classes.empty()) {
        by_class_[key.classes.front()].push_back(ref);
      } else if (!key.element.empty()) {
        by_element_[key.element].push_back(ref);
      } else {
        others_.push_back(ref);
      }
    }
  }
}

void StyleSheet::Candidates(const ElementKey& element, std::span<const ElementKey> ancestors,
                            std::vector<SelectorRef>& out) const {
  const size_t first = out.size();
  auto take = [&](const std::unordered_map<std::string, std::vector<SelectorRef>>& index, std::string_view key) {
    if (key.empty() || index.empty()) return;
    auto it = index.find(std::string(key));
    if (it != index.end()) out.insert(out.end(), it->second.begin(), it->second.end());
  };
  out.insert(out.end(), others_.begin(), others_.end());
  take(by_element_, element.name);
  take(by_id_, element.id);
  AnyClass(element.classes, [&](std::string_view name) {
    take(by_class_, name);
    return false;
  });
  if (!by_ancestor_.empty() && !ancestors.empty()) {
    std::string probe;
    std::vector<const std::unordered_map<std::string, std::vector<SelectorRef>>*> filed;
    ForEachKey(element, probe, [&](const std::string& key) {
      if (auto it = by_ancestor_.find(key); it != by_ancestor_.end()) filed.push_back(&it->second);
    });
    if (!filed.empty()) {
      std::unordered_set<std::string> carried;
      for (const ElementKey& ancestor : ancestors)
        ForEachKey(ancestor, probe, [&](const std::string& key) { carried.insert(key); });
      for (const auto* index : filed)
        for (const std::string& key : carried)
          if (auto it = index->find(key); it != index->end())
            out.insert(out.end(), it->second.begin(), it->second.end());
    }
  }
  std::sort(out.begin() + static_cast<std::ptrdiff_t>(first), out.end());
  out.erase(std::unique(out.begin() + static_cast<std::ptrdiff_t>(first), out.end()), out.end());
}

std::vector<Declaration> ParseDeclarations(std::string_view original, std::vector<Issue>& issues) {
  std::string blanked = BlankComments(original, issues);
  std::vector<Declaration> out;
  ParseDeclarationsIn(blanked, 0, blanked.size(), out, issues);
  return out;
}

bool Matches(const Compound& compound, const ElementKey& element) {
  if (!compound.element.empty() && compound.element != element.name) return false;
  if (!compound.id.empty() && compound.id != element.id) return false;
  for (const std::string& wanted : compound.classes)
    if (!AnyClass(element.classes, [&](std::string_view name) { return name == wanted; })) return false;
  return true;
}

}  // namespace ikutil::css
