// What the tool owns beyond the library: it never harms what it reads,
// never claims success for output that did not arrive, and shows stored
// fields as people read them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "test_util.h"

namespace {

namespace fs = std::filesystem;
using namespace vellix::fixtures;
using Strings = std::vector<std::string>;

TEST(CliSafetyTest, FailedWritesToStandardOutputExitOne) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);  // a pipe whose reader is already gone
  for (const auto& [to, err] :
       {std::pair{std::string(">/dev/full"), "(.|\n)*vellix: cannot write to standard output(.|\n)*"},
        std::pair{">&" + std::to_string(fds[1]), "vellix: (.|\n)*Broken pipe(.|\n)*"}})
    ExpectCli("/bin/sh", "", {.args = {"-c", "exec \"$0\" --version " + to, VELLIX_TOOL}, .code = 1, .err = err});
  ::close(fds[1]);
}

TEST(CliSafetyTest, RefusalsLeaveEverythingAsItWas) {
  TempDir dir;
  dir.Write("a.txt", "plain text");
  dir.Write("notes.txt", "text");
  dir.Write("notes.opf", "<package><manifest/></package>");  // not the file named
  fs::create_directory(dir / "folder.opf");
  MakeBookFolder(dir / "NEW.RES", RsrcInf({"ID1", "", "", "T", "", "", ""}), "fork");
  fs::create_directory(dir / "shelf");
  std::vector<CliCase> cases = {
      {.args = {"book", "text2htm", "@/a.txt", "@/a.txt"}, .code = 1, .err = ".*a\\.txt.*\n"}};
  for (const char* bad : {"notes.txt", "gone.opf", "folder.opf"})
    cases.push_back(
        {.args = {"oeb", "pack", std::string("@/") + bad}, .code = 1, .err = std::string(".*@/") + bad + ".*\n"});
  for (const char* field : {"title", "author", "category"})
    cases.push_back({.args = {"shelf", "add", "@/shelf", "@/NEW.RES", std::string("--") + field, "X"},
                     .code = 1,
                     .err = std::string("vellix: @/NEW\\.RES: a book folder carries its own title, author and "
                                        "category; add it without giving the ") +
                            field + " \\(5\\)\n"});
  for (const CliCase& c : cases) ExpectCli(VELLIX_TOOL, dir.path(), c);
  EXPECT_EQ(ReadFile(dir / "a.txt"), "plain text");
  EXPECT_EQ(Names(dir.path()), (Strings{"NEW.RES", "a.txt", "folder.opf", "notes.opf", "notes.txt", "shelf"}));
  EXPECT_TRUE(fs::is_empty(dir / "shelf"));
}

// Titles, authors and categories that are not UTF-8 are refused before
// anything is read or written.
TEST(CliSafetyTest, InvalidUtf8ArgumentsAreRefused) {
  TempDir dir;
  dir.Write("n.txt", "text\n");
  auto refused = [](const std::string& field) {
    return "vellix: Invalid procedure call or argument: the " + field + " is not valid UTF-8 \\(5\\)\n";
  };
  ExpectCli(
      VELLIX_TOOL, dir.path(),
      {.args = {"book", "text2htm", "@/n.txt", "@/n.htm", "--title", "\xC0\x89"}, .code = 1, .err = refused("title")});
  ExpectCli(VELLIX_TOOL, dir.path(),
            {.args = {"shelf", "add", "@", "@/n.txt", "--author", "x\x80y"}, .code = 1, .err = refused("author")});
  EXPECT_EQ(Names(dir.path()), Strings{"n.txt"});
}

// `shelf list` and its JSON (the objects book info prints) show titles as
// people read them.
TEST(CliSafetyTest, ListingAndItsJsonAreReadable) {
  TempDir dir;
  dir.Write("a.imp", SimpleBookFile({"ID1", "", "", "Salt & Pepper", "", "", ""}));
  ExpectCli(VELLIX_TOOL, dir.path(), {.args = {"shelf", "list", "@"}, .out = "Salt & Pepper\n"});
  ExpectCli(VELLIX_TOOL, dir.path(), {.args = {"shelf", "list", "@", "--json"}, .check = [](const ToolOutcome& r) {
                                        EXPECT_NE(r.out.find("\"Title\": \"Salt & Pepper\","), std::string::npos)
                                            << r.out;
                                      }});
}

// A run killed part way leaves its temporaries (".<file>.vellix-tmp-XXXXXX")
// and build folders (".vellix-build-XXXXXX") behind. The next add or build in
// that folder clears those of its own that have lain for hours; a fresh one
// may be a run still working, and names merely alike are the user's.
TEST(CliSafetyTest, OnlyTheSuitesOwnStaleTemporariesAreCleared) {
  TempDir dir;
  dir.Write("notes.txt", "Buy milk.\n");
  dir.Write("story.htm", "<html><head><title>Story</title></head><body><p>Once.</p></body></html>\n");
  fs::create_directories(dir / "shelf");
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(7);
  auto lay = [&](const std::string& folder) {
    Strings stale;
    for (const char* name : {".notes.htm.vellix-tmp-Ab12Cd", ".ABCDEFGH.imp.vellix-tmp-x9Y8z7"})
      stale.push_back(dir.Write(folder + "/" + name, "half"));
    stale.push_back(dir.Write(folder + "/.vellix-build-Qw12Er/inside/book.imp", "half"));
    for (const char* name : {".vellix-build-Qw12Er/inside/book.imp", ".vellix-build-Qw12Er/inside"})
      fs::last_write_time(dir / (folder + "/" + name), old);
    stale.back() = dir / (folder + "/.vellix-build-Qw12Er");
    for (const char* name :
         {".htmlnotes", "x.htmAb12Cd", ".x.htm.vellix-tmp-Ab12C", ".vellix-build-Zz99Zz", "x.vellix-tmp-Ab12Cd"})
      fs::last_write_time(dir.Write(folder + "/" + name, "mine"), old);
    fs::create_directories(dir / (folder + "/.x.htm.vellix-tmp-Fo1der"));
    fs::last_write_time(dir / (folder + "/.x.htm.vellix-tmp-Fo1der"), old);
    dir.Write(folder + "/.notes.htm.vellix-tmp-Fresh1", "a run working now");
    for (const std::string& path : stale) fs::last_write_time(path, old);
    return stale;
  };
  auto kept = [&](const std::string& folder, const Strings& made) {
    Strings names;
    for (const std::string& name : Names(dir / folder))
      if (name.starts_with(".") || name.starts_with("x.")) names.push_back(name);
    EXPECT_EQ(names,
              (Strings{".htmlnotes", ".notes.htm.vellix-tmp-Fresh1", ".vellix-build-Zz99Zz", ".x.htm.vellix-tmp-Ab12C",
                       ".x.htm.vellix-tmp-Fo1der", "x.htmAb12Cd", "x.vellix-tmp-Ab12Cd"}))
        << folder;
    for (const std::string& path : made) EXPECT_FALSE(fs::exists(path)) << path;
  };
  Strings beside_source = lay("."), on_shelf = lay("shelf");
  ASSERT_EQ(RunTool(VELLIX_TOOL, {"shelf", "add", dir / "shelf", dir / "notes.txt"}).code, 0);
  kept(".", beside_source);
  kept("shelf", on_shelf);

  fs::create_directories(dir / "out");
  Strings beside_book = lay("out");
  ToolOutcome built = RunTool(VELLIX_TOOL, {"build", "--html", dir / "story.htm", "-o", dir / "out/story.imp"});
  ASSERT_EQ(built.code, 0) << built.err;
  kept("out", beside_book);
}

}  // namespace
