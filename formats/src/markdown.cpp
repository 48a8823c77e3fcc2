#include "vellix/formats/markdown.h"

#include <md4c.h>

#include "vellix/formats/ascii.h"
#include "vellix/formats/codepage.h"
#include "vellix/formats/html_cleanup.h"
#include "vellix/formats/markup.h"
#include "vellix/formats/xml.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace vellix::formats {
namespace {

void AppendEscaped(std::string& out, std::string_view text) { AppendEscapedXml(out, text); }

std::string Trim(std::string_view s) { return TrimmedAscii(s, " \t\r\n"); }

// A YAML scalar as written: surrounding quotes taken off.
std::string YamlScalar(std::string_view value) {
  std::string found = Trim(value);
  if (found.size() >= 2 && (found.front() == '"' || found.front() == '\'') && found.back() == found.front())
    found = found.substr(1, found.size() - 2);
  return found;
}

// Splits off the lines that give a title (and in a YAML-style block the
// author and language) ahead of the Markdown itself.
std::string_view TakeTitleLines(std::string_view text, MarkdownDocument& document) {
  std::string& title = document.title;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  auto line_at = [&](size_t at, size_t& next) {
    size_t end = text.find('\n', at);
    next = end == std::string_view::npos ? text.size() : end + 1;
    std::string_view line = text.substr(at, (end == std::string_view::npos ? text.size() : end) - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
  };
  size_t next = 0;
  std::string_view first = line_at(0, next);
  if (first.size() > 1 && first[0] == '%') {
    title = Trim(first.substr(1));
    return text.substr(next);
  }
  if (Trim(first) != "---") return text;
  // A YAML-style block: "key: value" lines up to "---" or "...".
  std::string found, author, language;
  bool author_list = false;  // "author:" alone: its first "- name" follows
  for (size_t at = next; at < text.size();) {
    std::string_view line = line_at(at, next);
    std::string trimmed = Trim(line);
    if (trimmed == "---" || trimmed == "...") {
      title = found;
      document.author = author;
      document.language = language;
      return text.substr(next);
    }
    std::string_view value = trimmed;
    if (author_list && value.starts_with("- ") && author.empty()) author = YamlScalar(value.substr(2));
    author_list = author_list && (value.starts_with("- ") || line.starts_with(" "));
    if (value.starts_with("title:") && found.empty()) found = YamlScalar(value.substr(6));
    if (value.starts_with("author:") && author.empty()) {
      value.remove_prefix(7);
      // A flow list ("[A, B]") gives its first name.
      std::string names = Trim(value);
      if (names.size() >= 2 && names.front() == '[' && names.back() == ']')
        names = names.substr(1, std::min(names.find(','), names.size() - 1) - 1);
      author = YamlScalar(names);
      author_list = author.empty();
    }
    if ((value.starts_with("lang:") || value.starts_with("language:")) && language.empty())
      language = YamlScalar(value.substr(value.find(':') + 1));
    at = next;
  }
  return text;  // never closed: not a block after all
}

class Renderer {
 public:
  std::string out;
  std::string first_heading;
  bool raw_html = false;  // raw HTML was passed through

  static int EnterBlock(MD_BLOCKTYPE type, void* detail, void* self) {
    static_cast<Renderer*>(self)->Enter(type, detail);
    return 0;
  }
  static int LeaveBlock(MD_BLOCKTYPE type, void* detail, void* self) {
    static_cast<Renderer*>(self)->Leave(type, detail);
    return 0;
  }
  static int EnterSpan(MD_SPANTYPE type, void* detail, void* self) {
    static_cast<Renderer*>(self)->EnterSpan(type, detail);
    return 0;
  }
  static int LeaveSpan(MD_SPANTYPE type, void* detail, void* self) {
    static_cast<Renderer*>(self)->LeaveSpan(type, detail);
    return 0;
  }
  static int Text(MD_TEXTTYPE type, const MD_CHAR* text, MD_SIZE size, void* self) {
    static_cast<Renderer*>(self)->AddText(type, std::string_view(text, size));
    return 0;
  }

 private:
  void Enter(MD_BLOCKTYPE type, void* detail) {
    // A block inside a list item's own text (a nested list after a span the
    // parser left open) ends that text's spans first.
    EndOpenSpans();
    if (IsContainer(type) && ++nesting_ > kMaxNesting) {
      // Too deep to show: the content joins the deepest item written, each
      // item's text on a line of its own.
      if (type == MD_BLOCK_LI) line_pending_ = true;
      return;
    }
    switch (type) {
      case MD_BLOCK_DOC:
        break;
      case MD_BLOCK_QUOTE:
        out += "<blockquote>\n";
        break;
      case MD_BLOCK_UL:
        out += "<ul>\n";
        break;
      case MD_BLOCK_OL: {
        unsigned start = static_cast<MD_BLOCK_OL_DETAIL*>(detail)->start;
        out += start == 1 ? "<ol>\n" : "<ol start=\"" + std::to_string(start) + "\">\n";
        break;
      }
      case MD_BLOCK_LI: {
        out += "<li>";
        // A task's box as text the device can show.
        auto* li = static_cast<MD_BLOCK_LI_DETAIL*>(detail);
        if (li->is_task) out += li->task_mark == ' ' ? "[ ] " : "[x] ";
        break;
      }
      case MD_BLOCK_HR:
        out += "<hr/>\n";
        break;
      case MD_BLOCK_H:
        heading_ = static_cast<MD_BLOCK_H_DETAIL*>(detail)->level;
        out += "<h" + std::to_string(heading_);
        heading_at_ = out.size();
        out += ">";
        heading_text_.clear();
        break;
      case MD_BLOCK_CODE:
        out += "<pre><code>";
        break;
      case MD_BLOCK_HTML:
        break;
      case MD_BLOCK_P:
        if (!in_cell_) out += "<p>";
        break;
      case MD_BLOCK_TABLE:
        break;
      case MD_BLOCK_THEAD:
        in_head_ = true;
        break;
      case MD_BLOCK_TBODY:
        in_head_ = false;
        break;
      case MD_BLOCK_TR:
        out += in_head_ ? "<p class=\"table-row\"><b>" : "<p class=\"table-row\">";
        first_cell_ = true;
        break;
      case MD_BLOCK_TH:
      case MD_BLOCK_TD:
        if (!first_cell_) out += " | ";
        first_cell_ = false;
        in_cell_ = true;
        break;
    }
  }

  void Leave(MD_BLOCKTYPE type, void*) {
    EndOpenSpans();
    if (IsContainer(type) && nesting_-- > kMaxNesting) return;
    switch (type) {
      case MD_BLOCK_DOC:
        break;
      case MD_BLOCK_QUOTE:
        out += "</blockquote>\n";
        break;
      case MD_BLOCK_UL:
        out += "</ul>\n";
        break;
      case MD_BLOCK_OL:
        out += "</ol>\n";
        break;
      case MD_BLOCK_LI:
        out += "</li>\n";
        break;
      case MD_BLOCK_HR:
        break;
      case MD_BLOCK_H:
        out += "</h" + std::to_string(heading_) + ">\n";
        out.insert(heading_at_, " id=\"" + Slug(heading_text_) + "\"");
        if (heading_ == 1 && first_heading.empty()) first_heading = Trim(heading_text_);
        heading_ = 0;
        break;
      case MD_BLOCK_CODE:
        out += "</code></pre>\n";
        break;
      case MD_BLOCK_HTML:
        out += "\n";
        break;
      case MD_BLOCK_P:
        if (!in_cell_) out += "</p>\n";
        break;
      case MD_BLOCK_TABLE:
      case MD_BLOCK_THEAD:
      case MD_BLOCK_TBODY:
        break;
      case MD_BLOCK_TR:
        out += in_head_ ? "</b></p>\n" : "</p>\n";
        break;
      case MD_BLOCK_TH:
      case MD_BLOCK_TD:
        in_cell_ = false;
        break;
    }
  }

  void EnterSpan(MD_SPANTYPE type, void* detail) {
    if (image_depth_ > 0) {  // inside an image only its text counts, as the alternative text
      if (type == MD_SPAN_IMG) ++image_depth_;
      return;
    }
    if (*EndTag(type) != '\0') open_spans_.push_back(type);
    switch (type) {
      case MD_SPAN_EM:
        out += "<em>";
        break;
      case MD_SPAN_STRONG:
        out += "<strong>";
        break;
      case MD_SPAN_A: {
        auto* a = static_cast<MD_SPAN_A_DETAIL*>(detail);
        out += "<a href=\"";
        AppendAttribute(a->href);
        out += "\">";
        break;
      }
      case MD_SPAN_IMG: {
        auto* img = static_cast<MD_SPAN_IMG_DETAIL*>(detail);
        image_src_.clear();
        std::swap(out, image_src_);
        AppendAttribute(img->src);
        std::swap(out, image_src_);
        image_alt_.clear();
        image_depth_ = 1;
        break;
      }
      case MD_SPAN_CODE:
        out += "<code>";
        break;
      case MD_SPAN_DEL:
        out += "<del>";
        break;
      case MD_SPAN_U:
        out += "<u>";
        break;
      default:
        break;
    }
  }

  void LeaveSpan(MD_SPANTYPE type, void*) {
    if (image_depth_ > 0) {
      if (type == MD_SPAN_IMG && --image_depth_ == 0) {
        out += "<img src=\"" + image_src_ + "\" alt=\"";
        AppendEscaped(out, image_alt_);
        out += "\"/>";
      }
      return;
    }
    // The parser has been seen to leave a span unclosed; the document stays
    // well-formed whatever order the spans end in: ending one ends those
    // opened inside it, and one already ended is not ended twice.
    auto open = std::find(open_spans_.rbegin(), open_spans_.rend(), type);
    if (open == open_spans_.rend()) return;
    while (!open_spans_.empty()) {
      MD_SPANTYPE top = open_spans_.back();
      open_spans_.pop_back();
      out += EndTag(top);
      if (top == type) break;
    }
  }

  static const char* EndTag(MD_SPANTYPE type) {
    switch (type) {
      case MD_SPAN_EM:
        return "</em>";
      case MD_SPAN_STRONG:
        return "</strong>";
      case MD_SPAN_A:
        return "</a>";
      case MD_SPAN_CODE:
        return "</code>";
      case MD_SPAN_DEL:
        return "</del>";
      case MD_SPAN_U:
        return "</u>";
      default:
        return "";
    }
  }

  // Spans never outlive their block, nor reach into one.
  void EndOpenSpans() {
    if (image_depth_ > 0) {
      image_depth_ = 1;
      LeaveSpan(MD_SPAN_IMG, nullptr);
    }
    while (!open_spans_.empty()) {
      out += EndTag(open_spans_.back());
      open_spans_.pop_back();
    }
  }

  void AddText(MD_TEXTTYPE type, std::string_view text) {
    if (line_pending_ && image_depth_ == 0) {
      line_pending_ = false;
      if (!out.ends_with("<li>")) out += "<br/>\n";
    }
    std::string& target = image_depth_ > 0 ? image_alt_ : out;
    switch (type) {
      case MD_TEXT_NULLCHAR:
        target += "\xEF\xBF\xBD";
        break;
      case MD_TEXT_BR:
        if (image_depth_ == 0) out += "<br/>\n";
        break;
      case MD_TEXT_SOFTBR:
        target += image_depth_ > 0 ? " " : "\n";
        if (heading_) heading_text_ += ' ';
        break;
      case MD_TEXT_HTML:
        // Raw HTML goes into the document as HTML (a comment stays a
        // comment); ConvertMarkdown makes the whole well-formed.
        if (image_depth_ == 0) out += text;
        raw_html = true;
        break;
      case MD_TEXT_ENTITY:
        // Kept as written; the engine knows HTML's entities.
        if (image_depth_ > 0)
          image_alt_ += text;
        else
          out += text;
        if (heading_) heading_text_ += text;
        break;
      default:
        if (image_depth_ > 0) {
          image_alt_ += text;
        } else {
          AppendEscaped(out, text);
        }
        if (heading_) heading_text_ += text;
    }
  }

  void AppendAttribute(const MD_ATTRIBUTE& attribute) {
    if (!attribute.text) return;
    for (int i = 0; attribute.substr_offsets[i] < attribute.size; ++i) {
      std::string_view piece(attribute.text + attribute.substr_offsets[i],
                             attribute.substr_offsets[i + 1] - attribute.substr_offsets[i]);
      if (attribute.substr_types[i] == MD_TEXT_ENTITY)
        out += piece;
      else if (attribute.substr_types[i] == MD_TEXT_NULLCHAR)
        out += "\xEF\xBF\xBD";
      else
        AppendEscaped(out, piece);
    }
  }

  // The anchor "[text](#a-heading)" finds, as other Markdown tools name
  // it: lower case, spaces as hyphens, other punctuation left out; a name
  // used before gets "-1", "-2"...
  std::string Slug(const std::string& text) {
    std::string slug;
    for (unsigned char c : LowerAscii(Trim(text))) {
      if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c >= 0x80)
        slug += static_cast<char>(c);
      else if (c == ' ')
        slug += '-';
    }
    if (slug.empty() || !((slug[0] >= 'a' && slug[0] <= 'z') || static_cast<unsigned char>(slug[0]) >= 0x80))
      slug = "h-" + slug;
    std::string unique = slug;
    for (int n = 1; !slugs_.insert(unique).second; ++n) unique = slug + "-" + std::to_string(n);
    return unique;
  }

  // Lists, items and quotes nested deeper than this are not written: no
  // screen shows them, and "- - - - x" would make two elements of every
  // two bytes, so a few megabytes of it would take gigabytes to lay out.
  static constexpr int kMaxNesting = 32;
  static bool IsContainer(MD_BLOCKTYPE type) {
    return type == MD_BLOCK_UL || type == MD_BLOCK_OL || type == MD_BLOCK_LI || type == MD_BLOCK_QUOTE;
  }
  int nesting_ = 0;
  bool line_pending_ = false;
  std::set<std::string> slugs_;
  size_t heading_at_ = 0;
  unsigned heading_ = 0;
  std::string heading_text_;
  bool in_head_ = false, in_cell_ = false, first_cell_ = false;
  int image_depth_ = 0;
  std::string image_src_, image_alt_;
  std::vector<MD_SPANTYPE> open_spans_;
};

// Footnotes ("text[^1]" and a "[^1]: note" line, as GitHub writes them),
// which the parser does not know: each reference becomes a numbered link
// (raw HTML) and the notes a numbered list at the end, each with the
// anchor the link leads to. Fenced code is left alone. "" when the text
// defines no footnote.
std::string WithFootnotes(std::string_view text) {
  struct Line {
    std::string_view text;
    bool code = false;
  };
  std::vector<Line> lines;
  std::string_view fence;
  for (size_t at = 0; at < text.size();) {
    size_t end = std::min(text.find('\n', at), text.size());
    std::string_view line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string_view stripped = line.substr(std::min(line.find_first_not_of(' '), line.size()));
    bool is_fence = line.size() - stripped.size() < 4 && (stripped.starts_with("```") || stripped.starts_with("~~~"));
    if (fence.empty() && is_fence) {
      fence = stripped.substr(0, 3);
      lines.push_back({line, true});
    } else {
      lines.push_back({line, !fence.empty()});
      if (!fence.empty() && is_fence && stripped.starts_with(fence)) fence = {};
    }
    at = end + 1;
  }
  // The definitions, taken out of the text with their indented lines.
  std::map<std::string, std::string> notes;
  std::vector<Line> kept;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = lines[i].text;
    size_t indent = std::min(line.find_first_not_of(' '), line.size());
    size_t close = line.find("]:");
    if (lines[i].code || indent > 3 || line.substr(indent, 2) != "[^" || close == std::string_view::npos ||
        close <= indent + 2 ||
        line.substr(indent + 2, close - indent - 2).find_first_of(" \t]") != std::string_view::npos) {
      kept.push_back(lines[i]);
      continue;
    }
    std::string label(line.substr(indent + 2, close - indent - 2));
    std::string note = Trim(line.substr(close + 2));
    for (; i + 1 < lines.size(); ++i) {
      std::string_view next = lines[i + 1].text;
      bool indented = next.starts_with("    ") || next.starts_with("\t");
      bool blank_then_indented = Trim(next).empty() && i + 2 < lines.size() &&
                                 (lines[i + 2].text.starts_with("    ") || lines[i + 2].text.starts_with("\t"));
      if (!indented && !blank_then_indented) break;
      note += "\n" + std::string(next.substr(std::min(next.find_first_not_of(" \t"), next.size())));
    }
    notes.emplace(LowerAscii(label), note);
  }
  if (notes.empty()) return "";
  // The references, numbered in the order they first appear.
  std::vector<std::string> order;
  std::map<std::string, size_t> number_of;
  std::string out;
  for (const Line& line : kept) {
    std::string_view rest = line.text;
    bool in_code_span = false;
    while (!line.code && !rest.empty()) {
      size_t at = rest.find_first_of("`[");
      if (at == std::string_view::npos) break;
      out += rest.substr(0, at);
      rest.remove_prefix(at);
      if (rest[0] == '`') {
        in_code_span = !in_code_span;
        out += '`';
        rest.remove_prefix(1);
        continue;
      }
      size_t close = rest.find(']');
      if (!in_code_span && rest.starts_with("[^") && close != std::string_view::npos) {
        std::string label = LowerAscii(rest.substr(2, close - 2));
        if (notes.count(label)) {
          auto [it, added] = number_of.emplace(label, order.size() + 1);
          if (added) order.push_back(label);
          std::string n = std::to_string(it->second);
          out += "<sup><a href=\"#fn-" + n + "\" id=\"fnref-" + n + "\">" + n + "</a></sup>";
          rest.remove_prefix(close + 1);
          continue;
        }
      }
      out += '[';
      rest.remove_prefix(1);
    }
    out += rest;
    out += '\n';
  }
  if (order.empty()) return out;
  out += "\n\n<hr/>\n\n";
  for (size_t n = 1; n <= order.size(); ++n) {
    std::string note = notes[order[n - 1]], indented;
    for (char c : note) indented += c == '\n' ? std::string("\n    ") : std::string(1, c);
    out += std::to_string(n) + ". <a id=\"fn-" + std::to_string(n) + "\"></a>" + indented + "\n\n";
  }
  return out;
}

