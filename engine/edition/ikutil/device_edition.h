// The device edition: the content of a built book, and how it is stored in
// a book file (docs/device-edition.md).
//
// A book is a flow of blocks (paragraphs, headings, list items,
// preformatted text, images, page breaks, rules). A block holds inline runs
// of text, each with a text style and optionally a link. Links point at
// positions in the flow; the table of contents lists the headings. Images
// are grey, at most the device's size.
//
// WriteDeviceBook stores an edition as a book file of the device format
// (format 2, "BOOKVREN"): the seven information strings that every reader
// of the bookshelf reads, the content in the data fork and the images as
// resources. ReadDeviceEdition reads it back and checks every offset,
// length, count and index; it never reads outside the file and rejects a
// book that is not ours with an error code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ikutil {

enum class FontFamily : uint8_t { kSerif = 0, kSans = 1, kMono = 2 };
enum class VerticalAlign : uint8_t { kBaseline = 0, kSuper = 1, kSub = 2 };

struct TextStyle {
  FontFamily family = FontFamily::kSerif;
  int8_t size_step = 0;  // -3 .. +3 steps from the body size
  bool bold = false;
  bool italic = false;
  bool underline = false;
  VerticalAlign vertical = VerticalAlign::kBaseline;
  // Stored apart from the other flags (docs/device-edition.md, section 5):
  // readers that predate it still open the book and draw the text plain.
  bool line_through = false;
  bool operator==(const TextStyle&) const = default;
};

enum class TextAlign : uint8_t { kJustify = 0, kLeft = 1, kCenter = 2, kRight = 3 };

// Lengths in tenths of the body text's em.
struct BlockStyle {
  TextAlign align = TextAlign::kJustify;
  int16_t text_indent = 0;
  int16_t margin_top = 0;
  int16_t margin_bottom = 0;
  int16_t margin_left = 0;
  int16_t margin_right = 0;
  uint16_t line_height = 120;   // percent of the font size
  bool keep_with_next = false;  // headings: never end a page
  bool operator==(const BlockStyle&) const = default;
};

enum class BlockKind : uint8_t {
  kParagraph = 0,     // level 0, or a table row (kTableRow ...)
  kHeading = 1,       // level 1-6
  kListItem = 2,      // level = nesting depth from 1; marker holds "1." or a bullet
  kPreformatted = 3,  // white space kept, no justification
  kImage = 4,         // image = index into images
  kPageBreak = 5,
  kRule = 6,
};

// Tables: a row of a table is a paragraph whose level says so, its cells
// parted by tabs (U+0009); the typesetter sets the rows of one table in
// columns, or each cell on lines of its own labelled with its column's
// header when the columns do not fit. A table is a row that starts one and
// the rows that continue it. Readers that know no tables show each row as
// a paragraph, its cells parted by spaces.
inline constexpr uint8_t kTableRow = 1;        // continues the table above
inline constexpr uint8_t kTableFirstRow = 2;   // starts a table without a header row
inline constexpr uint8_t kTableHeaderRow = 3;  // starts a table; its cells head the columns
inline constexpr char kCellSeparator = '\t';

inline constexpr uint32_t kNoLink = 0xFFFFFFFF;
inline constexpr uint32_t kNoImage = 0xFFFFFFFF;

struct Run {
  std::string text;         // UTF-8
  uint16_t style = 0;       // index into text_styles
  uint32_t link = kNoLink;  // index into links
  bool operator==(const Run&) const = default;
};

struct Block {
  BlockKind kind = BlockKind::kParagraph;
  uint8_t level = 0;
  uint16_t style = 0;  // index into block_styles
  std::string marker;  // list items only
  uint32_t image = kNoImage;
  std::string alt;  // images only: the alternative text
  std::vector<Run> runs;
  // The block's language tag when it is not the book's ("de" in an English
  // book), else empty; it chooses the block's hyphenation. Stored apart from
  // the blocks (docs/device-edition.md, section 5).
  std::string language{};
  bool operator==(const Block&) const = default;
};

