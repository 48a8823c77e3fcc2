// Style sheets of OEB documents: the CSS subset such documents use, parsed
// into rules of typed declarations, and the cascade that turns them into
// the styles of an element.
//
// Selectors are element names, classes, ids, "*" and their descendant
// combinations; a selector with anything else (pseudo-classes, child or
// sibling combinators) is read but never matches. Declarations are checked
// when parsed: an unknown property gives a warning, a value the compiler
// cannot use gives a warning, and syntax errors give an error and are
// skipped up to the next declaration or rule, as browsers do.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ikutil::css {

// Something wrong in a sheet, at a byte offset into the parsed text.
struct Issue {
  size_t offset = 0;
  bool error = false;  // false: a warning
  std::string message;
};

enum class Property : uint8_t {
  kFontFamily,
  kFontSize,
  kFontWeight,
  kFontStyle,
  kTextAlign,
  kTextIndent,
  kMarginTop,
  kMarginBottom,
  kMarginLeft,
  kMarginRight,
  kLineHeight,
  kTextDecoration,
  kVerticalAlign,
  kDisplay,
  kPageBreakBefore,
  kPageBreakAfter,
  kWhiteSpace,
  kListStyleType,
};

enum class Unit : uint8_t { kNone, kEm, kEx, kPercent, kPx, kPt, kPc, kIn, kCm, kMm };

// A keyword (lower case) or a number with its unit.
struct Value {
  std::string keyword;  // empty for a number
  double number = 0;
  Unit unit = Unit::kNone;
  bool IsKeyword(std::string_view k) const { return keyword == k; }
};

struct Declaration {
  Property property;
  Value value;
  bool important = false;
};

struct Compound {
  std::string element;  // lower case; empty for any
  std::string id;
  std::vector<std::string> classes;
};

struct Selector {
  std::vector<Compound> parts;  // outermost ancestor first; the last is the element itself
  uint32_t specificity = 0;
  bool supported = true;  // false: never matches
};

struct Rule {
  std::vector<Selector> selectors;
  std::vector<Declaration> declarations;
};

struct StyleSheet {
  std::vector<Rule> rules;
};

// Parses a whole sheet (the content of a <style> element or a linked file).
StyleSheet ParseStyleSheet(std::string_view text, std::vector<Issue>& issues);

// Parses the declarations of a style="" attribute.
std::vector<Declaration> ParseDeclarations(std::string_view text, std::vector<Issue>& issues);

// What a selector part needs to know of an element.
struct ElementKey {
  std::string_view name;  // lower case
  std::string_view id;
  std::string_view classes;  // the class attribute, space-separated
};

bool Matches(const Compound& compound, const ElementKey& element);

}  // namespace ikutil::css