// True when `body` is well-formed as the content of an element.
bool WellFormedBody(const std::string& body) {
  XmlDocument doc;
  LoadXmlText("<body>" + body + "</body>", doc);
  return doc.parsed;
}

// The body of a document the clean-up made well-formed; nullopt when it
// could not.
std::optional<std::string> CleanedBody(const std::string& body) {
  if (!MeasureMarkup(body).WithinLimits()) return std::nullopt;
  std::optional<std::string> cleaned =
      CleanUpHtml("<html><head><title></title></head><body>\n" + body + "</body></html>");
  if (!cleaned) return std::nullopt;
  size_t open = cleaned->find("<body");
  size_t start = open == std::string::npos ? open : cleaned->find('>', open);
  size_t end = cleaned->rfind("</body>");
  if (start == std::string::npos || end == std::string::npos || end < start) return std::nullopt;
  std::string inner = cleaned->substr(start + 1, end - start - 1);
  if (!WellFormedBody(inner)) return std::nullopt;
  return inner;
}

std::string Render(std::string_view markdown, unsigned flags, bool& raw_html, std::string& first_heading) {
  Renderer renderer;
  renderer.out.reserve(markdown.size() + markdown.size() / 4);
  MD_PARSER parser{};
  parser.abi_version = 0;
  parser.flags = flags;
  parser.enter_block = &Renderer::EnterBlock;
  parser.leave_block = &Renderer::LeaveBlock;
  parser.enter_span = &Renderer::EnterSpan;
  parser.leave_span = &Renderer::LeaveSpan;
  parser.text = &Renderer::Text;
  md_parse(markdown.data(), static_cast<MD_SIZE>(markdown.size()), &parser, &renderer);
  raw_html = renderer.raw_html;
  first_heading = std::move(renderer.first_heading);
  return std::move(renderer.out);
}

}  // namespace

