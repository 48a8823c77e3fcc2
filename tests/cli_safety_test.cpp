// What the tool owns beyond the library: it never harms what it reads,
// never claims success for output that did not arrive, and shows stored
// fields as people read them.
#include <gtest/gtest.h>
#include <unistd.h>

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

}  // namespace
