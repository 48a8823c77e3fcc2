// The checks of a basic OEB document. The elements and attributes allowed
// are those of the XHTML 1.0 subset such documents are written in (the list
// below), plus the older presentational ones the compiler still reads
// (font, center, u, align); everything else gets a warning, as a reading
// system may ignore it.
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <unordered_set>

#include "compiler.h"
#include "css.h"
#include "source_document.h"
#include "vellix/formats/ascii.h"
#include "vellix/formats/xml.h"

namespace ikutil {
namespace {

// Attributes every element may carry.
const std::set<std::string_view>& CommonAttributes() {
  static const std::set<std::string_view> kCommon = {"id",  "class",    "style", "title",    "lang",
                                                     "dir", "xml:lang", "xmlns", "xml:space"};
  return kCommon;
}

// Element -> the attributes it adds to the common ones.
const std::map<std::string_view, std::set<std::string_view>>& AllowedElements() {
  static const std::map<std::string_view, std::set<std::string_view>> kElements = {
      {"html", {"version"}},
      {"head", {"profile"}},
      {"title", {}},
      {"meta", {"name", "content", "http-equiv", "scheme"}},
      {"link", {"rel", "rev", "href", "type", "media", "charset", "hreflang"}},
      {"style", {"type", "media"}},
      {"body", {}},
      {"p", {"align"}},
      {"div", {"align"}},
      {"blockquote", {"cite"}},
      {"h1", {"align"}},
      {"h2", {"align"}},
      {"h3", {"align"}},
      {"h4", {"align"}},
      {"h5", {"align"}},
      {"h6", {"align"}},
      {"ul", {"type", "compact"}},
      {"ol", {"type", "start", "compact"}},
      {"li", {"type", "value"}},
      {"dl", {"compact"}},
      {"dt", {}},
      {"dd", {}},
      {"pre", {"width"}},
      {"img", {"src", "alt", "width", "height", "longdesc", "border", "align", "hspace", "vspace"}},
      {"hr", {"align", "size", "width", "noshade"}},
      {"br", {"clear"}},
      {"a", {"href", "name", "type", "rel", "rev", "charset", "hreflang"}},
      {"span", {}},
      {"em", {}},
      {"i", {}},
      {"cite", {}},
      {"var", {}},
      {"dfn", {}},
      {"strong", {}},
      {"b", {}},
      {"u", {}},
      {"sup", {}},
      {"sub", {}},
      {"tt", {}},
      {"code", {}},
      {"kbd", {}},
      {"samp", {}},
      {"big", {}},
      {"small", {}},
      {"abbr", {}},
      {"acronym", {}},
      {"q", {"cite"}},
      {"ins", {"cite", "datetime"}},
      {"del", {"cite", "datetime"}},
      {"address", {}},
      {"font", {"size", "face", "color"}},
      {"center", {}},
      {"table", {"border", "cellpadding", "cellspacing", "summary", "width", "align", "frame", "rules"}},
      {"caption", {"align"}},
      {"thead", {"align", "valign"}},
      {"tbody", {"align", "valign"}},
      {"tfoot", {"align", "valign"}},
      {"colgroup", {"span", "width", "align", "valign"}},
      {"col", {"span", "width", "align", "valign"}},
      {"tr", {"align", "valign"}},
      {"td", {"colspan", "rowspan", "align", "valign", "abbr", "axis", "headers", "scope", "width", "nowrap"}},
      {"th", {"colspan", "rowspan", "align", "valign", "abbr", "axis", "headers", "scope", "width", "nowrap"}},
  };
  return kElements;
}

class Checker {
 public:
  Checker(SourceFiles& files, const std::string& href, const std::unordered_set<std::string>& known_hrefs,
          const ProblemSink& problems)
      : files_(files), href_(href), known_(known_hrefs), problems_(problems) {}

  void Run();

 private:
  void Report(Place place, int16_t severity, std::string message, const std::string* file = nullptr) {
    if (!problems_) return;
    Problem p;
    p.file = file ? *file : href_;
    p.message = std::move(message);
    p.line = place.line;
    p.column = place.column;
    p.severity = severity;
    problems_(p);
  }
  void ReportCss(const std::vector<css::Issue>& issues, const LineMap* lines, size_t base, Place fixed,
                 const std::string* file = nullptr) {
    for (const css::Issue& issue : issues)
      if (!issue.not_shown)
        Report(lines ? lines->At(base + issue.offset) : fixed, issue.error ? 2 : 1, issue.message, file);
  }
  void CheckElement(const pugi::xml_node& node);
  bool Known(const std::string& href) const { return known_.count(href) > 0 || href == href_; }

