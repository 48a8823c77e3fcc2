// Reads a device edition back from a book file. Every field is checked
// against what holds it before it is used, and every count against the
// bytes left before anything is allocated for it, so a damaged or hostile
// file costs at most its own size (or the bounded content it declares).
#include <zlib.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "edition_layout.h"
#include "ikutil/device_edition.h"
#include "vellix/formats/book_format.h"
#include "vellix/formats/codepage.h"
#include "vellix/formats/error.h"
#include "vellix/formats/file_io.h"

namespace ikutil {
namespace {

using namespace edition;

constexpr size_t kBookHeaderSize = 24;
constexpr size_t kEntrySize = 20;

// How a read fails inside this file; turned into the result at the edge.
struct Failure {
  EditionError error;
  std::string message;
};

[[noreturn]] void Fail(EditionError error, std::string message) { throw Failure{error, std::move(message)}; }
[[noreturn]] void Corrupt(std::string message) { Fail(EditionError::kCorrupt, std::move(message)); }

uint16_t U16At(std::string_view s, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(s[at]) << 8 | static_cast<unsigned char>(s[at + 1]));
}

uint32_t U32At(std::string_view s, size_t at) {
  return uint32_t{static_cast<unsigned char>(s[at])} << 24 | uint32_t{static_cast<unsigned char>(s[at + 1])} << 16 |
         uint32_t{static_cast<unsigned char>(s[at + 2])} << 8 | uint32_t{static_cast<unsigned char>(s[at + 3])};
}

// Reads fields in order from `bytes`; any read past the end fails as
// corrupt, naming `what` is being read.
class Cursor {
 public:
  Cursor(std::string_view bytes, std::string what) : bytes_(bytes), what_(std::move(what)) {}

  size_t remaining() const { return bytes_.size() - at_; }
  bool AtEnd() const { return at_ == bytes_.size(); }

  std::string_view Take(uint64_t n) {
    if (n > remaining()) Corrupt(what_ + " is cut short");
    std::string_view out = bytes_.substr(at_, static_cast<size_t>(n));
    at_ += static_cast<size_t>(n);
    return out;
  }
  uint8_t U8() { return static_cast<uint8_t>(Take(1)[0]); }
  uint16_t U16() { return U16At(Take(2), 0); }
  uint32_t U32() { return U32At(Take(4), 0); }
  int16_t I16() { return static_cast<int16_t>(U16()); }
  std::string Str16() { return std::string(Take(U16())); }
  std::string Str32() { return std::string(Take(U32())); }

  // A count of records of at least `least` bytes each; more than the bytes
  // left could hold is corrupt, so nothing is allocated for it.
  uint32_t Count(size_t least, const char* table) {
    uint32_t n = U32();
    if (uint64_t{n} * least > remaining())
      Corrupt(what_ + " counts " + std::to_string(n) + " " + table + ", more than its bytes can hold");
    return n;
  }

 private:
  std::string_view bytes_;
  std::string what_;
  size_t at_ = 0;
};

// --- the book file ---

struct BookEntry {
  std::string_view name;
  std::string_view tag;
  std::string_view data;
};

struct BookLayout {
  std::string_view carried;
  std::string_view strings;
  std::string_view folder_name;
  std::vector<BookEntry> entries;
};

BookLayout ReadLayout(std::string_view file) {
  if (file.size() < kBookHeaderSize || U16At(file, 0) != 2 || file.substr(2, 8) != "BOOKVREN" ||
      file.substr(10, 8) != std::string_view("\0\0\0\0\0\0\0\0", 8))
    Fail(EditionError::kNotABookFile, "it does not start with a book file header");
  size_t count = U16At(file, 18);
  size_t folder_length = U16At(file, 20);
  size_t information_length = U16At(file, 22);
  if (information_length < kCarriedSize || information_length > 0x7FFF)
    Corrupt("the information area's length " + std::to_string(information_length) + " is outside 24..32767");
  BookLayout layout;
  Cursor cursor(file.substr(kBookHeaderSize), "the book file");
  std::string_view information = cursor.Take(information_length);
  layout.carried = information.substr(0, kCarriedSize);
  layout.strings = information.substr(kCarriedSize);
  layout.folder_name = cursor.Take(folder_length);
  std::string_view directory = cursor.Take(uint64_t{kEntrySize} * count);
  layout.entries.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    std::string_view entry = directory.substr(i * kEntrySize, kEntrySize);
    if (std::string_view block = cursor.Take(kEntrySize); block != entry)
      Corrupt("the header of block " + std::to_string(i) + " differs from its directory entry");
    layout.entries.push_back({entry.substr(0, 4), entry.substr(12, 4), cursor.Take(U32At(entry, 8))});
  }
  if (!cursor.AtEnd()) Corrupt(std::to_string(cursor.remaining()) + " bytes follow the last block");
  return layout;
}

