// `vellix shelf add` of text, documents and packages: the book file it
// prints, the build's problems on stderr, a bar only on a terminal.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <set>
#include <thread>

#include "epub_maker.h"
#include "ikutil/device_edition.h"
#include "test_util.h"
#include "vellix/book.h"
#include "vellix/bookshelf.h"

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
  EXPECT_TRUE(std::regex_search(r.err, std::regex("story\\.htm(:[0-9]+:[0-9]+)?: error: "))) << r.err;
  // The last line says why, naming the file, without the classic error text.
  EXPECT_TRUE(std::regex_search(r.err, std::regex("\nvellix: [^\n]*story\\.htm: [^\n]+\n$"))) << r.err;
  for (const char* opaque : {"Application-defined", "-2147467259"})
    EXPECT_EQ(r.err.find(opaque), std::string::npos) << r.err;
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
  EXPECT_NE(r.err.find("vellix: " + dir_ / "photo.jpg" + ": not a kind of file the shelf can add"), std::string::npos)
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
  // What a document brings with it is said where the command is explained.
  EXPECT_NE(RunTool(VELLIX_TOOL, {"shelf", "add", "--help"}).out.find("one level deep"), std::string::npos);
}

// Links and images are followed only into the document's own folder tree:
// an absolute path or a "../" naming a file beside it stays out of the book.
TEST_F(ShelfAddTool, OnlyFilesInTheDocumentsFolderTreeGoIntoTheBook) {
  fs::create_directories(dir_ / "doc/part");
  const std::string secret = dir_.Write("secret.htm", "<html><body><p>PRIVATE-WORDS</p></body></html>");
  dir_.Write("doc/part/two.htm", "<html><body><p>Chapter two.</p></body></html>");
  const std::string links = "<a href=\"" + secret + "\">a</a> <a href=\"../secret.htm\">b</a> <img src=\"" + secret +
                            "\"/> <img alt=\"no source\"/> <a href=\"part/two.htm\">two</a>";
  const std::string page =
      dir_.Write("doc/page.htm", "<html><head><title>P</title></head><body><p>" + links + "</p></body></html>");
  const std::string notes = dir_.Write("doc/notes.md", "# Notes\n\n[x](" + secret + ") [y](../secret.htm)\n");
  for (const std::string& source : {page, notes}) {
    fs::remove_all(dir_ / "shelf");
    fs::create_directory(dir_ / "shelf");
    ToolOutcome r = RunTool(VELLIX_TOOL, {"shelf", "add", dir_ / "shelf", source});
    ASSERT_EQ(r.code, 0) << source << r.err;
    ToolOutcome text = RunTool(VELLIX_TOOL, {"view", PrintedBook(r), "--text"});
    EXPECT_EQ(text.out.find("PRIVATE-WORDS"), std::string::npos) << text.out;
    if (source == page) {
      EXPECT_NE(text.out.find("Chapter two."), std::string::npos) << text.out;
    }
  }
}

// Documents past what one book holds: a title of a whole page is cut at a
// character, contents nested deeper than the device's six levels stand at
// the sixth, and more linked pages than a book has room for are refused
// with the reason.
TEST_F(ShelfAddTool, DocumentsPastABooksLimits) {
  std::string title;
  for (int i = 0; i < 33000; ++i) title += "\xC3\xA9";  // "é", one byte in a book
  const std::string long_title =
      dir_.Write("long.htm", "<html><head><title>" + title + "</title></head><body><p>Text.</p></body></html>\n");
  std::string nav, chapter;
  for (int level = 7; level >= 1; --level) {
    const std::string n = std::to_string(level);
    nav = "<ol><li><a href=\"c.xhtml#h" + n + "\">Level " + n + "</a>" + nav + "</li></ol>";
    chapter = "<h1 id=\"h" + n + "\">Level " + n + "</h1><p>Text " + n + ".</p>" + chapter;
  }
  std::vector<ZipEntry> entries =
      MinimalEpub(chapter, {{"OEBPS/nav.xhtml",
                             "<?xml version=\"1.0\"?><html xmlns=\"http://www.w3.org/1999/xhtml\" "
                             "xmlns:epub=\"http://www.idpf.org/2007/ops\"><head><title>n</title>"
                             "</head><body><nav epub:type=\"toc\">" +
                                 nav + "</nav></body></html>"}});
  const std::string nav_item =
      "<item id=\"n\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" properties=\"nav\"/>";
  entries[2].bytes.insert(entries[2].bytes.find("</manifest>"), nav_item);
  const std::string deep = dir_ / "deep.epub";
  WriteZip(deep, entries);

  for (const std::string& source : {long_title, deep}) {
    ToolOutcome r = RunTool(VELLIX_TOOL, {"shelf", "add", dir_ / "shelf", source});
    EXPECT_EQ(r.code, 0) << source << r.err;
    if (r.code != 0) continue;
    vellix::Book book;
    book.Load(PrintedBook(r));
    if (source == long_title) {
      EXPECT_EQ(book.Title(), title.substr(0, 8192));
    }
    fs::remove(PrintedBook(r));
  }

  std::string links;
  for (int i = 0; i < 13929; ++i) {
    const std::string page = "p" + std::to_string(i) + ".htm";
    dir_.Write("many/" + page, "<html><body><p>x</p></body></html>");
    links += "<a href=\"" + page + "\">x</a>";
  }
  const std::string many =
      dir_.Write("many/index.htm", "<html><head><title>Many</title></head><body><p>" + links + "</p></body></html>\n");
  ToolOutcome r = RunTool(VELLIX_TOOL, {"shelf", "add", dir_ / "shelf", many});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("names more pictures and linked pages than one book can hold (13928)"), std::string::npos)
      << r.err;
  EXPECT_TRUE(Names(dir_ / "shelf").empty());
}

