// Reads a device edition back from a book file, as far as it is asked for
// (EditionSource) or whole (ReadDeviceEdition, which reads a source to its
// end). Every field is checked against what holds it before it is used, and
// every count against the bytes left before anything is allocated for it,
// so a damaged or hostile file costs at most its own size (or the bounded
// content it declares). The content is inflated in pieces as it is parsed.
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "edition_layout.h"
#include "edition_source.h"
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

// --- the bytes of a book file ---

// A book file's bytes, in memory or read from the file as they are needed.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t size() const = 0;
  // `length` bytes at `offset` (within size()), held in `scratch` when
  // they must be copied.
  virtual std::string_view Read(uint64_t offset, size_t length, std::string& scratch) = 0;
};

class MemoryBytes final : public ByteSource {
 public:
  explicit MemoryBytes(std::string_view bytes) : bytes_(bytes) {}
  uint64_t size() const override { return bytes_.size(); }
  std::string_view Read(uint64_t offset, size_t length, std::string& /*scratch*/) override {
    return bytes_.substr(static_cast<size_t>(offset), length);
  }

 private:
  std::string_view bytes_;
};

class FileBytes final : public ByteSource {
 public:
  explicit FileBytes(std::unique_ptr<vellix::formats::InputFile> file) : file_(std::move(file)) {}
  uint64_t size() const override { return file_->size(); }
  std::string_view Read(uint64_t offset, size_t length, std::string& scratch) override {
    try {
      scratch = file_->ReadAt(offset, length);
    } catch (const vellix::formats::AutomationError& error) {
      Fail(EditionError::kCannotOpen, error.what());
    }
    return scratch;
  }

 private:
  std::unique_ptr<vellix::formats::InputFile> file_;
};

// --- the content, inflated as it is read ---

// The content's bytes in order, inflated (or copied) from the data fork in
// pieces as the fields are read; every read past the declared content
// fails as corrupt.
class ContentStream {
 public:
  ContentStream(ByteSource& bytes, uint64_t stored_at, uint32_t stored_size, uint32_t content_size, bool compressed)
      : bytes_(bytes),
        stored_at_(stored_at),
        stored_size_(stored_size),
        content_size_(content_size),
        compressed_(compressed) {
    if (compressed_) {
      if (inflateInit(&zs_) != Z_OK) Fail(EditionError::kOutOfMemory, "the decompressor could not start");
      started_ = true;
    }
  }
  ~ContentStream() {
    if (started_) inflateEnd(&zs_);
  }
  ContentStream(const ContentStream&) = delete;
  ContentStream& operator=(const ContentStream&) = delete;

  // Bytes of the declared content not read yet.
  uint64_t remaining() const { return content_size_ - consumed_; }

  // The next `n` bytes; the view lasts until the next read.
  std::string_view Take(uint64_t n) {
    if (n > remaining()) Corrupt("the content is cut short");
    const auto wanted = static_cast<size_t>(n);
    if (buffer_.size() - at_ < wanted) Fill(wanted);
    std::string_view out(buffer_.data() + at_, wanted);
    at_ += wanted;
    consumed_ += n;
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
      Corrupt("the content counts " + std::to_string(n) + " " + table + ", more than its bytes can hold");
    return n;
  }

  // Checks that the content ends here and that the stored bytes are exactly
  // its compressed form.
  void Finish() {
    if (remaining() != 0) Corrupt(std::to_string(remaining()) + " bytes follow the content");
    if (!compressed_) return;
    // The stream must end now, with every stored byte used.
    while (!ended_) {
      char extra = 0;
      zs_.next_out = reinterpret_cast<Bytef*>(&extra);
      zs_.avail_out = 1;
      Inflate();
      if (zs_.avail_out == 0) Damaged();
    }
    if (zs_.avail_in != 0 || input_read_ != stored_size_) Damaged();
  }

 private:
  static constexpr size_t kPiece = 64 << 10;

  [[noreturn]] static void Damaged() {
    Corrupt("the compressed content is damaged or does not match its declared size");
  }

