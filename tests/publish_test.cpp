// Publishing through Book::Save and Bookshelf::Add: text, documents and
// packages become book files built by the toolkit; failed and stopped
// builds say why and leave no book.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include "test_util.h"
#include "vellix/book.h"
#include "vellix/bookshelf.h"

namespace vellix {
namespace {

using namespace fixtures;
namespace fs = std::filesystem;

// A 1x1 GIF.
const std::string kGif(
    "GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!\xf9\x04\x01\x00\x00\x00\x00,"
    "\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;",
    43);

std::vector<std::string> BookFiles(const std::string& folder) {
  std::vector<std::string> out;
  for (const std::string& name : Names(folder))
    if (fs::path(name).extension() == ".imp") out.push_back(name);
  return out;
}

std::string Fields(const Book& b) { return b.Title() + "|" + b.Author() + "|" + b.Category(); }

// What a build told its listener.
struct Heard {
  std::vector<std::string> sources, errors;
  int progress = 0;
  PublishEvents events;
  Heard() {
    events.source_start = [this](const std::string& file, int32_t, int32_t) { sources.push_back(file); };
    events.progress = [this](int64_t, int64_t) { ++progress; };
    events.error = [this](const std::string& file, const std::string& message, int32_t, int32_t, int16_t) {
      errors.push_back(file + ": " + message);
    };
  }
};

class Publish : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(dir_ / "shelf");
    shelf_.Load(dir_ / "shelf");
  }
  std::shared_ptr<Book> Loaded(const std::string& path) {
    auto book = std::make_shared<Book>();
    book->Load(path);
    return book;
  }

  TempDir dir_;
  Bookshelf shelf_;
};

TEST_F(Publish, TextBecomesPageThenPackageThenBookWithTheTypedFields) {
  dir_.Source("docs/notes.txt", "Buy milk.\n\nCall home & say hello.\n");
  auto book = Loaded(dir_ / "docs/notes.txt");
  book->SetTitle("Notes");
  book->SetAuthor("Ann B. Author");
  book->SetCategory("Diary");
  std::string book_file;
  shelf_.Add(book, nullptr, &book_file);

  EXPECT_TRUE(std::regex_match(book_file, std::regex(dir_ / "shelf/[A-Z]{8}\\.imp"))) << book_file;
  EXPECT_EQ(BookFiles(dir_ / "shelf"), std::vector<std::string>{fs::path(book_file).filename().string()});
  // The page and its package stay beside the text; the package is the book.
  EXPECT_TRUE(fs::exists(dir_ / "docs/notes.htm"));
  EXPECT_EQ(book->Path(), dir_ / "docs/notes.opf");
  EXPECT_EQ(book->Extension(), "htm");
  ASSERT_EQ(shelf_.Books()->Count(), 1);
  EXPECT_EQ(shelf_.Books()->Item(Variant(1)), book);

  Book written;
  written.Load(book_file);
  EXPECT_EQ(Fields(written), "Notes|Ann B. Author|Diary");
  // The package records where the book went, under the book's name.
  std::string package = ReadFile(dir_ / "docs/notes.opf");
  EXPECT_NE(package.find(fs::path(book_file).stem().string()), std::string::npos);
  EXPECT_NE(package.find(dir_ / "shelf"), std::string::npos);

  // The old signature is the same road.
  dir_.Source("docs/more.txt", "More.\n");
  auto more = Loaded(dir_ / "docs/more.txt");
  more->SetTitle("More");
  shelf_.Add(more);
  EXPECT_EQ(BookFiles(dir_ / "shelf").size(), 2u);
  EXPECT_EQ(shelf_.Books()->Count(), 2);

  // A text named relative to the working folder keeps its build log beside
  // its package, not in a folder of the same name below it.
  dir_.Source("docs/rel.txt", "Relative.\n");
  fs::path was = fs::current_path();
  fs::current_path(dir_.path());
  auto relative = Loaded("docs/rel.txt");
  relative->SetTitle("Rel");
  Heard heard;
  shelf_.Add(relative, &heard.events);
  fs::current_path(was);
  for (const std::string& error : heard.errors) EXPECT_EQ(error.find("log folder"), std::string::npos) << error;
  EXPECT_EQ(BookFiles(dir_ / "shelf").size(), 3u);
  EXPECT_TRUE(std::ranges::any_of(Names(dir_ / "docs"), [](const std::string& n) { return n.ends_with(".log"); }));
}