// A batch add killed part way leaves its reserved names (empty book files)
// and half-written books behind: the shelf still lists, and the next add
// clears what has lain there for hours, not what an add is writing now.
TEST(ShelfAddKilled, ABatchKilledPartWayLeavesAListableShelf) {
  TempDir dir;
  fs::create_directory(dir / "shelf");
  std::vector<std::string> args{VELLIX_TOOL, "shelf", "add", dir / "shelf", "--jobs", "2"};
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "A line of the long notes, " + std::to_string(i) + ".\n\n";
  for (int i = 0; i < 12; ++i) args.push_back(dir.Write("notes" + std::to_string(i) + ".txt", text));
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::freopen("/dev/null", "w", stdout);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  auto reserved = [&] {
    for (const std::string& name : Names(dir / "shelf"))
      if (fs::file_size(dir / "shelf" + "/" + name) == 0) return true;
    return false;
  };
  for (int i = 0; i < 4000 && !reserved(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  // Hidden files it left, beside the sources and on the shelf, are all the
  // suite's own temporaries: named so that they can be told apart.
  const std::regex temporary(R"(\..+\.vellix-tmp-[A-Za-z0-9]{6})");
  std::vector<std::string> stale;
  for (const std::string& folder : {dir.path(), dir / "shelf"})
    for (const std::string& name : Names(folder))
      if (name.starts_with(".")) {
        EXPECT_TRUE(std::regex_match(name, temporary)) << name;
        stale.push_back(folder + "/" + name);
      }
  // What a kill at any moment leaves, whether or not this one caught it
  // (the half-written book under the name older versions gave it, too).
  for (const char* name : {"shelf/ZZZZZZZZ.imp", "shelf/.impAb12Cd", "shelf/.ABCDEFGH.imp.vellix-tmp-Ab12Cd"})
    stale.push_back(dir.Write(name, name[6] == 'Z' ? "" : "half a book"));
  const std::string fresh = dir.Write("shelf/YYYYYYYY.imp", "");
  for (const char* command : {"list", "text"}) {
    ToolOutcome r = RunTool(VELLIX_TOOL, {"shelf", command, dir / "shelf"});
    EXPECT_EQ(r.code, 0) << command << r.err;
  }
  EXPECT_EQ(
      RunTool(VELLIX_TOOL, {"shelf", "booklist", dir / "shelf", "http://shelf.test/", "-o", dir / "list.htm"}).code, 0);

  for (const std::string& path : stale)
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(48));
  ASSERT_EQ(RunTool(VELLIX_TOOL, {"shelf", "add", dir / "shelf", dir / "notes0.txt"}).code, 0);
  for (const std::string& path : stale) EXPECT_FALSE(fs::exists(path)) << path;
  EXPECT_TRUE(fs::exists(fresh));  // perhaps an add running now
}

// Pages kept in a folder of their own ("en/") share pictures and sheets
// one folder up; those come along. A temporary folder (where uploads land)
// is no such tree, and two folders up is too far.
TEST_F(ShelfAddTool, PicturesAndSheetsOneFolderUpComeAlong) {
  const std::string png = GreyPng(4, 2, std::string("\0\x10\x80\xf0\x40\0\x20\x90\xe0\x50", 10));
  dir_.Write("guide/images/a.png", png);
  dir_.Write("guide/css/s.css", "p { font-style: italic }\n");
  dir_.Write("far.png", png);
  dir_.Write("up.png", png);
  const std::string body =
      "<link rel=\"stylesheet\" href=\"../css/s.css\"/></head><body><p>Words.</p>"
      "<p><img src=\"../images/a.png\" alt=\"NEAR\"/><img src=\"../../far.png\" alt=\"FAR\"/></p>";
  const std::string page = dir_.Write("guide/en/page.htm", "<html><head><title>P</title>" + body + "</body></html>");
  ToolOutcome r = RunTool(VELLIX_TOOL, {"shelf", "add", dir_ / "shelf", page});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string book = PrintedBook(r);
  EXPECT_EQ(RunTool(VELLIX_TOOL, {"view", book, "--text"}).out, "Words.\n[NEAR]\nFAR\n");  // [..]: a picture
  ikutil::EditionReadResult read = ikutil::ReadDeviceEdition(book);
  ASSERT_EQ(read.error, ikutil::EditionError::kNone) << read.message;
  ASSERT_EQ(read.edition.images.size(), 1u);
  EXPECT_TRUE(read.edition.text_styles.at(read.edition.blocks.at(0).runs.at(0).style).italic);

  // An upload's folder sits in the temporary folder: "../up.png" stays out.
  fs::remove(book);
  const std::string upload = dir_.Write("upload.htm", "<html><head><title>U</title></head><body><p><img src=\"../" +
                                                          fs::path(dir_.path()).filename().string() +
                                                          "/up.png\" alt=\"UP\"/></p></body></html>");
  r = RunTool(VELLIX_TOOL, {"shelf", "add", dir_ / "shelf", upload});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(RunTool(VELLIX_TOOL, {"view", PrintedBook(r), "--text"}).out, "UP\n");
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

// Four processes adding the same sources at once share the pages and
// packages made beside them: each add waits for the others', so every
// process adds every book, and each book keeps an identifier of its own.
TEST(ShelfAddConcurrently, FourProcessesAddingTheSameSourcesEachAddThemAll) {
  TempDir dir;
  fs::create_directory(dir / "shelf");
  std::vector<std::string> args{"shelf", "add", dir / "shelf", "--jobs", "2"};
  for (int b = 0; b < 4; ++b) {
    const std::string n = std::to_string(b);
    args.push_back(dir.Write("src/m" + n + ".md", "# Notes " + n + "\n\nText of the notes " + n + ".\n"));
    args.push_back(dir.Write("src/p" + n + ".htm",
                             "<html><head><title>Page " + n + "</title></head><body><p>Text.</p></body></html>\n"));
  }
  std::vector<ToolOutcome> outcomes(4);
  std::vector<std::thread> processes;
  for (ToolOutcome& outcome : outcomes)
    processes.emplace_back([&outcome, args] { outcome = RunTool(VELLIX_TOOL, args); });
  for (std::thread& process : processes) process.join();
  for (const ToolOutcome& r : outcomes) {
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("8 added, 0 failed"), std::string::npos) << r.out << r.err;
  }
  std::set<std::string> ids;
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(dir / "shelf")) {
    if (entry.path().filename().string().starts_with(".")) continue;
    ++files;
    vellix::Book book;
    book.Load(entry.path().string());
    ids.insert(book.BookId());
  }
  EXPECT_EQ(files, 32u);
  EXPECT_EQ(ids.size(), files);
}

}  // namespace