  // Makes `wanted` bytes available from at_, keeping the buffer small.
  void Fill(size_t wanted) {
    buffer_.erase(0, at_);
    at_ = 0;
    const uint64_t produced = consumed_ + buffer_.size();
    const size_t more =
        static_cast<size_t>(std::min<uint64_t>(std::max(wanted - buffer_.size(), kPiece), content_size_ - produced));
    const size_t old_size = buffer_.size();
    buffer_.resize(old_size + more);
    if (!compressed_) {
      std::string_view piece = bytes_.Read(stored_at_ + produced, more, scratch_);
      std::memcpy(buffer_.data() + old_size, piece.data(), more);
      return;
    }
    zs_.next_out = reinterpret_cast<Bytef*>(buffer_.data() + old_size);
    zs_.avail_out = static_cast<uInt>(more);
    while (zs_.avail_out > 0) {
      if (ended_) Damaged();  // the stream ended before its declared size
      Inflate();
    }
  }

  // One step of inflation into zs_'s output, reading stored bytes as needed.
  void Inflate() {
    if (zs_.avail_in == 0 && input_read_ < stored_size_) {
      const auto n = static_cast<size_t>(std::min<uint64_t>(kPiece, stored_size_ - input_read_));
      input_ = bytes_.Read(stored_at_ + input_read_, n, scratch_);
      input_read_ += n;
      zs_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input_.data()));
      zs_.avail_in = static_cast<uInt>(n);
    }
    const int status = inflate(&zs_, Z_NO_FLUSH);
    if (status == Z_STREAM_END) {
      ended_ = true;
    } else if (status == Z_MEM_ERROR) {
      Fail(EditionError::kOutOfMemory, "out of memory while decompressing the content");
    } else if (status != Z_OK) {
      Damaged();  // damaged data, or no progress: the stored bytes ended early
    }
  }

  ByteSource& bytes_;
  uint64_t stored_at_;
  uint32_t stored_size_;
  uint32_t content_size_;
  bool compressed_;
  z_stream zs_{};
  bool started_ = false;
  bool ended_ = false;
  uint64_t input_read_ = 0;  // stored bytes handed to the decompressor
  std::string_view input_;
  std::string scratch_;  // holds input_ when read from a file
  std::string buffer_;   // inflated, not yet read from at_
  size_t at_ = 0;
  uint64_t consumed_ = 0;  // content bytes read
};

// --- the book file ---

struct BookEntry {
  std::string_view name;
  std::string_view tag;
  uint64_t at = 0;  // where its data starts in the file
  uint32_t size = 0;
};

struct BookLayout {
  std::string head;  // header, information area, folder name and directory
  std::string_view carried;
  std::string_view strings;
  std::string_view folder_name;
  std::vector<BookEntry> entries;
};

// Fills `layout` in place: its entries point into its own `head`.
void ReadLayout(ByteSource& file, BookLayout& layout) {
  std::string scratch;
  if (file.size() < kBookHeaderSize) Fail(EditionError::kNotABookFile, "it does not start with a book file header");
  std::string_view header = file.Read(0, kBookHeaderSize, scratch);
  if (U16At(header, 0) != 2 || header.substr(2, 8) != "BOOKVREN" ||
      header.substr(10, 8) != std::string_view("\0\0\0\0\0\0\0\0", 8))
    Fail(EditionError::kNotABookFile, "it does not start with a book file header");
  const size_t count = U16At(header, 18);
  const size_t folder_length = U16At(header, 20);
  const size_t information_length = U16At(header, 22);
  if (information_length < kCarriedSize || information_length > 0x7FFF)
    Corrupt("the information area's length " + std::to_string(information_length) + " is outside 24..32767");
  const uint64_t head_size = kBookHeaderSize + information_length + folder_length + uint64_t{kEntrySize} * count;
  if (head_size > file.size()) Corrupt("the book file is cut short");
  layout.head = std::string(file.Read(0, static_cast<size_t>(head_size), scratch));
  std::string_view head = layout.head;
  std::string_view information = head.substr(kBookHeaderSize, information_length);
  layout.carried = information.substr(0, kCarriedSize);
  layout.strings = information.substr(kCarriedSize);
  layout.folder_name = head.substr(kBookHeaderSize + information_length, folder_length);
  std::string_view directory = head.substr(kBookHeaderSize + information_length + folder_length);
  layout.entries.reserve(count);
  uint64_t at = head_size;
  for (size_t i = 0; i < count; ++i) {
    std::string_view entry = directory.substr(i * kEntrySize, kEntrySize);
    if (file.size() - at < kEntrySize) Corrupt("the book file is cut short");
    if (file.Read(at, kEntrySize, scratch) != entry)
      Corrupt("the header of block " + std::to_string(i) + " differs from its directory entry");
    at += kEntrySize;
    const uint32_t size = U32At(entry, 8);
    if (file.size() - at < size) Corrupt("the book file is cut short");
    layout.entries.push_back({entry.substr(0, 4), entry.substr(12, 4), at, size});
    at += size;
  }
  if (at != file.size()) Corrupt(std::to_string(file.size() - at) + " bytes follow the last block");
}

