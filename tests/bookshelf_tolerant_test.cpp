// What the window and the tool build on: a shelf that loads around damaged
// books, adding a book folder in one call, and stored fields made readable.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "book_maker.h"
#include "test_util.h"
#include "vellix/bookshelf.h"
#include "vellix/error.h"
#include "vellix/formats/markup.h"

namespace vellix {
namespace {

using namespace fixtures;
namespace fs = std::filesystem;

std::string Titled(const std::string& title) {
  Info info;
  info.title = title;
  return SimpleBookFile(info);
}

TEST(LoadTolerant, ListsTheReadableBooksAndNamesTheOthers) {
  TempDir dir;
  MakeBookFolder(dir / "A.RES", RsrcInf(Info{"A", "", "", "folder", "", "", ""}), "f");
  WriteFile(dir / "b.imp", Titled("file b"));
  WriteFile(dir / "short.imp", "IMP");  // too short for a header
  std::string wide = Titled("wide");
  wide[22] = '\x80';  // information length beyond 16-bit signed range
  WriteFile(dir / "wide.imp", wide);
  WriteFile(dir / "c.imp", Titled("file c"));

  Bookshelf strict;
  EXPECT_NE(ErrorNumberOf([&] { strict.Load(dir.path()); }), 0);

  Bookshelf shelf;
  std::vector<UnreadableBook> unreadable = shelf.LoadTolerant(dir.path());
  ASSERT_TRUE(shelf.Books());
  EXPECT_EQ(shelf.Directory(), dir.path());
  std::vector<std::string> titles;
  for (const auto& b : *shelf.Books()) titles.push_back(b->Title());
  ASSERT_EQ(titles.size(), 3u);
  EXPECT_EQ(titles[0], "folder");  // book folders first, as Load() has them
  std::sort(unreadable.begin(), unreadable.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
  ASSERT_EQ(unreadable.size(), 2u);
  EXPECT_EQ(unreadable[0].path, dir / "short.imp");
  EXPECT_EQ(unreadable[0].number, kInvalidArgument);
  EXPECT_EQ(unreadable[1].path, dir / "wide.imp");
  EXPECT_EQ(unreadable[1].number, kOverflow);
  EXPECT_FALSE(unreadable[1].description.empty());

  EXPECT_TRUE(shelf.LoadTolerant(dir / "missing").empty());
  EXPECT_FALSE(shelf.Books());
}

TEST(AddBookFolder, WritesANewBookFileAndAppendsTheBook) {
  TempDir shelf_dir, work;
  fs::create_directories(shelf_dir.path());
  MakeBookFolder(work / "NEW.RES", RsrcInf(Info{"ID1", "", "", "Fresh", "", "", ""}), "fork");
  fs::create_directories(work / "EMPTY.RES");  // no information file
  fs::create_directories(work / "plain");

  Bookshelf shelf;
  // Nothing is written for a shelf that was never loaded or a folder that
  // is no book.
  EXPECT_EQ(ErrorNumberOf([&] { shelf.AddBookFolder(work / "NEW.RES"); }), kObjectNotSet);
  shelf.Load(shelf_dir.path());
  EXPECT_EQ(ErrorNumberOf([&] { shelf.AddBookFolder(work / "plain"); }), kFileNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { shelf.AddBookFolder(work / "EMPTY.RES"); }), kFileNotFound);
  EXPECT_TRUE(fs::is_empty(shelf_dir.path()));
  EXPECT_EQ(shelf.Books()->Count(), 0);

  std::string written;
  auto book = shelf.AddBookFolder(work / "NEW.RES", &written);
  ASSERT_TRUE(book);
  EXPECT_EQ(book->Path(), work / "NEW.RES");
  EXPECT_EQ(fs::path(written).parent_path(), fs::path(shelf_dir.path()));
  EXPECT_TRUE(fs::is_regular_file(written));
  ASSERT_EQ(shelf.Books()->Count(), 1);
  EXPECT_EQ(shelf.Books()->Item(1), book);
}

TEST(UnescapeMarkup, UndoesExactlyTheLibrarysEscapes) {
  const std::pair<std::string, std::string> cases[] = {
      {"Salt &amp; Pepper", "Salt & Pepper"},
      {"&lt;b&gt;", "<b>"},
      {"&amp;lt;", "&lt;"},  // a stored "&lt;" typed by the author
      {"&&amp;&", "&&&"},
      {"&quot;&apos;&#38;&am", "&quot;&apos;&#38;&am"},  // never made by the library
      {"", ""}};
  for (const auto& [stored, readable] : cases) EXPECT_EQ(UnescapeMarkup(stored), readable) << stored;
  for (const std::string text : {"a & b < c > d", "&amp; &lt;", "&&&;;<>"})
    EXPECT_EQ(UnescapeMarkup(EscapeMarkup(text)), text);
}

}  // namespace
}  // namespace vellix
