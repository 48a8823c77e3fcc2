// The pre-scan of the HTML clean-up: one pass over the bytes, a stack of the
// open block elements (bounded by the depth limit, so searching it stays
// cheap) and a count per name of the open inline elements.
#include <algorithm>
#include <array>
#include <string>
#include <unordered_map>
#include <vector>

#include "vellix/formats/ascii.h"

#include "vellix/formats/html_cleanup.h"

namespace vellix::formats {
namespace {

bool IsIn(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool IsVoid(std::string_view name) {
  return IsIn(name, {"area", "base", "basefont", "br", "col", "embed", "frame", "hr", "img", "input", "isindex",
                     "keygen", "link", "meta", "param", "source", "spacer", "track", "wbr"});
}

bool IsInline(std::string_view name) {
  return IsIn(name, {"a",    "abbr",  "acronym", "b",      "bdo",    "big", "blink", "cite", "code", "del",
                     "dfn",  "em",    "font",    "i",      "ins",    "kbd", "label", "nobr", "q",    "s",
                     "samp", "small", "span",    "strike", "strong", "sub", "sup",   "tt",   "u",    "var"});
}

// Elements whose content is text up to their end tag.
bool IsRawText(std::string_view name) { return name == "script" || name == "style"; }

// Whether starting `next` ends the open block `open` (an implied end tag).
bool EndsImplicitly(std::string_view open, std::string_view next) {
  if (open == "p") return true;  // any block start ends a paragraph
  if (open == "li") return next == "li";
  if (open == "dt" || open == "dd") return next == "dt" || next == "dd";
  if (open == "option") return next == "option";
  if (open == "td" || open == "th") return IsIn(next, {"td", "th", "tr", "thead", "tbody", "tfoot"});
  if (open == "tr") return IsIn(next, {"tr", "thead", "tbody", "tfoot"});
  if (open == "thead" || open == "tbody") return next == "tbody" || next == "tfoot";
  return false;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' || c == '-' ||
         c == '_' || c == '.';
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

class Scanner {
 public:
  explicit Scanner(std::string_view html) : s_(html) {}

  MarkupShape Run() {
    while (pos_ < s_.size() && shape_.WithinLimits()) {
      size_t lt = s_.find('<', pos_);
      if (lt == std::string_view::npos) break;
      pos_ = lt + 1;
      if (Starts("!--")) {
        SkipPast("-->", 3);
      } else if (Starts("![CDATA[")) {
        SkipPast("]]>", 8);
      } else if (Starts("!") || Starts("?")) {
        SkipPast(">", 1);
      } else if (Starts("/") && pos_ + 1 < s_.size() && IsLetter(s_[pos_ + 1])) {
        ++pos_;
        EndTag(ReadName());
        SkipPast(">", 0);
      } else if (pos_ < s_.size() && IsLetter(s_[pos_])) {
        StartTag();
      }
    }
    return shape_;
  }

 private:
  bool Starts(std::string_view prefix) const { return s_.substr(pos_, prefix.size()) == prefix; }

  void SkipPast(std::string_view end, size_t skip) {
    size_t at = s_.find(end, pos_ + skip);
    pos_ = at == std::string_view::npos ? s_.size() : at + end.size();
  }

  std::string ReadName() {
    std::string name;
    while (pos_ < s_.size() && IsNameChar(s_[pos_])) {
      char c = s_[pos_++];
      name += LowerAscii(c);
    }
    return name;
  }

  // Reads the attributes up to the tag's end; true for "/>".
  bool ReadAttributes() {
    size_t count = 0;
    bool self_closing = false;
    while (pos_ < s_.size()) {
      char c = s_[pos_];
      if (IsSpace(c)) {
        ++pos_;
      } else if (c == '>') {
        ++pos_;
        break;
      } else if (c == '/') {
        ++pos_;
        self_closing = pos_ < s_.size() && s_[pos_] == '>';
      } else {
        ++count;
        while (pos_ < s_.size() && !IsSpace(s_[pos_]) && s_[pos_] != '=' && s_[pos_] != '>' && s_[pos_] != '/') ++pos_;
        while (pos_ < s_.size() && IsSpace(s_[pos_])) ++pos_;
        if (pos_ < s_.size() && s_[pos_] == '=') SkipValue();
      }
    }
    shape_.attributes = std::max(shape_.attributes, count);
    return self_closing;
  }

  void SkipValue() {
    ++pos_;
    while (pos_ < s_.size() && IsSpace(s_[pos_])) ++pos_;
    if (pos_ < s_.size() && (s_[pos_] == '"' || s_[pos_] == '\'')) {
      size_t close = s_.find(s_[pos_], pos_ + 1);
      pos_ = close == std::string_view::npos ? s_.size() : close + 1;
      return;
    }
    while (pos_ < s_.size() && !IsSpace(s_[pos_]) && s_[pos_] != '>') ++pos_;
  }

  void StartTag() {
    std::string name = ReadName();
    bool self_closing = ReadAttributes();
    if (self_closing || IsVoid(name)) return;
    if (IsRawText(name)) {
      // Its text may hold "<" freely; it ends at the first matching end tag.
      std::string end = "</" + name;
      while (pos_ < s_.size()) {
        size_t at = s_.find("</", pos_);
        if (at == std::string_view::npos) {
          pos_ = s_.size();
          break;
        }
        pos_ = at + 2;
        std::string next = ReadName();
        if (next == name) {
          SkipPast(">", 0);
          break;
        }
      }
      return;
    }
    if (IsInline(name)) {
      // A link inside a link ends the first, for libtidy as for browsers.
      if (name == "a" && inline_open_["a"] > 0) EndTag(name);
      size_t& open = inline_open_[name];
      if (open == 0 || name == "font") ++inline_carried_;
      ++open;
      ++inline_nested_;
    } else {
      while (!blocks_.empty() && EndsImplicitly(blocks_.back(), name)) blocks_.pop_back();
      blocks_.push_back(name);
      shape_.repeated_inline += inline_carried_;
    }
    shape_.depth = std::max(shape_.depth, blocks_.size() + inline_nested_);
  }

  void EndTag(const std::string& name) {
    if (IsInline(name)) {
      auto it = inline_open_.find(name);
      if (it == inline_open_.end() || it->second == 0) return;
      if (--it->second == 0 || name == "font") --inline_carried_;
      --inline_nested_;
      return;
    }
    auto it = std::find(blocks_.rbegin(), blocks_.rend(), name);
    if (it == blocks_.rend()) {
      shape_.repeated_inline += inline_carried_;  // a stray end tag opens an empty block
      return;
    }
    blocks_.erase(std::prev(it.base()), blocks_.end());
  }

  std::string_view s_;
  size_t pos_ = 0;
  MarkupShape shape_;
  std::vector<std::string> blocks_;
  std::unordered_map<std::string, size_t> inline_open_;
  // The open inline elements libtidy re-opens in each block: one per name,
  // but every "font".
  size_t inline_carried_ = 0;
  // Every open inline element: libtidy descends once for each, also for
  // one nested in another of its name ("<b><b><b>...").
  size_t inline_nested_ = 0;
};

}  // namespace

MarkupShape MeasureMarkup(std::string_view html) { return Scanner(html).Run(); }

}  // namespace vellix::formats
