// The tool and the user's files: `book info` reads a copy and leaves the
// file, and the tool's temporary folder, as they were; long listings are
// printed as they are made, in the bytes of the whole document at once.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "test_util.h"

namespace {

namespace fs = std::filesystem;
using namespace vellix::fixtures;
using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

ToolOutcome Vellix(const std::vector<std::string>& args) { return RunTool(VELLIX_TOOL, args); }

TEST(BookInfoTest, LeavesDocumentsAndPackagesAsTheyWere) {
  TempDir dir, tmp;
  // Not well-formed: loading it rewrites it as XHTML.
  const std::string document =
      "<html><head><title>Doc</title><meta name=author content=Me><meta name=genre content=Essay>"
      "</head><body><p>one<br>two</body></html>";
  // No x-metadata: loading a package completes it.
  const std::string package =
      "<?xml version=\"1.0\"?>\n<package unique-identifier=\"id\"><metadata>"
      "<dc-metadata xmlns:dc=\"http://purl.org/dc/elements/1.0/\"><dc:Identifier id=\"id\">x</dc:Identifier>"
      "<dc:Title>T</dc:Title><dc:Creator role=\"aut\">A</dc:Creator></dc-metadata></metadata>"
      "<manifest/><spine/></package>";
  WriteFile(dir / "ill.htm", document);
  WriteFile(dir / "part.opf", package);

  const char* saved = getenv("TMPDIR");
  std::string saved_tmpdir = saved ? saved : "";
  setenv("TMPDIR", tmp.path().c_str(), 1);  // the tool's own, to see that nothing stays behind
  ToolOutcome d = Vellix({"book", "info", dir / "ill.htm", "--json"});
  ToolOutcome p = Vellix({"book", "info", dir / "part.opf", "--json"});
  saved ? setenv("TMPDIR", saved_tmpdir.c_str(), 1) : unsetenv("TMPDIR");

  ASSERT_TRUE(d.code == 0 && p.code == 0) << d.err << p.err;
  Json dj = Json::parse(d.out), pj = Json::parse(p.out);
  EXPECT_EQ(dj["Path"], dir / "ill.htm");  // the user's file, not the copy
  EXPECT_EQ(dj["Title"].dump() + dj["Author"].dump() + dj["Category"].dump(), R"("Doc""Me""Essay")");
  EXPECT_EQ(pj["Path"], dir / "part.opf");
  EXPECT_EQ(pj["Title"].dump() + pj["Extension"].dump(), R"("T""opf")");
  EXPECT_EQ(ReadFile(dir / "ill.htm"), document);
  EXPECT_EQ(ReadFile(dir / "part.opf"), package);
  EXPECT_TRUE(fs::is_empty(tmp.path()));
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"ill.htm", "part.opf"}));

  // `book package` cleans the document up only in memory, for the package.
  ASSERT_EQ(Vellix({"book", "package", dir / "ill.htm"}).code, 0);
  EXPECT_EQ(ReadFile(dir / "ill.htm"), document);
}

TEST(ShelfJsonTest, StreamedListIsTheWholeArrayDump) {
  TempDir dir;
  EXPECT_EQ(RunTool(VELLIX_TOOL, {"shelf", "list", dir.path(), "--json"}).out, "[]\n");
  for (int i = 0; i < 3; ++i) {
    Info info;
    info.id = "ID" + std::to_string(i);
    info.category = i ? "Caf\xE9" : "";
    info.title = "Line \"" + std::to_string(i) + "\"\\ \x80";
    WriteFile(dir / ("b" + std::to_string(i) + ".imp"), SimpleBookFile(info));
  }
  std::vector<std::string> args = {"shelf", "list", dir.path(), "--json"};
  for (int sorted = 0; sorted < 2; ++sorted, args.push_back("--sorted")) {
    ToolOutcome r = RunTool(VELLIX_TOOL, args);
    ASSERT_EQ(r.code, 0) << r.err;
    OrderedJson all = OrderedJson::parse(r.out);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(r.out, all.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
  }
}

// Processes packaging one document at once take turns: each makes and
// completes the one package beside it, whole, and none passes over it for
// a name of its own because it found another's package half made.
TEST(BookPackageTest, ConcurrentRunsOfOneDocumentEachWriteTheWholePackage) {
  TempDir dir;
  dir.Source("story.htm", "<html><head><title>Story</title></head><body><p>Once upon a time.</p></body></html>\n");
  for (int round = 0; round < 4; ++round) {
    std::vector<ToolOutcome> outcomes(3);
    std::vector<std::thread> processes;
    for (ToolOutcome& outcome : outcomes)
      processes.emplace_back([&outcome, &dir] { outcome = Vellix({"book", "package", dir / "story.htm"}); });
    for (std::thread& process : processes) process.join();
    for (const ToolOutcome& r : outcomes) EXPECT_EQ(r.code, 0) << r.err;
    for (const ToolOutcome& r : outcomes) EXPECT_EQ(r.out, dir / "story.opf\n") << r.err;
    EXPECT_TRUE(XmlWellFormed(dir / "story.opf")) << round;
    const std::string package = ReadFile(dir / "story.opf");
    EXPECT_NE(package.find("href=\"story.htm\""), std::string::npos) << package;
    EXPECT_NE(package.find("<dc:Title>Story</dc:Title>"), std::string::npos) << package;
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"story.htm", "story.opf"}));
  }
}

}  // namespace
