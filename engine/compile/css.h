// Style sheets of OEB documents: the CSS subset such documents use, parsed
// into rules of typed declarations, and the cascade that turns them into
// the styles of an element.
//
// Selectors are element names, classes, ids, "*" and their descendant
// combinations; a selector with anything else (pseudo-classes, child or
// sibling combinators) is read but never matches. "@media" blocks count
// when their media list fits the device (all, screen, handheld, with
// width conditions in pixels); other at-rules are skipped. A sheet is
// read in one pass, so its cost grows with its length alone. Declarations are checked
// when parsed: an unknown property gives a warning, a value the compiler
// cannot use gives a warning, and syntax errors give an error and are
// skipped up to the next declaration or rule, as browsers do.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace ikutil::css {

// Something wrong in a sheet, at a byte offset into the parsed text.
struct Issue {
  Issue(size_t at, bool is_error, std::string text, std::string of_property = {}, bool is_not_shown = false)
      : offset(at),
        error(is_error),
        message(std::move(text)),
        property(std::move(of_property)),
        not_shown(is_not_shown) {}
  size_t offset = 0;
  bool error = false;  // false: a warning
  std::string message;
  std::string property;    // the property an unknown name or unusable value belongs to
  bool not_shown = false;  // a known property the device does not show (no problem for our own documents)
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

// kRem counts in the root's font size, which is the body's.
enum class Unit : uint8_t { kNone, kEm, kEx, kPercent, kPx, kPt, kPc, kIn, kCm, kMm, kRem };

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

// What an element offers its selectors.
struct ElementKey {
  std::string_view name;  // lower case
  std::string_view id;
  std::string_view classes;  // the class attribute, space-separated
};

// One selector of one rule.
struct SelectorRef {
  uint32_t rule = 0;
  uint32_t selector = 0;
  friend bool operator<(const SelectorRef& a, const SelectorRef& b) {
    return a.rule != b.rule ? a.rule < b.rule : a.selector < b.selector;
  }
  friend bool operator==(const SelectorRef& a, const SelectorRef& b) {
    return a.rule == b.rule && a.selector == b.selector;
  }
};

struct StyleSheet {
  std::vector<Rule> rules;
  std::vector<std::string> imports;  // the addresses of its @import rules, in order (as written)

  // Every selector that may match `element`, whose ancestors (nearest
  // first, as far up as matching looks) are `ancestors`: its last part asks
  // for this element's id, one of its classes or its name, or for none of
  // these, and an id, class or name one of its other parts asks for is one
  // an ancestor carries. In sheet order; selectors that never match are left
  // out. So each element tries only the few rules that can match it, however
  // many rules name other classes.
  void Candidates(const ElementKey& element, std::span<const ElementKey> ancestors,
                  std::vector<SelectorRef>& out) const;
  // Whether Candidates looks at the ancestors at all.
  bool FilesByAncestor() const { return !by_ancestor_.empty(); }
  // Files every selector under the key of its last part (and, with other
  // parts, under one key of theirs); ParseStyleSheet does it, and whoever
  // builds rules by hand.
  void Index();

 private:
  std::unordered_map<std::string, std::vector<SelectorRef>> by_id_, by_class_, by_element_;
  std::vector<SelectorRef> others_;
  // Keys are "#id", ".class", "name" or "*": the last part's key, then one
  // that an ancestor must carry.
  std::unordered_map<std::string, std::unordered_map<std::string, std::vector<SelectorRef>>> by_ancestor_;
};

// The screen a sheet's "@media" rules are asked about.
struct Media {
  int32_t width_px = 480;
  int32_t height_px = 640;
};

// Parses a whole sheet (the content of a <style> element or a linked file).
StyleSheet ParseStyleSheet(std::string_view text, std::vector<Issue>& issues, const Media& media = {});

// Whether a media query list ("screen and (max-width: 600px), print")
// fits `media`.
bool MediaMatches(std::string_view queries, const Media& media);

// Parses the declarations of a style="" attribute.
std::vector<Declaration> ParseDeclarations(std::string_view text, std::vector<Issue>& issues);

bool Matches(const Compound& compound, const ElementKey& element);

}  // namespace ikutil::css