// --- the data fork ---

struct ForkHeader {
  uint16_t version = 0;
  uint16_t flags = 0;
  uint64_t stored_at = 0;  // where the content as stored starts in the file
  uint32_t stored_size = 0;
  uint32_t content_size = 0;
};

ForkHeader ReadForkHeader(ByteSource& file, const BookEntry& entry) {
  std::string scratch;
  std::string_view fork = file.Read(entry.at, std::min<size_t>(entry.size, kForkHeaderSize), scratch);
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
  if (stored_size != entry.size - kForkHeaderSize)
    Corrupt("the data fork declares " + std::to_string(stored_size) + " bytes of content but holds " +
            std::to_string(entry.size - kForkHeaderSize));
  header.stored_at = entry.at + kForkHeaderSize;
  header.stored_size = stored_size;
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

void ReadSettings(ContentStream& c, DeviceEdition& e) {
  e.settings.widow_lines = c.U8();
  e.settings.orphan_lines = c.U8();
  e.settings.zoom_states = c.U8();
  uint8_t flags = c.U8();
  if (flags & ~1u) Corrupt("the settings have unknown flags");
  e.settings.underline_links = flags & 1;
  e.language = c.Str16();
}

void ReadStyles(ContentStream& c, DeviceEdition& e) {
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

void ReadBlock(ContentStream& c, Block& b) {
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

FlowPosition ReadPosition(ContentStream& c) {
  FlowPosition p;
  p.block = c.U32();
  p.offset = c.U32();
  return p;
}

void ReadLinksAndToc(ContentStream& c, DeviceEdition& e) {
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

GreyImage ReadImage(std::string_view tag, std::string_view data, size_t index) {
  std::string where = "image " + std::to_string(index);
  if (tag != kImageTag) Corrupt(where + " is stored under another type tag");
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

void ReadPeriodical(ByteSource& file, const BookLayout& layout, BookInformation& info) {
  for (const BookEntry& entry : layout.entries) {
    if (entry.tag != kStringResourceTag) continue;
    std::string scratch;
    auto record = ResourceString(file.Read(entry.at, entry.size, scratch), kSourceRecordId);
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

// The text style flags kept beside the content, when the book has them.
void ReadStyleExtras(ByteSource& file, const BookLayout& layout, DeviceEdition& e) {
  for (const BookEntry& entry : layout.entries) {
    if (entry.name != kStyleExtrasName || entry.tag != kStyleExtrasTag) continue;
    if (entry.size != e.text_styles.size()) Corrupt("the text style extras do not match the text styles");
    std::string scratch;
    std::string_view extras = file.Read(entry.at, entry.size, scratch);
    for (size_t i = 0; i < e.text_styles.size(); ++i)
      e.text_styles[i].line_through = static_cast<uint8_t>(extras[i]) & kStyleLineThrough;
    return;
  }
}

// Blocks [first, end) in language `tag` (an index into the tags).
struct LanguageRange {
  uint32_t first = 0, end = 0;
  uint16_t tag = 0;
};

struct BlockLanguages {
  std::vector<std::string> tags;
  std::vector<LanguageRange> ranges;  // ascending, never overlapping
};

// The languages of the blocks not in the book's, when the book has them;
// every range lies within the `blocks` blocks.
BlockLanguages ReadBlockLanguages(ByteSource& file, const BookLayout& layout, uint32_t blocks) {
  BlockLanguages out;
  for (const BookEntry& entry : layout.entries) {
    if (entry.name != kBlockLanguagesName || entry.tag != kBlockLanguagesTag) continue;
    std::string scratch;
    const std::string_view d = file.Read(entry.at, entry.size, scratch);
    size_t at = 0;
    const auto need = [&](size_t n) {
      if (d.size() - at < n) Corrupt("the block languages are cut short");
    };
    need(2);
    const uint16_t tags = U16At(d, at);
    at += 2;
    if (tags == 0) Corrupt("the block languages name no language");
    out.tags.reserve(tags);
    for (uint16_t k = 0; k < tags; ++k) {
      need(1);
      const auto length = static_cast<uint8_t>(d[at++]);
      need(length);
      const std::string_view tag = d.substr(at, length);
      if (!IsLanguageTag(tag)) Corrupt("a block language is no language tag");
      out.tags.emplace_back(tag);
      at += length;
    }
    need(4);
    const uint32_t ranges = U32At(d, at);
    at += 4;
    if (ranges == 0 || (d.size() - at) / kBlockLanguageRangeSize != ranges ||
        (d.size() - at) % kBlockLanguageRangeSize != 0)
      Corrupt("the block languages' ranges do not fill their entry");
    out.ranges.reserve(ranges);
    uint64_t after = 0;
    for (uint32_t r = 0; r < ranges; ++r, at += kBlockLanguageRangeSize) {
      const uint32_t first = U32At(d, at), count = U32At(d, at + 4);
      const uint16_t tag = U16At(d, at + 8);
      if (count == 0 || first < after || uint64_t{first} + count > blocks || tag >= out.tags.size())
        Corrupt("a block language range is empty, out of order or outside the blocks");
      out.ranges.push_back({first, first + count, tag});
      after = uint64_t{first} + count;
    }
    return out;
  }
  return out;
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

}  // namespace

// The reading state of a book not yet read to its end.
struct EditionSource::Lazy {
  std::string name;  // for messages: the path, or "The book"
  std::unique_ptr<ByteSource> file;
  BookLayout layout;
  ForkHeader header;
  std::unique_ptr<ContentStream> content;
  uint32_t block_count = 0;
  std::vector<const BookEntry*> image_entries;  // by image index
  std::vector<bool> image_read;
  BlockLanguages languages;
  size_t next_language = 0;  // the first range not wholly behind the blocks read
  uint64_t text_length = 0;  // of the blocks read
  bool complete = false;
  std::optional<EditionReadError> failure;  // thrown again by every later read

  // Runs `step`, turning a failure into EditionReadError, kept.
  template <typename Step>
  void Guard(Step step) {
    if (failure) throw *failure;
    try {
      step();
      return;
    } catch (const Failure& f) {
      failure.emplace(f.error, name + " " + Describe(f.error) + ": " + f.message);
    } catch (const std::bad_alloc&) {
      failure.emplace(EditionError::kOutOfMemory, name + " " + Describe(EditionError::kOutOfMemory));
    }
    throw *failure;
  }
};

EditionSource::EditionSource() = default;
EditionSource::EditionSource(const DeviceEdition& edition) : edition_(&edition) {}
EditionSource::~EditionSource() = default;

namespace {

// Opens `file`: the directory, the information and the content up to its
// blocks; `own` gets the settings, language and styles.
void OpenContent(EditionSource::Lazy& lazy, DeviceEdition& own, BookInformation& info) {
  BookLayout& layout = lazy.layout;
  ReadLayout(*lazy.file, layout);
  const BookEntry* fork = nullptr;
  for (const BookEntry& entry : layout.entries) {
    if (entry.name == kDataForkName && entry.tag == kDataForkName) {
      fork = &entry;
      break;
    }
  }
  if (!fork) Fail(EditionError::kNotOurs, "it has no data fork");
  lazy.header = ReadForkHeader(*lazy.file, *fork);
  const ForkHeader& header = lazy.header;
  // The carried bytes repeat the fork's header and counts; they must agree.
  std::string_view carried = layout.carried;
  if (carried.substr(0, 4) != std::string_view(kMagic, 4) || U16At(carried, 4) != header.version ||
      U16At(carried, 6) != header.flags)
    Corrupt("the information area's carried bytes do not match the data fork");
  ReadInformation(layout, info);
  ReadPeriodical(*lazy.file, layout, info);

  // Each image's entry, found by name; checked when the image is read.
  const uint32_t images = U32At(carried, 12);
  if (images > layout.entries.size()) Corrupt("the information area counts more images than the book file has entries");
  constexpr size_t kTwice = SIZE_MAX;
  std::unordered_map<std::string_view, size_t> by_name;
  for (size_t i = 0; i < layout.entries.size(); ++i) {
    auto [at, added] = by_name.emplace(layout.entries[i].name, i);
    if (!added) at->second = kTwice;
  }
  lazy.image_entries.reserve(images);
  for (uint32_t k = 0; k < images; ++k) {
    std::string name = ImageResourceName(k);
    auto found = by_name.find(name);
    if (found == by_name.end()) Corrupt("image " + std::to_string(k) + " is missing");
    if (found->second == kTwice) Corrupt("more than one entry has the name " + name);
    lazy.image_entries.push_back(&layout.entries[found->second]);
  }
  own.images.resize(images);
  lazy.image_read.assign(images, false);

  lazy.content = std::make_unique<ContentStream>(*lazy.file, header.stored_at, header.stored_size, header.content_size,
                                                 (header.flags & kFlagCompressed) != 0);
  ContentStream& c = *lazy.content;
  ReadSettings(c, own);
  own.settings.preview = header.flags & kFlagPreview;
  ReadStyles(c, own);
  ReadStyleExtras(*lazy.file, layout, own);
  if (std::string problem = HeadProblem(own); !problem.empty()) Corrupt(problem);
  lazy.block_count = c.Count(16, "blocks");
  if (U32At(carried, 8) != lazy.block_count) Corrupt("the information area's counts do not match the content");
  lazy.languages = ReadBlockLanguages(*lazy.file, layout, lazy.block_count);
  // Blocks never move once read: the viewer keeps references to them.
  own.blocks.reserve(lazy.block_count);
}

// Reads blocks up to `index`; after the last block, the rest of the
// content, with every check of the whole edition.
void ReadOn(EditionSource::Lazy& lazy, DeviceEdition& own, size_t index) {
  ContentStream& c = *lazy.content;
  while (own.blocks.size() <= index && own.blocks.size() < lazy.block_count) {
    ReadBlock(c, own.blocks.emplace_back());
    const size_t read = own.blocks.size() - 1;
    const std::vector<LanguageRange>& ranges = lazy.languages.ranges;
    while (lazy.next_language < ranges.size() && ranges[lazy.next_language].end <= read) ++lazy.next_language;
    if (lazy.next_language < ranges.size() && ranges[lazy.next_language].first <= read)
      own.blocks.back().language = lazy.languages.tags[ranges[lazy.next_language].tag];
    if (std::string problem = BlockProblem(own, read, own.images.size(), kNoLink); !problem.empty()) Corrupt(problem);
    lazy.text_length += TextLength(own.blocks.back());
  }
  if (own.blocks.size() < lazy.block_count || lazy.complete) return;
  ReadLinksAndToc(c, own);
  const uint32_t images = c.U32();
  c.Finish();
  lazy.content.reset();
  if (images != own.images.size() || lazy.text_length != U32At(lazy.layout.carried, 16))
    Corrupt("the information area's counts do not match the content");
  for (uint32_t k = 0; k < images; ++k) {
    if (lazy.image_read[k]) continue;
    std::string scratch;
    const BookEntry& entry = *lazy.image_entries[k];
    own.images[k] = ReadImage(entry.tag, lazy.file->Read(entry.at, entry.size, scratch), k);
    lazy.image_read[k] = true;
  }
  if (std::string problem = RunLinkProblem(own); !problem.empty()) Corrupt(problem);
  if (std::string problem = TailProblem(own); !problem.empty()) Corrupt(problem);
  lazy.complete = true;
  lazy.file.reset();
}

}  // namespace

uint32_t EditionSource::BlockCount() const {
  return lazy_ ? lazy_->block_count : static_cast<uint32_t>(edition_->blocks.size());
}

const Block& EditionSource::BlockAt(uint32_t index) {
  if (lazy_ && index >= own_.blocks.size()) lazy_->Guard([&] { ReadOn(*lazy_, own_, index); });
  return edition_->blocks.at(index);
}

uint32_t EditionSource::ImageCount() const { return static_cast<uint32_t>(edition_->images.size()); }

const GreyImage& EditionSource::ImageAt(uint32_t index) {
  if (lazy_ && index < lazy_->image_read.size() && !lazy_->image_read[index]) {
    lazy_->Guard([&] {
      std::string scratch;
      const BookEntry& entry = *lazy_->image_entries[index];
      own_.images[index] = ReadImage(entry.tag, lazy_->file->Read(entry.at, entry.size, scratch), index);
      lazy_->image_read[index] = true;
    });
  }
  return edition_->images.at(index);
}

void EditionSource::ReadAll() {
  if (lazy_ && !lazy_->complete) lazy_->Guard([&] { ReadOn(*lazy_, own_, lazy_->block_count); });
}

bool EditionSource::complete() const { return !lazy_ || lazy_->complete; }

DeviceEdition EditionSource::TakeEdition() {
  ReadAll();
  if (edition_ != &own_) return *edition_;
  return std::move(own_);
}

namespace {

EditionReadResult Failed(EditionError error, std::string message) {
  EditionReadResult result;
  result.error = error;
  result.message = std::move(message);
  return result;
}

EditionReadResult ReadWhole(EditionSource& source) {
  EditionReadResult result;
  result.edition = source.TakeEdition();
  result.info = source.info();
  return result;
}

}  // namespace

std::unique_ptr<EditionSource> EditionSource::Start(std::unique_ptr<Lazy> lazy) {
  std::unique_ptr<EditionSource> source(new EditionSource());
  source->lazy_ = std::move(lazy);
  EditionSource& s = *source;
  s.lazy_->Guard([&] { OpenContent(*s.lazy_, s.own_, s.info_); });
  return source;
}

std::unique_ptr<EditionSource> EditionSource::OverBytes(std::string_view bytes, std::string name) {
  auto lazy = std::make_unique<Lazy>();
  lazy->name = std::move(name);
  lazy->file = std::make_unique<MemoryBytes>(bytes);
  return Start(std::move(lazy));
}

std::unique_ptr<EditionSource> EditionSource::Open(const std::string& path) {
  auto lazy = std::make_unique<Lazy>();
  lazy->name = path;
  try {
    auto file = std::make_unique<vellix::formats::InputFile>(path);
    if (file->size() > kMaxBookFileSize) {
      // Only the header is looked at: a large file that is no book says so.
      const std::string head = file->ReadUpTo(0, kBookHeaderSize);
      MemoryBytes bytes(head);
      try {
        BookLayout layout;
        ReadLayout(bytes, layout);
      } catch (const Failure& failure) {
        if (failure.error == EditionError::kNotABookFile)
          throw EditionReadError(failure.error, path + " " + Describe(failure.error) + ": " + failure.message);
      }
      throw EditionReadError(EditionError::kOutOfMemory, path + " is larger than the 1 GiB a book file may be");
    }
    lazy->file = std::make_unique<FileBytes>(std::move(file));
  } catch (const vellix::formats::AutomationError& error) {
    throw EditionReadError(EditionError::kCannotOpen, error.what());
  } catch (const std::bad_alloc&) {
    throw EditionReadError(EditionError::kOutOfMemory, path + " " + Describe(EditionError::kOutOfMemory));
  }
  return Start(std::move(lazy));
}

EditionReadResult ReadDeviceEditionFromBytes(std::string_view bytes) {
  try {
    return ReadWhole(*EditionSource::OverBytes(bytes, "The book"));
  } catch (const EditionReadError& error) {
    return Failed(error.error(), error.what());
  } catch (const std::bad_alloc&) {
    return Failed(EditionError::kOutOfMemory, "The book " + Describe(EditionError::kOutOfMemory));
  }
}

EditionReadResult ReadDeviceEdition(const std::string& path) {
  try {
    return ReadWhole(*EditionSource::Open(path));
  } catch (const EditionReadError& error) {
    return Failed(error.error(), error.what());
  } catch (const std::bad_alloc&) {
    return Failed(EditionError::kOutOfMemory, path + " " + Describe(EditionError::kOutOfMemory));
  }
}

}  // namespace ikutil