TEST_F(Publish, DocumentWithAnImageAndALinkIsBuiltAndHeard) {
  dir_.Source("src/pic.gif", kGif);
  dir_.Source("src/ch2.htm", "<html><head><title>Two</title></head><body><p>The end.</p></body></html>\n");
  dir_.Source("src/story.htm",
              "<html><head><title>Story</title><meta name=\"author\" content=\"Jo Q Writer\"/>"
              "<meta name=\"genre\" content=\"Tales\"/></head><body>\n<p><img src=\"pic.gif\" alt=\"pic\"/></p>\n"
              "<p>Go <a href=\"ch2.htm\">on</a>.</p>\n</body></html>\n");
  auto book = Loaded(dir_ / "src/story.htm");
  EXPECT_EQ(Fields(*book), "Story|Jo Q Writer|Tales");
  Heard heard;
  book->Save(dir_ / "shelf/STORYBKS.imp", &heard.events);

  EXPECT_EQ(book->Path(), dir_ / "src/story.opf");
  EXPECT_EQ(BookFiles(dir_ / "shelf"), std::vector<std::string>{"STORYBKS.imp"});
  EXPECT_EQ(heard.sources.size(), 2u) << "the page and the page it links to";
  EXPECT_GT(heard.progress, 0);
  Book written;
  written.Load(dir_ / "shelf/STORYBKS.imp");
  EXPECT_EQ(Fields(written), "Story|Jo Q Writer|Tales");
  std::string package = ReadFile(dir_ / "src/story.opf");
  EXPECT_NE(package.find("pic.gif"), std::string::npos);
  EXPECT_NE(package.find("ch2.htm"), std::string::npos);
}

TEST_F(Publish, PackageIsCompletedInPlaceThenBuilt) {
  dir_.Source("src/story.htm", "<html><head><title>Story</title></head><body><p>Once.</p></body></html>\n");
  Book maker;
  maker.SetCategory("Fable");
  std::string opf = maker.CreatePackageFromDocument(dir_ / "src/story.htm");
  auto book = Loaded(opf);
  ASSERT_EQ(book->Extension(), "opf");
  book->SetCategory("Legend");
  shelf_.Add(book);

  std::vector<std::string> books = BookFiles(dir_ / "shelf");
  ASSERT_EQ(books.size(), 1u);
  std::string name = fs::path(books[0]).stem().string();
  std::string package = ReadFile(opf);
  for (const std::string& expected : std::vector<std::string>{
           "name=\"x-IKL-nameondisk\" content=\"" + name + "\"", "name=\"x-IKL-category\" content=\"Legend\"",
           "name=\"x-IKL-destdir\" content=\"" + dir_ / "shelf\"", "name=\"x-IKL-logdir\" content=\"" + dir_ / "src\""})
    EXPECT_NE(package.find(expected), std::string::npos) << expected << "\n" << package;
  EXPECT_EQ(book->Path(), opf);
  Book written;
  written.Load(dir_ / ("shelf/" + books[0]));
  EXPECT_EQ(written.Category(), "Legend");
}

// A document gone before its build is appended with nothing written; a
// container is built like any source, so one the toolkit cannot read is
// refused by name and neither appended nor left on the shelf.
TEST_F(Publish, WhatIsNotThereIsOnlyAppendedAndAnUnreadableContainerIsRefused) {
  dir_.Source("src/gone.htm", "<html><head><title>Gone</title></head><body/></html>");
  auto gone = Loaded(dir_ / "src/gone.htm");
  fs::remove(dir_ / "src/gone.htm");
  std::string book_file = "stale";
  shelf_.Add(gone, nullptr, &book_file);
  EXPECT_EQ(gone->Path(), "");
  EXPECT_EQ(book_file, "");
  EXPECT_EQ(Names(dir_ / "src"), std::vector<std::string>{});

  dir_.Source("src/box.oeb", "MIME-Version: 1.0\r\n\r\n");
  auto box = Loaded(dir_ / "src/box.oeb");
  ASSERT_EQ(box->Extension(), "oeb");
  formats::AutomationError e = ErrorOf([&] { shelf_.Add(box); });
  EXPECT_EQ(e.number(), kBuildFailed);
  EXPECT_EQ(formats::PlainMessage(e),
            dir_ /
                "src/box.oeb: not a readable OEBFF container (its headers are not a container's, or a part has no "
                "delimiter)");
  EXPECT_EQ(Names(dir_ / "src"), std::vector<std::string>{"box.oeb"});
  EXPECT_EQ(Names(dir_ / "shelf"), std::vector<std::string>{});
  EXPECT_EQ(shelf_.Books()->Count(), 1);
}

