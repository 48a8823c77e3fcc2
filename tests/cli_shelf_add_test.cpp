// `vellix shelf add` of text, documents and packages: the book file it
// prints, the build's problems on stderr, a bar only on a terminal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <set>
#include <thread>

#include "test_util.h"
#include "vellix/book.h"

namespace {

namespace fs = std::filesystem;
using namespace vellix::fixtures;

class ShelfAddTool : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(dir_ / "shelf");
    dir_.Source("notes.txt", "Buy milk.\nCall home.\n");
    dir_.Source("story.htm",
                "<html><head><title>Story</title></head><body>\n<p>Go <a href=\"#nowhere\">there</a>.</p>\n"
                "</body></html>\n");
  }
  // The one book file on the shelf, printed as the tool printed it.
  std::string PrintedBook(const ToolOutcome& r) {
    std::smatch m;
    std::regex printed(dir_ / "shelf/[A-Z]{8}\\.imp\n");
    EXPECT_TRUE(std::regex_match(r.out, m, printed)) << r.out << r.err;
    return r.out.empty() ? "" : r.out.substr(0, r.out.size() - 1);
  }
  TempDir dir_;
};

TEST_F(ShelfAddTool, TextDocumentAndPackageBecomeBooks) {
  ToolOutcome r = RunTool(VELLIX_TOOL, {"shelf", "add", dir_ / "shelf", dir_ / "notes.txt", "--title", "Notes",
                                        "--author", "Ann B. Author", "--category", "Diary"});
  ASSERT_EQ(r.code, 0) << r.err;
  vellix::Book book;
  book.Load(PrintedBook(r));
  EXPECT_EQ(book.Title() + "|" + book.Author() + "|" + book.Category(), "Notes|Ann B. Author|Diary");
  EXPECT_TRUE(fs::exists(dir_ / "notes.htm"));
  EXPECT_TRUE(fs::exists(dir_ / "notes.opf"));

  // Each problem of the build is one line on stderr: FILE:LINE:COL: SEVERITY: MESSAGE.
  fs::remove_all(dir_ / "shelf");
  fs::create_directory(dir_ / "shelf");
  r = RunTool(VELLIX_TOOL, {"shelf", "add", dir_ / "shelf", dir_ / "story.htm", "--title", "Typed"});
  ASSERT_EQ(r.code, 0) << r.err;
  book.Load(PrintedBook(r));
  EXPECT_EQ(book.Title(), "Typed");
  EXPECT_TRUE(std::regex_search(r.err, std::regex("(^|\n)story\\.htm:[0-9]+:[0-9]+: (warning|error): [^\n]+\n")))
      << r.err;

  // The package made beside the document goes on the shelf as well.
  fs::remove_all(dir_ / "shelf");
  fs::create_directory(dir_ / "shelf");
  r = RunTool(VELLIX_TOOL, {"shelf", "add", dir_ / "shelf", dir_ / "story.opf", "--category", "Tales"});
  ASSERT_EQ(r.code, 0) << r.err;
  book.Load(PrintedBook(r));
  EXPECT_EQ(book.Title() + "|" + book.Category(), "Typed|Tales");
}

TEST_F(ShelfAddTool, AFileOfUnknownKindIsRefused) {
  for (const char* name : {"notes.rtf", "noextension"}) {
    ToolOutcome r = RunTool(VELLIX_TOOL, {"shelf", "add", dir_ / "shelf", dir_.Source(name, "text")});
    EXPECT_EQ(r.code, 1) << name;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("not a kind of file the shelf can add"), std::string::npos) << r.err;
  }
  EXPECT_TRUE(Names(dir_ / "shelf").empty());
}