// --- the data fork ---

struct ForkHeader {
  uint16_t version = 0;
  uint16_t flags = 0;
  std::string_view stored;  // the content as stored
  uint32_t content_size = 0;
};

ForkHeader ReadForkHeader(std::string_view fork) {
  if (fork.size() < 4 || fork.substr(0, 4) != std::string_view(kMagic, 4))
    Fail(EditionError::kNotOurs, "its data fork holds no content of this program");
  if (fork.size() < kForkHeaderSize) Corrupt("the data fork ends inside its header");
  ForkHeader header;
  header.version = U16At(fork, 4);
  if (header.version > kVersion)
    Fail(EditionError::kNewerVersion, "it is stored in version " + std::to_string(header.version) +
                                          "; this program reads versions up to " + std::to_string(kVersion));
  if (header.version == 0) Corrupt("the data fork has version 0");
  header.flags = U16At(fork, 6);
  if (header.flags & ~kKnownFlags) Corrupt("the data fork has unknown flags");
  uint32_t stored_size = U32At(fork, 8);
  header.content_size = U32At(fork, 12);
  if (stored_size != fork.size() - kForkHeaderSize)
    Corrupt("the data fork declares " + std::to_string(stored_size) + " bytes of content but holds " +
            std::to_string(fork.size() - kForkHeaderSize));
  header.stored = fork.substr(kForkHeaderSize);
  // Both limits are checked here, before anything is allocated for the
  // content.
  if (header.content_size > kMaxContentSize)
    Fail(EditionError::kTooLarge, "its content declares " + std::to_string(header.content_size) +
                                      " bytes; a book holds at most " + std::to_string(kMaxContentSize >> 20) + " MiB");
  if (!(header.flags & kFlagCompressed) && header.content_size != stored_size)
    Corrupt("uncompressed content whose declared size differs from its stored size");
  if ((header.flags & kFlagCompressed) && uint64_t{header.content_size} > kMaxExpansion * stored_size)
    Fail(EditionError::kTooLarge,
         "its content declares a size over " + std::to_string(kMaxExpansion) + " times its compressed size");
  return header;
}

std::string Inflate(std::string_view stored, uint32_t content_size) {
  std::string content(content_size, '\0');
  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  if (inflateInit(&zs) != Z_OK) Fail(EditionError::kOutOfMemory, "the decompressor could not start");
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stored.data()));
  zs.avail_in = static_cast<uInt>(stored.size());
  zs.next_out = reinterpret_cast<Bytef*>(content.data());
  zs.avail_out = static_cast<uInt>(content.size());
  int status = inflate(&zs, Z_FINISH);
  bool whole = status == Z_STREAM_END && zs.avail_in == 0 && zs.avail_out == 0;
  bool memory = status == Z_MEM_ERROR;
  inflateEnd(&zs);
  if (memory) Fail(EditionError::kOutOfMemory, "out of memory while decompressing the content");
  if (!whole) Corrupt("the compressed content is damaged or does not match its declared size");
  return content;
}

void ReadSettings(Cursor& c, DeviceEdition& e) {
  e.settings.widow_lines = c.U8();
  e.settings.orphan_lines = c.U8();
  e.settings.zoom_states = c.U8();
  uint8_t flags = c.U8();
  if (flags & ~1u) Corrupt("the settings have unknown flags");
  e.settings.underline_links = flags & 1;
  e.language = c.Str16();
}

