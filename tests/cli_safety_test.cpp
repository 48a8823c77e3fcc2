// The tool never harms what it reads, and never claims success for output
// that did not arrive.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "book_maker.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;
using namespace vellix::fixtures;
using Args = std::vector<std::string>;

ToolOutcome Vellix(const Args& args) { return RunTool(VELLIX_TOOL, args); }

// The tool with its standard output sent by the shell to `redirect`.
ToolOutcome VellixRedirected(const std::string& redirect, const Args& args) {
  Args sh = {"-c", "exec \"$0\" \"$@\" " + redirect, VELLIX_TOOL};
  sh.insert(sh.end(), args.begin(), args.end());
  return RunTool("/bin/sh", sh);
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(CliSafetyTest, FailedWritesToStandardOutputExitOne) {
  ToolOutcome full = VellixRedirected(">/dev/full", {"--version"});
  EXPECT_EQ(full.code, 1);
  EXPECT_TRUE(Contains(full.err, "vellix: cannot write to standard output")) << full.err;

  // A pipe whose reader is already gone.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);
  ToolOutcome closed = VellixRedirected(">&" + std::to_string(fds[1]), {"--version"});
  ::close(fds[1]);
  EXPECT_EQ(closed.code, 1);
  EXPECT_TRUE(Contains(closed.err, "Broken pipe")) << closed.err;
}

TEST(CliSafetyTest, OutputThatIsAnInputIsRefusedUntouched) {
  TempDir dir;
  Info info;
  info.id = "ID1";
  info.title = "Title";
  std::string folder = dir / "X.RES";
  MakeBookFolder(folder, RsrcInf(info), "fork");
  std::string rsrc_inf = ReadFile(folder + "/RSRC.INF");
  ToolOutcome convert = Vellix({"book", "convert", folder, folder + "/RSRC.INF"});
  EXPECT_EQ(convert.code, 1);
  EXPECT_TRUE(Contains(convert.err, "RSRC.INF")) << convert.err;
  EXPECT_EQ(ReadFile(folder + "/RSRC.INF"), rsrc_inf);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);

  WriteFile(dir / "a.txt", "plain text");
  EXPECT_EQ(Vellix({"book", "text2htm", dir / "a.txt", dir / "a.txt"}).code, 1);
  EXPECT_EQ(ReadFile(dir / "a.txt"), "plain text");

  fs::create_directory(dir / "shelf");
  std::string book = SimpleBookFile(info);
  WriteFile(dir / "shelf/b.imp", book);
  EXPECT_EQ(Vellix({"shelf", "export", dir / "shelf", "-o", dir / "shelf/b.imp"}).code, 1);
  EXPECT_EQ(ReadFile(dir / "shelf/b.imp"), book);

  // A package whose manifest names its own container.
  WriteFile(dir / "p.oeb", "old container");
  WriteFile(dir / "p.opf",
            "<package><manifest><item id=\"i\" href=\"p.oeb\" media-type=\"text/plain\"/></manifest></package>");
  EXPECT_EQ(Vellix({"oeb", "pack", dir / "p.opf"}).code, 1);
  EXPECT_EQ(ReadFile(dir / "p.oeb"), "old container");
}

TEST(CliSafetyTest, PackNeedsAnExistingPackageFile) {
  TempDir dir;
  WriteFile(dir / "notes.txt", "text");
  WriteFile(dir / "notes.opf", "<package><manifest/></package>");  // not the file named
  fs::create_directory(dir / "folder.opf");
  for (const std::string& bad : {dir / "notes.txt", dir / "gone.opf", dir / "folder.opf"}) {
    ToolOutcome r = Vellix({"oeb", "pack", bad});
    EXPECT_EQ(r.code, 1) << bad;
    EXPECT_TRUE(Contains(r.err, bad)) << r.err;
  }
  EXPECT_FALSE(fs::exists(dir / "notes.oeb"));
  EXPECT_FALSE(fs::exists(dir / "gone.oeb"));
  EXPECT_FALSE(fs::exists(dir / "folder.oeb"));
}

TEST(CliSafetyTest, ShelfAddOfFolderRejectsTypedFields) {
  TempDir dir;
  fs::create_directory(dir / "shelf");
  Info info;
  info.id = "ID1";
  MakeBookFolder(dir / "NEW.RES", RsrcInf(info), "fork");
  for (const char* field : {"--title", "--author", "--category"}) {
    ToolOutcome r = Vellix({"shelf", "add", dir / "shelf", dir / "NEW.RES", field, "X"});
    EXPECT_EQ(r.code, 2) << field;
    EXPECT_TRUE(Contains(r.err, std::string(field) + " does not apply to a book folder")) << r.err;
  }
  EXPECT_TRUE(fs::is_empty(dir / "shelf"));
}

}  // namespace