// Whether `tag` may be a block's language: 1 to 35 ASCII letters, digits,
// '-' or '_', starting with a letter ("de", "pt-BR", "sr_Latn_RS").
inline constexpr size_t kMaxLanguageTag = 35;
bool IsLanguageTag(std::string_view tag);

inline bool IsTableRow(const Block& block) {
  return block.kind == BlockKind::kParagraph && block.level >= kTableRow && block.level <= kTableHeaderRow;
}

// A place in the flow: a block and a byte offset into the text of its runs.
struct FlowPosition {
  uint32_t block = 0;
  uint32_t offset = 0;
  bool operator==(const FlowPosition&) const = default;
};

// A link target: a place in the book, or an address outside it (kept, not
// followed by the device; a document that is not part of the book is one).
// A broken link pointed at an anchor of the book that is not there; it keeps
// the href it was written with and leads nowhere.
struct Link {
  bool external = false;
  FlowPosition target;  // internal links only
  std::string uri;      // external links: the address; broken ones: the href
  bool broken = false;  // never together with external
  bool operator==(const Link&) const = default;
};

struct TocEntry {
  uint8_t level = 1;
  std::string title;  // UTF-8
  FlowPosition target;
  bool operator==(const TocEntry&) const = default;
};

struct GreyImage {
  uint16_t width = 0;
  uint16_t height = 0;
  std::vector<uint8_t> pixels;  // width * height, 0 black .. 255 white, row by row
  bool operator==(const GreyImage&) const = default;
};

// Settings that travel with the content; the viewer honours them.
struct EditionSettings {
  uint8_t widow_lines = 1;
  uint8_t orphan_lines = 1;
  uint8_t zoom_states = 2;  // 0 normal only, 1 large only, 2 both
  bool underline_links = true;
  bool preview = false;
  bool operator==(const EditionSettings&) const = default;
};

struct DeviceEdition {
  EditionSettings settings;
  std::string language;  // dc:Language, e.g. "en-US"; may be empty
  std::vector<TextStyle> text_styles;
  std::vector<BlockStyle> block_styles;
  std::vector<Block> blocks;
  std::vector<Link> links;
  std::vector<TocEntry> toc;
  std::vector<GreyImage> images;
  bool operator==(const DeviceEdition&) const = default;
};

// What a book file says about its book: the seven information strings (in
// the code page of the device; the writer converts from UTF-8) and, for a
// periodical, its feed and issue.
struct BookInformation {
  std::string book_id;
  std::string category;
  std::string sub_category;
  std::string title;
  std::string author_last_name;
  std::string author_middle_name;
  std::string author_first_name;
  std::string folder_name;  // "<BookFileName>.RES"
  bool periodical = false;
  std::string content_feed_id;
  uint32_t issue = 0;
};

struct WriteOptions {
  bool compress = true;  // zlib over the content
  int rle_trigger = 25;  // least saving, in percent, to store an image run-length coded
};

// Writes the book file at `path` through a temporary file in the same
// folder, renamed over `path` only when complete. Throws
// vellix::formats::AutomationError when it cannot be written or a value does not fit
// the format (the file at `path` is then untouched).
void WriteDeviceBook(const DeviceEdition& edition, const BookInformation& info, const WriteOptions& options,
                     const std::string& path);

enum class EditionError : int32_t {
  kNone = 0,
  kCannotOpen = 1,    // missing or unreadable file
  kNotABookFile = 2,  // not the device's book file layout
  kNotOurs = 3,       // a book file without our content
  kNewerVersion = 4,  // our content, in a version this reader does not know
  kCorrupt = 5,       // an offset, length, count or index out of range
  kOutOfMemory = 6,
  // Content past the documented limits (docs/device-edition.md). 7 to 10
  // are the viewer's own codes (ViewerError), which follow these.
  kTooLarge = 11,
};

struct EditionReadResult {
  EditionError error = EditionError::kNone;
  std::string message;  // what was wrong, for the user
  DeviceEdition edition;
  BookInformation info;
};

// Reads the book file at `path`. Never throws.
EditionReadResult ReadDeviceEdition(const std::string& path);
// The same over a book file's bytes in memory.
EditionReadResult ReadDeviceEditionFromBytes(std::string_view bytes);

}  // namespace ikutil
