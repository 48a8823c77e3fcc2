// `vellix build`, `vellix check` and `vellix project show` driven as a user
// drives them, on a small package the library's own package code makes.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "test_util.h"
#include "vellix/book.h"
#include "vellix/package.h"

namespace {

using namespace vellix::fixtures;

class ToolkitCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("story.htm",
               "<html><head><title>Story</title></head><body>\n<h1>One</h1>\n<p>Go <a href=\"ch2.htm\">on</a>.</p>\n"
               "<p><a href=\"#nowhere\">lost</a></p>\n</body></html>\n");
    dir_.Write("ch2.htm", "<html><head><title>Two</title></head><body><p>The end.</p></body></html>\n");
    std::filesystem::create_directory(dir_ / "out");
    opf_ = dir_.Write("story.opf", DefaultPackageText());
    vellix::Package package;
    package.initialID(18838);
    package.SetPackagePath(opf_);
    package.CreatePackage(dir_ / "story.htm", "story", "A Title", "Jane Public", "Fiction");
    package.CompletePackage(opf_, "STORYBK", "Fiction");
    package.SetDirectory(opf_, dir_ / "out", dir_.path());
  }

  TempDir dir_;
  std::string opf_;
};

TEST_F(ToolkitCli, BuildsThePackageAndPrintsTheBook) {
  ToolOutcome r = RunTool(VELLIX_TOOL, {"build", opf_, "--threshold", "100"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, dir_ / "out/STORYBK.imp\n");
  EXPECT_NE(r.err.find("story.htm:"), std::string::npos) << "the link to nowhere is reported: " << r.err;
  vellix::Book book;
  book.Load(dir_ / "out/STORYBK.imp");
  EXPECT_EQ(book.Title(), "A Title");

  // The documents alone, into a book at a path of the user's choosing.
  r = RunTool(VELLIX_TOOL, {"build", "--html", dir_ / "story.htm", dir_ / "ch2.htm", "-o", dir_ / "plain.imp"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(std::filesystem::exists(dir_ / "plain.imp"));

  EXPECT_EQ(RunTool(VELLIX_TOOL, {"build", dir_ / "missing.opf"}).code, 1);
  EXPECT_EQ(RunTool(VELLIX_TOOL, {"build"}).code, 2);
}

TEST_F(ToolkitCli, CheckListsEveryProblemAndEndsWithTheCompleteEvent) {
  // The link to nowhere is an error: listed, and the check fails.
  ToolOutcome r = RunTool(VELLIX_TOOL, {"check", opf_, "--json"});
  ASSERT_EQ(r.code, 1) << r.err;
  nlohmann::json events = nlohmann::json::parse(r.out);
  ASSERT_GE(events.size(), 2u);
  const auto& last = events.back();
  EXPECT_EQ(last["msg"], "OEB Check Complete.");
  EXPECT_EQ(last["line"], -1);
  EXPECT_EQ(last["col"], -1);
  EXPECT_EQ(last["severity"], 0);
  bool placed = false;
  for (const auto& e : events)
    if (e["file"] == "story.htm" && e["line"].get<int>() > 0 && e["col"].get<int>() > 0) placed = true;
  EXPECT_TRUE(placed) << r.out;

  r = RunTool(VELLIX_TOOL, {"check", opf_});
  EXPECT_NE(r.out.find("story.htm:"), std::string::npos);
  EXPECT_NE(r.out.find("\ninformation: OEB Check Complete.\n"), std::string::npos) << r.out;

  // An index past the sources (or past what an int16 holds) checks nothing: refused.
  for (const char* index : {"2", "99999", "-2"}) {
    r = RunTool(VELLIX_TOOL, {"check", opf_, "--index", index});
    EXPECT_EQ(r.code, 2) << index << r.out;
    EXPECT_NE(r.err.find("the project has 2 sources"), std::string::npos) << r.err;
  }
  EXPECT_EQ(RunTool(VELLIX_TOOL, {"check", opf_, "--index", "0"}).code, 1);
  EXPECT_EQ(RunTool(VELLIX_TOOL, {"check", opf_, "--index", "1"}).code, 0);  // the page without a fault
}

TEST_F(ToolkitCli, ProjectShowGivesEveryPropertyAndTheSources) {
  ToolOutcome r = RunTool(VELLIX_TOOL, {"project", "show", opf_, "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["BookTitle"], "A Title");
  EXPECT_EQ(j["AuthorFirstName"], "Jane");
  EXPECT_EQ(j["AuthorLastName"], "Public");
  EXPECT_EQ(j["BookFileName"], "STORYBK");
  EXPECT_EQ(j["NumSourceFiles"], 2);
  ASSERT_EQ(j["sources"].size(), 2u);
  EXPECT_EQ(j["sources"][0]["file"], "story.htm");
  EXPECT_EQ(j["sources"][0]["exists"], true);
  EXPECT_EQ(j["ProjectFile"], opf_);
}

// A source that cannot be read says why, naming the file, in `build` and
// in `check` alike: not "not found" for everything.
TEST_F(ToolkitCli, EachReasonASourceCannotBeReadHasItsOwnMessage) {
  auto expect_both = [&](const std::vector<std::string>& prefix, const std::string& message) {
    std::vector<std::string> build = prefix, check = prefix;
    build.insert(build.end(), {"build", opf_});
    check.insert(check.end(), {"check", opf_});
    ToolOutcome r = RunTool(build[0], {build.begin() + 1, build.end()});
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_NE(r.err.find("story.htm: error: " + message), std::string::npos) << r.err;
    r = RunTool(check[0], {check.begin() + 1, check.end()});
    EXPECT_EQ(r.code, 1) << "a check that lists an error fails: " << r.out;
    EXPECT_NE(r.out.find("story.htm: error: " + message), std::string::npos) << r.out;
  };

  // Root reads whatever it likes; without the capabilities that let it,
  // a file nobody may read is refused to it as to anyone else.
  std::filesystem::permissions(dir_ / "story.htm", std::filesystem::perms::none);
  std::vector<std::string> unprivileged{VELLIX_TOOL};
  if (::geteuid() == 0) unprivileged = {"setpriv", "--bounding-set=-dac_override,-dac_read_search", VELLIX_TOOL};
  expect_both(unprivileged, "document cannot be read: permission denied");
  std::filesystem::permissions(dir_ / "story.htm",
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  std::filesystem::resize_file(dir_ / "story.htm", (256u << 20) + 1);  // sparse: nothing is written
  expect_both({VELLIX_TOOL}, "document is larger than 256 MiB");

  std::filesystem::remove(dir_ / "story.htm");
  std::filesystem::create_directory(dir_ / "story.htm");
  expect_both({VELLIX_TOOL}, "document is a folder, not a file");
}

// A container cut short inside a part names that part, rather than giving
// the generic "Invalid OEBFF Container".
TEST_F(ToolkitCli, ABuildFromACutContainerNamesThePartItEndsIn) {
  ASSERT_EQ(RunTool(VELLIX_TOOL, {"oeb", "pack", opf_}).code, 0);
  std::ifstream in(dir_ / "story.oeb", std::ios::binary);
  std::string container((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t cut = container.find("The end.");
  ASSERT_NE(cut, std::string::npos);
  dir_.Write("cut.oeb", container.substr(0, cut));
  ToolOutcome r = RunTool(VELLIX_TOOL, {"build", "--oebff", dir_ / "cut.oeb", dir_ / "out/CUT", ""});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("error: the container \"" + (dir_ / "cut.oeb") + "\" ends inside the part \"ch2.htm\""),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out/CUT.imp"));
}

// A build or a container that is not written says why on its last line, in
// the engine's words naming the file at fault; an unreadable container is
// refused on one line, by name, whether built or added to a shelf.
TEST_F(ToolkitCli, WhatWasNotWrittenSaysWhyNamingTheFile) {
  std::filesystem::remove(dir_ / "out");
  const std::string out_missing = opf_ + ": the destination folder \"" + (dir_ / "out") + "\" does not exist";
  dir_.Write("bad.oeb", "MIME-Version: 1.0\r\n\r\n");
  std::filesystem::create_directory(dir_ / "shelf");
  const std::string unreadable =
      dir_ / "bad.oeb: not a readable OEBFF container (its headers are not a container's, or a part has no delimiter)";
  for (const auto& [args, last_line] :
       {std::pair<std::vector<std::string>, std::string>{{"build", opf_}, out_missing},
        {{"build", opf_, "--container"}, opf_ + ": the container could not be written: "},
        {{"build", "--oebff", dir_ / "bad.oeb", dir_ / "shelf/BAD", ""}, unreadable},
        {{"shelf", "add", dir_ / "shelf", dir_ / "bad.oeb"}, unreadable}}) {
    ToolOutcome r = RunTool(VELLIX_TOOL, args);
    EXPECT_EQ(r.code, 1) << args[0];
    std::string err = r.err;
    while (!err.empty() && err.back() == '\n') err.pop_back();
    const std::string last = err.substr(err.rfind('\n') + 1);
    EXPECT_EQ(last.rfind("vellix: " + last_line, 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\r'), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Error 0x"), std::string::npos) << r.err;
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "shelf"));
}

// A project file whose sources lie in another folder, named by absolute
// path and by "../": built, checked, packed and built again from the
// container, all from the command line.
TEST(ToolkitCliSourcesElsewhere, BuildCheckAndPackASavedProject) {
  TempDir dir;
  dir.Write("elsewhere/one.htm", "<html><head><title>One</title></head><body><p>First far page.</p></body></html>\n");
  dir.Write("elsewhere/two.htm", "<html><head><title>Two</title></head><body><p>Second far page.</p></body></html>\n");
  std::filesystem::create_directory(dir / "out");
  std::string opf =
      dir.Write("project/far.opf",
                "<?xml version=\"1.0\"?>\n<package unique-identifier=\"id\"><metadata><dc-metadata "
                "xmlns:dc=\"http://purl.org/dc/elements/1.0/\"><dc:Identifier id=\"id\">far-1</dc:Identifier>"
                "<dc:Title>Far</dc:Title></dc-metadata><x-metadata><meta name=\"x-IKL-nameondisk\" content=\"FAR\"/>"
                "<meta name=\"x-IKL-destdir\" content=\"../out\"/></x-metadata></metadata><manifest>"
                "<item id=\"a\" href=\"file://" +
                    dir.path() +
                    "/elsewhere/one.htm\" media-type=\"text/x-oeb1-document\"/>"
                    "<item id=\"b\" href=\"../elsewhere/two.htm\" media-type=\"text/x-oeb1-document\"/></manifest>"
                    "<spine><itemref idref=\"a\"/><itemref idref=\"b\"/></spine></package>\n");

  ToolOutcome r = RunTool(VELLIX_TOOL, {"build", opf});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, dir / "out/FAR.imp\n");
  r = RunTool(VELLIX_TOOL, {"view", dir / "out/FAR.imp", "--text"});
  EXPECT_NE(r.out.find("First far page."), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Second far page."), std::string::npos) << r.out;

  r = RunTool(VELLIX_TOOL, {"check", opf});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "information: OEB Check Complete.\n");

  r = RunTool(VELLIX_TOOL, {"build", opf, "--container"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, dir / "out/FAR.oeb\n");
  EXPECT_EQ(r.err, "");
  r = RunTool(VELLIX_TOOL, {"build", "--oebff", dir / "out/FAR.oeb", dir / "out/AGAIN", dir / "out"});
  ASSERT_EQ(r.code, 0) << r.err;
  r = RunTool(VELLIX_TOOL, {"view", dir / "out/AGAIN.imp", "--text"});
  EXPECT_NE(r.out.find("First far page."), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Second far page."), std::string::npos) << r.out;
  EXPECT_EQ(RunTool(VELLIX_TOOL, {"build", "--container"}).code, 2);
}

// The project interface addresses sources with 16-bit indexes; a project
// with more sources than that is shown up to the last one it can address
// and says how many it could not, instead of counting forever.
TEST(ToolkitCliLarge, ProjectShowOfMoreSourcesThanIndexesEnds) {
  TempDir dir;
  const int kSources = 40000;
  std::string manifest, spine;
  for (int i = 0; i < kSources; ++i) {
    std::string id = "s" + std::to_string(i);
    manifest += "<item id=\"" + id + "\" href=\"" + id + ".htm\" media-type=\"text/x-oeb1-document\"/>";
    spine += "<itemref idref=\"" + id + "\"/>";
  }
  std::string opf = dir.Write("many.opf",
                              "<?xml version=\"1.0\"?><package unique-identifier=\"id\"><metadata>"
                              "<dc-metadata><dc:Identifier id=\"id\">MANY</dc:Identifier></dc-metadata>"
                              "</metadata><manifest>" +
                                  manifest + "</manifest><spine>" + spine + "</spine></package>");
  ToolOutcome r = RunTool(VELLIX_TOOL, {"project", "show", opf, "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["NumSourceFiles"], kSources);
  EXPECT_EQ(j["sources"].size(), 32768u);
  EXPECT_EQ(j["UnaddressableSources"], kSources - 32768);
  EXPECT_EQ(j["sources"][32767]["file"], "s32767.htm");
}

}  // namespace
