// Drives the built `vellix` tool as a user would and checks only what the
// tool itself owns: exit codes, error lines, JSON types, the bytes it puts
// on stdout and how it reads its arguments. What the library computes, and
// which inputs fail, is tested against the library.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>

#include "test_util.h"

namespace {

namespace fs = std::filesystem;
using namespace vellix::fixtures;
using Json = nlohmann::ordered_json;

Json JsonOf(const ToolOutcome& r) {
  Json j = Json::parse(r.out, nullptr, /*allow_exceptions=*/false);
  EXPECT_FALSE(j.is_discarded()) << "not JSON:\n" << r.out;
  return j;
}

// The book object of the contract: exactly these keys, in this order, with
// these JSON types (s string, i integer, b boolean).
void ExpectBookShape(const Json& j) {
  static const std::string kShape =
      "Path:s FileName:s Extension:s Title:s Author:s Category:s BookId:s Size:i "
      "Pages:i Encrypted:b SourceId:s SourceType:s ContentFeedId:s IssueNumber:i "
      "IsPeriodical:b ";
  std::string got;
  for (const auto& [k, v] : j.items())
    got += k + ":" + (v.is_string() ? "s" : v.is_number_integer() ? "i" : v.is_boolean() ? "b" : "?") + " ";
  EXPECT_EQ(got, kShape) << j.dump();
}

// A periodical's source data: marker, issue 7, feed id "feed\xE9".
const std::string kRecord = "SRC1:P:" + std::string("\x10\x20\0\0\0\x02\0\0\0\x07", 10) + "feed\xE9" + '\0';

const std::string kNotFound = "vellix: File not found: [^\n]+ \\(53\\)\n";
const std::string kNoPath = "vellix: Path not found: [^\n]+ \\(76\\)\n";

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Info salt{"ID42", "Caf\xE9", "", "Salt & Pepper \x80", "Last", "", "First"};
    dir_.Write("salt.imp", SimpleBookFile(salt, kRecord));
    dir_.Write("ok.imp", U16(2) + "BOOKVREN" + std::string(8, '\0') + U16(1) + U16(8) + U16(0x012C));
    // Categories that differ only in letter case.
    dir_.Write("shelf/a.imp", SimpleBookFile({"A", "Fiction", "", "Zed", "W", "", ""}));
    dir_.Write("shelf/b.imp", SimpleBookFile({"B", "fiction", "", "alpha", "W", "", ""}));
    dir_.Write("shelf/c.imp", SimpleBookFile({"C", "Art", "", "Q", "W", "", ""}));
    dir_.Write("one/a.imp", SimpleBookFile({"1234", "Fic\xE9", "", "T", "W", "", ""}));
    MakeBookFolder(dir_ / "NEW.RES", RsrcInf({"SRC1:B:ID42", "Fiction", "", "Fresh", "W", "", ""}), "fork");
    dir_.Write("n.txt", "one\n\ntwo & three\n");
    dir_.Write("pack/a.htm", "<html/>");
    dir_.Write("pack/book.opf",
               "<package><manifest><item id=\"i1\" href=\"a.htm\" media-type=\"text/x-oeb1-document\"/>"
               "<item id=\"i2\" href=\"../elsewhere.txt\" media-type=\"text/plain\"/></manifest></package>");
  }
  void Run(const std::vector<CliCase>& cases) {
    for (const CliCase& c : cases) ExpectCli(VELLIX_TOOL, dir_.path(), c);
  }
  // A JSON book: its shape, and `key` holding `value` ("@" is the folder).
  std::function<void(const ToolOutcome&)> Book(const std::string& key, const std::string& value) {
    return [=, folder = dir_.path()](const ToolOutcome& r) {
      Json j = JsonOf(r);
      ExpectBookShape(j);
      EXPECT_EQ(j[key], std::regex_replace(value, std::regex("@"), folder));
    };
  }
  // All of stdout matching `pattern` ("@" is the folder).
  std::function<void(const ToolOutcome&)> OutMatches(const std::string& pattern) {
    std::regex re(std::regex_replace(pattern, std::regex("@"), dir_.path()));
    return [=](const ToolOutcome& r) { EXPECT_TRUE(std::regex_match(r.out, re)) << r.out; };
  }
  TempDir dir_;
};