void ReadStyles(Cursor& c, DeviceEdition& e) {
  uint32_t n = c.Count(4, "text styles");
  e.text_styles.resize(n);
  for (TextStyle& t : e.text_styles) {
    t.family = static_cast<FontFamily>(c.U8());
    t.size_step = static_cast<int8_t>(c.U8());
    uint8_t flags = c.U8();
    if (flags & ~7u) Corrupt("a text style has unknown flags");
    t.bold = flags & 1;
    t.italic = flags & 2;
    t.underline = flags & 4;
    t.vertical = static_cast<VerticalAlign>(c.U8());
  }
  n = c.Count(14, "block styles");
  e.block_styles.resize(n);
  for (BlockStyle& b : e.block_styles) {
    b.align = static_cast<TextAlign>(c.U8());
    uint8_t flags = c.U8();
    if (flags & ~1u) Corrupt("a block style has unknown flags");
    b.keep_with_next = flags & 1;
    b.text_indent = c.I16();
    b.margin_top = c.I16();
    b.margin_bottom = c.I16();
    b.margin_left = c.I16();
    b.margin_right = c.I16();
    b.line_height = c.U16();
  }
}

void ReadBlocks(Cursor& c, DeviceEdition& e) {
  uint32_t n = c.Count(16, "blocks");
  e.blocks.resize(n);
  for (Block& b : e.blocks) {
    b.kind = static_cast<BlockKind>(c.U8());
    b.level = c.U8();
    b.style = c.U16();
    b.image = c.U32();
    b.marker = c.Str16();
    b.alt = c.Str16();
    uint32_t runs = c.Count(10, "runs");
    b.runs.resize(runs);
    for (Run& r : b.runs) {
      r.style = c.U16();
      r.link = c.U32();
      r.text = c.Str32();
    }
  }
}

FlowPosition ReadPosition(Cursor& c) {
  FlowPosition p;
  p.block = c.U32();
  p.offset = c.U32();
  return p;
}

void ReadLinksAndToc(Cursor& c, DeviceEdition& e) {
  uint32_t n = c.Count(3, "links");
  e.links.resize(n);
  for (Link& link : e.links) {
    uint8_t kind = c.U8();
    if (kind > 2) Corrupt("a link has an unknown kind");
    link.external = kind == 1;
    link.broken = kind == 2;
    if (link.external || link.broken) {
      link.uri = c.Str16();
    } else {
      link.target = ReadPosition(c);
    }
  }
  n = c.Count(11, "table of contents entries");
  e.toc.resize(n);
  for (TocEntry& t : e.toc) {
    t.level = c.U8();
    t.target = ReadPosition(c);
    t.title = c.Str16();
  }
}

// The content, its images still to come: returns their count.
uint32_t ReadContent(std::string_view content, DeviceEdition& e) {
  Cursor c(content, "the content");
  ReadSettings(c, e);
  ReadStyles(c, e);
  ReadBlocks(c, e);
  ReadLinksAndToc(c, e);
  uint32_t images = c.U32();
  if (!c.AtEnd()) Corrupt(std::to_string(c.remaining()) + " bytes follow the content");
  return images;
}

GreyImage ReadImage(const BookEntry& entry, size_t index) {
  std::string where = "image " + std::to_string(index);
  if (entry.tag != kImageTag) Corrupt(where + " is stored under another type tag");
  std::string_view data = entry.data;
  if (data.size() < kImageHeaderSize) Corrupt(where + " ends inside its header");
  if (U16At(data, 0) != kImageFormat || data.substr(2, 4) != kImageTag)
    Corrupt(where + " does not start with its format word and tag");
  GreyImage image;
  image.width = U16At(data, 6);
  image.height = U16At(data, 8);
  uint8_t encoding = static_cast<uint8_t>(data[10]);
  uint32_t length = U32At(data, 12);
  std::string_view pixels = data.substr(kImageHeaderSize);
  if (length != pixels.size())
    Corrupt(where + " declares " + std::to_string(length) + " bytes of pixels but holds " +
            std::to_string(pixels.size()));
  size_t size = size_t{image.width} * image.height;
  if (encoding == kImageRaw) {
    if (pixels.size() != size)
      Corrupt(where + " holds " + std::to_string(pixels.size()) + " pixels for " + std::to_string(image.width) + "x" +
              std::to_string(image.height));
    image.pixels.assign(pixels.begin(), pixels.end());
  } else if (encoding == kImageRunLength) {
    // Each coded byte gives at most 129 pixels / 2 bytes; refuse before allocating.
    if (size > pixels.size() * 65) Corrupt(where + " has too little run-length data for its size");
    if (!RunLengthDecode(pixels, size, image.pixels))
      Corrupt(where + ": the run-length data does not give exactly " + std::to_string(size) + " pixels");
  } else {
    Corrupt(where + " has an unknown encoding");
  }
  return image;
}

