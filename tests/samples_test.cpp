// The sample maker as ./run and the tests use it: it writes its samples
// into a new folder or one it made, refuses any other, and never removes
// what is not its own.
#include <gtest/gtest.h>

#include <filesystem>

#include "test_util.h"

namespace {

namespace fs = std::filesystem;
using namespace vellix::fixtures;
using Strings = std::vector<std::string>;

const Strings kSamples = {".vellix-samples", "ALICEWON.imp", "DAILYNEW.imp", "DAILYOLD.imp",
                          "ORIGINSP.imp",    "PRIDEPRJ.imp", "SALTPEPR.imp", "TIMEMACH.RES"};

TEST(SampleMaker, WritesOnlyWhereItMayAndRemovesNothingElse) {
  TempDir dir;
  ToolOutcome help = RunTool(VELLIX_MAKE_SAMPLES, {"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.out.rfind("usage: vellix-make-samples FOLDER\n", 0), 0u) << help.out;
  EXPECT_FALSE(fs::exists("--help"));
  EXPECT_EQ(RunTool(VELLIX_MAKE_SAMPLES, {"--wipe", dir / "x"}).code, 2);

  // A new folder, then the same one again: the samples are replaced, and a
  // book the user added stays.
  ASSERT_EQ(RunTool(VELLIX_MAKE_SAMPLES, {dir / "shelf"}).code, 0);
  EXPECT_EQ(Names(dir / "shelf"), kSamples);
  dir.Write("shelf/MINE.imp", "my own book");
  ToolOutcome again = RunTool(VELLIX_MAKE_SAMPLES, {dir / "shelf"});
  EXPECT_EQ(again.code, 0) << again.err;
  EXPECT_EQ(ReadFile(dir / "shelf/MINE.imp"), "my own book");

  // A folder it did not make (the current one, say) is refused untouched.
  dir.Write("work/notes.txt", "keep me");
  ToolOutcome refused = RunTool("/bin/sh", {"-c", "cd \"$0\" && exec \"$1\" .", dir / "work", VELLIX_MAKE_SAMPLES});
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find("was not made by vellix-make-samples"), std::string::npos) << refused.err;
  EXPECT_EQ(Names(dir / "work"), Strings{"notes.txt"});
  EXPECT_EQ(ReadFile(dir / "work/notes.txt"), "keep me");
  dir.Write("file", "a file");
  EXPECT_EQ(RunTool(VELLIX_MAKE_SAMPLES, {dir / "file"}).code, 1);
  EXPECT_EQ(ReadFile(dir / "file"), "a file");

  // An empty folder is taken.
  fs::create_directory(dir / "empty");
  EXPECT_EQ(RunTool(VELLIX_MAKE_SAMPLES, {dir / "empty"}).code, 0);
  EXPECT_EQ(Names(dir / "empty"), kSamples);
}

}  // namespace
