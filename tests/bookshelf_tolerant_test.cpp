// What the window and the tool build on: a shelf that loads around damaged
// books, adding a book folder in one call, and stored fields made readable.
#include <gtest/gtest.h>

#include <filesystem>

#include "test_util.h"
#include "vellix/bookshelf.h"
#include "vellix/formats/markup.h"

namespace vellix {
namespace {

using namespace fixtures;
namespace fs = std::filesystem;

TEST(LoadTolerant, ListsTheReadableBooksAndNamesTheOthers) {
  TempDir dir;
  MakeBookFolder(dir / "A.RES", RsrcInf({"A", "", "", "folder", "", "", ""}), "f");
  dir.Write("b.imp", SimpleBookFile({"B", "", "", "file b", "", "", ""}));
  dir.Write("short.imp", "IMP");  // too short for a header
  std::string wide = SimpleBookFile(Info());
  wide[22] = '\x80';  // information length beyond 16-bit signed range
  dir.Write("wide.imp", wide);
  dir.Write("c.imp", SimpleBookFile({"C", "", "", "file c", "", "", ""}));
  EXPECT_NE(ErrorNumberOf([&] { Bookshelf().Load(dir.path()); }), 0);

  Bookshelf shelf;
  std::string unreadable;
  for (const UnreadableBook& u : shelf.LoadTolerant(dir.path()))
    unreadable += u.path + ":" + std::to_string(u.number) + (u.description.empty() ? "" : "+") + " ";
  EXPECT_TRUE(unreadable == dir / "short.imp:5+ " + dir / "wide.imp:6+ " ||
              unreadable == dir / "wide.imp:6+ " + dir / "short.imp:5+ ")
      << unreadable;
  ASSERT_TRUE(shelf.Books());
  EXPECT_EQ(shelf.Directory(), dir.path());
  ASSERT_EQ(shelf.Books()->Count(), 3);
  EXPECT_EQ(shelf.Books()->Item(1)->Title(), "folder");  // book folders first, as Load() has them

  EXPECT_TRUE(shelf.LoadTolerant(dir / "missing").empty());
  EXPECT_FALSE(shelf.Books());
}

TEST(AddBookFolder, WritesANewBookFileAndAppendsTheBook) {
  TempDir shelf_dir, work;
  MakeBookFolder(work / "NEW.RES", RsrcInf({"ID1", "", "", "Fresh", "", "", ""}), "fork");
  fs::create_directories(work / "EMPTY.RES");  // no information file
  fs::create_directories(work / "plain");

  // Nothing is written for a shelf that was never loaded or a folder that
  // is no book.
  Bookshelf shelf;
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
  EXPECT_EQ(Names(shelf_dir.path()), std::vector<std::string>{fs::path(written).filename().string()});
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
