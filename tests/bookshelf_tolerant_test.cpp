// What the window and the tool build on: the shelf and device folders of
// the settings, a shelf that loads around damaged books, adding a book
// folder in one call, and stored fields made readable.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <tuple>

#include "test_util.h"
#include "vellix/application.h"
#include "vellix/bookshelf.h"
#include "vellix/formats/markup.h"
#include "vellix/settings.h"

namespace vellix {
namespace {

using namespace fixtures;
namespace fs = std::filesystem;

// The settings file is read afresh on every call, as the settings library
// writes it: names exact, quoted values, doubled backslashes, escaped keys.
TEST(SettingsTest, ReadAfreshAsWritten) {
  TempDir dir;
  std::optional<std::string> saved;
  if (const char* old = getenv("XDG_CONFIG_HOME")) saved = old;
  setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
  EXPECT_EQ(Application::BookshelfDirectory() + Application::DskDirectory(), "");  // no file, no folder
  std::filesystem::create_directories(dir / "OrvoTools");
  // The file, the bookshelf and the device folder it gives.
  const std::tuple<std::string, std::string, std::string> kFiles[] = {
      {"[Locations]\nbookshelf=/wrong/case\n", "", ""},
      {"[Locations]\nBookShelf=/home/u/Books\nDsK=/home/u/Device\n", "/home/u/Books", "/home/u/Device"},
      {"[Locations]\nBookShelf=/elsewhere\n", "/elsewhere", ""},
      {"; comment\n[General]\ntop=1\n[Locations]\nBookShelf=\"/home/u/My Books, old\"\nDsK=C:\\\\Device\n"
       "[Sites]\nRemoteBookShelfUrl=http://example.test/shelf/list.txt\n[Common/Preferences]\nDevice%20Width=600\n",
       "/home/u/My Books, old", "C:\\Device"},
  };
  for (const auto& [file, bookshelf, device] : kFiles) {
    dir.Write("OrvoTools/Vellixlibrarian.conf", file);
    EXPECT_EQ(Application::BookshelfDirectory(), bookshelf) << file;
    EXPECT_EQ(Application::DskDirectory(), device) << file;
  }
  const std::string key = "HKEY_CURRENT_USER\\Software\\OrvoTools\\Vellixlibrarian\\";
  EXPECT_EQ(ReadUserSetting(key + "Sites\\RemoteBookShelfUrl"), "http://example.test/shelf/list.txt");
  EXPECT_EQ(ReadUserSetting(key + "top"), "1");
  EXPECT_EQ(ReadUserSetting("Software\\OrvoTools\\Vellixlibrarian\\Common\\Preferences\\Device Width"), "600");
  EXPECT_FALSE(ReadUserSetting("HKEY_LOCAL_MACHINE\\Software\\OrvoTools\\Vellixlibrarian\\top"));
  saved ? setenv("XDG_CONFIG_HOME", saved->c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
}

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
  std::set<std::string> unreadable;  // path, number, and whether described
  for (const UnreadableBook& u : shelf.LoadTolerant(dir.path()))
    unreadable.insert(u.path + ":" + std::to_string(u.number) + (u.description.empty() ? "" : "+"));
  EXPECT_EQ(unreadable, (std::set<std::string>{dir / "short.imp:5+", dir / "wide.imp:6+"}));
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
  EXPECT_EQ(ErrorNumberOf([&] { shelf.AddBookFolder(work / "NEW.RES"); }), formats::kObjectNotSet);
  shelf.Load(shelf_dir.path());
  EXPECT_EQ(ErrorNumberOf([&] { shelf.AddBookFolder(work / "plain"); }), formats::kFileNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { shelf.AddBookFolder(work / "EMPTY.RES"); }), formats::kFileNotFound);
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
  for (const auto& [stored, readable] : cases) EXPECT_EQ(formats::UnescapeMarkup(stored), readable) << stored;
  for (const std::string text : {"a & b < c > d", "&amp; &lt;", "&&&;;<>"})
    EXPECT_EQ(formats::UnescapeMarkup(formats::EscapeMarkup(text)), text);
}

}  // namespace
}  // namespace vellix