TEST_F(Publish, FailedBuildSaysWhatTheEngineSaidAndLeavesNoBook) {
  dir_.Source("src/story.htm", "<html><head><title>Story</title></head><body><p>Once.</p></body></html>\n");
  auto book = Loaded(dir_ / "src/story.htm");
  formats::AutomationError e = ErrorOf([&] { book->Save(dir_ / "nowhere/BOOK.imp"); });
  EXPECT_EQ(e.number(), kBuildFailed);
  // Named as the user gave it, not as the package made from it; the same
  // for a package of the user's own.
  const std::string no_folder = ": the destination folder \"" + (dir_ / "nowhere") + "\" does not exist";
  EXPECT_EQ(formats::PlainMessage(e), dir_ / "src/story.htm" + no_folder);
  std::string own = ReadFile(book->Path());
  own.erase(own.find("<!-- made by"));
  const std::string own_package = dir_.Source("src/own.opf", own);
  e = ErrorOf([&] { Loaded(own_package)->Save(dir_ / "nowhere/BOOK.imp"); });
  EXPECT_EQ(formats::PlainMessage(e), own_package + no_folder);
  EXPECT_FALSE(fs::exists(dir_ / "nowhere"));

  // A source the engine cannot read at all: the package names a page that
  // is a folder. The book is not appended, and the shelf keeps no file.
  dir_.Source("src/broken.htm", "<html><head><title>Broken</title></head><body><p>x</p></body></html>\n");
  auto broken = Loaded(dir_ / "src/broken.htm");
  std::string opf = broken->CreatePackageFromDocument(dir_ / "src/broken.htm");
  fs::remove(dir_ / "src/broken.htm");
  fs::create_directory(dir_ / "src/broken.htm");
  auto package = Loaded(opf);
  Heard heard;
  e = ErrorOf([&] { shelf_.Add(package, &heard.events); });
  EXPECT_EQ(e.number(), kBuildFailed);
  ASSERT_FALSE(heard.errors.empty());
  EXPECT_NE(e.detail().find("broken.htm"), std::string::npos) << e.detail();
  EXPECT_EQ(Names(dir_ / "shelf"), std::vector<std::string>{});
  EXPECT_EQ(shelf_.Books()->Count(), 0);
}

TEST_F(Publish, StoppingLeavesNoBook) {
  dir_.Source("src/story.htm", "<html><head><title>Story</title></head><body><p>Once.</p></body></html>\n");
  dir_.Source("src/first.htm", "<html><head><title>First</title></head><body><p>One.</p></body></html>\n");

  // Stopped at once, and stopped after the first source began.
  for (int allowed : {0, 1}) {
    auto book = Loaded(dir_ / "src/story.htm");
    int asked = 0;
    PublishEvents events;
    events.keep_going = [&] { return asked++ < allowed; };
    formats::AutomationError e = ErrorOf([&] { shelf_.Add(book, &events); });
    EXPECT_EQ(e.number(), formats::kInvalidArgument) << allowed;
    EXPECT_GT(asked, allowed);
    EXPECT_EQ(Names(dir_ / "shelf"), std::vector<std::string>{}) << allowed;
  }

  // A handler that throws stops the build too; its error reaches the caller.
  auto book = Loaded(dir_ / "src/first.htm");
  PublishEvents events;
  events.source_start = [](const std::string&, int32_t, int32_t) { formats::Raise(formats::kDiskFull, "listener"); };
  formats::AutomationError e = ErrorOf([&] { book->Save(dir_ / "shelf/FIRST.imp", &events); });
  EXPECT_EQ(e.number(), formats::kDiskFull);
  EXPECT_EQ(e.detail(), "listener");
  EXPECT_EQ(Names(dir_ / "shelf"), std::vector<std::string>{});
}

