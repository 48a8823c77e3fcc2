// Writes a device edition as a book file: the information area, the
// content in the data fork, one resource per image and, for a periodical,
// the string resource with its source record.
#include <zlib.h>

#include <map>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "edition_layout.h"
#include "ikutil/device_edition.h"
#include "vellix/formats/book_format.h"
#include "vellix/formats/codepage.h"
#include "vellix/formats/error.h"
#include "vellix/formats/transliterate.h"

namespace ikutil {
namespace {

using namespace edition;

// Collects big-endian fields; a value too wide for its field is refused
// with `path` named, before anything is written.
class Fields {
 public:
  explicit Fields(const std::string& path) : path_(path) {}

  void U8(uint8_t v) { out_.push_back(static_cast<char>(v)); }
  void U16(uint16_t v) {
    U8(static_cast<uint8_t>(v >> 8));
    U8(static_cast<uint8_t>(v));
  }
  void U32(uint32_t v) {
    U16(static_cast<uint16_t>(v >> 16));
    U16(static_cast<uint16_t>(v));
  }
  void I16(int16_t v) { U16(static_cast<uint16_t>(v)); }
  void Count(size_t n, const char* what) {
    if (n > 0xFFFFFFFFu) vellix::formats::Raise(vellix::formats::kOverflow, path_ + ": too many " + what);
    U32(static_cast<uint32_t>(n));
  }
  void Str16(const std::string& s, const char* what) {
    if (s.size() > kMaxShortString)
      vellix::formats::Raise(vellix::formats::kOverflow, path_ + ": " + what + " is longer than 65535 bytes");
    U16(static_cast<uint16_t>(s.size()));
    out_ += s;
  }
  void Str32(const std::string& s) {
    Count(s.size(), "bytes in one run");
    out_ += s;
  }
  void Bytes(std::string_view s) { out_ += s; }
  std::string& str() { return out_; }

