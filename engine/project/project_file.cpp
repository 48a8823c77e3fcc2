// The project file: an OEB 1.0 package document read into CBookParams and
// written back from it. docs/project-file.md describes what is read and
// written; this file keeps the two directions next to each other so that a
// save followed by a load gives back every field.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <exception>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <variant>
#include <vector>

#include "project_file.h"

#include <filesystem>

#include "default_package.h"
#include "ikutil/params.h"
#include "ikutil/ui_helper.h"
#include "vellix/formats/ascii.h"
#include "vellix/formats/codepage.h"
#include "vellix/formats/file_io.h"
#include "vellix/formats/line_map.h"
#include "vellix/formats/xml.h"

namespace ikutil {
namespace {

constexpr char kDefaultUniqueId[] = "Package-ID";

// Where a setting lives: a field of its own type, or one of the two
// folders (kept behind accessors). One byte fields are all switches.
enum class Folder { kDestination, kLog };
using SettingField = std::variant<std::string CBookParams::*, uint8_t CBookParams::*, int32_t CBookParams::*,
                                  int16_t CBookParams::*, uint32_t CBookParams::*, Folder>;

struct Setting {
  const char* name;
  SettingField field;
  bool is_zoom = false;  // written by name: normal, large, both
  // Numbers outside these are refused when the project loads, so a build
  // never finds out only when it writes the book.
  int64_t least = INT64_MIN;
  int64_t most = INT64_MAX;
};

// The build settings, as "x-IKL-" meta elements of x-metadata, in the
// order a save appends the missing ones.
const Setting kSettings[] = {
    {"x-IKL-category", &CBookParams::category},
    {"x-IKL-subcategory", &CBookParams::sub_category},
    {"x-IKL-nameondisk", &CBookParams::book_file_name},
    {"x-IKL-authorfirst", &CBookParams::author_first_name},
    {"x-IKL-authormiddle", &CBookParams::author_middle_name},
    {"x-IKL-authorlast", &CBookParams::author_last_name},
    {"x-IKL-logdir", Folder::kLog},
    {"x-IKL-logging", &CBookParams::logging},
    {"x-IKL-encrypt", &CBookParams::encrypt},
    {"x-IKL-compress", &CBookParams::compress},
    {"x-IKL-implode", &CBookParams::implode},
    {"x-IKL-widow", &CBookParams::widow_lines, false, INT16_MIN, INT16_MAX},
    {"x-IKL-orphan", &CBookParams::orphan_lines, false, INT16_MIN, INT16_MAX},
    {"x-IKL-zoomstate", &CBookParams::zoom, true, 0, 2},
    {"x-IKL-undlinks", &CBookParams::underline_links},
    {"x-IKL-destdir", Folder::kDestination},
    {"x-IKL-RLEtrigger", &CBookParams::rle_trigger, false, 0, 100},
    {"x-IKL-csssupport", &CBookParams::css, false, 0, 2},
    {"x-IKL-buildtarget", &CBookParams::build_target},
    {"x-IKL-deletefallbacks", &CBookParams::delete_fallbacks},
    {"x-IKL-periodical", &CBookParams::is_periodical},
    {"x-IKL-contentfeedid", &CBookParams::content_feed_id},
    {"x-IKL-currentissue", &CBookParams::current_issue},
};

constexpr std::string_view kAuthorSettingPrefix = "x-IKL-author";

// A source's status bits, on its spine entry. The glossary bit is not
// among them: the package's guide says which document is the glossary.
constexpr char kStatusAttribute[] = "x-IKL-status";

constexpr const char* kZoomNames[] = {"normal", "large", "both"};

// The options the XML layer parses with, for finding where a document
// stops being well-formed.
constexpr unsigned kParseFlags =
    pugi::parse_default | pugi::parse_declaration | pugi::parse_doctype | pugi::parse_comments | pugi::parse_pi;

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Dublin Core values are read as a reader sees them: white space runs
// become one space and the ends are trimmed, so an indented title is the
// title, and every value read is one a save writes back unchanged.
std::string CollapseSpaces(std::string_view text) {
  std::string out;
  bool pending_space = false;
  for (char c : text) {
    if (IsXmlSpace(c)) {
      pending_space = !out.empty();
      continue;
    }
    if (pending_space) out += ' ';
    pending_space = false;
    out += c;
  }
  return out;
}

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  std::string collapsed = CollapseSpaces(text);
  size_t start = 0;
  while (start < collapsed.size()) {
    size_t end = collapsed.find(' ', start);
    if (end == std::string::npos) end = collapsed.size();
    words.push_back(collapsed.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

std::string JoinWords(const std::vector<std::string>& words, size_t from, size_t to) {
  std::string out;
  for (size_t i = from; i < to; ++i) {
    if (!out.empty()) out += ' ';
    out += words[i];
  }
  return out;
}

}  // namespace

AuthorNameParts SplitAuthorName(std::string_view creator) {
  AuthorNameParts name;
  size_t comma = creator.find(',');
  if (comma != std::string_view::npos) {
    name.last = CollapseSpaces(creator.substr(0, comma));
    std::vector<std::string> rest = Words(creator.substr(comma + 1));
    if (!rest.empty()) name.first = rest[0];
    if (rest.size() > 1) name.middle = JoinWords(rest, 1, rest.size());
    return name;
  }
  std::vector<std::string> words = Words(creator);
  if (words.size() == 1) {
    name.last = words[0];
  } else if (words.size() > 1) {
    name.first = words.front();
    name.last = words.back();
    name.middle = JoinWords(words, 1, words.size() - 1);
  }
  return name;
}

namespace {

// The creator text written for the name parts: "First Middle Last".
std::string JoinAuthor(const std::string& first, const std::string& middle, const std::string& last) {
  std::string out;
  for (const std::string* part : {&first, &middle, &last}) {
    if (part->empty()) continue;
    if (!out.empty()) out += ' ';
    out += *part;
  }
  return out;
}

std::string MediaTypeForName(std::string_view name) {
  size_t slash = name.rfind('/');
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return "";
  std::string extension = vellix::formats::LowerAscii(name.substr(dot + 1));
  if (extension == "htm" || extension == "html" || extension == "odf" || extension == "xhtml")
    return "text/x-oeb1-document";
  if (extension == "css") return "text/x-oeb1-css";
  if (extension == "png") return "image/png";
  if (extension == "jpg" || extension == "jpeg") return "image/jpeg";
  if (extension == "gif") return "image/gif";
  return "";
}

bool IsGlossaryReference(const pugi::xml_node& reference) {
  return vellix::formats::LowerAscii(reference.attribute("type").value()) == "glossary";
}

// The document a guide reference points at, without its fragment.
std::string ReferencedDocument(const pugi::xml_node& reference) {
  std::string_view href = reference.attribute("href").value();
  return std::string(href.substr(0, href.find('#')));
}

bool IsAuthorCreator(const pugi::xml_node& node) {
  return vellix::formats::IsDcElement(node, "Creator") &&
         vellix::formats::LowerAscii(node.attribute("role").value()) == "aut";
}

// The author's creator element, or, when none says it is the author's,
// the first creator.
pugi::xml_node AuthorCreator(const pugi::xml_node& dc_metadata, bool or_first) {
  for (pugi::xml_node child : dc_metadata.children())
    if (IsAuthorCreator(child)) return child;
  return or_first ? vellix::formats::DcChild(dc_metadata, "Creator") : pugi::xml_node();
}

pugi::xml_node IdentifierWithId(const pugi::xml_node& dc_metadata, std::string_view id) {
  for (pugi::xml_node child : dc_metadata.children())
    if (vellix::formats::IsDcElement(child, "Identifier") && child.attribute("id").value() == id) return child;
  return {};
}

std::string SerializeRaw(const pugi::xml_document& dom) {
  struct StringWriter : pugi::xml_writer {
    std::string text;
    void write(const void* data, size_t size) override { text.append(static_cast<const char*>(data), size); }
  } writer;
  dom.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
  return writer.text;
}

// Text is kept as UTF-8 whatever it was read from, so the declaration
// says so, plainly: the XML layer takes any "encoding" in it (even in
// another attribute's name or value) for the encoding, and would read the
// text it wrote as 8-bit text again. A leading processing instruction
// whose name starts with "xml" gets a declaration in front for the same
// reason.
void DeclareUtf8(pugi::xml_document& dom) {
  pugi::xml_node first = dom.first_child();
  if (first.type() == pugi::node_pi && std::string_view(first.name()).substr(0, 3) == "xml") {
    dom.prepend_child(pugi::node_declaration).append_attribute("version").set_value("1.0");
    return;
  }
  if (first.type() != pugi::node_declaration) return;
  bool had_encoding = static_cast<bool>(first.attribute("encoding"));
  std::string standalone = first.attribute("standalone").value();
  while (pugi::xml_attribute attribute = first.first_attribute()) first.remove_attribute(attribute);
  first.append_attribute("version").set_value("1.0");
  if (had_encoding) first.append_attribute("encoding").set_value("UTF-8");
  if (standalone == "yes" || standalone == "no") first.append_attribute("standalone").set_value(standalone.c_str());
}

// --- Places in the document, for messages ---

bool IsSingleByteEncoding(const std::string& name) {
  return name == "iso-8859-1" || name == "latin1" || name == "windows-1252" || name == "cp1252" || name == "us-ascii";
}

bool HasUtf16Mark(std::string_view bytes) {
  return bytes.size() >= 2 &&
         ((bytes[0] == '\xFF' && bytes[1] == '\xFE') || (bytes[0] == '\xFE' && bytes[1] == '\xFF'));
}

// The text the XML parser saw (without a byte order mark, 8-bit text made
// UTF-8), so that node offsets turn into lines. Empty for UTF-16, whose
// offsets we do not map back.
std::string ParsedText(std::string_view bytes) {
  if (HasUtf16Mark(bytes)) return "";
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  if (IsSingleByteEncoding(vellix::formats::DeclaredXmlEncoding(bytes))) return vellix::formats::Cp1252ToUtf8(bytes);
  return std::string(bytes);
}

using Place = vellix::formats::TextPlace;

Place PlaceAt(std::string_view text, size_t offset) {
  return vellix::formats::LineMap(text).At(std::min(offset, text.size()));
}

// Why the XML layer would not parse `bytes`, and where.
std::string WhyNotWellFormed(std::string_view bytes, Place& place) {
  if (bytes.empty()) return "The project file is empty.";
  std::string declared =
      HasUtf16Mark(bytes)
          ? ""
          : vellix::formats::DeclaredXmlEncoding(bytes.substr(0, 3) == "\xEF\xBB\xBF" ? bytes.substr(3) : bytes);
  if (!HasUtf16Mark(bytes) && !declared.empty() && declared != "utf-8" && declared != "utf8" &&
      !IsSingleByteEncoding(declared)) {
    place = {1, 1};
    return "The project file is in an encoding that cannot be read (\"" + declared + "\").";
  }
  std::string text = ParsedText(bytes);
  if (!HasUtf16Mark(bytes) && !vellix::formats::IsValidUtf8(text)) {
    size_t i = 0;
    while (i < text.size()) {
      size_t at = i;
      if (static_cast<unsigned char>(text[i]) < 0x80) {
        ++i;
      } else if (vellix::formats::NextUtf8Char(text, i) < 0) {
        place = PlaceAt(text, at);
        break;
      }
    }
    return "The project file is not valid UTF-8 text.";
  }
  pugi::xml_document dom;
  pugi::xml_parse_result result = HasUtf16Mark(bytes)
                                      ? dom.load_buffer(bytes.data(), bytes.size(), kParseFlags, pugi::encoding_auto)
                                      : dom.load_buffer(text.data(), text.size(), kParseFlags, pugi::encoding_utf8);
  if (!result) {
    if (!text.empty()) place = PlaceAt(text, static_cast<size_t>(std::max<ptrdiff_t>(result.offset, 0)));
    return std::string("The project file is not well-formed XML: ") + result.description() + ".";
  }
  if (pugi::xml_node repeated = vellix::formats::ElementWithRepeatedAttribute(dom)) {
    if (!text.empty()) place = PlaceAt(text, static_cast<size_t>(std::max<ptrdiff_t>(repeated.offset_debug(), 0)));
    return std::string("The project file is not well-formed XML: <") + repeated.name() + "> repeats an attribute.";
  }
  bool seen_element = false;
  for (pugi::xml_node node : dom.children()) {
    bool stray_text = node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata;
    if (stray_text || (node.type() == pugi::node_element && seen_element)) {
      if (!text.empty()) place = PlaceAt(text, static_cast<size_t>(std::max<ptrdiff_t>(node.offset_debug(), 0)));
      return "The project file is not well-formed XML: text or a second element outside the document element.";
    }
    if (node.type() == pugi::node_element) seen_element = true;
  }
  return "The project file is not well-formed XML: it has no document element.";
}

// --- Reading ---

class ProblemReporter {
 public:
  ProblemReporter(COEBPackageUIHelper* helper, std::string path, bool feedback, std::string parsed_text)
      : helper_(helper),
        path_(std::move(path)),
        show_now_(feedback ? 1 : 0),
        text_(std::move(parsed_text)),
        lines_(text_) {}
  ProblemReporter(const ProblemReporter&) = delete;
  ProblemReporter& operator=(const ProblemReporter&) = delete;

  void Report(const std::string& message, int line) const {
    if (helper_) helper_->Display(message, path_, line, show_now_);
  }
  void Report(const std::string& message, const pugi::xml_node& node) const {
    Report(message, node.offset_debug() < 0 ? -1 : lines_.At(static_cast<size_t>(node.offset_debug())).line);
  }

 private:
  COEBPackageUIHelper* helper_;
  std::string path_;
  int show_now_;
  std::string text_;                // what the lines are counted in
  vellix::formats::LineMap lines_;  // views text_
};

template <typename Number>
bool ParseNumber(std::string_view text, Number& value) {
  std::string trimmed = vellix::formats::TrimmedAscii(text, vellix::formats::kXmlBlanks);
  std::string_view digits = trimmed;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  if (digits.empty() || digits.front() == '+') return false;
  Number parsed{};
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), parsed);
  if (error != std::errc() || end != digits.data() + digits.size()) return false;
  value = parsed;
  return true;
}

bool ParseSwitch(std::string_view text, uint8_t& value) {
  std::string word = vellix::formats::LowerAscii(vellix::formats::TrimmedAscii(text, vellix::formats::kXmlBlanks));
  if (word == "on" || word == "yes" || word == "true" || word == "1") {
    value = 1;
    return true;
  }
  if (word == "off" || word == "no" || word == "false" || word == "0") {
    value = 0;
    return true;
  }
  return false;
}

bool ParseZoom(std::string_view text, int32_t& value) {
  std::string word = vellix::formats::LowerAscii(vellix::formats::TrimmedAscii(text, vellix::formats::kXmlBlanks));
  for (int32_t i = 0; i < 3; ++i) {
    if (word == kZoomNames[i]) {
      value = i;
      return true;
    }
  }
  return ParseNumber(text, value);
}

// `value` into `into` when it parsed and lies in the setting's range.
template <typename Number>
bool TakeInRange(const Setting& setting, Number& into, bool parsed, Number value) {
  if (!parsed || value < setting.least || value > setting.most) return false;
  into = value;
  return true;
}

bool ReadSetting(const Setting& setting, std::string_view content, CBookParams& params) {
  struct Reader {
    std::string_view content;
    CBookParams& params;
    const Setting& setting;
    bool operator()(std::string CBookParams::*text) {
      params.*text = content;
      return true;
    }
    bool operator()(uint8_t CBookParams::*flag) { return ParseSwitch(content, params.*flag); }
    bool operator()(int32_t CBookParams::*number) {
      int32_t value = 0;
      const bool parsed = setting.is_zoom ? ParseZoom(content, value) : ParseNumber(content, value);
      return TakeInRange(setting, params.*number, parsed, value);
    }
    bool operator()(int16_t CBookParams::*number) {
      int16_t value = 0;
      const bool parsed = ParseNumber(content, value);
      return TakeInRange(setting, params.*number, parsed, value);
    }
    bool operator()(uint32_t CBookParams::*number) {
      uint32_t value = 0;
      const bool parsed = ParseNumber(content, value);
      return TakeInRange(setting, params.*number, parsed, value);
    }
    bool operator()(Folder folder) {
      if (folder == Folder::kDestination) {
        params.DestDir(std::string(content));
      } else {
        params.LogDir(std::string(content));
      }
      return true;
    }
  };
  return std::visit(Reader{content, params, setting}, setting.field);
}

// The x-IKL- settings into `params`; the first meta element of a name counts.
void ReadSettings(const pugi::xml_node& x_metadata, CBookParams& params, bool& has_author_parts,
                  const ProblemReporter& problems) {
  std::unordered_set<std::string_view> seen;
  for (pugi::xml_node meta : x_metadata.children("meta")) {
    std::string_view name = meta.attribute("name").value();
    auto setting =
        std::find_if(std::begin(kSettings), std::end(kSettings), [&](const Setting& s) { return name == s.name; });
    if (setting == std::end(kSettings) || !seen.insert(setting->name).second) continue;
    if (name.substr(0, kAuthorSettingPrefix.size()) == kAuthorSettingPrefix) has_author_parts = true;
    std::string content = meta.attribute("content").value();
    if (!ReadSetting(*setting, content, params)) {
      std::string range;
      if (setting->least != INT64_MIN)
        range = ": it must be " + std::to_string(setting->least) + " to " + std::to_string(setting->most);
      problems.Report("The setting \"" + std::string(name) + "\" has a value that cannot be used (\"" + content +
                          "\")" + range + "; the default is kept.",
                      meta);
    }
  }
}

void ReadAuthor(const pugi::xml_node& dc_metadata, bool has_author_parts, CBookParams& params) {
  std::string creator = CollapseSpaces(vellix::formats::TextOf(AuthorCreator(dc_metadata, true)));
  // The exact parts stand when they still spell the creator; a creator
  // edited elsewhere is split again.
  if (has_author_parts && CollapseSpaces(JoinAuthor(params.author_first_name, params.author_middle_name,
                                                    params.author_last_name)) == creator)
    return;
  AuthorNameParts name = SplitAuthorName(creator);
  params.author_first_name = name.first;
  params.author_middle_name = name.middle;
  params.author_last_name = name.last;
}

void ReadManifestAndSpine(const pugi::xml_node& package, CBookParams& params, const ProblemReporter& problems) {
  std::vector<pugi::xml_node> items;
  std::unordered_map<std::string, size_t> item_by_id;
  for (pugi::xml_node item : package.child("manifest").children("item")) {
    std::string id = item.attribute("id").value();
    if (!id.empty() && !item_by_id.emplace(id, items.size()).second)
      problems.Report("The manifest lists the id \"" + id + "\" more than once.", item);
    items.push_back(item);
  }
  std::vector<bool> in_spine(items.size(), false);
  for (pugi::xml_node itemref : package.child("spine").children("itemref")) {
    std::string idref = itemref.attribute("idref").value();
    auto found = item_by_id.find(idref);
    if (found == item_by_id.end()) {
      problems.Report("The spine names \"" + idref + "\", which is not in the manifest; it is left out.", itemref);
      continue;
    }
    if (in_spine[found->second]) {
      problems.Report("The spine names \"" + idref + "\" more than once; the repeat is left out.", itemref);
      continue;
    }
    in_spine[found->second] = true;
    const pugi::xml_node& item = items[found->second];
    // A source outside the project's folder is saved as a "file:" URI and
    // comes back as its path.
    auto source = std::make_unique<CWinSourceFile>(SourceNameFromHref(item.attribute("href").value()), 0);
    source->media_type = item.attribute("media-type").value();
    source->item_id = idref;
    if (pugi::xml_attribute status = itemref.attribute(kStatusAttribute)) {
      uint32_t bits = 0;
      if (ParseNumber(status.value(), bits)) {
        source->status = bits & ~kStatusGlossary;
      } else {
        problems.Report("The status of \"" + idref + "\" cannot be read (\"" + status.value() + "\").", itemref);
      }
    }
    params.InsertSource(params.NumSources(), std::move(source));
  }
  for (size_t i = 0; i < items.size(); ++i) {
    if (in_spine[i]) continue;
    params.Resources().push_back({items[i].attribute("id").value(), items[i].attribute("href").value(),
                                  items[i].attribute("media-type").value()});
  }
  for (pugi::xml_node reference : package.child("guide").children("reference")) {
    if (!IsGlossaryReference(reference)) continue;
    std::string document = SourceNameFromHref(ReferencedDocument(reference));
    for (size_t i = 0; i < params.NumSources(); ++i)
      if (params.Source(i)->file_name == document) params.Source(i)->status |= kStatusGlossary;
  }
}

// Everything but the project file path and the loaded package.
void CopyFields(const CBookParams& from, CBookParams& to) {
  to.book_file_name = from.book_file_name;
  to.book_id = from.book_id;
  to.book_title = from.book_title;
  to.category = from.category;
  to.sub_category = from.sub_category;
  to.author_first_name = from.author_first_name;
  to.author_middle_name = from.author_middle_name;
  to.author_last_name = from.author_last_name;
  to.language = from.language;
  to.encrypt = from.encrypt;
  to.compress = from.compress;
  to.implode = from.implode;
  to.reserved_flag_after_implode = from.reserved_flag_after_implode;
  to.reserved_flag_before_underline = from.reserved_flag_before_underline;
  to.underline_links = from.underline_links;
  to.zoom = from.zoom;
  to.css = from.css;
  to.widow_lines = from.widow_lines;
  to.orphan_lines = from.orphan_lines;
  to.build_target = from.build_target;
  to.logging = from.logging;
  to.rle_trigger = from.rle_trigger;
  to.content_feed_id = from.content_feed_id;
  to.current_issue = from.current_issue;
  to.delete_fallbacks = from.delete_fallbacks;
  to.is_periodical = from.is_periodical;
  to.DestDir(from.DestDir());
  to.LogDir(from.LogDir());
}

// --- Writing ---

// A child element named `name`, made (after `after`, or first) when missing.
pugi::xml_node EnsureChild(pugi::xml_node parent, const char* name, const pugi::xml_node& after) {
  if (pugi::xml_node child = parent.child(name)) return child;
  return after ? parent.insert_child_after(name, after) : parent.prepend_child(name);
}

// A new Dublin Core element that is one wherever it lands.
pugi::xml_node AppendDcElement(pugi::xml_node dc_metadata, const char* local_name, bool first = false) {
  std::string name = std::string("dc:") + local_name;
  pugi::xml_node element = first ? dc_metadata.prepend_child(name.c_str()) : dc_metadata.append_child(name.c_str());
  std::string ns = vellix::formats::NamespaceOf(element);
  if (!ns.empty() && ns != vellix::formats::kDublinCoreNamespace)
    element.append_attribute("xmlns:dc").set_value(vellix::formats::kDublinCoreNamespace);
  return element;
}

void SetText(pugi::xml_node element, const std::string& text) {
  while (pugi::xml_node child = element.first_child()) element.remove_child(child);
  if (!text.empty()) element.append_child(pugi::node_pcdata).set_value(text.c_str());
}

void SetMeta(pugi::xml_node x_metadata, const char* name, const std::string& value) {
  pugi::xml_node meta = x_metadata.find_child_by_attribute("meta", "name", name);
  if (!meta) {
    meta = x_metadata.append_child("meta");
    meta.append_attribute("name").set_value(name);
  }
  pugi::xml_attribute content = meta.attribute("content");
  if (!content) content = meta.append_attribute("content");
  content.set_value(value.c_str());
}

std::string SettingText(const Setting& setting, const CBookParams& params) {
  struct Writer {
    const CBookParams& params;
    bool is_zoom;
    std::string operator()(std::string CBookParams::*text) { return params.*text; }
    std::string operator()(uint8_t CBookParams::*flag) { return params.*flag ? "on" : "off"; }
    std::string operator()(int32_t CBookParams::*number) {
      int32_t value = params.*number;
      return is_zoom && value >= 0 && value < 3 ? kZoomNames[value] : std::to_string(value);
    }
    std::string operator()(int16_t CBookParams::*number) { return std::to_string(params.*number); }
    std::string operator()(uint32_t CBookParams::*number) { return std::to_string(params.*number); }
    std::string operator()(Folder folder) {
      return folder == Folder::kDestination ? params.DestDir() : params.LogDir();
    }
  };
  return std::visit(Writer{params, setting.is_zoom}, setting.field);
}

// Every id the document uses outside `skip` (the manifest, rebuilt).
std::unordered_set<std::string> IdsOutside(const pugi::xml_node& root, const pugi::xml_node& skip) {
  std::unordered_set<std::string> ids;
  auto note = [&ids](const pugi::xml_node& n) {
    if (pugi::xml_attribute id = n.attribute("id")) ids.insert(id.value());
  };
  if (root == skip) return ids;
  if (root.type() == pugi::node_element) note(root);
  vellix::formats::WalkTree(root, [&](const pugi::xml_node& n, size_t) {
    if (n == skip || n.type() != pugi::node_element) return vellix::formats::Walk::kOver;
    note(n);
    return vellix::formats::Walk::kInto;
  });
  return ids;
}

struct ManifestEntry {
  std::string id, href, media_type;
};

// Manifest ids for the sources, then the resources: each keeps its id
// unless it has none or an earlier entry took it; those get "i1", "i2", ...
// that nothing in the document uses.
void AssignItemIds(std::vector<ManifestEntry>& entries, const std::unordered_set<std::string>& ids_in_document) {
  std::unordered_set<std::string> taken;
  std::vector<size_t> unnamed;
  for (size_t i = 0; i < entries.size(); ++i)
    if (entries[i].id.empty() || !taken.insert(entries[i].id).second) unnamed.push_back(i);
  uint64_t counter = 0;
  for (size_t i : unnamed) {
    std::string id;
    do id = "i" + std::to_string(++counter);
    while (taken.count(id) || ids_in_document.count(id));
    taken.insert(id);
    entries[i].id = id;
  }
}

void WriteGuide(pugi::xml_node package, pugi::xml_node spine, const std::vector<ManifestEntry>& sources,
                const CBookParams& params) {
  std::set<std::string> glossaries, others;
  for (size_t i = 0; i < params.NumSources(); ++i)
    (params.Source(i)->IsGlossary() ? glossaries : others).insert(sources[i].href);
  pugi::xml_node guide = package.child("guide");
  std::set<std::string> referenced;
  for (pugi::xml_node reference = guide.child("reference"); reference;) {
    pugi::xml_node next = reference.next_sibling("reference");
    if (IsGlossaryReference(reference)) {
      std::string document = ReferencedDocument(reference);
      if (others.count(document) && !glossaries.count(document)) {
        guide.remove_child(reference);  // no longer the glossary
      } else {
        referenced.insert(document);
      }
    }
    reference = next;
  }
  for (const std::string& document : glossaries) {
    if (referenced.count(document)) continue;
    if (!guide) guide = package.insert_child_after("guide", spine);
    pugi::xml_node reference = guide.append_child("reference");
    reference.append_attribute("type").set_value("glossary");
    reference.append_attribute("title").set_value("Glossary");
    reference.append_attribute("href").set_value(document.c_str());
  }
}

bool IsUnreservedInFileUri(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("/-._~!$&'()*+,;=:@").find(static_cast<char>(c)) != std::string_view::npos;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The package document Save writes, with `source_hrefs[i]` as the href of
// source i; `entries` gets the manifest as written.
void ComposePackage(const CBookParams& params, const std::vector<std::string>& source_hrefs,
                    vellix::formats::XmlDocument& doc, std::vector<ManifestEntry>& entries) {
  if (!params.LoadedPackage().empty()) vellix::formats::LoadXmlText(params.LoadedPackage(), doc);
  if (!doc.parsed || std::string_view(doc.Root().name()) != "package")
    vellix::formats::LoadXmlText(kDefaultPackage, doc);
  pugi::xml_node package = doc.Root();

  pugi::xml_node metadata = EnsureChild(package, "metadata", {});
  pugi::xml_node dc_metadata = metadata.child("dc-metadata");
  if (!dc_metadata) {
    dc_metadata = metadata.prepend_child("dc-metadata");
    dc_metadata.append_attribute("xmlns:dc").set_value(vellix::formats::kDublinCoreNamespace);
  }
  pugi::xml_node x_metadata = EnsureChild(metadata, "x-metadata", dc_metadata);
  pugi::xml_node manifest = EnsureChild(package, "manifest", metadata);
  pugi::xml_node spine = EnsureChild(package, "spine", manifest);

  // The identifiers, title, author and params.language.
  pugi::xml_attribute unique_id = package.attribute("unique-identifier");
  if (!unique_id) unique_id = package.append_attribute("unique-identifier");
  if (!*unique_id.value()) unique_id.set_value(kDefaultUniqueId);
  pugi::xml_node identifier = IdentifierWithId(dc_metadata, unique_id.value());
  if (!identifier) {
    identifier = AppendDcElement(dc_metadata, "Identifier", true);
    identifier.append_attribute("id").set_value(unique_id.value());
  }
  SetText(identifier, params.book_id);
  pugi::xml_node title = vellix::formats::DcChild(dc_metadata, "Title");
  SetText(title ? title : AppendDcElement(dc_metadata, "Title"), params.book_title);
  pugi::xml_node creator = AuthorCreator(dc_metadata, false);
  if (!creator) {
    creator = AppendDcElement(dc_metadata, "Creator");
    creator.append_attribute("role").set_value("aut");
  }
  SetText(creator, JoinAuthor(params.author_first_name, params.author_middle_name, params.author_last_name));
  pugi::xml_node language_element = vellix::formats::DcChild(dc_metadata, "Language");
  if (language_element || !params.language.empty())
    SetText(language_element ? language_element : AppendDcElement(dc_metadata, "Language"), params.language);

  for (const Setting& setting : kSettings) SetMeta(x_metadata, setting.name, SettingText(setting, params));

  // The manifest and spine are rebuilt from the sources and resources.
  for (size_t i = 0; i < params.NumSources(); ++i) {
    const CSourceFile& source = *params.Source(i);
    entries.push_back({source.item_id, source_hrefs[i],
                       source.media_type.empty() ? MediaTypeForName(source.file_name) : source.media_type});
  }
  for (const ProjectResource& resource : params.Resources())
    entries.push_back({resource.id, resource.href,
                       resource.media_type.empty() ? MediaTypeForName(resource.href) : resource.media_type});
  AssignItemIds(entries, IdsOutside(package, manifest));
  while (pugi::xml_node child = manifest.first_child()) manifest.remove_child(child);
  while (pugi::xml_node child = spine.first_child()) spine.remove_child(child);
  for (const ManifestEntry& entry : entries) {
    pugi::xml_node item = manifest.append_child("item");
    item.append_attribute("id").set_value(entry.id.c_str());
    item.append_attribute("href").set_value(entry.href.c_str());
    item.append_attribute("media-type").set_value(entry.media_type.c_str());
  }
  for (size_t i = 0; i < params.NumSources(); ++i) {
    pugi::xml_node itemref = spine.append_child("itemref");
    itemref.append_attribute("idref").set_value(entries[i].id.c_str());
    if (uint32_t bits = params.Source(i)->status & ~kStatusGlossary)
      itemref.append_attribute(kStatusAttribute).set_value(std::to_string(bits).c_str());
  }
  WriteGuide(package, spine, entries, params);

  DeclareUtf8(doc.dom);
}

}  // namespace

bool CBookParams::Load(const std::string& path, bool feedback) {
  if (path.size() > 5 && vellix::formats::LowerAscii(path.substr(path.size() - 5)) == ".epub")
    return LoadEpub(path, feedback);
  ProblemReporter problems(ui_helper_, path, feedback, "");
  std::string text;
  try {
    if (!vellix::formats::IsFile(path)) {
      problems.Report(
          vellix::formats::IsFolder(path) ? "The project file is a folder." : "The project file does not exist.", -1);
      return false;
    }
    text = vellix::formats::ReadWholeFile(path);
  } catch (const std::exception& e) {
    problems.Report(std::string("The project file cannot be read: ") + e.what(), -1);
    return false;
  }
  return LoadFromText(text, path, feedback);
}

bool CBookParams::LoadFromText(std::string_view package_text, const std::string& path, bool feedback) {
  vellix::formats::XmlDocument doc;
  vellix::formats::LoadXmlText(package_text, doc);
  if (!doc.parsed) {
    Place place;
    std::string message = WhyNotWellFormed(package_text, place);
    if (place.line > 0)
      message += " (line " + std::to_string(place.line) + ", column " + std::to_string(place.column) + ")";
    ProblemReporter(ui_helper_, path, feedback, "").Report(message, place.line);
    return false;
  }
  ProblemReporter problems(ui_helper_, path, feedback, ParsedText(package_text));
  pugi::xml_node package = doc.Root();
  if (std::string_view(package.name()) != "package") {
    problems.Report(
        std::string("The project file is not a package document: its document element is <") + package.name() + ">.",
        package);
    return false;
  }
  DeclareUtf8(doc.dom);
  std::string package_copy = SerializeRaw(doc.dom);
  // A character reference may name something that is no character (a
  // surrogate); such a document could not be saved and read again.
  if (!vellix::formats::IsValidUtf8(package_copy)) {
    problems.Report("The project file refers to a character that does not exist.", -1);
    return false;
  }

  // Read into a fresh set of fields, with the defaults of a new book.
  CBookParams loaded;
  pugi::xml_node metadata = package.child("metadata");
  pugi::xml_node dc_metadata = metadata.child("dc-metadata");
  std::string unique_id = package.attribute("unique-identifier").value();
  if (!unique_id.empty()) {
    if (pugi::xml_node identifier = IdentifierWithId(dc_metadata, unique_id)) {
      loaded.book_id = CollapseSpaces(vellix::formats::TextOf(identifier));
    } else {
      problems.Report("The package's unique identifier \"" + unique_id + "\" names no dc:Identifier.", package);
    }
  }
  loaded.book_title = CollapseSpaces(vellix::formats::TextOf(vellix::formats::DcChild(dc_metadata, "Title")));
  loaded.language = CollapseSpaces(vellix::formats::TextOf(vellix::formats::DcChild(dc_metadata, "Language")));
  bool has_author_parts = false;
  ReadSettings(metadata.child("x-metadata"), loaded, has_author_parts, problems);
  ReadAuthor(dc_metadata, has_author_parts, loaded);
  ReadManifestAndSpine(package, loaded, problems);

  CopyFields(loaded, *this);
  sources_.swap(loaded.sources_);
  resources_.swap(loaded.resources_);
  loaded_package_ = std::move(package_copy);
  epub_.reset();
  project_format_ = 1;
  project_file_path = path;
  return true;
}

bool CBookParams::Save() {
  auto fail = [this](const std::string& message) {
    if (ui_helper_) ui_helper_->Display(message, project_file_path, -1, 1);
    return false;
  };
  if (project_file_path.empty()) return fail("The project has no file to be saved to.");
  // Its sources live inside the book, where no package document could name them.
  if (epub_) return fail("A project read from an EPUB book cannot be saved as a project file.");

  std::vector<std::string> hrefs;
  for (const auto& source : sources_) hrefs.push_back(SourceHrefToSave(source->file_name, BaseDirectory()));
  vellix::formats::XmlDocument doc;
  std::vector<ManifestEntry> entries;
  ComposePackage(*this, hrefs, doc, entries);
  if (!vellix::formats::IsValidUtf8(SerializeRaw(doc.dom)))
    return fail("The project holds text that is not valid UTF-8.");
  try {
    vellix::formats::SaveXmlFile(doc, project_file_path);
  } catch (const std::exception& e) {
    return fail(std::string("The project file cannot be written: ") + e.what());
  }

  // The entries now are what the file says.
  for (size_t i = 0; i < sources_.size(); ++i) {
    sources_[i]->item_id = entries[i].id;
    sources_[i]->media_type = entries[i].media_type;
  }
  for (size_t i = 0; i < resources_.size(); ++i) {
    resources_[i].id = entries[sources_.size() + i].id;
    resources_[i].media_type = entries[sources_.size() + i].media_type;
  }
  return true;
}

}  // namespace ikutil

namespace ikutil {

std::string SourceHrefToSave(const std::string& name, const std::string& base_directory) {
  namespace fs = std::filesystem;
  fs::path given(name);
  std::error_code ec;
  fs::path base = fs::absolute(base_directory.empty() ? "." : base_directory, ec).lexically_normal();
  if (ec) return name;
  fs::path file = (base / given).lexically_normal();
  fs::path relative = file.lexically_relative(base);
  bool inside = !relative.empty() && *relative.begin() != "..";
  if (inside) return given.is_absolute() ? relative.generic_string() : name;
  std::string uri = "file://";
  for (unsigned char c : file.string()) {
    if (IsUnreservedInFileUri(c)) {
      uri += static_cast<char>(c);
    } else {
      static const char kHex[] = "0123456789ABCDEF";
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri;
}

std::string SourceNameFromHref(const std::string& href) {
  if (href.size() < 5 || vellix::formats::LowerAscii(href.substr(0, 5)) != "file:") return href;
  std::string_view rest = std::string_view(href).substr(5);
  if (rest.substr(0, 2) == "//") {
    rest.remove_prefix(2);
    size_t slash = rest.find('/');
    if (slash == std::string_view::npos) return href;
    std::string host = vellix::formats::LowerAscii(std::string(rest.substr(0, slash)));
    if (!host.empty() && host != "localhost") return href;  // another machine's file
    rest.remove_prefix(slash);
  }
  if (rest.empty() || rest.front() != '/') return href;
  std::string path;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '%' && i + 2 < rest.size()) {
      int high = HexValue(rest[i + 1]), low = HexValue(rest[i + 2]);
      if (high >= 0 && low >= 0) {
        path += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    path += rest[i];
  }
  if (path.find('\0') != std::string::npos) return href;
  return path;
}

std::optional<std::string> ContainerPackageText(const CBookParams& params, const std::vector<std::string>& hrefs) {
  vellix::formats::XmlDocument doc;
  std::vector<ManifestEntry> entries;
  ComposePackage(params, hrefs, doc, entries);
  if (!vellix::formats::IsValidUtf8(SerializeRaw(doc.dom))) return std::nullopt;
  return vellix::formats::XmlText(doc);
}

}  // namespace ikutil
