// Reading book files: information strings, the string resource, the source
// record, and bad files that must fail cleanly.
#include <gtest/gtest.h>

#include <filesystem>

#include "vellix/formats/book_format.h"
#include "book_maker.h"
#include "test_util.h"
#include "vellix/book.h"
#include "vellix/bookshelf.h"
#include "vellix/error.h"

namespace vellix {
namespace {

using namespace fixtures;

class BookFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    WriteFile(dir_ / name, bytes);
    return dir_ / name;
  }
  TempDir dir_;
};

TEST_F(BookFileTest, LoadReadsEscapedTrimmedFields) {
  Info info{"  ID7 ", "Cook & Bake", "ignored", " Salt & Pepper ", "Last", "", "First"};
  std::string path = Write("Book.IMP", SimpleBookFile(info));
  Book b;
  b.Load(path);
  EXPECT_EQ(b.Path(), path);
  EXPECT_EQ(b.Extension(), "imp");
  EXPECT_EQ(b.FileName(), "Book.IMP");
  EXPECT_EQ(b.Title(), "Salt &amp; Pepper");
  EXPECT_EQ(b.Category(), "Cook &amp; Bake");
  EXPECT_EQ(b.Author(), "First  Last");  // inner blanks are kept
  EXPECT_EQ(b.BookId(), "ID7");
  EXPECT_EQ(b.Size(), static_cast<int32_t>(std::filesystem::file_size(path)));
  EXPECT_EQ(b.Pages(), 0);
  EXPECT_FALSE(b.Encrypted());

  Info only_last{"X", "C", "", "T", "Smith", "", ""};
  b.Load(Write("b.imp", SimpleBookFile(only_last)));
  EXPECT_EQ(b.Author(), "Smith");
}

TEST_F(BookFileTest, LoadDecodesTheCodePage) {
  Info info{"ID", "Caf\xE9", "", "\x80uro \x93quoted\x94", "L", "", "F"};
  Book b;
  b.Load(Write("c.imp", SimpleBookFile(info)));
  EXPECT_EQ(b.Category(), "Caf\u00E9");
  EXPECT_EQ(b.Title(), "\u20ACuro \u201Cquoted\u201D");
}

TEST_F(BookFileTest, LoadOfNothingClearsOnlyPathAndExtension) {
  Book b;
  b.Load(Write("a.imp", SimpleBookFile(Info{})));
  b.Load(dir_ / "missing.imp");
  EXPECT_EQ(b.Path(), "");
  EXPECT_EQ(b.Extension(), "");
  EXPECT_EQ(b.Title(), "A Title");
  b.Load(Write("notes.TXT", "hello"));
  EXPECT_EQ(b.Extension(), "txt");
  EXPECT_EQ(b.Title(), "A Title");
  std::filesystem::create_directory(dir_ / "books");
  b.Load(dir_ / "books");  // a folder not ending in "res"
  EXPECT_EQ(b.Path(), "");
}

TEST_F(BookFileTest, BadBookFilesFailWithoutReadingPastTheEnd) {
  std::string good = SimpleBookFile(Info{});
  Book b;
  // Shorter than the header.
  EXPECT_EQ(ErrorNumberOf([&] { b.Load(Write("t1.imp", good.substr(0, 20))); }), 5);
  // The information strings end before the seventh NUL.
  EXPECT_EQ(ErrorNumberOf([&] { b.Load(Write("t2.imp", good.substr(0, 60))); }), 5);
  // A length of 32768 or more.
  std::string big = good;
  big[22] = '\x80';
  EXPECT_EQ(ErrorNumberOf([&] { b.Load(Write("t3.imp", big)); }), 6);
  EXPECT_EQ(ErrorNumberOf([&] { Bookshelf::BookInformationLength(dir_ / "t3.imp"); }), 6);
  // A length that points past the end still finds no seventh NUL.
  std::string past = good.substr(0, 48) + "abc";
  past[22] = 0x7F;
  EXPECT_EQ(ErrorNumberOf([&] { b.Load(Write("t4.imp", past)); }), 5);
  EXPECT_EQ(ErrorNumberOf([&] { b.Load(Write("empty.imp", "")); }), 5);
}

