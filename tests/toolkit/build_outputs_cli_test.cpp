// What `vellix build` writes and what it says: every book goes through the
// safe writer (a device or pipe is written through, a link followed, an
// input never overwritten), every problem names its own file, and the exit
// status says whether a book was written and, with --strict, whether its
// sources were clean.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "test_util.h"
#include "vellix/package.h"

namespace {

namespace fs = std::filesystem;
using namespace vellix::fixtures;

class BuildOutputs : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("story.htm",
               "<html><head><title>Story</title>\n<link rel=\"stylesheet\" href=\"style.css\"/></head>\n"
               "<body><h1>One</h1>\n<p>Go on.</p>\n</body></html>\n");
    dir_.Write("style.css", "p { margin: 0 }\n\nh1 { colour red; }\n");
    dir_.Write("missing.htm",
               "<html><head><title>M</title></head><body><p><img src=\"gone.png\"/></p></body></html>\n");
  }
  ToolOutcome Html(const std::string& doc, const std::string& out, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"build", "--html", dir_ / doc, "-o", out};
    args.insert(args.end(), more.begin(), more.end());
    return RunTool(VELLIX_TOOL, args);
  }
  TempDir dir_;
};

TEST_F(BuildOutputs, TheBookGoesThroughTheSafeWriter) {
  // A link to a device is followed and the device written: /dev/full says
  // the disk is full, and the link stays a link.
  fs::create_symlink("/dev/full", dir_ / "full.imp");
  ToolOutcome r = Html("story.htm", dir_ / "full.imp");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("Disk full"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::is_symlink(dir_ / "full.imp"));
  EXPECT_TRUE(fs::is_character_file("/dev/full"));

  // A pipe is written through, never replaced by a file.
  ASSERT_EQ(::mkfifo((dir_ / "pipe.imp").c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] {
    int fd = ::open((dir_ / "pipe.imp").c_str(), O_RDONLY);
    char buffer[4096];
    for (ssize_t n; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;) received.append(buffer, n);
    if (fd >= 0) ::close(fd);
  });
  r = Html("story.htm", dir_ / "pipe.imp");
  // Should the tool never open the pipe, this lets the reader go.
  int unblock = ::open((dir_ / "pipe.imp").c_str(), O_WRONLY | O_NONBLOCK);
  if (unblock >= 0) ::close(unblock);
  reader.join();
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(fs::is_fifo(dir_ / "pipe.imp"));
  EXPECT_EQ(received.substr(0, 10), std::string("\0\x02"
                                                "BOOKVREN",
                                                10));

  // The document itself, by any spelling, is refused before the build.
  const std::string before = ReadFile(dir_ / "story.htm");
  r = Html("story.htm", dir_.path() + "/./story.htm");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("is also an input"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(dir_ / "story.htm"), before);
}

// A project whose book is a device: the write error names the book.
TEST_F(BuildOutputs, AProjectWritingIntoADeviceNamesTheBook) {
  fs::create_directory(dir_ / "out");
  const std::string opf = dir_.Write("story.opf", DefaultPackageText());
  vellix::Package package;
  package.initialID(18838);
  package.SetPackagePath(opf);
  package.CreatePackage(dir_ / "story.htm", "story", "A Title", "Jane Public", "Fiction");
  package.CompletePackage(opf, "STORYBK", "Fiction");
  package.SetDirectory(opf, dir_ / "out", dir_.path());
  fs::create_symlink("/dev/full", dir_ / "out/STORYBK.imp");
  ToolOutcome r = RunTool(VELLIX_TOOL, {"build", opf});
  EXPECT_EQ(r.code, 1);
  const std::string book = dir_ / "out/STORYBK.imp";
  EXPECT_NE(r.err.find(book + ": error: the book file could not be written"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("\n:"), std::string::npos) << "a problem without its file: " << r.err;
  EXPECT_TRUE(fs::is_symlink(dir_ / "out/STORYBK.imp"));
}

// A style sheet's problem is reported at the sheet's own line, under the
// sheet's name, not the document's that links it.
TEST_F(BuildOutputs, StyleSheetProblemsNameTheSheet) {
  ToolOutcome r = Html("story.htm", dir_ / "story.imp");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("style.css:3:"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("story.htm:3:"), std::string::npos) << r.err;
}

TEST_F(BuildOutputs, StrictExitsOneOnAnyErrorAndTheHelpSaysSo) {
  ToolOutcome r = Html("missing.htm", dir_ / "m.imp");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("error"), std::string::npos) << r.err;
  fs::remove(dir_ / "m.imp");
  r = Html("missing.htm", dir_ / "m.imp", {"--strict"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("(--strict); the book was written all the same"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(dir_ / "m.imp"));
  dir_.Write("clean.htm", "<html><head><title>C</title></head><body><p>Clean.</p></body></html>\n");
  EXPECT_EQ(Html("clean.htm", dir_ / "clean.imp", {"--strict"}).code, 0);
  EXPECT_EQ(Html("story.htm", dir_ / "sheet.imp", {"--strict"}).code, 1) << "an error in a linked sheet counts";

  ToolOutcome help = RunTool(VELLIX_TOOL, {"build", "--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("--strict"), std::string::npos);
  EXPECT_NE(help.out.find("Exit status: 0 when the book was written."), std::string::npos) << help.out;
}

}  // namespace
