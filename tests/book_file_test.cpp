// Reading book files: information strings, the string resource, the source
// record, and bad files that must fail cleanly.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "test_util.h"
#include "vellix/book.h"
#include "vellix/bookshelf.h"
#include "vellix/formats/book_format.h"

namespace vellix {
namespace {

using namespace fixtures;

// A change to good bytes, and the error number it must cause.
struct Mutation {
  const char* what;
  std::function<std::string(std::string)> mutate;
  int error;
};

std::string Fields(const Book& b) { return b.Title() + "|" + b.Author() + "|" + b.Category() + "|" + b.BookId(); }

std::string Derived(Book& b) {
  return b.SourceId() + "|" + b.SourceType() + "|" + b.ContentFeedId() + "|" + std::to_string(b.IssueNumber()) + "|" +
         (b.IsPeriodical() ? "periodical" : "book");
}

class BookFileTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(BookFileTest, LoadReadsDecodedEscapedTrimmedFields) {
  std::string path = dir_.Write(
      "Book.IMP", SimpleBookFile({"  ID7 ", "Cook & Bake", "ignored", " Salt & Pepper ", "Last", "", "First"}));
  Book b;
  b.Load(path);
  EXPECT_EQ(b.Path() + "|" + b.Extension() + "|" + b.FileName(), path + "|imp|Book.IMP");
  EXPECT_EQ(Fields(b), "Salt &amp; Pepper|First  Last|Cook &amp; Bake|ID7");  // inner blanks kept
  EXPECT_EQ(b.Size(), static_cast<int32_t>(std::filesystem::file_size(path)));
  EXPECT_TRUE(b.Pages() == 0 && !b.Encrypted());

  b.Load(dir_.Write("c.imp", SimpleBookFile({"X", "Caf\xE9", "", "\x80uro \x93q\x94", "Smith", "", ""})));
  EXPECT_EQ(Fields(b), "\u20ACuro \u201Cq\u201D|Smith|Caf\u00E9|X");