 private:
  std::string path_;
  std::string out_;
};

void WritePosition(Fields& f, const FlowPosition& p) {
  f.U32(p.block);
  f.U32(p.offset);
}

std::string Content(const DeviceEdition& e, const std::string& path) {
  Fields f(path);
  const EditionSettings& s = e.settings;
  f.U8(s.widow_lines);
  f.U8(s.orphan_lines);
  f.U8(s.zoom_states);
  f.U8(s.underline_links ? 1 : 0);
  f.Str16(e.language, "the language");
  f.Count(e.text_styles.size(), "text styles");
  for (const TextStyle& t : e.text_styles) {
    f.U8(static_cast<uint8_t>(t.family));
    f.U8(static_cast<uint8_t>(t.size_step));
    f.U8(static_cast<uint8_t>((t.bold ? 1 : 0) | (t.italic ? 2 : 0) | (t.underline ? 4 : 0)));
    f.U8(static_cast<uint8_t>(t.vertical));
  }
  f.Count(e.block_styles.size(), "block styles");
  for (const BlockStyle& b : e.block_styles) {
    f.U8(static_cast<uint8_t>(b.align));
    f.U8(b.keep_with_next ? 1 : 0);
    f.I16(b.text_indent);
    f.I16(b.margin_top);
    f.I16(b.margin_bottom);
    f.I16(b.margin_left);
    f.I16(b.margin_right);
    f.U16(b.line_height);
  }
  f.Count(e.blocks.size(), "blocks");
  for (const Block& b : e.blocks) {
    f.U8(static_cast<uint8_t>(b.kind));
    f.U8(b.level);
    f.U16(b.style);
    f.U32(b.image);
    f.Str16(b.marker, "a list marker");
    f.Str16(b.alt, "an alternative text");
    f.Count(b.runs.size(), "runs in one block");
    for (const Run& r : b.runs) {
      f.U16(r.style);
      f.U32(r.link);
      f.Str32(r.text);
    }
  }
  // Internal links keep only their target, external and broken ones only
  // their address.
  f.Count(e.links.size(), "links");
  for (const Link& link : e.links) {
    f.U8(link.external ? 1 : link.broken ? 2 : 0);
    if (link.external || link.broken) {
      f.Str16(link.uri, "a link address");
    } else {
      WritePosition(f, link.target);
    }
  }
  f.Count(e.toc.size(), "table of contents entries");
  for (const TocEntry& t : e.toc) {
    f.U8(t.level);
    WritePosition(f, t.target);
    f.Str16(t.title, "a table of contents title");
  }
  f.Count(e.images.size(), "images");
  if (f.str().size() > kMaxContentSize)
    vellix::formats::Raise(
        vellix::formats::kOverflow,
        path + ": the content is larger than the " + std::to_string(kMaxContentSize >> 20) + " MiB a book may hold");
  return std::move(f.str());
}

// Measured on a 10 MB text: zlib's default level (6) is about three
// quarters of the CPU time of publishing it; level 4 deflates 3.5 times
// faster for a book about 7% larger, level 1 six times faster for one 24%
// larger. A reader has little room, so the middle: most of the time saved,
// little of the size given up. Reading is as fast at any level.
constexpr int kDeflateLevel = 4;

// The content deflated, or nothing when that does not pay or would expand
// beyond what a reader accepts.
std::optional<std::string> Deflate(const std::string& content) {
  uLongf size = compressBound(static_cast<uLong>(content.size()));
  std::string out(size, '\0');
  int status = compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(content.data()),
                         static_cast<uLong>(content.size()), kDeflateLevel);
  if (status == Z_MEM_ERROR) throw std::bad_alloc();
  if (status != Z_OK) vellix::formats::Raise(vellix::formats::kInvalidArgument, "the content could not be compressed");
  if (size >= content.size() || uint64_t{content.size()} > kMaxExpansion * size) return std::nullopt;
  out.resize(size);
  return out;
}

std::string DataFork(const std::string& content, uint16_t flags, bool compress) {
  std::optional<std::string> deflated;
  if (compress) deflated = Deflate(content);
  if (deflated) flags |= kFlagCompressed;
  const std::string& stored = deflated ? *deflated : content;
  Fields f("");
  f.Bytes(std::string_view(kMagic, 4));
  f.U16(kVersion);
  f.U16(flags);
  f.U32(static_cast<uint32_t>(stored.size()));
  f.U32(static_cast<uint32_t>(content.size()));
  f.Bytes(stored);
  return std::move(f.str());
}

std::string ImageResource(const GreyImage& image, int rle_trigger) {
  std::string coded = RunLengthEncode(image.pixels);
  uint64_t raw = image.pixels.size();
  bool run_length = coded.size() <= raw && (raw - coded.size()) * 100 >= raw * static_cast<uint64_t>(rle_trigger);
  Fields f("");
  f.U16(kImageFormat);
  f.Bytes(kImageTag);
  f.U16(image.width);
  f.U16(image.height);
  f.U8(run_length ? kImageRunLength : kImageRaw);
  f.U8(0);
  if (run_length) {
    f.U32(static_cast<uint32_t>(coded.size()));
    f.Bytes(coded);
  } else {
    f.U32(static_cast<uint32_t>(raw));
    f.Bytes(std::string_view(reinterpret_cast<const char*>(image.pixels.data()), image.pixels.size()));
  }
  return std::move(f.str());
}

// The 24 carried bytes: magic, version and flags as in the data fork, the
// block and image counts, the text's length in bytes, four zero bytes.
std::string Carried(const std::string& fork, const DeviceEdition& e) {
  uint64_t text = 0;
  for (const Block& b : e.blocks) text += TextLength(b);
  Fields f("");
  f.Bytes(std::string_view(fork).substr(0, 8));
  f.U32(static_cast<uint32_t>(e.blocks.size()));
  f.U32(static_cast<uint32_t>(e.images.size()));
  f.U32(static_cast<uint32_t>(text));
  f.U32(0);
  return std::move(f.str());
}

std::string DeviceText(const std::string& text, const char* what, const std::string& path) {
  if (text.find('\0') != std::string::npos)
    vellix::formats::Raise(vellix::formats::kInvalidArgument, path + ": " + what + " holds NUL");
  // A title or name in another script is written in Latin letters, not as "?".
  return vellix::formats::Utf8ToCp1252Lossy(vellix::formats::TransliteratedForCp1252(text));
}

// Seven strings of this many bytes at most fit the information area
// (32767 bytes with its 24 carried ones) together. A longer title, as a
// whole first paragraph pasted in, is cut; in the 8-bit code page every
// byte is a character, so no cut splits one.
constexpr size_t kMaxInformationString = 4096;

std::string InformationStrings(const BookInformation& info, const std::string& path) {
  std::string out;
  for (auto [text, what] : {std::pair{&info.book_id, "the book id"},
                            {&info.category, "the category"},
                            {&info.sub_category, "the sub category"},
                            {&info.title, "the title"},
                            {&info.author_last_name, "the author's last name"},
                            {&info.author_middle_name, "the author's middle name"},
                            {&info.author_first_name, "the author's first name"}}) {
    std::string device = DeviceText(*text, what, path);
    if (device.size() > kMaxInformationString) {
      device.resize(kMaxInformationString);
      while (!device.empty() && device.back() == ' ') device.pop_back();
    }
    out += device;
    out += '\0';
  }
  return out;
}

// The string resource holding the periodical's source record as string 128.
std::string PeriodicalResource(const BookInformation& info, const std::string& path) {
  if (info.issue == 0 || info.issue > 0x7FFFFFFFu)
    vellix::formats::Raise(vellix::formats::kInvalidArgument, path + ": a periodical's issue must be 1 to 2147483647");
  Fields record(path);
  record.Bytes(kPeriodicalPrefix);
  record.U32(2);  // the marker before the issue
  record.U32(info.issue);
  record.Bytes(DeviceText(info.content_feed_id, "the feed id", path));
  record.U8(0);
  const std::string& r = record.str();
  if (r.size() > kMaxSourceRecord)
    vellix::formats::Raise(vellix::formats::kOverflow, path + ": the feed id is too long");
  Fields f(path);
  f.U16(1);
  f.Bytes(kStringResourceTag);
  f.U32(0);
  f.U32(static_cast<uint32_t>(32 + r.size()));  // the table follows the string
  f.Bytes(std::string(18, '\0'));
  f.Bytes(r);
  f.U16(kSourceRecordId);
  f.U32(static_cast<uint32_t>(r.size()));
  f.U32(32);
  f.U16(0);
  return std::move(f.str());
}

// The style extras resource, or nothing when no text style needs it (books
// without such styles stay byte for byte as before).
std::optional<std::string> StyleExtras(const DeviceEdition& edition) {
  std::string extras;
  bool any = false;
  for (const TextStyle& t : edition.text_styles) {
    extras.push_back(static_cast<char>(t.line_through ? kStyleLineThrough : 0));
    any = any || t.line_through;
  }
  if (!any) return std::nullopt;
  return extras;
}

// The block languages resource, or nothing when every block is in the
// book's language (such books stay byte for byte as before): the tags, then
// each range of consecutive blocks in one of them.
std::optional<std::string> BlockLanguages(const DeviceEdition& edition, const std::string& path) {
  std::vector<std::string_view> tags;
  std::map<std::string_view, uint16_t> tag_index;
  Fields ranges(path);
  uint32_t range_count = 0;
  for (size_t first = 0; first < edition.blocks.size();) {
    const std::string& language = edition.blocks[first].language;
    size_t end = first + 1;
    while (end < edition.blocks.size() && edition.blocks[end].language == language) ++end;
    if (!language.empty()) {
      auto [tag, added] = tag_index.emplace(language, static_cast<uint16_t>(tags.size()));
      if (added) {
        if (tags.size() == 0xFFFF)
          vellix::formats::Raise(vellix::formats::kOverflow, path + ": the blocks have too many languages");
        tags.push_back(language);
      }
      ranges.U32(static_cast<uint32_t>(first));
      ranges.U32(static_cast<uint32_t>(end - first));
      ranges.U16(tag->second);
      ++range_count;
    }
    first = end;
  }
  if (tags.empty()) return std::nullopt;
  Fields f(path);
  f.U16(static_cast<uint16_t>(tags.size()));
  for (std::string_view tag : tags) {
    f.U8(static_cast<uint8_t>(tag.size()));
    f.Bytes(tag);
  }
  f.U32(range_count);
  f.Bytes(ranges.str());
  return std::move(f.str());
}

void Write(const DeviceEdition& edition, const BookInformation& info, const WriteOptions& options,
           const std::string& path) {
  if (std::string problem = FirstProblem(edition); !problem.empty())
    vellix::formats::Raise(vellix::formats::kInvalidArgument, path + ": " + problem);
  if (options.rle_trigger < 0 || options.rle_trigger > 100)
    vellix::formats::Raise(vellix::formats::kInvalidArgument,
                           path + ": the run-length trigger must be 0 to 100 percent");
  if (info.folder_name.empty())
    vellix::formats::Raise(vellix::formats::kInvalidArgument, path + ": the book has no folder name");
  std::optional<std::string> languages = BlockLanguages(edition, path);
  std::optional<std::string> extras = StyleExtras(edition);
  size_t entries = 1 + edition.images.size() + (info.periodical ? 1 : 0) + (languages ? 1 : 0) + (extras ? 1 : 0);
  if (entries > 0xFFFF) vellix::formats::Raise(vellix::formats::kOverflow, path + ": too many images");

  std::vector<vellix::formats::BookFilePart> parts;
  parts.reserve(entries);
  uint16_t flags = edition.settings.preview ? kFlagPreview : 0;
  parts.push_back({kDataForkName, kDataForkName, DataFork(Content(edition, path), flags, options.compress), "", 0});
  uint64_t total = parts.back().bytes.size();
  for (size_t i = 0; i < edition.images.size(); ++i) {
    parts.push_back({ImageResourceName(i), kImageTag, ImageResource(edition.images[i], options.rle_trigger), "", 0});
    total += parts.back().bytes.size();
  }
  if (info.periodical)
    parts.push_back({kStringResourceName, kStringResourceTag, PeriodicalResource(info, path), "", 0});
  if (languages) {
    parts.push_back({kBlockLanguagesName, kBlockLanguagesTag, std::move(*languages), "", 0});
    total += parts.back().bytes.size();
  }
  if (extras) parts.push_back({kStyleExtrasName, kStyleExtrasTag, std::move(*extras), "", 0});
  if (total > kMaxBookFileSize)
    vellix::formats::Raise(vellix::formats::kOverflow, path + ": the book is larger than 1 GiB");

  std::string information = Carried(parts.front().bytes, edition) + InformationStrings(info, path);
  vellix::formats::WriteBookFileParts(path, information, vellix::formats::Utf8ToCp1252Lossy(info.folder_name), parts);
}

}  // namespace

void WriteDeviceBook(const DeviceEdition& edition, const BookInformation& info, const WriteOptions& options,
                     const std::string& path) {
  try {
    Write(edition, info, options, path);
  } catch (const std::bad_alloc&) {
    vellix::formats::Raise(vellix::formats::kOutOfMemory, path);
  }
}

}  // namespace ikutil