// The user's files are sources only: an ill-formed page or a picture named
// like one is read, never rewritten, and a page or package of the user's
// beside the source keeps its bytes (TempDir compares every source the test
// wrote once the test ends).
TEST_F(Publish, SourcesAndTheUsersFilesBesideThemKeepTheirBytes) {
  const std::string kUntidy =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Caf\xc3\xa9 & Co</title>\n"
      "<body><p>One<br>line \xc3\xa9t\xc3\xa9\n<p>Two\n";
  const std::string kUsersPage = "<html><head><title>Mine</title></head><body><p>Hand-made.</p></body></html>\n";
  const std::string kUsersPackage = "<?xml version=\"1.0\"?>\n<package><!-- hand-made --></package>\n";
  struct Case {
    std::string source, bytes, title;
    std::vector<std::string> beside;  // files of the user's beside the source
    int builds;                       // 1 yes, 0 no, -1 whichever the toolkit makes of it
  };
  const std::vector<Case> cases{
      {"a/untidy.html", kUntidy, "Caf\xc3\xa9 & Co", {}, 1},
      {"b/picture.html", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\1", 20), "", {}, -1},
      {"c/notes.txt", "Buy milk.\n", "", {"c/notes.htm", "c/notes.opf"}, 1},
      {"d/notes.md", "# Notes\n\nBuy milk.\n", "", {"d/notes.htm", "d/notes.opf"}, 1},
      {"e/story.htm", kUsersPage, "Mine", {"e/story.opf"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    dir_.Source(c.source, c.bytes);
    for (const std::string& name : c.beside)
      dir_.Source(name, fs::path(name).extension() == ".opf" ? kUsersPackage : kUsersPage);
    auto book = Loaded(dir_ / c.source);
    EXPECT_EQ(book->Title(), c.title);
    formats::AutomationError e = ErrorOf([&] { shelf_.Add(book); });
    if (c.builds >= 0) {
      EXPECT_EQ(e.number() == 0, c.builds == 1) << e.detail();
    }
  }
  // A hand-made package is built from a copy: the user's file is left as it was.
  Book maker;
  std::string made = maker.CreatePackageFromDocument(dir_ / "e/story.htm");
  EXPECT_EQ(made, dir_ / "e/story-2.opf");
  dir_.Source("f/story.htm", kUsersPage);
  std::string own = ReadFile(made);
  own.erase(own.find("<!-- made by"));  // the same package, but the user's now
  dir_.Source("f/own.opf", own);
  auto book = Loaded(dir_ / "f/own.opf");
  shelf_.Add(book);
  EXPECT_EQ(book->Path(), dir_ / "f/own-2.opf");
  EXPECT_EQ(BookFiles(dir_ / "shelf").size(), 6u);
}

// A source in a folder the user may not write still publishes: what is made
// from it goes to the cache folder.
TEST_F(Publish, SourceInAReadOnlyFolderPublishesThroughTheCacheFolder) {
  dir_.Source("ro/notes.txt", "Buy milk.\n");
  fs::permissions(dir_ / "ro",
                  fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read | fs::perms::others_exec);
  // Root writes into read-only folders: then the add runs as nobody, in
  // folders nobody may write but for "ro".
  const bool as_root = ::geteuid() == 0;
  if (as_root) {
    fs::create_directory(dir_ / "cache");
    for (const std::string& open : {dir_ / "shelf", dir_ / "cache"}) fs::permissions(open, fs::perms::all);
    fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    if (::setegid(65534) != 0 || ::seteuid(65534) != 0) {
      ::setegid(0);
      GTEST_SKIP() << "cannot give up root here";
    }
  }
  const char* before = std::getenv("XDG_CACHE_HOME");
  std::string saved = before ? before : "";
  ::setenv("XDG_CACHE_HOME", (dir_ / "cache").c_str(), 1);
  auto book = Loaded(dir_ / "ro/notes.txt");
  formats::AutomationError e = ErrorOf([&] { shelf_.Add(book); });
  if (as_root && (::seteuid(0) != 0 || ::setegid(0) != 0)) std::abort();
  if (before)
    ::setenv("XDG_CACHE_HOME", saved.c_str(), 1);
  else
    ::unsetenv("XDG_CACHE_HOME");
  fs::permissions(dir_ / "ro", fs::perms::owner_all);
  EXPECT_EQ(e.number(), 0) << e.detail();
  EXPECT_EQ(BookFiles(dir_ / "shelf").size(), 1u);
  EXPECT_EQ(Names(dir_ / "ro"), std::vector<std::string>{"notes.txt"});
  EXPECT_EQ(book->Path().rfind(dir_ / "cache/vellix-publisher/companions/ro-", 0), 0u) << book->Path();
}

}  // namespace
}  // namespace vellix
