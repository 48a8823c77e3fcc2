// Markdown sources: CommonMark with GitHub's tables, strikethrough, task
// lists, "www." autolinks and footnotes (parsed by md4c; footnotes by a
// pass of ours before it), written as an XHTML document of ours that the
// publishing road then takes like any other document.
//
// Raw HTML in the source goes into the document as HTML (comments stay
// comments); when it leaves the document badly formed the HTML clean-up
// mends it, and what the clean-up cannot mend is shown as text, so the
// document written is always well-formed. Tables become one paragraph per row, the cells
// separated by " | " and the header row in bold: the device has no tables,
// and rows stay readable on its narrow screen.
#pragma once

#include <string>
#include <string_view>

namespace vellix::formats {

struct MarkdownDocument {
  // The title the source gives: a leading "% Title" line, else a leading
  // YAML-style block ("---" ... "title: X" ... "---"), else the first
  // level-one heading; "" when none.
  std::string title;
  // A YAML-style block's "author:" (a list's first name) and "lang:".
  std::string author;
  std::string language;
  std::string body;  // the XHTML content of <body>, UTF-8
};

// `text` is UTF-8; text that is not is read as Windows-1252.
MarkdownDocument ConvertMarkdown(std::string_view text);

// The whole XHTML document (UTF-8): the head carries the title, author and
// genre (escaped), the body the converted Markdown.
std::string MarkdownXhtml(const MarkdownDocument& document, const std::string& title, const std::string& author,
                          const std::string& category);

}  // namespace vellix::formats