TEST_F(ToolTest, UsageErrorsExitTwo) {
  const std::string any = "(.|\n)*";
  Run({
      {.args = {"--version"}, .check = OutMatches(R"(\d+\.\d+(.|\n)*)")},
      {.args = {}, .code = 2, .err = any},
      {.args = {"book", "frobnicate", "x"}, .code = 2, .err = any},
      {.args = {"book", "info"}, .code = 2, .err = any},
      {.args = {"book", "resource", "@/salt.imp", "RSRC", "many"}, .code = 2, .err = any},
      {.args = {"book", "resource", "@/salt.imp", "RSRC", "40000"}, .code = 2, .err = any},
      {.args = {"shelf", "booklist", "@/one", "-o", "@/x.txt"}, .code = 2, .err = any},
      {.args = {"book", "convert", "@/NEW.RES", ""}, .code = 2, .err = "(.|\n)*DEST(.|\n)*"},
  });
  EXPECT_FALSE(fs::exists(dir_ / "NEW.imp"));
  EXPECT_FALSE(fs::exists(dir_ / "x.txt"));
}

TEST_F(ToolTest, BookCommands) {
  Run({
      // JSON is UTF-8 with the fields as a reader sees them: no markup
      // escaping, no double space where the middle name is missing.
      {.args = {"book", "info", "@/salt.imp", "--json"}, .check = Book("Title", "Salt & Pepper \u20AC")},
      {.args = {"book", "info", "@/salt.imp", "--json"}, .check = Book("Author", "First Last")},
      {.args = {"book", "info", "@/salt.imp"},
       .check =
           OutMatches("(.|\n)*\nTitle: Salt & Pepper \u20AC\nAuthor: First Last\n(.|\n)*\nSize: " +
                      std::to_string(fs::file_size(dir_ / "salt.imp")) + "\nPages: [0-9]+\nEncrypted: false\n(.|\n)*")},
      // A book folder's size is the bytes of its files.
      {.args = {"book", "info", "@/NEW.RES", "--json"},
       .check =
           [this](const ToolOutcome& r) {
             int64_t bytes = 0;
             for (const auto& e : fs::recursive_directory_iterator(dir_ / "NEW.RES"))
               if (e.is_regular_file()) bytes += static_cast<int64_t>(e.file_size());
             EXPECT_GT(bytes, 0);
             EXPECT_EQ(JsonOf(r)["Size"], bytes);
           }},
      // A trailing slash, as shell completion leaves it.
      {.args = {"book", "info", "@/NEW.RES/", "--json"}, .check = Book("Path", "@/NEW.RES")},
      {.args = {"book", "info", "@/missing.imp"}, .code = 1, .err = kNotFound, .out = ""},
      {.args = {"book", "open", "@/salt.imp", "--json"}, .check = Book("SourceId", "SRC1")},
      // Strings come out as the stored bytes: NULs, control bytes, a 0xE9 byte.
      {.args = {"book", "resource", "@/salt.imp", "RSRC", "128"}, .out = kRecord},
      {.args = {"book", "convert", "@/NEW.RES/", "@/out.imp"}, .out = ""},
      {.args = {"book", "convert", "@/NEW.RES", "@/no/such/out.imp"}, .code = 1, .err = kNoPath, .out = ""},
      {.args = {"book", "text2htm", "@/n.txt", "@/n.htm", "--title", "T", "--category", "C"}, .out = ""},
      {.args = {"book", "package", "@/n.htm", "--author", "A"}, .out = "@/n.opf\n"},
      {.args = {"book", "info", "@/n.opf", "--json"},
       .check =
           [](const ToolOutcome& r) {
             Json j = JsonOf(r);  // each option given replaces one field, the others stay
             EXPECT_EQ(j["Title"].dump() + j["Author"].dump() + j["Category"].dump(), "\"T\"\"A\"\"C\"");
           }},
  });
  EXPECT_TRUE(fs::exists(dir_ / "out.imp"));
  EXPECT_FALSE(fs::exists(dir_ / "no"));
}

