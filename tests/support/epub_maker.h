// EPUB books built byte by byte for the tests: well-made ones written with
// libzip (the "mimetype" entry first and stored, the rest deflated), and
// hostile archives whose entries are laid out by hand, so that names,
// attributes and sizes can be anything a damaged or malicious book holds.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vellix::fixtures {

struct ZipEntry {
  std::string name;
  std::string bytes;
};

// A zip archive written by libzip at `path`.
void WriteZip(const std::string& path, const std::vector<ZipEntry>& entries);

// One entry of a hand-made archive: stored (not compressed) unless
// `deflate`; `unix_mode` (e.g. 0120777 for a symbolic link) goes into the
// external attributes; `declared_size` overrides the size the headers give.
struct RawZipEntry {
  std::string name;
  std::string bytes;
  uint32_t unix_mode = 0100644;
  bool deflate = false;
  int64_t declared_size = -1;
};
std::string RawZip(const std::vector<RawZipEntry>& entries);

// An 8-bit grey PNG; `rows` are the filtered rows (each a filter byte and
// `width` pixels).
std::string GreyPng(uint32_t width, uint32_t height, const std::string& rows);

// The files of a small book: chapters with headings and paragraphs, a
// style sheet, a PNG image, a footnote, and contents with nesting. Version
// 2 gives OPF 2.0 with an NCX, 3 gives OPF 3.0 with a navigation document
// (and an NCX too, which the navigation document wins over).
struct SampleEpub {
  int version = 3;
  std::string title = "The River Walk";
  std::string author = "Jane Quinn Doe";
  std::string author_file_as = "Doe, Jane Quinn";
  std::string subject = "Travel";
  std::vector<ZipEntry> Entries() const;
  // Every word of the book's text, in reading order, as the pages show
  // them (the picture by its alternative text in brackets).
  static std::vector<std::string> Words();
};

// The entries of a minimal valid EPUB 3 around `extra` entries and with
// the one chapter `chapter` (an XHTML body's content).
std::vector<ZipEntry> MinimalEpub(const std::string& chapter, std::vector<ZipEntry> extra = {});

}  // namespace vellix::fixtures
