#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "edition_layout.h"
#include "ikutil/device_edition.h"
#include "test_util.h"
#include "vellix/book.h"
#include "vellix/bookshelf.h"
#include "vellix/formats/book_format.h"
#include "vellix/formats/file_io.h"

namespace ikutil {
namespace {

using vellix::fixtures::ErrorNumberOf;
using vellix::fixtures::ReadFile;
using vellix::fixtures::TempDir;
using vellix::fixtures::WriteFile;

GreyImage Gradient(uint16_t width, uint16_t height) {
  GreyImage image{width, height, {}};
  for (size_t i = 0; i < size_t{width} * height; ++i) image.pixels.push_back(static_cast<uint8_t>(i * 37 % 251));
  return image;
}

GreyImage Framed(uint16_t width, uint16_t height) {
  GreyImage image{width, height, std::vector<uint8_t>(size_t{width} * height, 255)};
  for (uint16_t x = 0; x < width; ++x) image.pixels[x] = 0;
  return image;
}

// Every kind of block, style field, link and both image codings.
DeviceEdition RichEdition() {
  DeviceEdition e;
  e.settings = {2, 3, 1, false, true};
  e.language = "fr-CA";
  e.text_styles = {{},
                   {FontFamily::kSans, 3, true, false, false, VerticalAlign::kBaseline},
                   {FontFamily::kMono, -2, false, true, true, VerticalAlign::kSuper},
                   {FontFamily::kSerif, -1, false, false, false, VerticalAlign::kSub}};
  e.block_styles = {{}, {TextAlign::kCenter, 0, 10, 5, 0, 0, 140, true}, {TextAlign::kLeft, -15, 0, 0, 20, 10, 100}};
  const std::vector<Run> linked = {
      {"Voilà l'été, ", 0, kNoLink}, {"", 2, kNoLink}, {"voir la note", 2, 0}, {"2", 3, 1}, {" — fin.", 0, 2}};
  e.blocks = {
      {BlockKind::kHeading, 1, 1, "", kNoImage, "", {{"Chapitre un", 1, kNoLink}}},
      {BlockKind::kParagraph, 0, 0, "", kNoImage, "", linked},
      {BlockKind::kListItem, 2, 2, "•", kNoImage, "", {{"un point", 0, kNoLink}}},
      {BlockKind::kPreformatted, 0, 2, "", kNoImage, "", {{"  int x;\n  x = 1;", 2, kNoLink}}},
      {BlockKind::kImage, 0, 1, "", 0, "un dégradé", {}},
      {BlockKind::kPageBreak, 0, 0, "", kNoImage, "", {}},
      {BlockKind::kImage, 0, 1, "", 1, "", {}},
      {BlockKind::kRule, 0, 0, "", kNoImage, "", {}},
  };
  e.links = {{false, {3, 2}, ""},
             {false, {1, 16}, ""},
             {true, {}, "http://example.com/é?a=1&b=2"},
             {false, {}, "notes.htm#gone", true}};  // broken: kept with its href, leading nowhere
  e.toc = {{1, "Chapitre un", {0, 0}}, {2, "Voilà", {1, 27}}};
  e.images = {Gradient(17, 9), Framed(64, 40)};
  return e;
}

BookInformation Information() {
  BookInformation info;
  info.book_id = "ID-77";
  info.category = "Roman";
  info.sub_category = "Été";
  info.title = "Café & Crème";
  info.author_last_name = "Dupré";
  info.author_first_name = "Zoë";
  info.folder_name = "CAFE.RES";
  return info;
}

void ExpectSameInformation(const BookInformation& a, const BookInformation& b) {
  auto fields = [](const BookInformation& i) {
    return std::tie(i.book_id, i.category, i.sub_category, i.title, i.author_last_name, i.author_middle_name,
                    i.author_first_name, i.folder_name, i.periodical, i.content_feed_id, i.issue);
  };
  EXPECT_EQ(fields(a), fields(b));
}

uint32_t U32At(const std::string& s, size_t at) {
  return uint32_t{uint8_t(s[at])} << 24 | uint32_t{uint8_t(s[at + 1])} << 16 | uint32_t{uint8_t(s[at + 2])} << 8 |
         uint8_t(s[at + 3]);
}
uint16_t U16At(const std::string& s, size_t at) { return uint16_t(uint8_t(s[at]) << 8 | uint8_t(s[at + 1])); }

// Where the data of entry `index` begins in a book file.
size_t BlockData(const std::string& book, size_t index) {
  size_t n = U16At(book, 18);
  size_t at = 24 + U16At(book, 22) + U16At(book, 20) + 20 * n;
  for (size_t i = 0; i < index; ++i) at += 20 + U32At(book, at + 8);
  return at + 20;
}

// The first entry's data: the content a reader of any age looks at.
std::string DataFork(const std::string& book) {
  return book.substr(BlockData(book, 0), U32At(book, BlockData(book, 0) + 8) + 16);
}

class EditionTest : public ::testing::Test {
 protected:
  std::string Write(const DeviceEdition& e, const WriteOptions& options = {}, const BookInformation& info = {}) {
    std::string path = dir_ / "book.imp";
    WriteDeviceBook(e, info.title.empty() ? Information() : info, options, path);
    return path;
  }
  TempDir dir_;
};

TEST_F(EditionTest, RichEditionComesBackEqualCompressedOrNot) {
  for (bool compress : {true, false}) {
    SCOPED_TRACE(compress);
    std::string path = Write(RichEdition(), {compress, 25});
    std::string book = ReadFile(path);
    uint16_t flags = U16At(book, BlockData(book, 0) + 6);
    EXPECT_EQ(flags, compress ? 3 : 2);                                 // preview, and compressed when asked
    EXPECT_EQ(book.substr(24, 8), book.substr(BlockData(book, 0), 8));  // carried bytes repeat the fork's header

    EditionReadResult read = ReadDeviceEdition(path);
    ASSERT_EQ(read.error, EditionError::kNone) << read.message;
    EXPECT_EQ(read.edition, RichEdition());
    ExpectSameInformation(read.info, Information());
  }
}

DeviceEdition WithBlockLanguages(DeviceEdition e) {
  for (auto [block, tag] : {std::pair{1, "de"}, {2, "de"}, {3, "sr-Latn"}, {7, "de"}}) e.blocks[block].language = tag;
  return e;
}

// Struck-out styles live beside the content: the data fork is what a book
// without them would hold, so readers that know no such flag still open it.
TEST_F(EditionTest, StruckStylesComeBackAndLeaveTheContentAsBefore) {
  DeviceEdition struck = RichEdition();
  struck.text_styles[2].line_through = true;
  const std::string plain_book = ReadFile(Write(RichEdition(), {false, 25}));
  const std::string path = Write(struck, {false, 25});
  const std::string book = ReadFile(path);
  EXPECT_EQ(U16At(book, 18), U16At(plain_book, 18) + 1) << "one entry more";
  EXPECT_EQ(DataFork(book), DataFork(plain_book));

  EditionReadResult read = ReadDeviceEdition(path);
  ASSERT_EQ(read.error, EditionError::kNone) << read.message;
  EXPECT_EQ(read.edition, struck);
  EditionReadResult old = ReadDeviceEdition(Write(RichEdition()));
  ASSERT_EQ(old.error, EditionError::kNone) << old.message;
  for (const TextStyle& t : old.edition.text_styles) EXPECT_FALSE(t.line_through);
}

// Blocks in a language other than the book's keep it in an entry beside the
// content; a book without such blocks is byte for byte what it always was,
// and a damaged entry is refused, never read past.
TEST_F(EditionTest, BlockLanguagesComeBackAndLeaveOtherBooksAsBefore) {
  const DeviceEdition languages = WithBlockLanguages(RichEdition());
  const std::string plain_book = ReadFile(Write(RichEdition(), {false, 25}));
  const std::string path = Write(languages, {false, 25});
  const std::string book = ReadFile(path);
  EXPECT_EQ(U16At(book, 18), U16At(plain_book, 18) + 1) << "one entry more";
  EXPECT_EQ(DataFork(book), DataFork(plain_book));
  EditionReadResult read = ReadDeviceEdition(path);
  ASSERT_EQ(read.error, EditionError::kNone) << read.message;
  EXPECT_EQ(read.edition, languages);

  // The entry: two tags, then three ranges (first block, blocks, tag) from byte 17.
  const size_t entry = BlockData(book, 3);
  ASSERT_EQ(book.size() - entry, 47u);
  const std::vector<std::pair<size_t, char>> damage = {{1, 0},        // no tags
                                                       {2, '\xC8'},   // a tag longer than the entry
                                                       {3, '1'},      // "1e" is no tag
                                                       {16, 4},       // four ranges for three
                                                       {17 + 7, 0},   // a range of no blocks
                                                       {27 + 3, 0},   // ranges out of order
                                                       {37 + 3, 8},   // past the eight blocks
                                                       {37 + 9, 2}};  // the third of two tags
  for (auto [at, byte] : damage) {
    std::string damaged = book;
    damaged[entry + at] = byte;
    WriteFile(path, damaged);
    EXPECT_EQ(ReadDeviceEdition(path).error, EditionError::kCorrupt) << at;
  }
}

TEST_F(EditionTest, ImagesAreRunLengthCodedOnlyWhenThatSavesEnough) {
  // The framed image codes to a few dozen bytes, the gradient not at all.
  std::string book = ReadFile(Write(RichEdition(), {false, 25}));
  EXPECT_EQ(book[BlockData(book, 1) + 10], edition::kImageRaw);
  EXPECT_EQ(book[BlockData(book, 2) + 10], edition::kImageRunLength);
  book = ReadFile(Write(RichEdition(), {false, 100}));
  EXPECT_EQ(book[BlockData(book, 2) + 10], edition::kImageRaw);

  std::vector<std::vector<uint8_t>> samples = {{}, {7}, {1, 1}, {1, 2}, std::vector<uint8_t>(300, 9), {}};
  for (int i = 0; i < 700; ++i) samples.back().push_back(static_cast<uint8_t>(i % 5 == 0 ? i : i / 3));
  for (const auto& pixels : samples) {
    std::vector<uint8_t> back;
    std::string coded = edition::RunLengthEncode(pixels);
    ASSERT_TRUE(edition::RunLengthDecode(coded, pixels.size(), back));
    EXPECT_EQ(back, pixels);
    if (!coded.empty()) {
      EXPECT_FALSE(edition::RunLengthDecode(coded, pixels.size() + 1, back));                      // under-run
      EXPECT_FALSE(edition::RunLengthDecode(coded + "\x81", pixels.size(), back));                 // cut repeat
      EXPECT_FALSE(edition::RunLengthDecode(coded + std::string("\0z", 2), pixels.size(), back));  // over-run
    }
  }
  std::vector<uint8_t> back;
  EXPECT_FALSE(edition::RunLengthDecode("\x05xy", 6, back));  // literal cut short
}

TEST_F(EditionTest, TheLibraryReadsTheBookAndItsPeriodicalRecord) {
  BookInformation info = Information();
  info.author_middle_name = "Ω";  // not in the code page: written in Latin letters
  info.periodical = true;
  info.issue = 42;
  info.content_feed_id = "feed-7";
  std::string path = Write(RichEdition(), {}, info);

  vellix::Book book;
  book.Load(path);
  EXPECT_EQ(book.Title(), "Café &amp; Crème");
  EXPECT_EQ(book.Author(), "Zoë O Dupré");
  EXPECT_EQ(book.Category(), "Roman");
  EXPECT_EQ(book.BookId(), "ID-77");
  book.SetPath(path);
  EXPECT_TRUE(book.IsPeriodical());
  EXPECT_EQ(book.IssueNumber(), 42);
  EXPECT_EQ(book.ContentFeedId(), "feed-7");

  vellix::Bookshelf shelf;
  shelf.SetDirectory(dir_.path());
  std::shared_ptr<vellix::Book> shelved = shelf.Book("ID-77");
  ASSERT_TRUE(shelved);
  EXPECT_EQ(shelved->Path(), path);
  EXPECT_TRUE(shelved->IsPeriodical());

  vellix::formats::SourceRecord record = vellix::formats::ParseSourceRecord(
      vellix::formats::ReadResourceString(vellix::formats::InputFile(path), "RSRC", 128));
  EXPECT_EQ(std::tie(record.source_id, record.source_type, record.issue_number, record.content_feed_id),
            std::tuple("IKL", "P", 42, "feed-7"));

  EditionReadResult read = ReadDeviceEdition(path);
  ASSERT_EQ(read.error, EditionError::kNone) << read.message;
  info.author_middle_name = "O";
  ExpectSameInformation(read.info, info);
}

// A small uncompressed book whose content lies at known offsets.
DeviceEdition SmallEdition() {
  DeviceEdition e;
  e.language = "en";
  e.text_styles = {{}};
  e.block_styles = {{}};
  e.blocks = {{BlockKind::kParagraph, 0, 0, "", kNoImage, "", {{"Hi", 0, 0}}}};
  e.links = {{false, {0, 1}, ""}};
  e.toc = {{1, "Hi", {0, 0}}};
  e.images = {{2, 2, {0, 64, 128, 255}}};
  return e;
}

TEST_F(EditionTest, DamageIsReportedNeverFollowed) {
  const std::string good = ReadFile(Write(SmallEdition(), {false, 25}));
  ASSERT_EQ(ReadDeviceEditionFromBytes(good).error, EditionError::kNone);
  const size_t content = BlockData(good, 0) + edition::kForkHeaderSize;
  const size_t image = BlockData(good, 1);

  for (size_t length = 0; length < good.size(); ++length) {
    EditionError error = ReadDeviceEditionFromBytes(good.substr(0, length)).error;
    EXPECT_EQ(error, length < 24 ? EditionError::kNotABookFile : EditionError::kCorrupt) << length;
  }
  for (size_t at = 0; at < good.size(); ++at) {
    std::string bad = good;
    bad[at] = static_cast<char>(bad[at] ^ 0xFF);
    ReadDeviceEditionFromBytes(bad);  // must not crash, whatever it finds
  }

  struct Case {
    const char* what;
    size_t at;
    std::string bytes;
    EditionError error;
  };
  std::vector<Case> cases = {
      {"header magic", 3, "X", EditionError::kNotABookFile},
      {"format", 1, "\x03", EditionError::kNotABookFile},
      {"one entry more", 19, "\x03", EditionError::kCorrupt},
      {"information length", 22, std::string("\0\x10", 2), EditionError::kCorrupt},
      {"folder name length", 20, "\x7F", EditionError::kCorrupt},
      {"data fork magic", content - 16, "X", EditionError::kNotOurs},
      {"newer version", content - 12, std::string("\0\x02", 2), EditionError::kNewerVersion},
      {"unknown flag", content - 10, std::string("\0\x80", 2), EditionError::kCorrupt},
      {"stored size", content - 8, "\x01", EditionError::kCorrupt},
      {"absurd declared size", content - 4, "\x7F", EditionError::kTooLarge},
      {"zoom states", content + 2, "\x03", EditionError::kCorrupt},
      {"text style count", content + 8, "\x7F", EditionError::kCorrupt},
      {"font family", content + 12, "\x05", EditionError::kCorrupt},
      {"block count", content + 34, "\x10", EditionError::kCorrupt},
      {"block kind", content + 38, "\x07", EditionError::kCorrupt},
      {"block style index", content + 41, "\x01", EditionError::kCorrupt},
      {"image of a paragraph", content + 45, std::string(1, '\0'), EditionError::kCorrupt},
      {"run text length", content + 63, "\x40", EditionError::kCorrupt},
      {"run style index", content + 55, "\x01", EditionError::kCorrupt},
      {"run link index", content + 59, "\x01", EditionError::kCorrupt},
      {"invalid UTF-8", content + 64, "\xC3", EditionError::kCorrupt},
      {"link kind", content + 70, "\x02", EditionError::kCorrupt},
      {"link target block", content + 74, "\x01", EditionError::kCorrupt},
      {"link target offset", content + 78, "\x03", EditionError::kCorrupt},
      {"toc level", content + 83, "\x07", EditionError::kCorrupt},
      {"image count", content + 99, "\x02", EditionError::kCorrupt},
      {"image width", image + 7, "\x03", EditionError::kCorrupt},
      {"image encoding", image + 10, "\x02", EditionError::kCorrupt},
      {"carried block count", 24 + 11, "\x02", EditionError::kCorrupt},
  };
  for (const Case& c : cases) {
    std::string bad = good;
    bad.replace(c.at, c.bytes.size(), c.bytes);
    EditionReadResult read = ReadDeviceEditionFromBytes(bad);
    EXPECT_EQ(read.error, c.error) << c.what << ": " << read.message;
    EXPECT_FALSE(read.message.empty()) << c.what;
  }

  // Compressed content that does not inflate to its declared size.
  std::string packed = ReadFile(Write(SmallEdition(), {true, 25}));
  size_t fork = BlockData(packed, 0);
  ASSERT_EQ(U16At(packed, fork + 6), edition::kFlagCompressed);
  for (auto [at, flip] : {std::pair<size_t, int>{fork + 15, 0x01}, {fork + 20, 0x55}}) {  // declared size, stream
    std::string bad = packed;
    bad[at] = static_cast<char>(bad[at] ^ flip);
    EXPECT_EQ(ReadDeviceEditionFromBytes(bad).error, EditionError::kCorrupt) << at - fork;
  }
}

// The documented limits: content up to 64 MiB, and compressed content up to
// 100 times its stored size. At a limit the book is read on (and here found
// damaged, since the stream does not inflate to the size declared); one
// byte past it, it is refused as too large before anything is allocated.
TEST_F(EditionTest, ContentLimitsHoldAtTheirEdges) {
  auto with_size = [](std::string book, size_t fork, uint64_t size) {
    for (int i = 0; i < 4; ++i) book[fork + 12 + i] = static_cast<char>(size >> (24 - 8 * i));
    return ReadDeviceEditionFromBytes(book);
  };
  std::string packed = ReadFile(Write(SmallEdition(), {true, 25}));
  size_t fork = BlockData(packed, 0);
  const uint64_t stored = U32At(packed, fork + 8);
  EditionReadResult at = with_size(packed, fork, stored * 100);
  EXPECT_EQ(at.error, EditionError::kCorrupt) << at.message;
  EditionReadResult past = with_size(packed, fork, stored * 100 + 1);
  EXPECT_EQ(past.error, EditionError::kTooLarge) << past.message;
  EXPECT_NE(past.message.find("is too large: its content declares a size over 100 times"), std::string::npos)
      << past.message;

  std::string plain = ReadFile(Write(SmallEdition(), {false, 25}));
  fork = BlockData(plain, 0);
  EXPECT_EQ(with_size(plain, fork, uint64_t{64} << 20).error, EditionError::kCorrupt);
  past = with_size(plain, fork, (uint64_t{64} << 20) + 1);
  EXPECT_EQ(past.error, EditionError::kTooLarge);
  EXPECT_NE(past.message.find("a book holds at most 64 MiB"), std::string::npos) << past.message;

  // The writer keeps to the ratio: content that deflates past it is stored
  // as it is, and reads back.
  ikutil::DeviceEdition repetitive = SmallEdition();
  repetitive.blocks[0].runs[0].text = std::string(2'000'000, 'a');
  std::string written = ReadFile(Write(repetitive, {true, 25}));
  EXPECT_EQ(U16At(written, BlockData(written, 0) + 6) & edition::kFlagCompressed, 0);
  EXPECT_EQ(ReadDeviceEditionFromBytes(written).error, EditionError::kNone);
}

TEST_F(EditionTest, OtherFilesAreNamedForWhatTheyAre) {
  using vellix::fixtures::Info;
  EXPECT_EQ(ReadDeviceEdition(dir_ / "missing.imp").error, EditionError::kCannotOpen);
  EXPECT_EQ(ReadDeviceEdition(dir_.path()).error, EditionError::kCannotOpen);
  EXPECT_EQ(ReadDeviceEditionFromBytes("<html>not a book</html>").error, EditionError::kNotABookFile);
  EditionReadResult read = ReadDeviceEditionFromBytes(vellix::fixtures::SimpleBookFile(Info{}));
  EXPECT_EQ(read.error, EditionError::kNotOurs);
  EXPECT_NE(read.message.find("did not make"), std::string::npos) << read.message;
  std::string info_area = vellix::fixtures::CarriedBytes() + Info{}.Strings();
  EXPECT_EQ(ReadDeviceEditionFromBytes(vellix::fixtures::BookFile(info_area, "X.RES", {{"PIC1", "PICT", "ab"}})).error,
            EditionError::kNotOurs);
}

TEST_F(EditionTest, RefusedBooksLeaveTheOldFile) {
  std::string path = Write(SmallEdition());
  const std::string before = ReadFile(path);

  // Each refusal changes the edition, the information or the options: 5 an invalid argument, 6 an overflow.
  using Change = std::function<void(DeviceEdition&, BookInformation&, WriteOptions&)>;
  std::vector<std::pair<Change, int>> refusals = {
      {[](auto& e, auto&, auto&) { e.blocks[0].runs[0].style = 1; }, 5},
      {[](auto& e, auto&, auto&) { e.links[0].target.offset = 3; }, 5},
      {[](auto& e, auto&, auto&) { e.toc[0].title = "\xFF"; }, 5},
      {[](auto& e, auto&, auto&) { e.images[0].pixels.pop_back(); }, 5},
      {[](auto& e, auto&, auto&) { e.blocks[0].marker.assign(70000, 'x'); }, 6},
      {[](auto&, auto& i, auto&) { i.title = std::string("a\0b", 3); }, 5},
      {[](auto&, auto& i, auto&) { i.folder_name.clear(); }, 5},
      {[](auto&, auto& i, auto&) { i.periodical = true; }, 5},  // issue 0
      {[](auto&, auto& i, auto&) { i.periodical = true, i.issue = 3, i.content_feed_id.assign(300, 'f'); }, 6},
      {[](auto&, auto&, auto& o) { o.rle_trigger = 101; }, 5},
  };
  for (size_t i = 0; i < refusals.size(); ++i) {
    DeviceEdition e = SmallEdition();
    BookInformation info = Information();
    WriteOptions options;
    refusals[i].first(e, info, options);
    EXPECT_EQ(ErrorNumberOf([&] { WriteDeviceBook(e, info, options, path); }), refusals[i].second) << i;
    EXPECT_EQ(ReadFile(path), before) << i;
    EXPECT_EQ(vellix::fixtures::Names(dir_.path()), std::vector<std::string>{"book.imp"}) << i;
  }
}

// The fuzz target's seed books: they must keep reading as the format
// evolves. VELLIX_UPDATE_GOLDEN=1 writes them afresh.
TEST_F(EditionTest, SeedBooksStillRead) {
  const std::string corpus = VELLIX_EDITION_CORPUS;
  if (const char* update = std::getenv("VELLIX_UPDATE_GOLDEN"); update && std::string(update) == "1") {
    std::filesystem::create_directories(corpus);
    DeviceEdition plain = SmallEdition();
    WriteDeviceBook(plain, Information(), {false, 25}, corpus + "/small-plain.imp");
    WriteDeviceBook(plain, Information(), {true, 25}, corpus + "/small-compressed.imp");
    DeviceEdition pictures;
    pictures.block_styles = {{}};
    pictures.blocks = {{BlockKind::kImage, 0, 0, "", 0, "a", {}}, {BlockKind::kImage, 0, 0, "", 1, "", {}}};
    pictures.images = {Framed(12, 6), Gradient(3, 2)};
    WriteDeviceBook(pictures, Information(), {false, 0}, corpus + "/images.imp");
    BookInformation periodical = Information();
    periodical.periodical = true;
    periodical.issue = 9;
    periodical.content_feed_id = "daily";
    DeviceEdition rich = RichEdition();
    rich.images = {Framed(8, 4)};
    rich.blocks[6].image = 0;
    WriteDeviceBook(rich, periodical, {false, 25}, corpus + "/periodical.imp");
    WriteDeviceBook(WithBlockLanguages(RichEdition()), Information(), {true, 25}, corpus + "/languages.imp");
  }
  // What the format has not changed for is written byte for byte as before.
  EXPECT_EQ(ReadFile(Write(SmallEdition(), {false, 25})), ReadFile(corpus + "/small-plain.imp"));
  size_t seeds = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    EditionReadResult read = ReadDeviceEdition(entry.path().string());
    EXPECT_EQ(read.error, EditionError::kNone) << entry.path() << ": " << read.message;
    ++seeds;
  }
  EXPECT_GE(seeds, 3u);
}

}  // namespace
}  // namespace ikutil
