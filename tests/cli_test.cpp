// Drives the built `vellix` tool as a user would: real arguments, real
// files in a fresh folder, and only what the tool prints and returns.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "book_maker.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;
using namespace vellix::fixtures;
using Json = nlohmann::ordered_json;
using Args = std::vector<std::string>;
using Commands = std::vector<Args>;

using Outcome = ToolOutcome;

Outcome Vellix(const Args& args, const std::string& locale = "") {
  return RunTool(VELLIX_TOOL, args, locale);
}

Json ParseJson(const Outcome& r) {
  EXPECT_EQ(r.code, 0) << r.err;
  Json j = Json::parse(r.out, nullptr, /*allow_exceptions=*/false);
  EXPECT_FALSE(j.is_discarded()) << "not JSON:\n" << r.out;
  return j;
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The book object of the contract: exactly these keys, in this order, with
// these JSON types (s string, i integer, b boolean).
void ExpectBookShape(const Json& j) {
  static const std::vector<std::pair<std::string, char>> kKeys = {
      {"Path", 's'},          {"FileName", 's'},    {"Extension", 's'},   {"Title", 's'},
      {"Author", 's'},        {"Category", 's'},    {"BookId", 's'},      {"Size", 'i'},
      {"Pages", 'i'},         {"Encrypted", 'b'},   {"SourceId", 's'},    {"SourceType", 's'},
      {"ContentFeedId", 's'}, {"IssueNumber", 'i'}, {"IsPeriodical", 'b'}};
  ASSERT_TRUE(j.is_object()) << j.dump();
  std::vector<std::pair<std::string, char>> got;
  for (const auto& [k, v] : j.items()) {
    char type = v.is_string() ? 's' : v.is_number_integer() ? 'i' : v.is_boolean() ? 'b' : '?';
    got.emplace_back(k, type);
  }
  EXPECT_EQ(got, kKeys) << j.dump();
}

Info MakeInfo(const std::string& id, const std::string& category, const std::string& title) {
  Info info;
  info.id = id;
  info.category = category;
  info.title = title;
  return info;
}

// 0x10 0x20 then marker, issue 7 and feed id "feed9": a periodical's data.
const std::string kPeriodicalData =
    std::string("\x10\x20\0\0\0\x02\0\0\0\x07", 10) + "feed9" + std::string(1, '\0');

TEST(ToolTest, VersionHelpAndUsageErrors) {
  Outcome version = Vellix({"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_TRUE(std::regex_search(version.out, std::regex(R"(\d+\.\d+)"))) << version.out;

  Outcome help = Vellix({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("book"), std::string::npos);
  EXPECT_NE(help.out.find("shelf"), std::string::npos);
  for (const Args& cmd : Commands{
           {"book", "info", "--help"}, {"book", "convert", "--help"}, {"shelf", "find", "--help"}})
    EXPECT_EQ(Vellix(cmd).code, 0) << cmd[1];

  EXPECT_EQ(Vellix({}).code, 2);
  EXPECT_EQ(Vellix({"book", "frobnicate", "x"}).code, 2);
  EXPECT_EQ(Vellix({"book", "info"}).code, 2);
  EXPECT_EQ(Vellix({"book", "resource", "x.imp", "RSRC", "many"}).code, 2);
}

TEST(BookTest, InfoDecodesAndEscapesDeviceFields) {
  TempDir dir;
  Info info = MakeInfo("ID42", "Caf\xE9", "Salt & Pepper \x80");
  info.author_last = "Last";
  info.author_middle = "";
  info.author_first = "First";
  const std::string bytes = SimpleBookFile(info);
  WriteFile(dir / "salt.imp", bytes);

  Json j = ParseJson(Vellix({"book", "info", dir / "salt.imp", "--json"}));
  ExpectBookShape(j);
  EXPECT_EQ(j["Title"], "Salt &amp; Pepper \xE2\x82\xAC");
  EXPECT_EQ(j["Category"], "Caf\xC3\xA9");
  EXPECT_EQ(j["Author"], "First  Last");
  EXPECT_EQ(j["BookId"], "ID42");
  EXPECT_EQ(j["FileName"], "salt.imp");
  EXPECT_EQ(j["Extension"], "imp");
  EXPECT_EQ(j["Size"], bytes.size());
  EXPECT_EQ(j["IsPeriodical"], false);

  Outcome text = Vellix({"book", "info", dir / "salt.imp"});
  EXPECT_EQ(text.code, 0) << text.err;
  EXPECT_NE(text.out.find("Title: Salt &amp; Pepper \xE2\x82\xAC\n"), std::string::npos)
      << text.out;

  // A book folder named with a trailing slash, as shell completion leaves it.
  MakeBookFolder(dir / "SOME.RES", RsrcInf(MakeInfo("SRC1:B:ID42", "Fiction", "Folder")), "fork");
  Json f = ParseJson(Vellix({"book", "info", dir / "SOME.RES/", "--json"}));
  ExpectBookShape(f);
  EXPECT_EQ(f["Extension"], "res");
  EXPECT_EQ(f["Title"], "Folder");
  EXPECT_EQ(f["BookId"], "SRC1:B:ID42");
}

TEST(BookTest, OpenAndResourceReadTheSourceRecord) {
  TempDir dir;
  const std::string record = "SRC1:P:" + kPeriodicalData;
  WriteFile(dir / "p.imp", SimpleBookFile(Info(), record));
  WriteFile(dir / "plain.imp", SimpleBookFile(Info()));

  Json p = ParseJson(Vellix({"book", "open", dir / "p.imp", "--json"}));
  ExpectBookShape(p);
  EXPECT_EQ(p["Path"], dir / "p.imp");
  EXPECT_EQ(p["SourceId"], "SRC1");
  EXPECT_EQ(p["SourceType"], "P");
  EXPECT_EQ(p["IssueNumber"], 7);
  EXPECT_EQ(p["ContentFeedId"], "feed9");
  EXPECT_EQ(p["IsPeriodical"], true);

  Json plain = ParseJson(Vellix({"book", "open", dir / "plain.imp", "--json"}));
  EXPECT_EQ(plain["SourceId"], "3");
  EXPECT_EQ(plain["SourceType"], "B");
  EXPECT_EQ(plain["IssueNumber"], -1);
  EXPECT_EQ(plain["ContentFeedId"], "");
  EXPECT_EQ(plain["IsPeriodical"], false);

  // The string comes out as the stored bytes, NULs and control bytes included.
  Outcome res = Vellix({"book", "resource", dir / "p.imp", "RSRC", "128"});
  EXPECT_EQ(res.code, 0) << res.err;
  EXPECT_EQ(res.out, record);

  // One 0xE9 byte is one 0xE9 byte on stdout, not its UTF-8 form.
  std::vector<Entry> entries = {{"    ", "    ", "fork"},
                                {"STRS", "RSRC", StringResource("caf\xE9", 200)}};
  WriteFile(dir / "e.imp", BookFile(CarriedBytes() + Info().Strings(), "E.RES", entries));
  Outcome e = Vellix({"book", "resource", dir / "e.imp", "RSRC", "200"});
  EXPECT_EQ(e.code, 0) << e.err;
  EXPECT_EQ(e.out, "caf\xE9");
  Outcome none = Vellix({"book", "resource", dir / "e.imp", "RSRC", "128"});
  EXPECT_EQ(none.code, 0) << none.err;
  EXPECT_EQ(none.out, "");
}

TEST(BookTest, ConvertWritesABookFileThatReadsBack) {
  TempDir dir;
  Info info = MakeInfo("SRC1:P:ID42", "Hist\xF6ria", "Caf\xE9 & Co");
  MakeBookFolder(dir / "CAFE.RES", RsrcInf(info, kPeriodicalData), "the data fork",
                 {{"PIC1", Resource(1, "PICT", "\x12\x34")}});
  const std::string dest = dir / "out.imp";
  Outcome conv = Vellix({"book", "convert", dir / "CAFE.RES/", dest});
  ASSERT_EQ(conv.code, 0) << conv.err;

  Json folder = ParseJson(Vellix({"book", "info", dir / "CAFE.RES", "--json"}));
  Json file = ParseJson(Vellix({"book", "info", dest, "--json"}));
  for (const char* key : {"Title", "Author", "Category"}) EXPECT_EQ(file[key], folder[key]) << key;
  EXPECT_EQ(file["Title"], "Caf\xC3\xA9 &amp; Co");
  EXPECT_EQ(file["BookId"], "ID42");
  EXPECT_EQ(file["Size"], fs::file_size(dest));

  Outcome rec = Vellix({"book", "resource", dest, "RSRC", "128"});
  EXPECT_EQ(rec.code, 0) << rec.err;
  EXPECT_EQ(rec.out, "SRC1:P:" + kPeriodicalData);
  Json opened = ParseJson(Vellix({"book", "open", dest, "--json"}));
  EXPECT_EQ(opened["SourceId"], "SRC1");
  EXPECT_EQ(opened["IssueNumber"], 7);
  EXPECT_EQ(opened["IsPeriodical"], true);
}

TEST(BookTest, FailedConvertWritesNothingAndKeepsTheOldFile) {
  TempDir dir;
  MakeBookFolder(dir / "GOOD.RES", RsrcInf(Info()), "fork");
  Outcome missing = Vellix({"book", "convert", dir / "GOOD.RES", dir / "no/such/out.imp"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_TRUE(EndsWith(missing.err, ")\n")) << missing.err;
  EXPECT_FALSE(fs::exists(dir / "no"));

  // A resource file name that is not four characters refuses the save.
  MakeBookFolder(dir / "BAD.RES", RsrcInf(Info()), "fork", {{"TOOLONG", Resource(1, "PICT", "x")}});
  const std::string old = SimpleBookFile(MakeInfo("OLD", "Old", "Old one"));
  WriteFile(dir / "out.imp", old);
  Outcome bad = Vellix({"book", "convert", dir / "BAD.RES", dir / "out.imp"});
  EXPECT_EQ(bad.code, 1);
  EXPECT_TRUE(EndsWith(bad.err, "(5)\n")) << bad.err;
  EXPECT_EQ(ReadFile(dir / "out.imp"), old);
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path()))
    names.insert(e.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"GOOD.RES", "BAD.RES", "out.imp"}));

  // Not a book folder at all.
  EXPECT_EQ(Vellix({"book", "convert", dir / "out.imp", dir / "x.imp"}).code, 1);
  EXPECT_EQ(Vellix({"book", "convert", dir / "NONE.RES", dir / "x.imp"}).code, 1);
  EXPECT_FALSE(fs::exists(dir / "x.imp"));
}

TEST(ErrorTest, MissingAndDamagedFiles) {
  TempDir dir;
  const std::string missing = dir / "missing.imp";
  for (const Args& cmd : Commands{{"book", "open", missing},
                                  {"book", "resource", missing, "RSRC", "128"},
                                  {"shelf", "infolen", missing},
                                  {"shelf", "add", dir.path(), missing}}) {
    Outcome r = Vellix(cmd);
    EXPECT_EQ(r.code, 1) << cmd[0] << " " << cmd[1];
    EXPECT_EQ(r.err, "vellix: File not found: " + missing + " (53)\n") << cmd[0] << " " << cmd[1];
    EXPECT_EQ(r.out, "") << cmd[0] << " " << cmd[1];
  }
  // Cut inside the information strings: no NUL ends the identifier.
  WriteFile(dir / "cut.imp", SimpleBookFile(Info()).substr(0, 50));
  for (const Args& cmd : Commands{{"book", "info", dir / "cut.imp"},
                                  {"book", "resource", dir / "cut.imp", "RSRC", "128"}}) {
    Outcome r = Vellix(cmd);
    EXPECT_EQ(r.code, 1) << cmd[1];
    EXPECT_TRUE(EndsWith(r.err, "(5)\n")) << cmd[1] << ": " << r.err;
  }

  const std::string no_shelf = dir / "no-shelf";
  for (const Args& cmd : Commands{{"shelf", "list", no_shelf},
                                  {"shelf", "find", no_shelf, "ID42"},
                                  {"shelf", "add", no_shelf, dir / "missing.imp"}}) {
    Outcome r = Vellix(cmd);
    EXPECT_EQ(r.code, 1) << cmd[1];
    EXPECT_TRUE(r.err.rfind("vellix: ", 0) == 0) << cmd[1] << ": " << r.err;
  }
}

// A user who mistypes a path expects an error, not a blank book (as
// `shelf add` already reports it).
TEST(ErrorTest, BookInfoOfMissingPathFails) {
  TempDir dir;
  Outcome info = Vellix({"book", "info", dir / "missing.imp"});
  EXPECT_EQ(info.code, 1) << "book info of a missing file printed:\n" << info.out;
  EXPECT_EQ(info.err, "vellix: File not found: " + dir / "missing.imp" + " (53)\n");
}

// Categories that differ only in letter case, and one that sorts first.
void MakeCaseShelf(const TempDir& dir) {
  WriteFile(dir / "a.imp", SimpleBookFile(MakeInfo("A", "Fiction", "Zed")));
  WriteFile(dir / "b.imp", SimpleBookFile(MakeInfo("B", "fiction", "alpha")));
  WriteFile(dir / "c.imp", SimpleBookFile(MakeInfo("C", "Art", "Q")));
}

TEST(ShelfTest, ListInCollectionAndSortedOrder) {
  TempDir dir;
  MakeCaseShelf(dir);
  WriteFile(dir / "notes.htm", "<html></html>");

  Outcome plain = Vellix({"shelf", "list", dir.path()});
  ASSERT_EQ(plain.code, 0) << plain.err;
  std::multiset<std::string> lines;
  std::istringstream in(plain.out);
  for (std::string line; std::getline(in, line);) lines.insert(line);
  EXPECT_EQ(lines, (std::multiset<std::string>{"Zed", "alpha", "Q"}));

  Outcome sorted = Vellix({"shelf", "list", dir.path() + "/", "--sorted"}, "en_US.UTF-8");
  EXPECT_EQ(sorted.code, 0) << sorted.err;
  EXPECT_EQ(sorted.out, "Q\nalpha\nZed\n");

  Json all = ParseJson(Vellix({"shelf", "list", dir.path(), "--sorted", "--json"}, "en_US.UTF-8"));
  ASSERT_TRUE(all.is_array());
  ASSERT_EQ(all.size(), 3u);
  for (const Json& b : all) ExpectBookShape(b);
  EXPECT_EQ(all[0]["Category"], "Art");
  EXPECT_EQ(all[1]["Category"], "fiction");
  EXPECT_EQ(all[2]["Category"], "Fiction");
  EXPECT_EQ(all[2]["Path"], dir / "a.imp");
}

// Letter case never orders categories, whatever the locale; the plain C
// locale is what scripts and build machines usually run under.
TEST(ShelfTest, SortedIgnoresCaseInTheCLocale) {
  TempDir dir;
  MakeCaseShelf(dir);
  for (const char* locale : {"C", "C.UTF-8", "POSIX"}) {
    Outcome sorted = Vellix({"shelf", "list", dir.path(), "--sorted"}, locale);
    EXPECT_EQ(sorted.code, 0) << sorted.err;
    EXPECT_EQ(sorted.out, "Q\nalpha\nZed\n") << "LC_ALL=" << locale;
  }
}

TEST(ShelfTest, FindSeesOnlyLowerCaseImpFiles) {
  TempDir dir;
  WriteFile(dir / "p.imp",
            SimpleBookFile(MakeInfo("ID42", "News", "Daily"), "SRC1:P:" + kPeriodicalData));
  WriteFile(dir / "X.IMP", SimpleBookFile(MakeInfo("UPPER", "Loud", "Upper Case")));

  Json found = ParseJson(Vellix({"shelf", "find", dir.path(), "ID42", "--json"}));
  ExpectBookShape(found);
  EXPECT_EQ(found["Path"], dir / "p.imp");
  EXPECT_EQ(found["SourceId"], "SRC1");
  EXPECT_EQ(found["SourceType"], "P");
  EXPECT_EQ(found["IssueNumber"], 7);
  EXPECT_EQ(found["ContentFeedId"], "feed9");
  EXPECT_EQ(found["IsPeriodical"], true);

  Outcome text = Vellix({"shelf", "find", dir.path() + "/", "ID42"});
  EXPECT_EQ(text.code, 0) << text.err;
  EXPECT_NE(text.out.find("ContentFeedId: feed9\n"), std::string::npos) << text.out;

  for (const char* id : {"UPPER", "id42", "ID4", "nothing"}) {
    Outcome r = Vellix({"shelf", "find", dir.path(), id});
    EXPECT_EQ(r.code, 3) << id;
    EXPECT_EQ(r.out, "") << id;
  }
  Outcome list = Vellix({"shelf", "list", dir.path(), "--sorted"});
  EXPECT_EQ(list.code, 0) << list.err;
  EXPECT_EQ(list.out, "Upper Case\nDaily\n");
}

TEST(ShelfTest, InfolenReadsBytes22And23) {
  TempDir dir;
  std::string header = U16(2) + "BOOKVREN" + std::string(8, '\0') + U16(1) + U16(8);
  WriteFile(dir / "ok.imp", header + U16(0x012C) + std::string(300, 'x'));
  WriteFile(dir / "big.imp", header + U16(0x8000) + std::string(40, 'x'));
  WriteFile(dir / "short.imp", header);

  Outcome ok = Vellix({"shelf", "infolen", dir / "ok.imp"});
  EXPECT_EQ(ok.code, 0) << ok.err;
  EXPECT_EQ(ok.out, "300\n");
  Outcome big = Vellix({"shelf", "infolen", dir / "big.imp"});
  EXPECT_EQ(big.code, 1);
  EXPECT_TRUE(EndsWith(big.err, "(6)\n")) << big.err;
  EXPECT_EQ(big.out, "");
  EXPECT_EQ(Vellix({"shelf", "infolen", dir / "short.imp"}).code, 1);
}

TEST(ShelfTest, AddBookFolderWritesANewBookFileEachTime) {
  TempDir shelf, work;
  MakeBookFolder(work / "NEW.RES", RsrcInf(MakeInfo("SRC1:B:ID42", "Fiction", "Fresh")), "fork");
  const std::regex name_pattern("[A-Z]{8}\\.imp");

  std::vector<std::string> written;
  for (int i = 0; i < 2; ++i) {
    Outcome r = Vellix({"shelf", "add", shelf.path(), work / "NEW.RES/"});
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_TRUE(EndsWith(r.out, "\n")) << r.out;
    fs::path p = r.out.substr(0, r.out.size() - 1);
    EXPECT_TRUE(std::regex_match(p.filename().string(), name_pattern)) << p;
    EXPECT_TRUE(fs::equivalent(p.parent_path(), shelf.path())) << p;
    ASSERT_TRUE(fs::is_regular_file(p)) << p;
    written.push_back(p.string());
  }
  EXPECT_NE(written[0], written[1]);

  Json b = ParseJson(Vellix({"book", "info", written[1], "--json"}));
  EXPECT_EQ(b["Title"], "Fresh");
  EXPECT_EQ(b["BookId"], "ID42");
  Outcome list = Vellix({"shelf", "list", shelf.path()});
  EXPECT_EQ(list.out, "Fresh\nFresh\n");
  // The folder itself is left where it was.
  EXPECT_TRUE(fs::is_directory(work / "NEW.RES"));
}

}  // namespace

namespace {

TEST(ExportTest, TextBooklistAndExportCommands) {
  TempDir dir;
  fs::create_directory(dir / "shelf");
  Info info;
  info.id = "1234";
  info.category = "Fic\xE9";
  WriteFile(dir / "shelf/a.imp", SimpleBookFile(info));
  std::string size = std::to_string(fs::file_size(dir / "shelf/a.imp"));

  Outcome text = Vellix({"shelf", "text", dir / "shelf", "--base-url", "x_y/"});
  EXPECT_EQ(text.code, 0) << text.err;
  EXPECT_EQ(text.out, "1\n3:B:1234\tA Title\tSome  Writer\tFic\xE9\t" + size +
                          "\tx%5Fy/?BOOK%5FID=1234&SOURCE%5FID=3&SOURCE%5FTYPE=B\t1\t17\n\n");
  EXPECT_EQ(Vellix({"shelf", "text", dir / "missing"}).code, 1);

  Outcome list = Vellix({"shelf", "booklist", dir / "shelf", "http://h/", "-o", dir / "list.txt"});
  EXPECT_EQ(list.code, 0) << list.err;
  EXPECT_EQ(ReadFile(dir / "list.txt"),
            "None:1234\tA Title\tSome  Writer\tFic\xE9\t" + size + "\thttp://h/a.imp\t1\t17\r\n");

  Outcome exported = Vellix({"shelf", "export", dir / "shelf", "-o", dir / "List.htm"});
  EXPECT_EQ(exported.code, 0) << exported.err;
  std::string doc = ReadFile(dir / "List.htm");
  EXPECT_EQ(doc.rfind("<html>\r\n<head><title>List</title>\r\n", 0), 0u);
  EXPECT_NE(doc.find("<p>Fic\xE9</p>"), std::string::npos);
  EXPECT_TRUE(EndsWith(doc, "</div>\r\n</body>\r\n</html>\r\n"));

  Outcome failed = Vellix({"shelf", "export", dir / "shelf", "-o", dir / "no/List.htm"});
  EXPECT_EQ(failed.code, 1);
  EXPECT_EQ(failed.err, "vellix: Path not found: " + dir / "no/List.htm" + " (76)\n");
  EXPECT_EQ(Vellix({"shelf", "booklist", dir / "shelf", "-o", dir / "x.txt"}).code, 2);
}

}  // namespace

namespace {

TEST(DocumentTest, Text2htmAndPackage) {
  TempDir dir;
  WriteFile(dir / "n.txt", "one\n\ntwo & three\n");
  Outcome r = Vellix({"book", "text2htm", dir / "n.txt", dir / "n.htm", "--title", "T", "--author", "A",
                      "--category", "C"});
  ASSERT_EQ(r.code, 0) << r.err;
  std::string doc = ReadFile(dir / "n.htm");
  EXPECT_NE(doc.find("<title>T</title>\r\n<meta name=\"author\" content=\"A\"/>"), std::string::npos);
  EXPECT_TRUE(EndsWith(doc, "one\r\n</p><p>\r\ntwo &amp; three\r\n</p>\r\n</body>\r\n</html>"));
  Json info = ParseJson(Vellix({"book", "info", dir / "n.htm", "--json"}));
  EXPECT_EQ(info["Title"], "T");
  EXPECT_EQ(info["Category"], "C");
  EXPECT_EQ(Vellix({"book", "text2htm", dir / "missing.txt", dir / "m.htm"}).err,
            "vellix: File not found: " + dir / "missing.txt" + " (53)\n");

  Outcome p = Vellix({"book", "package", dir / "n.htm"});
  ASSERT_EQ(p.code, 0) << p.err;
  EXPECT_EQ(p.out, dir / "n.opf" + "\n");
  Json opf = ParseJson(Vellix({"book", "info", dir / "n.opf", "--json"}));
  EXPECT_EQ(opf["Extension"], "opf");
  EXPECT_EQ(opf["Title"], "T");
  EXPECT_EQ(opf["Author"], "A");
  EXPECT_EQ(opf["Category"], "C");
}

}  // namespace

namespace {

TEST(ContainerTest, PackWritesBesideThePackage) {
  TempDir dir;
  WriteFile(dir / "a.htm", "<html/>");
  WriteFile(dir / "book.opf",
            "<package><manifest><item id=\"i1\" href=\"a.htm\" media-type=\"text/x-oeb1-document\"/>"
            "<item id=\"i2\" href=\"../elsewhere.txt\" media-type=\"text/plain\"/></manifest></package>");
  Outcome r = Vellix({"oeb", "pack", dir / "book.opf"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, dir / "book.oeb" + "\n");
  EXPECT_EQ(r.err, "vellix: not packed, outside the package's folder: ../elsewhere.txt\n");
  Json check = ParseJson(Vellix({"oeb", "check", dir / "book.oeb", "--json"}));
  EXPECT_EQ(check["failed"], false);
  EXPECT_EQ(check["parts"].size(), 3u);
  EXPECT_EQ(check["parts"][2]["body_end"].get<int64_t>(), check["parts"][2]["body_start"].get<int64_t>() + 1);
  EXPECT_EQ(Vellix({"oeb", "pack", dir / "missing/book.opf"}).err,
            "vellix: Path not found: " + dir / "missing/book.oeb" + " (76)\n");
}

}  // namespace