void ReadImages(const BookLayout& layout, uint32_t count, DeviceEdition& e) {
  if (count > layout.entries.size()) Corrupt("the content counts more images than the book file has entries");
  constexpr size_t kTwice = SIZE_MAX;
  std::unordered_map<std::string_view, size_t> by_name;
  for (size_t i = 0; i < layout.entries.size(); ++i) {
    auto [at, added] = by_name.emplace(layout.entries[i].name, i);
    if (!added) at->second = kTwice;
  }
  e.images.reserve(count);
  for (uint32_t k = 0; k < count; ++k) {
    std::string name = ImageResourceName(k);
    auto found = by_name.find(name);
    if (found == by_name.end()) Corrupt("image " + std::to_string(k) + " is missing");
    if (found->second == kTwice) Corrupt("more than one entry has the name " + name);
    e.images.push_back(ReadImage(layout.entries[found->second], k));
  }
}

// The string with `id` in a string resource, or nothing.
std::optional<std::string_view> ResourceString(std::string_view resource, uint16_t id) {
  if (resource.size() < 2) Corrupt("the string resource is cut short");
  if (U16At(resource, 0) != 1) return std::nullopt;
  if (resource.size() < 14) Corrupt("the string resource ends inside its header");
  uint64_t table = U32At(resource, 10);
  if (table >= resource.size()) Corrupt("the string resource's table lies outside it");
  for (uint64_t at = table; at < resource.size(); at += 12) {
    if (at + 10 > resource.size()) Corrupt("the string resource's table is cut short");
    if (U16At(resource, at) != id) continue;
    uint64_t length = U32At(resource, at + 2);
    uint64_t offset = U32At(resource, at + 6);
    if (offset > resource.size() || length > resource.size() - offset)
      Corrupt("a string runs past the end of the string resource");
    return resource.substr(offset, length);
  }
  return std::nullopt;
}

void ReadPeriodical(const BookLayout& layout, BookInformation& info) {
  for (const BookEntry& entry : layout.entries) {
    if (entry.tag != kStringResourceTag) continue;
    auto record = ResourceString(entry.data, kSourceRecordId);
    if (!record) return;
    vellix::formats::SourceRecord source;
    try {
      source = vellix::formats::ParseSourceRecord(*record);
    } catch (const vellix::formats::AutomationError& error) {
      Corrupt("the source record cannot be read: " + std::string(error.what()));
    }
    if (source.issue_number == 0 || source.issue_number == -1) return;
    if (source.content_feed_id.size() > kMaxFeedId) Corrupt("the periodical's feed id is too long");
    info.periodical = true;
    info.issue = static_cast<uint32_t>(source.issue_number);
    info.content_feed_id = vellix::formats::Cp1252ToUtf8(source.content_feed_id);
    return;
  }
}

void ReadInformation(const BookLayout& layout, BookInformation& info) {
  std::array<std::string, 7> s;
  try {
    s = vellix::formats::CutInformationStrings(layout.strings);
  } catch (const vellix::formats::AutomationError&) {
    Corrupt("the information area holds fewer than seven strings");
  }
  info.book_id = vellix::formats::Cp1252ToUtf8(s[0]);
  info.category = vellix::formats::Cp1252ToUtf8(s[1]);
  info.sub_category = vellix::formats::Cp1252ToUtf8(s[2]);
  info.title = vellix::formats::Cp1252ToUtf8(s[3]);
  info.author_last_name = vellix::formats::Cp1252ToUtf8(s[4]);
  info.author_middle_name = vellix::formats::Cp1252ToUtf8(s[5]);
  info.author_first_name = vellix::formats::Cp1252ToUtf8(s[6]);
  if (layout.folder_name.empty()) Corrupt("the book file has no folder name");
  info.folder_name = vellix::formats::Cp1252ToUtf8(layout.folder_name);
}

