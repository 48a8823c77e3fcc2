// The source compiler: OEB documents and their style sheets into the flow
// of a device edition.
//
// Documents are added in reading order. Each is parsed as XHTML (pugixml)
// or, when that fails, cleaned up in memory first (libtidy); its style
// sheets (<style>, style attributes, linked sheets, within the OEB 1.0 CSS
// subset) give the text and block styles; images are decoded, made grey
// and scaled to fit the device. Finish() resolves the links, also those
// between documents, and builds the table of contents from the headings.
//
// Every problem goes to the problem sink with its file, line and column;
// the compiler goes on wherever it can and never throws for bad input.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "ikutil/device_edition.h"
#include "images.h"
#include "source_files.h"

namespace ikutil {

struct Problem {
  std::string file;     // the href of the document or sheet
  std::string message;  // the text alone, without file or place
  int32_t line = -1;
  int32_t column = -1;
  int16_t severity = 2;  // 0 information, 1 warning, 2 error
};
using ProblemSink = std::function<void(const Problem&)>;

// The runs of text (pieces of one style and link) a book may hold: about
// 170 MB of them, where even a large reference book has a few hundred
// thousand. Past it, a paragraph's inline markup is dropped and its text
// kept, so a small book of tiny elements cannot take all memory.
inline constexpr uint64_t kMaxBookRuns = 1ull << 22;

struct CompileSettings {
  uint16_t device_width = 480;
  uint16_t device_height = 640;
  int16_t css_support = 2;  // 0 no style sheets, 1 style attributes only, 2 all
  bool underline_links = true;
  // Style sheets written for other readers (an EPUB book's): what the
  // device cannot show is noted once per property for the whole book, as
  // information, never as an error or a warning.
  bool foreign_css = false;
  // The pixels the book's pictures may take to decode, all together;
  // pictures past it are left out with a warning.
  uint64_t image_pixel_budget = kMaxBookImagePixels;
  // The runs of text the book may hold; past it each paragraph goes on in
  // the style it has, with one warning per document.
  uint64_t run_budget = kMaxBookRuns;
  // Asked between blocks; true stops the compiler.
  std::function<bool()> cancelled;
  // Told how many bytes of the current document have been parsed (monotone,
  // ending at the document's size).
  std::function<void(uint64_t parsed)> progress;
};

enum class CompileStatus { kCompiled, kFailed, kCancelled };

// A table of contents entry given by the book rather than found in its
// headings: a label, its level and the place it leads to.
struct ContentsTarget {
  std::string document;  // package-relative href, decoded
  std::string fragment;  // decoded; empty for the document's start
  std::string label;
  uint8_t level = 1;
};

class EditionCompiler {
 public:
  EditionCompiler(SourceFiles& files, CompileSettings settings, ProblemSink problems);
  ~EditionCompiler();
  EditionCompiler(const EditionCompiler&) = delete;
  EditionCompiler& operator=(const EditionCompiler&) = delete;

  // Appends the document at `href` (package-relative). kFailed when it is
  // missing or cannot be parsed even after clean-up (reported); the flow
  // keeps what earlier documents gave.
  CompileStatus AddDocument(const std::string& href);

  // Makes Finish build the table of contents from `contents` instead of
  // the headings (entries leading to documents not in the book are left
  // out; a missing anchor leads to its document's start).
  void SetContents(std::vector<ContentsTarget> contents);

  // Resolves the links and builds the table of contents; links to nowhere
  // are reported and kept as links to the start of the book.
  DeviceEdition Finish();

  // How many selectors have been tried against elements so far: the work
  // of matching style sheets, which grows with the elements and the rules
  // that may match them, not with their product.
  uint64_t SelectorTests() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The checks of an OEB 1.0 basic document, without building anything:
// well-formedness (with line and column), the elements and attributes such
// a document may hold, style sheet syntax, and links, anchors and images
// that point at nothing. `known_hrefs` are the package's files.
void CheckDocument(SourceFiles& files, const std::string& href, const std::unordered_set<std::string>& known_hrefs,
                   const ProblemSink& problems);

}  // namespace ikutil
