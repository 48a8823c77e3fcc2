// Book folders: loading them and converting them into book files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "vellix/formats/book_format.h"
#include "book_maker.h"
#include "vellix/book.h"
#include "vellix/error.h"

namespace vellix {
namespace {

using namespace fixtures;
namespace fs = std::filesystem;

template <typename F>
AutomationError ErrorOf(F&& f) {
  try {
    f();
  } catch (const AutomationError& e) {
    return e;
  }
  return AutomationError(0, "no error");
}

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) out.insert(e.path().filename().string());
  return out;
}

class BookFolderTest : public ::testing::Test {
 protected:
  std::string Folder(const Info& info, const std::string& trailing = "",
                     std::vector<std::pair<std::string, std::string>> resources = {
                         {"PIC1", Resource(1, "PICT", "pixels")}}) {
    std::string path = dir_ / "MYBOOK.RES";
    MakeBookFolder(path, RsrcInf(info, trailing), "fork-data", resources);
    return path;
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
  Info info{"SRC1:B:ID42", "Fiction", "", "Salt & Pepper", "Last", "", "First"};
  Book b;
  b.Load(Folder(info));
  EXPECT_EQ(b.Extension(), "res");
  EXPECT_EQ(b.Path(), fs::absolute(dir_ / "MYBOOK.RES").string());
  EXPECT_EQ(b.BookId(), "SRC1:B:ID42");  // the folder keeps its prefix
  EXPECT_EQ(b.Title(), "Salt &amp; Pepper");
  EXPECT_EQ(b.Author(), "First  Last");
  EXPECT_EQ(b.Size(), 0);
  EXPECT_EQ(b.Pages(), 0);

  fs::create_directory(dir_ / "xres");  // no dot: still a book folder
  Book x;
  x.SetTitle("kept");
  x.Load(dir_ / "xres");
  EXPECT_EQ(x.Extension(), "res");       // no RSRC.INF: nothing read
  EXPECT_EQ(x.Path(), dir_ / "xres");
  EXPECT_EQ(x.Title(), "kept");
}

TEST_F(BookFolderTest, WritesTheBookFileLayout) {
  Info info{"ID42", "Fiction", "third", "Title", "Last", "Mid", "First"};
  std::string got = Convert(Folder(info, "trailing bytes"), dir_ / "out.imp");
  // No source prefix: the information area is all of RSRC.INF from 12 on.
  std::string expected =
      BookFile(CarriedBytes() + info.Strings() + "trailing bytes", "MYBOOK.RES",
               {{"    ", "    ", "fork-data"}, {"PIC1", "PICT", Resource(1, "PICT", "pixels")}});
  EXPECT_EQ(got, expected);
  EXPECT_EQ(Names(dir_ / "MYBOOK.RES").size(), 3u);  // no resource was added
}

TEST_F(BookFolderTest, SourcePrefixMovesIntoANewStringResource) {
  Info info{"SRC1:B:ID42", "Fiction", "", "Title", "Last", "", "First"};
  std::string folder = Folder(info, "TRAIL\x01\x02");
  std::string got = Convert(folder, dir_ / "out.imp");

  std::set<std::string> names = Names(folder);
  ASSERT_EQ(names.size(), 4u);
  std::string added;
  for (const auto& n : names)
    if (n != "RSRC.INF" && n != "DATA.FRK" && n != "PIC1") added = n;
  ASSERT_EQ(added.size(), 4u);
  EXPECT_TRUE(std::all_of(added.begin(), added.end(), [](char c) { return c >= 'A' && c <= 'Z'; }));
  std::string record = "SRC1:B:TRAIL\x01\x02";
  EXPECT_EQ(ReadFile(folder + "/" + added), StringResource(record));

  Info shortened = info;
  shortened.id = "ID42";
  // Entries follow the folder's names in order; the data fork is DATA.FRK.
  std::vector<std::pair<std::string, Entry>> named = {
      {"DATA.FRK", {"    ", "    ", "fork-data"}},
      {"PIC1", {"PIC1", "PICT", Resource(1, "PICT", "pixels")}},
      {added, {added, "RSRC", StringResource(record)}}};
  std::sort(named.begin(), named.end(), [](auto& x, auto& y) { return x.first < y.first; });
  std::vector<Entry> entries;
  for (auto& [name, entry] : named) entries.push_back(entry);
  EXPECT_EQ(got, BookFile(CarriedBytes() + shortened.Strings(), "MYBOOK.RES", entries));

  // The book file reads back with the short identifier and the record.
  Book b;
  b.Load(dir_ / "out.imp");
  EXPECT_EQ(b.BookId(), "ID42");
  b.SetPath(dir_ / "out.imp");
  EXPECT_EQ(b.SourceId(), "SRC1");
  EXPECT_EQ(b.GetResourceString("RSRC", 128), "SRC1:B:TRAIL\u0001\u0002");
}

TEST_F(BookFolderTest, ExistingStringResourceIsKept) {
  Info info{"SRC1:B:ID42", "C", "", "T", "L", "", "F"};
  std::string folder = Folder(info, "", {{"STR1", StringResource("OLD:X:")}});
  std::string got = Convert(folder, dir_ / "out.imp");
  EXPECT_EQ(Names(folder).size(), 3u);
  Info shortened = info;
  shortened.id = "ID42";
  EXPECT_EQ(got, BookFile(CarriedBytes() + shortened.Strings(), "MYBOOK.RES",
                          {{"    ", "    ", "fork-data"}, {"STR1", "RSRC", StringResource("OLD:X:")}}));
}

TEST_F(BookFolderTest, SplitInformationRules) {
  std::string head = CarriedBytes();
  auto split = [&](const std::string& s) { return SplitInformation(head + s); };
  std::string seven = std::string("ID\0C\0\0T\0L\0\0F\0", 13);
  EXPECT_EQ(split(seven).information, head + seven);
  EXPECT_EQ(split(seven).source_record, "");
  // Colons after the first NUL are not a prefix.
  std::string late = std::string("ID\0A:B:C\0\0T\0L\0\0F\0", 17);
  EXPECT_EQ(split(late).source_record, "");
  EXPECT_EQ(split("S:T:" + seven).information, head + seven);
  EXPECT_EQ(split("S:T:" + seven).source_record, "S:T:");
  EXPECT_EQ(split("S:T:" + seven + "xyz").source_record, "S:T:xyz");
  EXPECT_EQ(split("S:T:" + seven + "xyz").information, head + seven);
  EXPECT_EQ(ErrorOf([&] { split(std::string("S:T:ID\0only two\0", 16)); }).number(), 5);
}

TEST_F(BookFolderTest, StringResourceLimits) {
  WriteStringResource(dir_.path(), "ABCD", std::string(223, 'x'));
  EXPECT_EQ(ReadFile(dir_ / "ABCD"), StringResource(std::string(223, 'x')));
  EXPECT_EQ(ErrorOf([&] { WriteStringResource(dir_.path(), "ABCE", std::string(224, 'x')); }).number(), 6);
  EXPECT_FALSE(fs::exists(dir_ / "ABCE"));

  // A source record that does not fit refuses the save.
  Info info{"S:T:ID", "C", "", "T", "L", "", "F"};
  EXPECT_EQ(ErrorOf([&] { Convert(Folder(info, std::string(230, 'd')), dir_ / "o.imp"); }).number(), 6);
  EXPECT_FALSE(fs::exists(dir_ / "o.imp"));
}

TEST_F(BookFolderTest, RefusedFoldersChangeNothing) {
  Info info{"SRC1:B:ID42", "C", "", "T", "L", "", "F"};
  std::string folder = Folder(info);
  std::string dest = dir_ / "old.imp";
  WriteFile(dest, "the old book");

  WriteFile(folder + "/LONGNAME", "data");
  AutomationError e = ErrorOf([&] { Convert(folder, dest); });
  EXPECT_EQ(e.number(), 5);
  EXPECT_NE(e.description().find("LONGNAME"), std::string::npos);
  EXPECT_EQ(Names(folder).size(), 4u);  // no string resource was made
  fs::remove(folder + "/LONGNAME");

  WriteFile(folder + "/ZERO", "");
  EXPECT_EQ(ErrorOf([&] { Convert(folder, dest); }).number(), 5);
  fs::remove(folder + "/ZERO");

  WriteFile(folder + "/RSRC.INF", std::string(35, 'x'));
  EXPECT_EQ(ErrorOf([&] { Convert(folder, dest); }).number(), 5);
  fs::remove(folder + "/RSRC.INF");
  Book b;
  b.Load(folder);
  EXPECT_EQ(ErrorOf([&] { b.Save(dest); }).number(), 53);

  EXPECT_EQ(ReadFile(dest), "the old book");
  EXPECT_EQ(Names(dir_.path()), (std::set<std::string>{"MYBOOK.RES", "old.imp"}));
}

TEST_F(BookFolderTest, DestinationRules) {
  Info info;
  std::string folder = Folder(info);
  Book b;
  b.Load(folder);

  EXPECT_EQ(ErrorOf([&] { b.Save(dir_ / "missing/out.imp"); }).number(), 76);
  fs::create_directory(dir_ / "adir");
  EXPECT_EQ(ErrorOf([&] { b.Save(dir_ / "adir"); }).number(), 75);
  std::string locked = dir_ / "locked.imp";
  WriteFile(locked, "locked");
  fs::permissions(locked, fs::perms::owner_read | fs::perms::group_read);
  EXPECT_EQ(ErrorOf([&] { b.Save(locked); }).number(), 70);
  EXPECT_EQ(ReadFile(locked), "locked");

  // Replacing: a longer old file leaves no tail, and saving twice leaves one file.
  std::string dest = dir_ / "out.imp";
  WriteFile(dest, std::string(5000, 'z'));
  b.Save(dest);
  std::string first = ReadFile(dest);
  b.Save(dest);
  EXPECT_EQ(ReadFile(dest), first);
  EXPECT_LT(first.size(), 5000u);
  EXPECT_EQ((fs::status(dest).permissions() & fs::perms::owner_write), fs::perms::owner_write);

  // No destination: beside the folder, named after it.
  b.Save();
  EXPECT_EQ(ReadFile(dir_ / "MYBOOK.imp"), first);
  EXPECT_EQ(Names(dir_.path()),
            (std::set<std::string>{"MYBOOK.RES", "adir", "locked.imp", "out.imp", "MYBOOK.imp"}));
}

}  // namespace
}  // namespace vellix
