// The device edition's storage inside a book file, shared by its writer and
// its reader (docs/device-edition.md describes every byte).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ikutil/device_edition.h"

namespace ikutil::edition {

// The data fork: a fixed header, then the content (zlib-compressed when
// kFlagCompressed is set).
inline constexpr char kMagic[] = "VXED";  // four bytes, no terminator
inline constexpr uint16_t kVersion = 1;
inline constexpr size_t kForkHeaderSize = 16;
inline constexpr uint16_t kFlagCompressed = 0x0001;
inline constexpr uint16_t kFlagPreview = 0x0002;
inline constexpr uint16_t kKnownFlags = kFlagCompressed | kFlagPreview;

// The 24 carried bytes of the information area: the magic, version and
// flags again, with the block and image counts and the text length, so a
// shelf can tell our books (and previews) from the header alone.
inline constexpr size_t kCarriedSize = 24;

// Entry names and tags of the book file.
inline constexpr char kDataForkName[] = "    ";
inline constexpr char kImageTag[] = "PICT";
inline constexpr uint16_t kImageFormat = 1;
inline constexpr size_t kImageHeaderSize = 16;
inline constexpr uint8_t kImageRaw = 0;
inline constexpr uint8_t kImageRunLength = 1;
// Image k lives in the resource named by k in four upper-case hex digits.
std::string ImageResourceName(size_t index);

inline constexpr char kStringResourceTag[] = "RSRC";
inline constexpr char kStringResourceName[] = "ISRC";  // never four hex digits
inline constexpr int kSourceRecordId = 128;
inline constexpr char kPeriodicalPrefix[] = "IKL:P:";
inline constexpr size_t kMaxSourceRecord = 223;
// What our record leaves for the feed id: the prefix, marker, issue and NUL take 15 bytes.
inline constexpr size_t kMaxFeedId = kMaxSourceRecord - 15;

// Text style flags the content's style records have no room for, one byte
// per text style (bit 0 line-through). Written only when a style uses one;
// readers ignore the bits they do not know, so later flags can join them.
inline constexpr char kStyleExtrasName[] = "TXST";  // never four hex digits, sorts after ISRC
inline constexpr char kStyleExtrasTag[] = "TXST";
inline constexpr uint8_t kStyleLineThrough = 0x01;

// The languages of blocks whose language is not the book's: their tags,
// then ranges of consecutive blocks that share one (docs/device-edition.md,
// section 5). Written only when a block has a language of its own.
inline constexpr char kBlockLanguagesName[] = "LANG";  // never four hex digits, sorts between ISRC and TXST
inline constexpr char kBlockLanguagesTag[] = "LANG";
inline constexpr size_t kBlockLanguageRangeSize = 10;  // u32 first block, u32 blocks, u16 tag

// Limits that fit the device and keep a damaged or hostile file from asking
// for absurd memory: a hand-held's book is a few megabytes of text, and
// deflated text of real books comes to a third or a tenth of its size.
inline constexpr uint64_t kMaxContentSize = uint64_t{64} << 20;  // 64 MiB
inline constexpr uint64_t kMaxExpansion = 100;                   // content size per byte of compressed content
inline constexpr uint64_t kMaxBookFileSize = uint64_t{1} << 30;

// Content limits of the format (the fields' widths).
inline constexpr size_t kMaxShortString = 0xFFFF;  // u16-length strings
inline constexpr uint8_t kMaxZoomStates = 2;
inline constexpr uint8_t kMaxHeadingLevel = 6;

// The first rule `edition` breaks, or "" when the format can hold it:
// indexes within their tables, flow positions within their blocks' text
// and on character boundaries, valid UTF-8, image sizes, enumerations in
// range. The writer refuses what the reader would reject.
std::string FirstProblem(const DeviceEdition& edition);
// The same in parts, for a reader that checks blocks as it reads them: the
// settings, language and styles; block `index` against `images` images
// and `links` links (kNoLink: links not yet read, not checked); every run's
// link against the links read; the links, contents and images.
std::string HeadProblem(const DeviceEdition& edition);
std::string BlockProblem(const DeviceEdition& edition, size_t index, size_t images, size_t links);
std::string RunLinkProblem(const DeviceEdition& edition);
std::string TailProblem(const DeviceEdition& edition);

// Total bytes of the run text of `block`.
uint64_t TextLength(const Block& block);

// Run-length coding of image pixels. A control byte c < 128 is followed by
// c + 1 literal bytes; c >= 128 by one byte repeated c - 126 times (2..129).
std::string RunLengthEncode(const std::vector<uint8_t>& pixels);
// Decodes exactly `size` pixels from all of `coded`; false when the data
// ends early, runs past `size` or leaves bytes over.
bool RunLengthDecode(std::string_view coded, size_t size, std::vector<uint8_t>& pixels);

}  // namespace ikutil::edition
