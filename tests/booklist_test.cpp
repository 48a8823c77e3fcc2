// The bookshelf text, the book list text and the book list document, byte
// for byte.
#include "vellix/booklist.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>

#include "book_maker.h"
#include "test_util.h"
#include "booklist_lines.h"
#include "vellix/error.h"

namespace vellix {
namespace {

using namespace fixtures;
namespace fs = std::filesystem;

Info MakeInfo(const std::string& id, const std::string& category, const std::string& title,
              const std::string& last, const std::string& middle = "", const std::string& first = "") {
  return Info{id, category, "", title, last, middle, first};
}

std::string Today() {
  std::time_t now = std::time(nullptr);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", std::localtime(&now));
  return text;
}

class BooklistTest : public ::testing::Test {
 protected:
  std::string Add(const std::string& name, const std::string& bytes) {
    WriteFile(shelf_ / name, bytes);
    return shelf_ / name;
  }
  TempDir shelf_;
};

TEST_F(BooklistTest, BookshelfTextRecords) {
  Bookshelf shelf;
  EXPECT_EQ(ErrorNumberOf([&] { shelf.BookshelfText(); }), 91);  // no file list yet
  shelf.SetDirectory(shelf_.path());
  EXPECT_EQ(shelf.BookshelfText(), "1\n\n");

  std::string plain = Add("a.imp", SimpleBookFile(MakeInfo("1234", "Fic-tion", "A & B", "Smith"), "", "12345"));
  Add("b.imp", SimpleBookFile(MakeInfo("SRC9:P:77", "News", "Daily", "Smith", "", "John"),
                              SourceRecord("SRC9", "P", 5, "feed")));
  Add("c.IMP", SimpleBookFile(MakeInfo("99", "x", "upper", "y")));  // only exact "imp"
  shelf.SetDirectory(shelf_.path());
  shelf.SetBaseURL("x_y/");
  std::string size_a = std::to_string(fs::file_size(plain));
  std::string size_b = std::to_string(fs::file_size(shelf_ / "b.imp"));
  EXPECT_EQ(shelf.BookshelfText(),
            "1\n"
            "3:B:1234\tA & B\tSmith\tFic-tion\t" + size_a +
                "\tx%5Fy/?BOOK%5FID=1234&SOURCE%5FID=3&SOURCE%5FTYPE=B\t1\t17\n"
            "SRC9:P:SRC9:P:77\tDaily\tJohn  Smith\tNews\t" + size_b +
                "\tx%5Fy/?BOOK%5FID=SRC9:P:77&SOURCE%5FID=SRC9&SOURCE%5FTYPE=P\t1\t21\n"
            "\n");

  Add("d.imp", std::string(48, '\x01'));  // information strings without NULs
  shelf.SetDirectory(shelf_.path());
  EXPECT_EQ(ErrorNumberOf([&] { shelf.BookshelfText(); }), 5);
}

TEST_F(BooklistTest, BookListTextLines) {
  Add("a.imp", SimpleBookFile(MakeInfo("1", "C", "T & U", "Smith", "", "John")));
  Add("p.imp", SimpleBookFile(MakeInfo("2", "N", "P", "X"), SourceRecord("S", "P", 9, "f")));
  MakeBookFolder(shelf_ / "F.RES", RsrcInf(MakeInfo("3", "C", "Folder", "Y")), "fork");
  Bookshelf shelf;
  shelf.Load(shelf_.path());
  std::string size_a = std::to_string(fs::file_size(shelf_ / "a.imp"));
  std::string size_p = std::to_string(fs::file_size(shelf_ / "p.imp"));
  std::string expected = "None:3\tFolder\tY\tC\t0\thttp://h/\t1\t17\r\n"
                         "None:1\tT &amp; U\tJohn  Smith\tC\t" + size_a + "\thttp://h/a.imp\t1\t17\r\n"
                         "None:2\tP\tX\tN\t" + size_p + "\thttp://h/p.imp\t1\t17\r\n";
  EXPECT_EQ(BookListText(*shelf.Books(), "http://h/"), expected);
  WriteFile(shelf_ / "list.txt", std::string(4000, 'z'));  // an old, longer list
  WriteBookListText(*shelf.Books(), "http://h/", shelf_ / "list.txt");
  EXPECT_EQ(ReadFile(shelf_ / "list.txt"), expected);

  EXPECT_EQ(SplitRemoteBookShelfUrl("http://example.test/shelf/books.txt").base_url,
            "http://example.test/shelf/");
  EXPECT_EQ(SplitRemoteBookShelfUrl("http://example.test/shelf/books.txt").file_name, "books.txt");
  EXPECT_EQ(SplitRemoteBookShelfUrl("plain").file_name, "plain");
}

TEST_F(BooklistTest, PagesAndSizeLine) {
  EXPECT_EQ(PagesAndSizeLine(0, 1536, false), "0 pages, 2 KB, Not Encrypted<br />");
  EXPECT_EQ(PagesAndSizeLine(1, 2560, false), "1 page, 2 KB, Not Encrypted<br />");
  EXPECT_EQ(PagesAndSizeLine(7, 3584, true), "7 pages, 4 KB<br />");
  EXPECT_EQ(PagesAndSizeLine(2, 1535, false), "2 pages, 1 KB, Not Encrypted<br />");
}

TEST_F(BooklistTest, DocumentByteForByte) {
  // Sizes 1536, 2560 and 3584 bytes; an empty category first; Fiction next
  // to fiction; a title that arrives escaped.
  auto sized = [](const Info& info, size_t size) {
    std::string bytes = SimpleBookFile(info, "", "");
    std::string padded = SimpleBookFile(info, "", std::string(size - bytes.size(), 'd'));
    EXPECT_EQ(padded.size(), size);
    return padded;
  };
  Add("e.imp", sized(MakeInfo("E1", "", "No Category", "Anon"), 1536));
  Add("f1.imp", sized(MakeInfo("F1", "Fiction", "B & C", "Last", "", "First"), 2560));
  Add("f2.imp", sized(MakeInfo("F2", "fiction", "Z", "Smith"), 3584));
  Bookshelf shelf;
  EXPECT_NO_THROW(shelf.CreateBooklist(shelf_ / "none.htm"));  // no collection: nothing
  EXPECT_FALSE(fs::exists(shelf_ / "none.htm"));
  shelf.Load(shelf_.path());

  fs::create_directory(shelf_ / "out");
  std::string path = shelf_ / "out/List.htm";
  shelf.CreateBooklist(path);
  auto book = [&](const std::string& title, const std::string& author, const std::string& kb,
                  const std::string& id, const std::string& file) {
    return "<p>" + title + "<br />\r\n<span class=\"detail\">" + author + "<br />\r\n0 pages, " + kb +
           " KB, Not Encrypted<br />\r\n<span class=\"ID\">" + id + "</span><br />\r\n<a href=\"" +
           (shelf_ / file) + "\">" + file.substr(0, file.find('.')) + "</a></span></p>\r\n";
  };
  std::string expected =
      "<html>\r\n<head><title>List</title>\r\n<meta name=\"author\" content=\"" + Today() +
      "\" />\r\n<meta name=\"genre\" content=\"eBooks\" />\r\n<style type=\"text/x-oeb1-css\">\r\n"
      "body {margin-left:10pt; margin-right:10pt; x-ikl-widow-push:1; x-ikl-orphan-pull:1}\r\n"
      "p {font-family:serif; font-size:x-small}\r\n"
      ".detail {font-family:serif; font-size:xx-small}\r\n"
      ".ID {font-family:smallfont; font-size:xx-small}\r\n"
      "footer {display:none; display:oeb-page-foot; oeb-column-number:1; margin-top:10pt}\r\n"
      "</style>\r\n</head>\r\n<body>\r\n"
      "<footer><span style=\"font-family:smallfont; text-align:center\">" + path +
      "</span></footer>\r\n<div style=\"oeb-column-number:2\">\r\n" +
      book("No Category", "Anon", "2", "E1", "e.imp") +
      "<hr />\r\n<p>Fiction</p>\r\n<hr />\r\n" + book("B &amp; C", "First  Last", "2", "F1", "f1.imp") +
      "<hr />\r\n<p>fiction</p>\r\n<hr />\r\n" + book("Z", "Smith", "4", "F2", "f2.imp") +
      "</div>\r\n</body>\r\n</html>\r\n";
  EXPECT_EQ(ReadFile(path), expected);
  EXPECT_EQ(fs::directory_iterator(shelf_ / "out")->path(), path);  // nothing else left there

  // The collection is sorted afterwards; characters the code page lacks become "?".
  EXPECT_EQ(shelf.Books()->Item(1)->BookId(), "E1");
  shelf.Books()->Item(1)->SetTitle("\u4E2D caf\u00E9");
  shelf.CreateBooklist(path);
  EXPECT_NE(ReadFile(path).find("<p>? caf\xE9<br />"), std::string::npos);

  // A failed export leaves the old one in place.
  EXPECT_NE(ErrorNumberOf([&] { shelf.CreateBooklist(shelf_ / "missing/List.htm"); }), 0);
  fs::create_directory(shelf_ / "out/dir.htm");
  EXPECT_NE(ErrorNumberOf([&] { shelf.CreateBooklist(shelf_ / "out/dir.htm"); }), 0);
  EXPECT_EQ(std::distance(fs::directory_iterator(shelf_ / "out"), fs::directory_iterator()), 2);
}

}  // namespace
}  // namespace vellix