uint64_t TotalTextLength(const DeviceEdition& e) {
  uint64_t length = 0;
  for (const Block& b : e.blocks) length += TextLength(b);
  return length;
}

// The carried bytes repeat the fork's header and counts; they must agree.
void CheckCarried(std::string_view carried, const ForkHeader& header, const DeviceEdition& e) {
  if (carried.substr(0, 4) != std::string_view(kMagic, 4) || U16At(carried, 4) != header.version ||
      U16At(carried, 6) != header.flags)
    Corrupt("the information area's carried bytes do not match the data fork");
  if (U32At(carried, 8) != e.blocks.size() || U32At(carried, 12) != e.images.size() ||
      U32At(carried, 16) != TotalTextLength(e))
    Corrupt("the information area's counts do not match the content");
}

EditionReadResult Read(std::string_view bytes) {
  EditionReadResult result;
  BookLayout layout = ReadLayout(bytes);
  const BookEntry* fork = nullptr;
  for (const BookEntry& entry : layout.entries) {
    if (entry.name == kDataForkName && entry.tag == kDataForkName) {
      fork = &entry;
      break;
    }
  }
  if (!fork) Fail(EditionError::kNotOurs, "it has no data fork");
  ForkHeader header = ReadForkHeader(fork->data);
  std::string inflated;
  std::string_view content = header.stored;
  if (header.flags & kFlagCompressed) {
    inflated = Inflate(header.stored, header.content_size);
    content = inflated;
  }
  DeviceEdition& e = result.edition;
  uint32_t images = ReadContent(content, e);
  e.settings.preview = header.flags & kFlagPreview;
  ReadImages(layout, images, e);
  if (std::string problem = FirstProblem(e); !problem.empty()) Corrupt(problem);
  CheckCarried(layout.carried, header, e);
  ReadInformation(layout, result.info);
  ReadPeriodical(layout, result.info);
  return result;
}

EditionReadResult Failed(EditionError error, std::string message) {
  EditionReadResult result;
  result.error = error;
  result.message = std::move(message);
  return result;
}

std::string Describe(EditionError error) {
  switch (error) {
    case EditionError::kCannotOpen:
      return "cannot be opened";
    case EditionError::kNotABookFile:
      return "is not a book file";
    case EditionError::kNotOurs:
      return "is a book file this program did not make";
    case EditionError::kNewerVersion:
      return "was made by a newer version of this program";
    case EditionError::kCorrupt:
      return "is damaged";
    case EditionError::kOutOfMemory:
      return "cannot be read: out of memory";
    case EditionError::kTooLarge:
      return "is too large";
    case EditionError::kNone:
      break;
  }
  return "";
}

EditionReadResult ReadNamed(std::string_view bytes, const std::string& name) {
  try {
    return Read(bytes);
  } catch (const Failure& failure) {
    return Failed(failure.error, name + " " + Describe(failure.error) + ": " + failure.message);
  } catch (const std::bad_alloc&) {
    return Failed(EditionError::kOutOfMemory, name + " " + Describe(EditionError::kOutOfMemory));
  }
}

}  // namespace

EditionReadResult ReadDeviceEditionFromBytes(std::string_view bytes) { return ReadNamed(bytes, "The book"); }

EditionReadResult ReadDeviceEdition(const std::string& path) {
  std::string bytes;
  try {
    vellix::formats::InputFile file(path);
    std::string head = file.ReadUpTo(0, kBookHeaderSize);
    if (file.size() > kMaxBookFileSize) {
      // Only the header is looked at: a large file that is no book says so.
      EditionReadResult result = ReadNamed(head, path);
      if (result.error == EditionError::kNotABookFile) return result;
      return Failed(EditionError::kOutOfMemory, path + " is larger than the 1 GiB a book file may be");
    }
    bytes = file.ReadAt(0, static_cast<size_t>(file.size()));
  } catch (const vellix::formats::AutomationError& error) {
    return Failed(EditionError::kCannotOpen, error.what());
  } catch (const std::bad_alloc&) {
    return Failed(EditionError::kOutOfMemory, path + " " + Describe(EditionError::kOutOfMemory));
  }
  return ReadNamed(bytes, path);
}

}  // namespace ikutil
