// The tool refuses title, author and category arguments that are not UTF-8
// before it reads or writes anything.
#include <gtest/gtest.h>

#include <filesystem>

#include "book_maker.h"
#include "test_util.h"

namespace {

using namespace vellix::fixtures;

TEST(HostileArguments, InvalidUtf8IsRefusedWithError5) {
  TempDir dir;
  WriteFile(dir / "n.txt", "text\n");
  const std::vector<std::string> kBad = {"\xC0\x89", "x\x80y"};
  for (const std::string& bad : kBad) {
    ToolOutcome r = RunTool(VELLIX_TOOL, {"book", "text2htm", dir / "n.txt", dir / "n.htm", "--title", bad});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "vellix: Invalid procedure call or argument: the title is not valid UTF-8 (5)\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "n.htm"));

    r = RunTool(VELLIX_TOOL, {"shelf", "add", dir.path(), dir / "n.txt", "--author", bad});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "vellix: Invalid procedure call or argument: the author is not valid UTF-8 (5)\n");
  }
}

}  // namespace