TEST_F(BookFileTest, InformationLengthAndIdentifierLookup) {
  std::string bytes = SimpleBookFile(Info{});
  bytes[22] = 0x01;
  bytes[23] = 0x2C;
  EXPECT_EQ(Bookshelf::BookInformationLength(Write("l.imp", bytes)), 300);
  EXPECT_EQ(ErrorNumberOf([&] { Bookshelf::BookInformationLength(dir_ / "none.imp"); }), 53);
  EXPECT_EQ(ErrorNumberOf([&] { Bookshelf::BookInformationLength(Write("s.imp", "short")); }), 5);

  for (auto [id, expected] : std::vector<std::pair<std::string, std::string>>{
           {"SRC:B:1234", "1234"}, {"None:1234", "1234"}, {"Ref:1234", "Ref:1234"},
           {"a:b:c:d", "c:d"}, {"1234", "1234"}, {"", ""}}) {
    Info info;
    info.id = id;
    EXPECT_EQ(BookIdOfFile(Write("id.imp", SimpleBookFile(info))), expected) << id;
  }
  EXPECT_EQ(ErrorNumberOf([] { BookIdFromInformation("no terminator"); }), 5);
}

TEST_F(BookFileTest, SourceRecordFillsTheDerivedFields) {
  Book plain;
  plain.SetPath(Write("plain.imp", SimpleBookFile(Info{})));
  EXPECT_EQ(plain.SourceId(), "3");
  EXPECT_EQ(plain.SourceType(), "B");
  EXPECT_EQ(plain.ContentFeedId(), "");
  EXPECT_EQ(plain.IssueNumber(), -1);
  EXPECT_FALSE(plain.IsPeriodical());

  Book issue7;
  issue7.SetPath(Write("p.imp", SimpleBookFile(Info{}, fixtures::SourceRecord("SRC9", "P", 7, "feed-1"))));
  EXPECT_EQ(issue7.SourceId(), "SRC9");
  EXPECT_EQ(issue7.SourceType(), "P");
  EXPECT_EQ(issue7.ContentFeedId(), "feed-1");
  EXPECT_EQ(issue7.IssueNumber(), 7);
  EXPECT_TRUE(issue7.IsPeriodical());
  EXPECT_EQ(issue7.Title(), "");  // a path write reads only the source record

  Book none_issue;
  none_issue.SetPath(Write("n.imp", SimpleBookFile(Info{}, fixtures::SourceRecord("S", "T", std::nullopt, "f"))));
  EXPECT_EQ(none_issue.IssueNumber(), -1);
  EXPECT_FALSE(none_issue.IsPeriodical());
  EXPECT_EQ(none_issue.SourceId(), "S");

  Book none;
  none.SetPath(Write("none.imp", SimpleBookFile(Info{}, std::string("None:x\0\0\0\x02\0\0\0\x05", 14))));
  EXPECT_EQ(none.SourceId(), "3");
  EXPECT_EQ(none.IssueNumber(), -1);

  EXPECT_EQ(ErrorNumberOf([&] { Book().SetPath(dir_ / "gone.imp"); }), 53);
}

TEST_F(BookFileTest, ParseRSRCEdges) {
  Book b;
  std::string id, type, feed;
  int32_t issue = 0;
  EXPECT_EQ(ErrorNumberOf([&] { b.ParseRSRC("no colons", id, type, feed, issue); }), 5);
  EXPECT_EQ(ErrorNumberOf([&] { b.ParseRSRC("Ref:one colon", id, type, feed, issue); }), 5);
  EXPECT_TRUE(b.ParseRSRC("None:", id, type, feed, issue).IsEmpty());
  EXPECT_EQ(id, "3");
  EXPECT_EQ(issue, -1);
  b.ParseRSRC("A:B:no marker", id, type, feed, issue);
  EXPECT_EQ(id, "A");
  EXPECT_EQ(type, "B");
  EXPECT_EQ(issue, 0);  // not a periodical
  std::string truncated("A:B:\0\0\0\x02\0\0", 10);
  EXPECT_EQ(ErrorNumberOf([&] { b.ParseRSRC(truncated, id, type, feed, issue); }), 5);
  std::string huge = std::string("A:B:\0\0\0\x02", 8) + "\u20AC" + std::string(3, '\0');
  EXPECT_EQ(ErrorNumberOf([&] { b.ParseRSRC(huge, id, type, feed, issue); }), 6);
  std::string no_nul("A:B:\0\0\0\x02\0\0\0\x09" "feed", 16);
  b.ParseRSRC(no_nul, id, type, feed, issue);
  EXPECT_EQ(issue, 9);
  EXPECT_EQ(feed, "feed");
}

