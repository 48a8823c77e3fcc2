// A source document as the compiler and the checker read it: parsed with
// pugixml, with the line and column of every node worked out from its byte
// offset, and the HTML character entities XML does not define decoded.
#pragma once

#include <cstdint>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "vellix/formats/line_map.h"

namespace ikutil {

using Place = vellix::formats::TextPlace;
using LineMap = vellix::formats::LineMap;

struct SourceDocument {
  SourceDocument() = default;
  // `lines` views `text`: the document stays where it was made.
  SourceDocument(SourceDocument&&) = delete;

  std::string text;  // what was parsed (the clean-up's output when cleaned)
  pugi::xml_document dom;
  LineMap lines;
  bool cleaned = false;  // places then point at nothing in the original
  Place Of(const pugi::xml_node& node) const;
  pugi::xml_node Root() const { return dom.document_element(); }
};

struct ParseOutcome {
  bool parsed = false;
  std::string error;  // the parser's description when not parsed
  Place place;        // where the parser stopped
  size_t offset = 0;  // the same as a byte offset into the parsed text
};

// Parses `bytes`, in the encoding they show or declare (UTF-8 without one,
// or Windows-1252 when not valid UTF-8), into `doc`.
ParseOutcome ParseSource(std::string_view bytes, SourceDocument& doc);

// As above for text already UTF-8 (a clean-up's output), whatever it declares.
ParseOutcome ParseSourceText(std::string text, SourceDocument& doc);

// The lower-case local name of an element ("html:P" -> "p").
std::string ElementName(const pugi::xml_node& node);

// The text of a <style> element (its text and CDATA pieces), and in
// `offset` the byte offset of its first piece (SIZE_MAX without one).
std::string StyleElementText(const pugi::xml_node& style, size_t* offset);

// `text` with HTML entities (&nbsp;, &eacute;, ...) decoded; XML's own were
// decoded by the parser, and unknown ones are kept as written.
std::string DecodeHtmlEntities(std::string_view text);

}  // namespace ikutil
