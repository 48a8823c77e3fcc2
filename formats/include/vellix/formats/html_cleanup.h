// Rewrites a badly formed HTML file in place as well-formed XHTML (libtidy):
// the head's title and meta elements are kept, every character outside
// ASCII becomes a numeric character reference, and nothing is fetched.
//
// libtidy's work grows faster than the document for some shapes of markup:
// nesting (its parser descends once per open element, and rescans the open
// elements at each tag), inline elements left open (it repeats every open
// inline element inside each block that follows) and attributes (it compares
// each attribute of a tag with every other). One linear pass over the bytes
// measures those shapes first; a document past any of the limits below is
// refused before libtidy sees it. Real books stay far below them: they nest
// a few dozen elements deep, leave a handful of inline elements open and
// give a tag a few attributes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vellix::formats {

// Most elements open at once: blocks, plus inline elements not yet closed
// by their own end tag (each one, also when nested in one of its own name:
// libtidy descends for every one, and 300,000 nested "<b>" overflow its
// stack; a link opened inside a link ends the first).
inline constexpr size_t kCleanUpMaxDepth = 1000;
// Most inline elements libtidy would repeat, summed over every block start
// (and stray block end tag) of the document: one per open name, but each
// "font".
inline constexpr size_t kCleanUpMaxRepeatedInline = 50000;
// Most attributes on one tag.
inline constexpr size_t kCleanUpMaxAttributes = 256;

// What the pre-scan found. It follows the HTML rules for implied end tags
// only roughly: it bounds libtidy's work, it does not parse.
struct MarkupShape {
  size_t depth = 0;            // most elements open at once
  size_t repeated_inline = 0;  // inline elements re-opened in later blocks
  size_t attributes = 0;       // most attributes on one tag
  bool WithinLimits() const {
    return depth <= kCleanUpMaxDepth && repeated_inline <= kCleanUpMaxRepeatedInline &&
           attributes <= kCleanUpMaxAttributes;
  }
  // Why the document is refused ("nests elements deeper than 1000"), or ""
  // within the limits.
  std::string Excess() const;
};

// Measures `html` in one pass; stops early once a limit is passed.
MarkupShape MeasureMarkup(std::string_view html);

// The same clean-up over a document in memory: the well-formed XHTML, or
// nullopt for a document past the limits above or one libtidy gives
// nothing back for. Never throws for bad input.
std::optional<std::string> CleanUpHtml(std::string_view html);

// The clean-up of `html`, the bytes of the file `path`: nullopt when
// libtidy gives nothing back. Throws AutomationError 5, naming the file, for
// a document past the limits above.
std::optional<std::string> CleanUpHtmlOf(const std::string& path, std::string_view html);

}  // namespace vellix::formats
