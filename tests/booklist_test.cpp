// The bookshelf text, the book list text and the book list document, byte
// for byte against the golden files in tests/data.
#include "vellix/booklist.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "booklist_lines.h"
#include "test_util.h"

namespace vellix {
namespace {

using namespace fixtures;
namespace fs = std::filesystem;

TEST(Booklist, BookshelfText) {
  TempDir dir;
  Bookshelf shelf;
  EXPECT_EQ(ErrorNumberOf([&] { shelf.BookshelfText(); }), 91);  // no file list yet
  shelf.SetDirectory(dir.path());
  EXPECT_EQ(shelf.BookshelfText(), "1\n\n");

  dir.Write("a.imp", SimpleBookFile(Info{"1234", "Fic-tion", "", "A & B", "Smith", "", ""}, "", "12345"));
  dir.Write("b.imp", SimpleBookFile(Info{"SRC9:P:77", "News", "", "Daily", "Smith", "", "John"},
                                    SourceRecord("SRC9", "P", 5, "feed")));
  dir.Write("c.IMP", SimpleBookFile(Info{"99", "x", "", "upper", "y", "", ""}));  // only exact "imp"
  shelf.SetDirectory(dir.path());
  shelf.SetBaseURL("x_y/");
  ExpectGolden("bookshelf_text.txt", shelf.BookshelfText());

  dir.Write("d.imp", std::string(48, '\x01'));  // information strings without NULs
  shelf.SetDirectory(dir.path());
  EXPECT_EQ(ErrorNumberOf([&] { shelf.BookshelfText(); }), 5);
}

TEST(Booklist, BookListText) {
  TempDir dir;
  dir.Write("a.imp", SimpleBookFile(Info{"1", "C", "", "T & U", "Smith", "", "John"}));
  dir.Write("p.imp", SimpleBookFile(Info{"2", "N", "", "P", "X", "", ""}, SourceRecord("S", "P", 9, "f")));
  MakeBookFolder(dir / "F.RES", RsrcInf(Info{"3", "C", "", "Folder", "Y", "", ""}), "fork");
  Bookshelf shelf;
  shelf.Load(dir.path());
  dir.Write("list.txt", std::string(4000, 'z'));  // an old, longer list
  WriteBookListText(*shelf.Books(), "http://h/", dir / "list.txt");
  ExpectGolden("booklist.txt", ReadFile(dir / "list.txt"));
  EXPECT_EQ(BookListText(*shelf.Books(), "http://h/"), ReadFile(dir / "list.txt"));

  RemoteBookShelf remote = SplitRemoteBookShelfUrl("http://example.test/shelf/books.txt");
  EXPECT_EQ(remote.base_url + "|" + remote.file_name, "http://example.test/shelf/|books.txt");
  EXPECT_EQ(SplitRemoteBookShelfUrl("plain").file_name, "plain");
}

TEST(Booklist, PagesAndSizeLine) {
  EXPECT_EQ(PagesAndSizeLine(0, 1536, false), "0 pages, 2 KB, Not Encrypted<br />");
  EXPECT_EQ(PagesAndSizeLine(1, 2560, false), "1 page, 2 KB, Not Encrypted<br />");
  EXPECT_EQ(PagesAndSizeLine(7, 3584, true), "7 pages, 4 KB<br />");
  EXPECT_EQ(PagesAndSizeLine(2, 1535, false), "2 pages, 1 KB, Not Encrypted<br />");
}

// An empty category first; Fiction and fiction under their own headings; a
// title that arrives escaped.
TEST(Booklist, Document) {
  TempDir dir;
  dir.Write("e.imp", SimpleBookFile(Info{"E1", "", "", "No Category", "Anon", "", ""}, "", std::string(1400, 'd')));
  dir.Write("f1.imp",
            SimpleBookFile(Info{"F1", "Fiction", "", "B & C", "Last", "", "First"}, "", std::string(2400, 'd')));
  dir.Write("f2.imp", SimpleBookFile(Info{"F2", "fiction", "", "Z", "Smith", "", ""}, "", std::string(3400, 'd')));
  Bookshelf shelf;
  EXPECT_NO_THROW(shelf.CreateBooklist(dir / "none.htm"));  // no collection: nothing
  EXPECT_FALSE(fs::exists(dir / "none.htm"));
  shelf.Load(dir.path());

  std::string path = dir.Write("out/List.htm", std::string(9000, 'z'));  // an old, longer list
  shelf.CreateBooklist(path);
  std::string dated =
      std::regex_replace(ReadFile(path), std::regex("content=\"\\d{4}-\\d\\d-\\d\\d\""), "content=\"@DATE\"");
  ExpectGolden("booklist.htm", dated, {{dir.path(), "@"}});
  EXPECT_EQ(Names(dir / "out"), std::vector<std::string>{"List.htm"});  // no temporary left

  // The collection is sorted afterwards; characters the code page lacks become "?".
  EXPECT_EQ(shelf.Books()->Item(1)->BookId(), "E1");
  shelf.Books()->Item(1)->SetTitle("\u4E2D caf\u00E9");
  shelf.CreateBooklist(path);
  EXPECT_NE(ReadFile(path).find("<p>? caf\xE9<br />"), std::string::npos);

  // A failed export leaves the old one in place.
  EXPECT_NE(ErrorNumberOf([&] { shelf.CreateBooklist(dir / "missing/List.htm"); }), 0);
  fs::create_directory(dir / "out/dir.htm");
  EXPECT_NE(ErrorNumberOf([&] { shelf.CreateBooklist(dir / "out/dir.htm"); }), 0);
  EXPECT_EQ(Names(dir / "out"), (std::vector<std::string>{"List.htm", "dir.htm"}));
}

}  // namespace
}  // namespace vellix