TEST_F(ShelfAddTool, FailedBuildExitsOneAndLeavesTheShelfEmpty) {
  ASSERT_EQ(RunTool(VELLIX_TOOL, {"shelf", "add", dir_ / "shelf", dir_ / "story.htm"}).code, 0);
  fs::remove_all(dir_ / "shelf");
  fs::create_directory(dir_ / "shelf");
  // The package's page is now a folder: nothing the engine can read.
  fs::remove(dir_ / "story.htm");
  fs::create_directory(dir_ / "story.htm");
  ToolOutcome r = RunTool(VELLIX_TOOL, {"shelf", "add", dir_ / "shelf", dir_ / "story.opf"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(std::regex_search(r.err, std::regex("story\\.htm:-?[0-9]+:-?[0-9]+: error: "))) << r.err;
  EXPECT_TRUE(std::regex_search(r.err, std::regex("\nvellix: [^\n]*story\\.htm[^\n]*\\(-2147467259\\)\n$"))) << r.err;
  EXPECT_TRUE(fs::is_empty(dir_ / "shelf"));
}

TEST_F(ShelfAddTool, BarOnlyOnATerminal) {
  ToolOutcome piped = RunTool(VELLIX_TOOL, {"shelf", "add", dir_ / "shelf", dir_ / "notes.txt"});
  ASSERT_EQ(piped.code, 0) << piped.err;
  EXPECT_EQ(piped.out.find("Building"), std::string::npos);
  if (::access("/usr/bin/script", X_OK) != 0) GTEST_SKIP() << "no script(1) to give the tool a terminal";
  ToolOutcome tty = RunTool(
      "/usr/bin/script",
      {"-qec", std::string(VELLIX_TOOL) + " shelf add " + dir_ / "shelf" + " " + dir_ / "notes.txt", "/dev/null"});
  ASSERT_EQ(tty.code, 0) << tty.err;
  EXPECT_NE(tty.out.find("Building ["), std::string::npos) << tty.out;
  EXPECT_TRUE(std::regex_search(tty.out, std::regex("\r\033\\[K[^\n]*shelf/[A-Z]{8}\\.imp\r?\n$"))) << tty.out;
}

TEST_F(ShelfAddTool, ManyPathsInOneCallWithAListAndTheCounts) {
  dir_.Source("more.txt", "More text.\n");
  dir_.Source("photo.jpg", "not a book");
  std::string list = dir_.Source("list.txt", dir_ / "more.txt" + "\n\n" + dir_ / "photo.jpg" + "\r\n");
  ToolOutcome r =
      RunTool(VELLIX_TOOL, {"shelf", "add", dir_ / "shelf", dir_ / "notes.txt", dir_ / "story.htm",
                            dir_ / "missing.txt", "--from-list", list, "--jobs", "2", "--category", "Batch"});
  EXPECT_EQ(r.code, 1) << r.err;
  std::smatch m;
  EXPECT_TRUE(std::regex_match(r.out, m, std::regex("(" + dir_ / "shelf/[A-Z]{8}\\.imp\n){3}3 added, 2 failed\n")))
      << r.out;
  EXPECT_NE(r.err.find("vellix: " + dir_ / "missing.txt" + ": File not found (53)\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("vellix: " + dir_ / "photo.jpg" +
                       ": Invalid procedure call or argument: not a kind of file the shelf can add"),
            std::string::npos)
      << r.err;
  size_t books = 0;
  for (const auto& entry : fs::directory_iterator(dir_ / "shelf")) {
    vellix::Book book;
    book.Load(entry.path().string());
    EXPECT_EQ(book.Category(), "Batch");
    ++books;
  }
  EXPECT_EQ(books, 3u);

  // All added: exit 0; a list alone is enough.
  r = RunTool(VELLIX_TOOL, {"shelf", "add", dir_ / "shelf", "--from-list", dir_.Source("one.txt", dir_ / "notes.txt")});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("\n1 added, 0 failed\n"), std::string::npos) << r.out;
  EXPECT_EQ(RunTool(VELLIX_TOOL, {"shelf", "add", dir_ / "shelf"}).code, 2);
}

// Eight processes adding fifty books each to one shelf at once: every name
// is taken by one book only.
TEST(ShelfAddConcurrently, EightProcessesFourHundredDistinctBooks) {
  TempDir dir;
  fs::create_directory(dir / "shelf");
  std::vector<std::thread> processes;
  std::vector<ToolOutcome> outcomes(8);
  for (int p = 0; p < 8; ++p) {
    std::vector<std::string> args{"shelf", "add", dir / "shelf", "--jobs", "1"};
    for (int b = 0; b < 50; ++b) {
      std::string name = std::to_string(p) + "/b" + std::to_string(b) + ".htm";
      args.push_back(dir.Write(name, "<html><head><title>Book " + name + "</title></head><body><p>Text of " + name +
                                         ".</p></body></html>\n"));
    }
    processes.emplace_back([&outcomes, p, args] { outcomes[p] = RunTool(VELLIX_TOOL, args); });
  }
  for (std::thread& process : processes) process.join();
  for (const ToolOutcome& r : outcomes) {
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("50 added, 0 failed"), std::string::npos) << r.out;
  }
  std::set<std::string> titles;
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(dir / "shelf")) {
    ++files;
    vellix::Book book;
    book.Load(entry.path().string());
    titles.insert(book.Title());
  }
  EXPECT_EQ(files, 400u);
  EXPECT_EQ(titles.size(), 400u);
}

}  // namespace