  // Loading nothing clears only the path and the extension.
  b.Load(dir_ / "missing.imp");
  EXPECT_EQ(b.Path() + "|" + b.Extension() + "|" + b.BookId(), "||X");
  b.Load(dir_.Write("notes.TXT", "hello"));
  EXPECT_EQ(b.Extension() + "|" + b.BookId(), "txt|X");
  std::filesystem::create_directory(dir_ / "books");
  b.Load(dir_ / "books");  // a folder not ending in "res"
  EXPECT_EQ(b.Path(), "");
}

TEST_F(BookFileTest, BadBookFilesFailWithoutReadingPastTheEnd) {
  const std::string good = SimpleBookFile(Info{});
  const Mutation mutations[] = {
      {"shorter than the header", [](std::string s) { return s.substr(0, 20); }, 5},
      {"strings end before the seventh NUL", [](std::string s) { return s.substr(0, 60); }, 5},
      {"length of 32768 or more", [](std::string s) { return s.replace(22, 1, "\x80"); }, 6},
      {"length past the end", [](std::string s) { return s.substr(0, 48).replace(22, 1, "\x7F") + "abc"; }, 5},
      {"empty", [](std::string) { return std::string(); }, 5},
  };
  for (const Mutation& m : mutations)
    EXPECT_EQ(ErrorNumberOf([&] { Book().Load(dir_.Write("bad.imp", m.mutate(good))); }), m.error) << m.what;
  EXPECT_EQ(Bookshelf::BookInformationLength(dir_.Write("l.imp", std::string(good).replace(22, 2, "\x01\x2C"))), 300);
  EXPECT_EQ(ErrorNumberOf([&] { Bookshelf::BookInformationLength(dir_.Write("b.imp", mutations[2].mutate(good))); }),
            6);
  EXPECT_EQ(ErrorNumberOf([&] { Bookshelf::BookInformationLength(dir_ / "none.imp"); }), 53);
  EXPECT_EQ(ErrorNumberOf([&] { Bookshelf::BookInformationLength(dir_.Write("s.imp", "short")); }), 5);
}

TEST_F(BookFileTest, IdentifierLookupDropsTheSourcePrefix) {
  const std::pair<const char*, const char*> cases[] = {{"SRC:B:1234", "1234"},   {"None:1234", "1234"},
                                                       {"Ref:1234", "Ref:1234"}, {"a:b:c:d", "c:d"},
                                                       {"1234", "1234"},         {"", ""}};
  for (auto [id, expected] : cases)
    EXPECT_EQ(formats::BookIdOfFile(dir_.Write("id.imp", SimpleBookFile({id, "", "", "", "", "", ""}))), expected)
        << id;
  EXPECT_EQ(ErrorNumberOf([] { formats::BookIdFromInformation("no terminator"); }), 5);
}

TEST_F(BookFileTest, SourceRecordFillsTheDerivedFields) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "3|B||-1|book"},
      {fixtures::SourceRecord("SRC9", "P", 7, "feed-1"), "SRC9|P|feed-1|7|periodical"},
      {fixtures::SourceRecord("S", "T", std::nullopt, "f"), "S|T|f|-1|book"},
      {std::string("None:x\0\0\0\x02\0\0\0\x05", 14), "3|B||-1|book"},
  };
  for (const auto& [record, derived] : cases) {
    Book b;
    b.SetPath(dir_.Write("p.imp", SimpleBookFile(Info{}, record)));
    EXPECT_EQ(Derived(b), derived) << record;
    EXPECT_EQ(b.Title(), "");  // a path write reads only the source record
  }
  EXPECT_EQ(ErrorNumberOf([&] { Book().SetPath(dir_ / "gone.imp"); }), 53);

  // The record on its own: what is no record, what ends too soon, what overflows.
  Book b;
  std::string id, type, feed;
  int32_t issue = 0;
  auto parse = [&](const std::string& record) {
    int error = ErrorNumberOf([&] { b.ParseRSRC(record, id, type, feed, issue); });
    return std::to_string(error) + ":" + id + "|" + type + "|" + feed + "|" + std::to_string(issue);
  };
  EXPECT_EQ(parse("None:"), "0:3|B||-1");
  EXPECT_EQ(parse("A:B:no marker"), "0:A|B||0");  // not a periodical
  EXPECT_EQ(parse(std::string("A:B:\0\0\0\x02\0\0\0\x09", 12) + "feed"), "0:A|B|feed|9");
  for (const std::string& bad :
       {std::string("no colons"), std::string("Ref:one colon"), std::string("A:B:\0\0\0\x02\0\0", 10)})
    EXPECT_EQ(parse(bad).substr(0, 2), "5:") << bad;
  EXPECT_EQ(parse(std::string("A:B:\0\0\0\x02", 8) + "\u20AC" + std::string(3, '\0')).substr(0, 2), "6:");
  EXPECT_TRUE(b.ParseRSRC("None:", id, type, feed, issue).IsEmpty());
}

TEST_F(BookFileTest, ResourceLookupStaysInsideFileAndResource) {
  auto book = [](const std::string& resource) {
    return BookFile(CarriedBytes() + Info().Strings(), "B.RES",
                    {{"    ", "    ", "fork"}, {"PIC1", "PICT", "pict"}, {"STR1", "RSRC", resource}});
  };
  const std::string good = StringResource("S:T:hello");
  auto get = [&](const std::string& bytes, int16_t id = 128) {
    Book b;
    b.SetPath(dir_.Write("r.imp", bytes));
    return b.GetResourceString("RSRC", id);
  };
  EXPECT_EQ(get(book(good)), "S:T:hello");
  EXPECT_EQ(get(book(good), 129), "");
  EXPECT_EQ(get(book(std::string(good).replace(1, 1, "\x02"))), "");  // another format
  EXPECT_EQ(get(std::string("\x00\x03 not a book", 14)), "");

  const Mutation mutations[] = {
      {"table offset at the resource's end",
       [&](std::string) { return book(std::string(good).replace(13, 1, 1, static_cast<char>(good.size()))); }, 9},
      {"entry pointing outside",
       [&](std::string) { return book(std::string(good).replace(good.size() - 3, 1, "\x7F")); }, 9},
      {"entry cut short", [&](std::string) { return book(good.substr(0, 32 + 9 + 6)); }, 9},
      {"more directory entries than the file holds", [](std::string s) { return s.replace(19, 1, "\x32"); }, 5},
      {"a size past the end", [](std::string s) { return s.substr(0, s.size() - 10); }, 5},
  };
  for (const Mutation& m : mutations)
    EXPECT_EQ(ErrorNumberOf([&] { get(m.mutate(book(StringResource("x")))); }), m.error) << m.what;
  EXPECT_EQ(ErrorNumberOf([&] { Book().GetResourceString("RSRC", 128); }), 53);
}

