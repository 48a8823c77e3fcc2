// The device book formats: the book folder, the book file, the string
// resource and the source record (see docs/book-formats.md). All text here
// is raw single-byte text; callers decode it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vellix/formats/file_io.h"

namespace vellix::formats {

// Offset of the information strings in a book file, and in RSRC.INF.
inline constexpr size_t kBookInfoStringsOffset = 48;
inline constexpr size_t kRsrcInfStringsOffset = 36;

// The first seven NUL-terminated strings of `text`; throws 5 when it holds
// fewer than seven NULs.
std::array<std::string, 7> CutInformationStrings(std::string_view text);

// The author as shown: the seventh, sixth and fifth strings joined by
// single spaces, outer spaces trimmed (inner ones kept).
std::string AuthorOf(const std::array<std::string, 7>& strings);

// The book file's information-area length L (bytes 22-23). Throws 5 for a
// file shorter than 24 bytes and 6 when byte 22 is 128 or more.
int16_t InformationLength(const InputFile& file);

// Up to L bytes from offset 48 (fewer at the end of the file).
std::string ReadInformationStrings(const InputFile& file);

// The book identifier used for lookups: the first information string with
// a "SOURCE:TYPE:" or "None:" prefix removed. Throws 5 when it has no NUL.
std::string BookIdOfFile(const std::string& path);
std::string BookIdFromInformation(std::string_view info);

// String `id` of the first resource tagged `tag` in a book file; "" when
// there is none. Throws 5 when the directory or data run past the file's
// end and 9 when a string table runs past the resource's end.
std::string ReadResourceString(const InputFile& file, std::string_view tag, int id);

struct SourceRecord {
  std::string source_id;
  std::string source_type;
  std::string content_feed_id;
  int32_t issue_number = 0;
};
// Throws 5 without two colons (or with a truncated issue number), 6 for an
// issue number that does not fit 31 bits.
SourceRecord ParseSourceRecord(std::string_view record);

struct SplitInfo {
  std::string information;    // the book file's information area
  std::string source_record;  // "" when the identifier has no source prefix
};
// `buffer` holds RSRC.INF from its offset 12.
SplitInfo SplitInformation(std::string_view buffer);

// Four random capitals that name no entry of `folder`.
std::string NewResourceName(const std::string& folder);

// Writes a string resource holding `text` as string 128. Throws 6 when the
// text is longer than 223 bytes.
void WriteStringResource(const std::string& folder, const std::string& name, std::string_view text);

// One entry of a book file and the data of its block: bytes held in
// memory, or the first `size` bytes of the file at `path`.
struct BookFilePart {
  std::string name;  // four bytes; "    " for the data fork
  std::string tag;   // four bytes; "    " for the data fork
  std::string bytes;
  std::string path;   // when not empty, the data comes from this file
  uint64_t size = 0;  // the length taken from `path`
  uint64_t DataSize() const { return path.empty() ? bytes.size() : size; }
};

// Writes a book file at `dest` from its pieces: the information area (the
// 24 carried bytes and the information strings), the folder name and the
// entries in directory order. Everything is checked before anything is
// written, and `dest` is replaced only when the new file is complete.
// Throws 5 for a name or tag that is not four bytes, an information area
// shorter than 24 bytes or a file shorter than its part says, and 6 when a
// count, length or size does not fit its field.
void WriteBookFileParts(const std::string& dest, std::string_view information, std::string_view folder_name,
                        const std::vector<BookFilePart>& parts);

// Puts the given `strings` (single-byte text) in place of those of the
// seven information strings of the book file at `path`, or of RSRC.INF
// when `path` is a book folder. Every other byte is kept: the strings not
// given, the carried bytes, what follows the
// seventh string, and a book file's folder name, directory and blocks,
// which move only by the change in length. The new file is written beside
// the old one and renamed over it when complete, so a failure leaves the
// book as it was. Throws 5 for a file that is no book file or holds fewer
// than seven strings, or a string that holds NUL; 6 when the information
// area would pass 32767 bytes.
void ReplaceInformationStrings(const std::string& path, const std::array<std::optional<std::string>, 7>& strings);

// Converts the book folder into one book file at `dest`, which is replaced
// only when the new file is complete.
void WriteBookFile(const std::string& folder, const std::string& dest);

}  // namespace vellix::formats