TEST_F(ShelfAddTool, AMissingShelfFolderIsMadeWithItsParents) {
  const std::string source = ReadFile(dir_ / "notes.txt");
  const std::string shelf = dir_ / "new/deeper/shelf";
  ToolOutcome r = RunTool(VELLIX_TOOL, {"shelf", "add", shelf, dir_ / "notes.txt"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "vellix: created the shelf folder " + shelf + "\n");
  EXPECT_TRUE(std::regex_match(r.out, std::regex(shelf + "/[A-Z]{8}\\.imp\n"))) << r.out;
  EXPECT_EQ(ReadFile(dir_ / "notes.txt"), source);
}

// One rule for one path and for many: the same line on stderr, naming the
// path, and exit 1, for a kind the shelf does not add and for fields given
// to a book that carries its own.
TEST_F(ShelfAddTool, OneRuleAndOneMessageWhateverTheCountOfPaths) {
  MakeBookFolder(dir_ / "OWN.RES", RsrcInf({}), "fork");
  const std::string folder = dir_ / "OWN.RES";
  const std::string photo = dir_.Source("photo.jpg", "not a book");
  const std::string own = ": a book folder carries its own title, author and category; add it without giving the ";
  struct Case {
    std::vector<std::string> given;
    std::string path, line;
  } cases[] = {
      {{"--title", "T"}, folder, "vellix: " + folder + own + "title (5)\n"},
      {{"--author", "A", "--category", "C"}, folder, "vellix: " + folder + own + "author and category (5)\n"},
      {{}, photo, "vellix: " + photo + ": " + vellix::Bookshelf::NotAddableText() + " (5)\n"},
  };
  for (const Case& c : cases) {
    for (bool many : {false, true}) {
      std::vector<std::string> args{"shelf", "add", dir_ / "shelf", c.path};
      if (many) args.push_back(dir_ / "notes.txt");
      args.insert(args.end(), c.given.begin(), c.given.end());
      ToolOutcome r = RunTool(VELLIX_TOOL, args);
      EXPECT_EQ(r.code, 1) << c.path << " many=" << many;
      EXPECT_NE(r.err.find(c.line), std::string::npos) << r.err;
      EXPECT_EQ(r.err.find("Invalid procedure call"), std::string::npos) << r.err;
    }
  }
  EXPECT_NE(vellix::Bookshelf::NotAddableText().find(".oeb, .odf, .htm, .html, .epub, .opf, .txt, .md or .markdown"),
            std::string::npos);
}

// A container is built into a book on the shelf, which a reload still
// lists; one the toolkit cannot read is refused by name and leaves nothing.
TEST_F(ShelfAddTool, AContainerBecomesABookOnTheShelf) {
  ASSERT_EQ(RunTool(VELLIX_TOOL, {"shelf", "add", dir_ / "shelf", dir_ / "story.htm", "--title", "Boxed"}).code, 0);
  ASSERT_EQ(RunTool(VELLIX_TOOL, {"oeb", "pack", dir_ / "story.opf"}).code, 0);
  fs::remove_all(dir_ / "shelf");
  const std::string container = ReadFile(dir_ / "story.oeb");
  for (bool many : {false, true}) {
    fs::remove_all(dir_ / "shelf");
    std::vector<std::string> args{"shelf", "add", dir_ / "shelf", dir_ / "story.oeb"};
    if (many) args.push_back(dir_ / "notes.txt");
    ToolOutcome r = RunTool(VELLIX_TOOL, args);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(std::regex_search(r.out, std::regex("(^|\n)" + dir_ / "shelf/[A-Z]{8}\\.imp\n"))) << r.out;
    r = RunTool(VELLIX_TOOL, {"shelf", "list", dir_ / "shelf"});
    EXPECT_NE(r.out.find("Boxed\n"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(ReadFile(dir_ / "story.oeb"), container);
  }
  ToolOutcome r = RunTool(VELLIX_TOOL, {"shelf", "add", dir_ / "shelf", dir_ / "story.oeb", "--title", "T"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find(dir_ / "story.oeb: a container carries its own"), std::string::npos) << r.err;

  fs::remove_all(dir_ / "shelf");
  dir_.Source("cut.oeb", container.substr(0, container.size() / 2));
  r = RunTool(VELLIX_TOOL, {"shelf", "add", dir_ / "shelf", dir_ / "cut.oeb"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("\nvellix: " + dir_ / "cut.oeb: not a readable OEBFF container ("), std::string::npos) << r.err;
  EXPECT_TRUE(Names(dir_ / "shelf").empty());
}

// A user's mistake is told in plain words naming the user's file: not the
// classic numbered texts, nor a temporary copy the user never gave.
TEST_F(ShelfAddTool, MistakesAreToldInPlainWordsNamingTheFile) {
  const std::string headless = dir_.Source("headless.htm", "<html><body><p>No head.</p></body></html>\n");
  const std::string bare = dir_.Source("bare.opf", "<?xml version=\"1.0\"?>\n<package/>\n");
  struct Case {
    std::vector<std::string> args;
    std::string line;
  } cases[] = {
      {{"shelf", "add", dir_ / "shelf", headless}, headless + ": the document has no head element\n"},
      {{"shelf", "add", dir_ / "shelf", headless, dir_ / "notes.txt"},
       headless + ": the document has no head element\n"},
      {{"book", "info", headless}, headless + ": the document has no head element\n"},
      {{"book", "info", bare}, bare + ": the package has no "},
  };
  for (const Case& c : cases) {
    ToolOutcome r = RunTool(VELLIX_TOOL, c.args);
    EXPECT_EQ(r.code, 1) << c.args[1];
    EXPECT_NE(r.err.find("vellix: " + c.line), std::string::npos) << r.err;
    for (const char* opaque : {"Object variable", "Application-defined", "vellix-info-"})
      EXPECT_EQ(r.err.find(opaque), std::string::npos) << r.err;
  }
}
