// The bookshelf: what it loads, finds, adds and how it orders books.
#include "vellix/bookshelf.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <regex>

#include "test_util.h"
#include "vellix/formats/random.h"

namespace vellix {
namespace {

using namespace fixtures;
namespace fs = std::filesystem;

std::string Book(const std::string& id, const std::string& title, const std::string& source = "") {
  return SimpleBookFile({id, "", "", title, "", "", ""}, source);
}

std::vector<std::string> Titles(const Books& books) {
  std::vector<std::string> out;
  for (const auto& b : books) out.push_back(b->Title());
  return out;
}

TEST(Bookshelf, LoadRecognisesBookFoldersAndFilesAndStopsAtABadBook) {
  TempDir dir;
  MakeBookFolder(dir / "A.RES", RsrcInf(Info{"A", "", "", "folder", "", "", ""}), "f");
  fs::create_directory(dir / "lower.res");  // ".RES" in any case, even without RSRC.INF
  fs::create_directory(dir / "plain");      // not a book folder
  WriteFile(dir / "b.imp", Book("B", "file b"));
  WriteFile(dir / "C.IMP", Book("C", "file C"));
  WriteFile(dir / "d.htm", "<html/>");
  WriteFile(dir / "E.RES", "a file, not a folder");
  Bookshelf shelf;
  shelf.Load(dir.path());
  ASSERT_TRUE(shelf.Books());
  EXPECT_EQ(shelf.Directory(), dir.path());
  EXPECT_EQ(Titles(*shelf.Books()), (std::vector<std::string>{"folder", "", "file b", "file C"}));
  EXPECT_EQ(shelf.Books()->Item(2)->Extension(), "res");

  WriteFile(dir / "zz.imp", "truncated");  // the books before it stay
  EXPECT_EQ(ErrorNumberOf([&] { shelf.Load(dir.path()); }), 5);
  EXPECT_EQ(shelf.Directory(), dir.path());
  EXPECT_EQ(shelf.Books()->Count(), 4);

  shelf.Load(dir / "missing");
  EXPECT_EQ(shelf.Directory(), "");
  EXPECT_FALSE(shelf.Books());
}

TEST(Bookshelf, FindsBookFilesByIdentifier) {
  TempDir dir;
  WriteFile(dir / "one.imp", Book("SRC:B:1234", "one", SourceRecord("SRC", "B", 3, "feed")));
  WriteFile(dir / "two.IMP", Book("5678", "upper-case extension"));
  Bookshelf shelf;
  EXPECT_EQ(shelf.Book("1234"), nullptr);  // no folder yet

  shelf.Load(dir.path());  // sets Directory but keeps no file list
  EXPECT_EQ(ErrorNumberOf([&] { shelf.Book("1234"); }), 91);

  shelf.SetDirectory(dir.path());
  auto found = shelf.Book("1234");
  ASSERT_NE(found, nullptr);
  // Only the identifier and the source record are read: no title.
  EXPECT_EQ(found->Path() + "|" + found->BookId() + "|" + std::to_string(found->IssueNumber()) + "|" + found->Title(),
            dir / "one.imp|1234|3|");
  EXPECT_EQ(shelf.Book("5678"), nullptr);  // ".IMP" is not seen by lookups
  EXPECT_EQ(shelf.Book("SRC:B:1234"), nullptr);

  // The file list is the one kept when Directory was set.
  WriteFile(dir / "later.imp", Book("999", "later"));
  EXPECT_EQ(shelf.Book("999"), nullptr);
  shelf.SetDirectory(dir / "missing");
  EXPECT_EQ(shelf.Directory(), "");
  EXPECT_EQ(shelf.Book("1234"), nullptr);

  WriteFile(dir / "bad.imp", std::string(60, '\x01'));  // no NUL in the information area
  shelf.SetDirectory(dir.path());
  EXPECT_EQ(ErrorNumberOf([&] { shelf.Book("nothing"); }), 5);
}

// Appending a book is tested with AddBookFolder, which builds on Add.
TEST(Bookshelf, AddAndNewBookFilePath) {
  TempDir dir;
  Bookshelf shelf;
  EXPECT_EQ(ErrorNumberOf([&] { shelf.Add(std::make_shared<vellix::Book>()); }), 91);
  EXPECT_EQ(ErrorNumberOf([&] { shelf.NewBookFilePath(); }), 76);
  fs::create_directory(dir / "shelf");
  shelf.Load(dir / "shelf");
  formats::SeedRandom(7);
  std::string first = shelf.NewBookFilePath();
  EXPECT_TRUE(std::regex_match(first, std::regex(dir / "shelf/[A-Z]{8}\\.imp"))) << first;
  WriteFile(first, "taken");
  formats::SeedRandom(7);  // the same draw again: the taken name is skipped
  std::string second = shelf.NewBookFilePath();
  EXPECT_NE(second, first);
  EXPECT_FALSE(fs::exists(second));
}

TEST(Books, PositionsAreOneBasedIntegers) {
  Books books;
  for (const char* t : {"a", "b", "c"}) {
    auto b = std::make_shared<vellix::Book>();
    b->SetTitle(t);
    books.AddBook(b);
  }
  EXPECT_EQ(books.Item(Variant(1))->Title(), "a");
  for (Variant bad : {Variant(0), Variant(4), Variant("1"), Variant(true), Variant()})
    EXPECT_EQ(ErrorNumberOf([&] { books.Item(bad); }), 5);
  books.Remove(Variant(2));
  EXPECT_EQ(Titles(books), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(ErrorNumberOf([&] { books.Remove(Variant(3)); }), 5);
  TempDir dir;
  EXPECT_EQ(books.Add(dir / "missing.imp")->Path(), "");
  EXPECT_EQ(books.Count(), 3);
  WriteFile(dir / "bad.imp", "bad");
  EXPECT_EQ(ErrorNumberOf([&] { books.Add(dir / "bad.imp"); }), 5);
  EXPECT_EQ(books.Count(), 3);
}

// Category, then title, then author, ignoring letter case; authors that
// are dates first and by date. How ties move is the sort's own test.
TEST(Bookshelf, SortOrder) {
  using Shelf = std::vector<std::array<std::string, 3>>;  // category, title, author
  const std::pair<Shelf, std::vector<std::string>> cases[] = {
      {{{"Fiction", "Zed", "x"}, {"fiction", "alpha", "y"}, {"Art", "Q", "z"}}, {"2", "1", "0"}},
      {{{"News", "Daily", "Smith"},
        {"News", "Daily", "Daily, 2002-03-04"},
        {"News", "Daily", "Daily, 2002-03-01"},
        {"News", "Daily", "2001-12-31"},
        {"News", "Daily", "Adams"}},
       {"3", "2", "1", "4", "0"}},
  };
  for (const auto& [books, order] : cases) {
    TempDir dir;
    for (size_t i = 0; i < books.size(); ++i)
      dir.Write("b" + std::to_string(10 + i) + ".imp",
                SimpleBookFile({std::to_string(i), books[i][0], "", books[i][1], books[i][2], "", ""}));
    Bookshelf shelf;
    shelf.Load(dir.path());
    auto before = shelf.Books();
    shelf.Sort();
    std::vector<std::string> ids;
    for (const auto& b : *shelf.Books()) ids.push_back(b->BookId());
    EXPECT_EQ(ids, order);
    EXPECT_EQ(before->Item(1)->BookId(), "0");  // the old collection is unchanged
  }
  Bookshelf empty;
  EXPECT_EQ(ErrorNumberOf([&] { empty.Sort(); }), 91);
  TempDir none;
  empty.Load(none.path());
  empty.Sort();
  EXPECT_EQ(empty.Books()->Count(), 0);
}

}  // namespace
}  // namespace vellix