TEST_F(ToolTest, ShelfCommands) {
  fs::create_directories(dir_ / "new");
  std::string shelf_text = "1\n3:B:1234\tT\tW\tFic\xE9\t" + std::to_string(fs::file_size(dir_ / "one/a.imp")) +
                           "\tx%5Fy/?BOOK%5FID=1234&SOURCE%5FID=3&SOURCE%5FTYPE=B\t1\t17\n\n";
  Run({
      // Letter case never orders categories, whatever the locale.
      {.args = {"shelf", "list", "@/shelf/", "--sorted"}, .out = "Q\nalpha\nZed\n", .locale = "en_US.UTF-8"},
      {.args = {"shelf", "list", "@/shelf", "--sorted"}, .out = "Q\nalpha\nZed\n", .locale = "C"},
      {.args = {"shelf", "list", "@/shelf", "--sorted", "--json"},
       .check =
           [&](const ToolOutcome& r) {
             Json all = JsonOf(r);
             ASSERT_EQ(all.size(), 3u);
             for (const Json& b : all) ExpectBookShape(b);
             EXPECT_EQ(all[2]["Path"], dir_ / "shelf/a.imp");
           }},
      {.args = {"shelf", "find", "@/shelf", "A", "--json"}, .check = Book("Path", "@/shelf/a.imp")},
      {.args = {"shelf", "find", "@/shelf/", "B"}, .check = OutMatches("Path: @/shelf/b\\.imp\n(.|\n)*")},
      {.args = {"shelf", "find", "@/shelf", "nothing"},
       .code = 3,
       .err = "vellix: no book file with identifier nothing\n",
       .out = ""},
      {.args = {"shelf", "infolen", "@/ok.imp"}, .out = "300\n"},
      // The bookshelf text goes out in the code page: one byte for "é".
      {.args = {"shelf", "text", "@/one", "--base-url", "x_y/"}, .out = shelf_text},
      {.args = {"shelf", "booklist", "@/one", "http://h/", "-o", "@/list.txt"}, .out = ""},
      {.args = {"shelf", "export", "@/one", "-o", "@/List.htm"}, .out = ""},
      {.args = {"shelf", "add", "@/new", "@/NEW.RES/"}, .check = OutMatches("@/new/[A-Z]{8}\\.imp\n")},
  });
  EXPECT_NE(ReadFile(dir_ / "list.txt").find("\thttp://h/a.imp\t1\t17\r\n"), std::string::npos);
  EXPECT_EQ(ReadFile(dir_ / "List.htm").rfind("<html>\r\n", 0), 0u);
  EXPECT_TRUE(fs::is_directory(dir_ / "NEW.RES"));
}

TEST_F(ToolTest, OebPackWarnsOnStderrAndNamesThePackage) {
  Run({{.args = {"oeb", "pack", "@/pack/book.opf"},
        .err = "vellix: not packed, outside the package's folder: \\.\\./elsewhere\\.txt\n",
        .out = "@/pack/book.oeb\n"}});
  EXPECT_TRUE(fs::exists(dir_ / "pack/book.oeb"));
}

}  // namespace

// Problems name files by their absolute paths, links as their pages write
// them, and the book's own problems by the project file: never by a path
// cut at the folder the sources share, nor by the default book name.
TEST_F(ToolTest, MessagesNameWhatTheUserWrote) {
  const std::string page =
      "<html><head><title>P</title></head><body><p><a href=\"gone.htm\">a</a> "
      "<a href=\"two.htm#nowhere\">b</a></p></body></html>";
  const std::string one = dir_.Write("parts/a/one.htm", page), two = dir_.Write("parts/b/two.htm", page);
  ToolOutcome built = RunTool(VELLIX_TOOL, {"build", "--html", one, two, "-o", dir_ / "parts/book.imp"});
  ASSERT_EQ(built.code, 0) << built.err;
  EXPECT_NE(built.err.find(one + ":1:"), std::string::npos) << built.err;
  EXPECT_NE(built.err.find("link to \"gone.htm\", a file that does not exist"), std::string::npos) << built.err;
  EXPECT_NE(built.err.find("link to \"two.htm#nowhere\", an anchor that does not exist"), std::string::npos)
      << built.err;
  EXPECT_EQ(built.err.find("a/gone.htm"), std::string::npos) << built.err;

  const std::string project = dir_.Write(
      "periodical/p.opf",
      "<package unique-identifier=\"id\"><metadata><dc-metadata xmlns:dc=\"http://purl.org/dc/elements/1.0/\">"
      "<dc:Identifier id=\"id\">x</dc:Identifier><dc:Title>T</dc:Title></dc-metadata><x-metadata>"
      "<meta name=\"x-IKL-periodical\" content=\"1\"/><meta name=\"x-IKL-currentissue\" content=\"abc\"/>"
      "</x-metadata></metadata><manifest><item id=\"a\" href=\"a.htm\" media-type=\"text/x-oeb1-document\"/>"
      "</manifest><spine><itemref idref=\"a\"/></spine></package>");
  dir_.Write("periodical/a.htm", "<html><head><title>A</title></head><body><p>x</p></body></html>");
  built = RunTool(VELLIX_TOOL, {"build", project});
  ASSERT_EQ(built.code, 0) << built.err;
  EXPECT_EQ(built.err, project +
                           ": warning: the current issue \"abc\" is not a positive number; the book is not "
                           "marked as a periodical\n");
}