MarkdownDocument ConvertMarkdown(std::string_view text) {
  // Bytes that are not UTF-8 are read as the 8-bit code page, as text files
  // are, so the document written is always UTF-8.
  std::string decoded;
  if (!IsValidUtf8(text)) {
    decoded = Cp1252ToUtf8(text);
    text = decoded;
  }
  // A NUL reads as U+FFFD, as in CommonMark: raw HTML passes bytes through,
  // and to the XML parser a NUL ends the document there.
  std::string without_nul;
  if (text.find('\0') != std::string_view::npos) {
    for (char c : text) without_nul += c == '\0' ? std::string_view("\xEF\xBF\xBD") : std::string_view(&c, 1);
    text = without_nul;
  }
  MarkdownDocument document;
  std::string_view markdown = TakeTitleLines(text, document);
  std::string footnoted = WithFootnotes(markdown);
  if (!footnoted.empty()) markdown = footnoted;
  constexpr unsigned kFlags = MD_FLAG_TABLES | MD_FLAG_STRIKETHROUGH | MD_FLAG_TASKLISTS |
                              MD_FLAG_PERMISSIVEURLAUTOLINKS | MD_FLAG_PERMISSIVEWWWAUTOLINKS;
  bool raw_html = false;
  std::string first_heading;
  document.body = Render(markdown, kFlags, raw_html, first_heading);
  // Raw HTML as written may leave elements open or close others: the
  // clean-up mends it, and what even that cannot mend is shown as text.
  if (raw_html && !WellFormedBody(document.body)) {
    std::optional<std::string> cleaned = CleanedBody(document.body);
    document.body = cleaned ? *cleaned : Render(markdown, kFlags | MD_FLAG_NOHTML, raw_html, first_heading);
  }
  if (document.title.empty()) document.title = first_heading;
  return document;
}

std::string MarkdownXhtml(const MarkdownDocument& document, const std::string& title, const std::string& author,
                          const std::string& category) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE html PUBLIC \"+//ISBN 0-9673008-1-9//DTD OEB 1.0 Document//EN\" \"oebdoc1.dtd\">\n"
      "<html";
  if (!document.language.empty()) {
    out += " lang=\"";
    AppendEscaped(out, document.language);
    out += "\"";
  }
  out += ">\n<head>\n<title>";
  AppendEscaped(out, title);
  out += "</title>\n<meta name=\"author\" content=\"";
  AppendEscaped(out, author);
  out += "\"/>\n<meta name=\"genre\" content=\"";
  AppendEscaped(out, category);
  out += "\"/>\n</head>\n<body>\n";
  out += document.body;
  out += "</body>\n</html>\n";
  return out;
}

}  // namespace vellix::formats
