// Book folders: loading them and converting them into book files (the
// layouts are golden files in tests/data).
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <regex>

#include "test_util.h"
#include "vellix/book.h"
#include "vellix/formats/book_format.h"
#include "vellix/formats/random.h"

namespace vellix {
namespace {

using namespace fixtures;
namespace fs = std::filesystem;

class BookFolderTest : public ::testing::Test {
 protected:
  std::string Folder(const Info& info, const std::string& trailing = "",
                     std::vector<std::pair<std::string, std::string>> resources = {
                         {"PIC1", Resource(1, "PICT", "pixels")}}) {
    MakeBookFolder(dir_ / "MYBOOK.RES", RsrcInf(info, trailing), "fork-data", resources);
    return dir_ / "MYBOOK.RES";
  }
  std::string Convert(const std::string& folder, const std::string& dest) {
    Book b;
    b.Load(folder);
    b.Save(dest);
    return ReadFile(dest);
  }
  TempDir dir_;
};

TEST_F(BookFolderTest, LoadReadsRsrcInf) {
  Book b;
  b.Load(Folder({"SRC1:B:ID42", "Fiction", "", "Salt & Pepper", "Last", "", "First"}));
  EXPECT_EQ(b.Path() + "|" + b.Extension(), fs::absolute(dir_ / "MYBOOK.RES").string() + "|res");
  EXPECT_EQ(b.BookId() + "|" + b.Title() + "|" + b.Author(), "SRC1:B:ID42|Salt &amp; Pepper|First  Last");
  EXPECT_EQ(b.Size() + b.Pages(), 0);

  fs::create_directory(dir_ / "xres");  // no dot: still a book folder
  Book x;
  x.SetTitle("kept");
  x.Load(dir_ / "xres");
  EXPECT_EQ(x.Path() + "|" + x.Extension() + "|" + x.Title(), dir_ / "xres|res|kept");  // no RSRC.INF: nothing read
}

TEST_F(BookFolderTest, WritesTheBookFileLayout) {
  // No source prefix: the information area is all of RSRC.INF from 12 on.
  std::string folder = Folder({"ID42", "Fiction", "third", "Title", "Last", "Mid", "First"}, "trailing bytes");
  ExpectGolden("folder_plain.imp", Convert(folder, dir_ / "out.imp"));
  EXPECT_EQ(Names(folder).size(), 3u);  // no resource was added

  // An existing string resource is kept; the prefix is only dropped.
  fs::remove_all(folder);
  folder = Folder({"SRC1:B:ID42", "C", "", "T", "L", "", "F"}, "", {{"STR1", StringResource("OLD:X:")}});
  ExpectGolden("folder_existing_record.imp", Convert(folder, dir_ / "out.imp"));
  EXPECT_EQ(Names(folder).size(), 3u);
}

TEST_F(BookFolderTest, SourcePrefixMovesIntoANewStringResource) {
  std::string folder = Folder({"SRC1:B:ID42", "Fiction", "", "Title", "Last", "", "First"}, "TRAIL\x01\x02");
  formats::SeedRandom(7);  // the new resource's name, and so the entries' order, are fixed
  ExpectGolden("folder_new_record.imp", Convert(folder, dir_ / "out.imp"));
  std::vector<std::string> names = Names(folder);
  std::erase_if(names, [](const std::string& n) { return n == "DATA.FRK" || n == "PIC1" || n == "RSRC.INF"; });
  ASSERT_EQ(names.size(), 1u);
  EXPECT_TRUE(std::regex_match(names[0], std::regex("[A-Z]{4}"))) << names[0];
  EXPECT_EQ(ReadFile(folder + "/" + names[0]), StringResource("SRC1:B:TRAIL\x01\x02"));
}

TEST_F(BookFolderTest, SplitInformationRules) {
  std::string head = CarriedBytes();
  auto split = [&](const std::string& s) {
    formats::SplitInfo i = formats::SplitInformation(head + s);
    return i.information.substr(std::min(head.size(), i.information.size())) + "|" + i.source_record;
  };
  std::string seven = std::string("ID\0C\0\0T\0L\0\0F\0", 13);
  EXPECT_EQ(split(seven), seven + "|");
  std::string late = std::string("ID\0A:B:C\0\0T\0L\0\0F\0", 17);  // colons after the first NUL
  EXPECT_EQ(split(late), late + "|");
  EXPECT_EQ(split("S:T:" + seven), seven + "|S:T:");
  EXPECT_EQ(split("S:T:" + seven + "xyz"), seven + "|S:T:xyz");
  EXPECT_EQ(formats::SplitInformation(head + seven).information.substr(0, head.size()), head);
  EXPECT_EQ(ErrorNumberOf([&] { split(std::string("S:T:ID\0only two\0", 16)); }), 5);
}

TEST_F(BookFolderTest, StringResourceLimits) {
  formats::WriteStringResource(dir_.path(), "ABCD", std::string(223, 'x'));
  EXPECT_EQ(ReadFile(dir_ / "ABCD"), StringResource(std::string(223, 'x')));
  EXPECT_EQ(ErrorNumberOf([&] { formats::WriteStringResource(dir_.path(), "ABCE", std::string(224, 'x')); }), 6);
  EXPECT_FALSE(fs::exists(dir_ / "ABCE"));

  // A source record that does not fit refuses the save.
  std::string folder = Folder({"S:T:ID", "C", "", "T", "L", "", "F"}, std::string(230, 'd'));
  EXPECT_EQ(ErrorNumberOf([&] { Convert(folder, dir_ / "o.imp"); }), 6);
  EXPECT_FALSE(fs::exists(dir_ / "o.imp"));
}

TEST_F(BookFolderTest, RefusedFoldersChangeNothing) {
  std::string folder = Folder({"SRC1:B:ID42", "C", "", "T", "L", "", "F"});
  std::string dest = dir_.Write("old.imp", "the old book");
  const struct {
    const char* what;
    std::function<void()> spoil;
    int error;
    const char* named;  // in the error's detail
  } cases[] = {
      {"a resource name longer than four", [&] { WriteFile(folder + "/LONGNAME", "data"); }, 5, "LONGNAME"},
      {"an empty resource", [&] { WriteFile(folder + "/ZERO", ""); }, 5, ""},
      {"a short RSRC.INF", [&] { WriteFile(folder + "/RSRC.INF", std::string(35, 'x')); }, 5, ""},
      {"no RSRC.INF", [&] { fs::remove(folder + "/RSRC.INF"); }, 53, ""},
  };
  for (const auto& c : cases) {
    fs::remove_all(folder);
    Folder({"SRC1:B:ID42", "C", "", "T", "L", "", "F"});
    c.spoil();
    std::vector<std::string> before = Names(folder);
    formats::AutomationError e = ErrorOf([&] { Convert(folder, dest); });
    EXPECT_EQ(e.number(), c.error) << c.what;
    EXPECT_EQ(Names(folder), before) << c.what;  // no string resource was made
    EXPECT_NE(e.detail().find(c.named), std::string::npos) << e.detail();
  }
  EXPECT_EQ(ReadFile(dest), "the old book");
  EXPECT_EQ(Names(dir_.path()), (std::vector<std::string>{"MYBOOK.RES", "old.imp"}));
}

// Where the book file goes; how it replaces what was there is the safe
// writer's test.
TEST_F(BookFolderTest, DestinationRules) {
  Book b;
  b.Load(Folder(Info()));
  EXPECT_EQ(ErrorNumberOf([&] { b.Save(dir_ / "missing/out.imp"); }), 76);
  std::string dest = dir_.Write("out.imp", std::string(5000, 'z'));
  b.Save(dest);
  std::string first = ReadFile(dest);
  EXPECT_LT(first.size(), 5000u);  // no tail of the old file

  // No destination: beside the folder, named after it.
  b.Save();
  EXPECT_EQ(ReadFile(dir_ / "MYBOOK.imp"), first);
  EXPECT_EQ(Names(dir_.path()), (std::vector<std::string>{"MYBOOK.RES", "MYBOOK.imp", "out.imp"}));
}

}  // namespace
}  // namespace vellix