TEST_F(BookFileTest, ResourceLookupStaysInsideFileAndResource) {
  Info info;
  std::string area = CarriedBytes() + info.Strings();
  auto book = [&](const std::string& resource) {
    return BookFile(area, "B.RES", {{"    ", "    ", "fork"}, {"PIC1", "PICT", "pict"},
                                    {"STR1", "RSRC", resource}});
  };
  Book b;
  auto get = [&](const std::string& name, const std::string& bytes, int16_t id = 128) {
    b.SetPath(Write(name, bytes));
    return b.GetResourceString("RSRC", id);
  };
  EXPECT_EQ(get("ok.imp", book(StringResource("S:T:hello"))), "S:T:hello");
  EXPECT_EQ(get("id.imp", book(StringResource("S:T:hello")), 129), "");
  std::string wrong_format = StringResource("S:T:hello");
  wrong_format[1] = 2;
  EXPECT_EQ(get("fmt.imp", book(wrong_format)), "");
  EXPECT_EQ(get("notbook.imp", std::string("\x00\x03 not a book", 14)), "");

  // A table offset at the resource's end, and an entry pointing outside it.
  std::string table_out = StringResource("S:T:hello");
  table_out[13] = static_cast<char>(table_out.size());
  EXPECT_EQ(ErrorNumberOf([&] { get("t1.imp", book(table_out)); }), 9);
  std::string entry_out = StringResource("S:T:hello");
  entry_out[entry_out.size() - 3] = 0x7F;  // string offset
  EXPECT_EQ(ErrorNumberOf([&] { get("t2.imp", book(entry_out)); }), 9);
  std::string short_entry = StringResource("S:T:hello").substr(0, 32 + 9 + 6);
  EXPECT_EQ(ErrorNumberOf([&] { get("t3.imp", book(short_entry)); }), 9);

  // A directory that claims more entries than the file holds, and a size
  // that points past the end.
  std::string more = book(StringResource("x"));
  more[19] = 50;
  EXPECT_EQ(ErrorNumberOf([&] { get("d1.imp", more); }), 5);
  std::string full = book(StringResource("x"));
  std::string cut = full.substr(0, full.size() - 10);
  EXPECT_EQ(ErrorNumberOf([&] { get("d2.imp", cut); }), 5);
  EXPECT_EQ(ErrorNumberOf([&] { Book().GetResourceString("RSRC", 128); }), 53);
}

TEST_F(BookFileTest, ContentAndSaveOfBookFile) {
  Book b;
  b.Load(Write("ten.bin", "0123456789"));
  Variant content = b.Content();
  ASSERT_EQ(content.type(), Variant::Type::kBytes);
  EXPECT_EQ(content.AsBytes().size(), 10u);
  EXPECT_EQ(content.AsBytes()[9], '9');
  Book folder;
  std::filesystem::create_directory(dir_ / "X.RES");
  folder.Load(dir_ / "X.RES");
  EXPECT_TRUE(folder.Content().IsEmpty());
  EXPECT_TRUE(Book().Content().IsEmpty());

  Book imp;
  imp.Load(Write("keep.imp", SimpleBookFile(Info{})));
  imp.Save(dir_ / "out.imp");  // book files, text and containers write nothing
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out.imp"));
}

}  // namespace
}  // namespace vellix