TEST_F(BookFileTest, ContentAndSaveOfBookFile) {
  Book b, folder;
  b.Load(dir_.Write("ten.bin", "0123456789"));
  Variant content = b.Content();
  ASSERT_EQ(content.type(), Variant::Type::kBytes);
  EXPECT_EQ(std::string(content.AsBytes().begin(), content.AsBytes().end()), "0123456789");
  std::filesystem::create_directory(dir_ / "X.RES");
  folder.Load(dir_ / "X.RES");
  EXPECT_TRUE(folder.Content().IsEmpty() && Book().Content().IsEmpty());

  b.Load(dir_.Write("keep.imp", SimpleBookFile(Info{})));
  b.Save(dir_ / "out.imp");  // book files, text and containers write nothing
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out.imp"));
}

// Editing rewrites only the three fields: the identifier, the unused
// string, the carried bytes, what follows the strings and every block stay
// byte for byte, in a book file and in a book folder alike.
TEST_F(BookFileTest, WriteInformationChangesOnlyTheThreeFields) {
  const Info before{"SRC1:B:ID7", "Old", "kept", "Old Title", "Last", "", "First"};
  const Info after{"SRC1:B:ID7", "Cook & Bake", "kept", "Caf\xE9 Tales", "Doe", "Q.", "Jane"};
  const std::vector<Entry> entries = {{"    ", "    ", std::string(3000, 'd')}, {"PIC1", "PICT", "picture"}};
  const std::string info_tail("\x01tail", 5);
  const std::string path =
      dir_.Write("b.imp", BookFile(CarriedBytes() + before.Strings() + info_tail, "B.RES", entries));
  MakeBookFolder(dir_ / "F.RES", RsrcInf(before, "trailing"), "fork");
  for (const std::string& book_path : {path, dir_ / "F.RES"}) {
    Book b;
    b.Load(book_path);
    b.WriteInformation("Caf\u00E9 Tales", "Jane  Q.  Doe", "Cook & Bake");
    EXPECT_EQ(Fields(b), "Caf\u00E9 Tales|Jane Q. Doe|Cook &amp; Bake|" + b.BookId()) << book_path;
  }
  EXPECT_EQ(ReadFile(path), BookFile(CarriedBytes() + after.Strings() + info_tail, "B.RES", entries));
  EXPECT_EQ(ReadFile(dir_ / "F.RES/RSRC.INF"), RsrcInf(after, "trailing"));

  // Refused before anything is written: the book stays as it was.
  const std::string written = ReadFile(path);
  Book b;
  b.Load(path);
  const std::pair<std::function<void()>, int> refusals[] = {
      {[&] { b.WriteInformation("", "A", "C"); }, 5},
      {[&] { b.WriteInformation("T", std::string("A\0B", 3), "C"); }, 5},
      {[&] { b.WriteInformation(std::string(40000, 't'), "A", "C"); }, 6},
      {[&] { b.WriteInformation("T\xFF", "A", "C"); }, 5},
  };
  for (const auto& [edit, error] : refusals) EXPECT_EQ(ErrorNumberOf(edit), error);
  EXPECT_EQ(ReadFile(path), written);
  Book document;
  document.Load(dir_.Write("d.txt", "words"));
  EXPECT_EQ(ErrorNumberOf([&] { document.WriteInformation("T", "A", "C"); }), 5);
  const std::string not_a_book = std::string("\0\3BOOKVREN", 10) + written.substr(10);
  b.Load(dir_.Write("x.imp", not_a_book));
  EXPECT_EQ(ErrorNumberOf([&] { b.WriteInformation("T", "A", "C"); }), 5);
  EXPECT_EQ(ReadFile(dir_ / "x.imp"), not_a_book);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 4);  // no leftovers
}

}  // namespace
}  // namespace vellix
