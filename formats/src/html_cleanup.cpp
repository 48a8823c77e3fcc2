#include "vellix/formats/html_cleanup.h"

#include <tidy/tidy.h>
#include <tidy/tidybuffio.h>

#include <limits>
#include <memory>
#include <optional>

#include "vellix/formats/codepage.h"
#include "vellix/formats/error.h"
#include "vellix/formats/file_io.h"

namespace vellix::formats {
namespace {

// Refuses, naming the file, a document whose shape would keep libtidy busy
// for far longer than its size warrants.
void RefuseOutsizedMarkup(const std::string& path, const MarkupShape& shape) {
  const std::string why = shape.Excess();
  if (!why.empty()) Raise(kInvalidArgument, path + " " + why);
}

// "<%= name %>" (a template inside a <pre>, say) is text to a browser, as is
// "<#": "<" starts a tag only before a letter, "/", "!" or "?". libtidy
// would copy such a section through as it is, which no XML parser reads.
std::string EscapeServerSections(std::string_view html) {
  std::string out;
  out.reserve(html.size() + 64);
  for (size_t i = 0; i < html.size(); ++i) {
    if (html[i] == '<' && i + 1 < html.size() && (html[i + 1] == '%' || html[i + 1] == '#'))
      out += "&lt;";
    else
      out += html[i];
  }
  return out;
}

// libtidy over a document already measured: well-formed XHTML, or nullopt
// when libtidy gives nothing back.
std::optional<std::string> Tidy(std::string_view html) {
  std::unique_ptr<std::remove_pointer_t<TidyDoc>, void (*)(TidyDoc)> doc(tidyCreate(), tidyRelease);
  TidyDoc t = doc.get();
  TidyBuffer errors;
  tidyBufInit(&errors);
  tidySetErrorBuffer(t, &errors);
  // XML syntax without a namespace or document type of its own, so the
  // document keeps the shape its readers select on.
  tidyOptSetBool(t, TidyXmlOut, yes);
  tidyOptSetInt(t, TidyDoctypeMode, TidyDoctypeOmit);
  tidyOptSetBool(t, TidyNumEntities, yes);
  tidyOptSetBool(t, TidyForceOutput, yes);
  tidyOptSetBool(t, TidyMark, no);
  tidyOptSetBool(t, TidyQuiet, yes);
  tidyOptSetBool(t, TidyShowWarnings, no);
  tidyOptSetInt(t, TidyWrapLen, 0);
  // No white space of its own: a line end before "<b>" in "word<b>bold</b>"
  // or after "<pre>" would be a space, or a line, the source never had.
  tidyOptSetInt(t, TidyIndentContent, TidyNoState);
  tidyOptSetInt(t, TidyVertSpace, TidyAutoState);
  tidySetInCharEncoding(t, IsValidUtf8(html) ? "utf8" : "win1252");
  tidySetOutCharEncoding(t, "ascii");

  // libtidy reads the attached buffer without writing to it.
  std::string input = EscapeServerSections(html);
  TidyBuffer in;
  tidyBufInit(&in);
  tidyBufAttach(&in, reinterpret_cast<byte*>(input.data()), static_cast<uint>(input.size()));
  TidyBuffer out;
  tidyBufInit(&out);
  int rc = tidyParseBuffer(t, &in);
  if (rc >= 0) rc = tidyCleanAndRepair(t);
  if (rc >= 0) rc = tidySaveBuffer(t, &out);
  std::optional<std::string> result;
  if (rc >= 0 && out.size > 0) result.emplace(reinterpret_cast<const char*>(out.bp), out.size);
  tidyBufDetach(&in);
  tidyBufFree(&out);
  tidyBufFree(&errors);
  return result;
}

}  // namespace

std::string MarkupShape::Excess() const {
  if (depth > kCleanUpMaxDepth) return "nests elements deeper than " + std::to_string(kCleanUpMaxDepth);
  if (repeated_inline > kCleanUpMaxRepeatedInline)
    return "leaves too many inline elements open (more than " + std::to_string(kCleanUpMaxRepeatedInline) + " repeats)";
  if (attributes > kCleanUpMaxAttributes)
    return "has a tag with more than " + std::to_string(kCleanUpMaxAttributes) + " attributes";
  return "";
}

std::optional<std::string> CleanUpHtml(std::string_view html) {
  if (html.size() > std::numeric_limits<uint>::max() || !MeasureMarkup(html).WithinLimits()) return std::nullopt;
  return Tidy(html);
}

std::optional<std::string> CleanUpHtmlOf(const std::string& path, std::string_view html) {
  RefuseOutsizedMarkup(path, MeasureMarkup(html));
  if (html.size() > std::numeric_limits<uint>::max()) return std::nullopt;
  return Tidy(html);
}

}  // namespace vellix::formats