  SourceFiles& files_;
  const std::string& href_;
  const std::unordered_set<std::string>& known_;
  const ProblemSink& problems_;
  SourceDocument doc_;
  std::set<std::string> ids_;
  std::set<std::string> sheets_checked_;
};

void Checker::CheckElement(const pugi::xml_node& node) {
  std::string name = ElementName(node);
  Place place = doc_.Of(node);
  auto allowed = AllowedElements().find(name);
  if (allowed == AllowedElements().end()) {
    Report(place, 1, "element <" + name + "> is not allowed in a basic document");
  } else {
    for (pugi::xml_attribute a : node.attributes()) {
      std::string attribute = a.name();
      if (CommonAttributes().count(attribute) || allowed->second.count(attribute) || attribute.rfind("xmlns:", 0) == 0)
        continue;
      Report(place, 1, "attribute \"" + attribute + "\" is not allowed on <" + name + ">");
    }
  }
  if (pugi::xml_attribute style = node.attribute("style")) {
    std::vector<css::Issue> issues;
    css::ParseDeclarations(style.value(), issues);
    ReportCss(issues, nullptr, 0, place);
  }
  if (name == "style") {
    size_t base;
    std::string text = StyleElementText(node, &base);
    std::vector<css::Issue> issues;
    css::ParseStyleSheet(text, issues);
    ReportCss(issues, base == SIZE_MAX ? nullptr : &doc_.lines, base, place);
  }
  if (name == "link" &&
      vellix::formats::LowerAscii(node.attribute("rel").value()).find("stylesheet") != std::string::npos) {
    std::string href = node.attribute("href").value();
    std::optional<std::string> target = ResolveHref(href_, href);
    std::string bytes;
    Status read(Status::Code::kNotFound, "not found");
    if (target && Known(*target)) read = files_.Read(*target, bytes);
    if (!read.ok()) {
      Report(place, 2, DescribeReadFailure("style sheet \"" + href + "\"", read));
    } else if (sheets_checked_.insert(*target).second) {
      std::vector<css::Issue> issues;
      css::ParseStyleSheet(bytes, issues);
      LineMap lines(bytes);
      ReportCss(issues, &lines, 0, {}, &*target);
    }
  }
  if (name == "img") {
    std::string src = node.attribute("src").value();
    std::optional<std::string> target = ResolveHref(href_, src);
    if (src.empty() || !target || !Known(*target)) Report(place, 2, "image \"" + src + "\" not found");
  }
  if (name == "a" && node.attribute("href")) {
    std::string href = node.attribute("href").value();
    if (HasScheme(href)) return;
    size_t hash = href.find('#');
    std::optional<std::string> target = ResolveHref(href_, href);
    if (!target) {
      Report(place, 2, "link \"" + href + "\" leaves the package");
    } else if (!Known(*target)) {
      Report(place, 2, "link \"" + href + "\" points at a file not in the package");
    } else if (*target == href_ && hash != std::string::npos && !ids_.count(href.substr(hash + 1))) {
      Report(place, 2, "link \"" + href + "\" points at an anchor that does not exist");
    }
  }
}

void Checker::Run() {
  std::string bytes;
  if (Status read = files_.Read(href_, bytes); !read.ok()) {
    Report({}, 2, DescribeReadFailure("document", read));
    return;
  }
  ParseOutcome outcome = ParseSource(bytes, doc_);
  if (!outcome.parsed) {
    Report(outcome.place, 2, "not well-formed: " + outcome.error);
    return;
  }
  // Anchors first, as links may point forward. The walks are iterative: a
  // document may nest deeper than the call stack allows.
  std::vector<pugi::xml_node> elements;
  vellix::formats::WalkTree(doc_.dom, [&](const pugi::xml_node& n, size_t) {
    if (n.type() == pugi::node_element) {
      elements.push_back(n);
      for (const char* a : {"id", "name"})
        if (*n.attribute(a).value()) ids_.insert(n.attribute(a).value());
    }
    return vellix::formats::Walk::kInto;
  });
  for (const pugi::xml_node& element : elements) CheckElement(element);
}

}  // namespace

void CheckDocument(SourceFiles& files, const std::string& href, const std::unordered_set<std::string>& known_hrefs,
                   const ProblemSink& problems) {
  Checker(files, href, known_hrefs, problems).Run();
}

}  // namespace ikutil
