// The tool and the user's files: `book info` reads a copy and leaves the
// file as it was; file names that a container header can only carry
// percent-encoded pack and check.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "book_maker.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;
using namespace vellix::fixtures;
using Json = nlohmann::json;

ToolOutcome Vellix(const std::vector<std::string>& args) { return RunTool(VELLIX_TOOL, args); }

TEST(BookInfoTest, LeavesDocumentsAndPackagesAsTheyWere) {
  TempDir dir, tmp;
  // The tool's own temporary folder, to see that nothing stays behind.
  std::string saved_tmpdir = getenv("TMPDIR") ? getenv("TMPDIR") : "";
  setenv("TMPDIR", tmp.path().c_str(), 1);

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

  ToolOutcome d = Vellix({"book", "info", dir / "ill.htm", "--json"});
  ToolOutcome p = Vellix({"book", "info", dir / "part.opf", "--json"});
  if (saved_tmpdir.empty())
    unsetenv("TMPDIR");
  else
    setenv("TMPDIR", saved_tmpdir.c_str(), 1);

  ASSERT_EQ(d.code, 0) << d.err;
  Json dj = Json::parse(d.out);
  EXPECT_EQ(dj["Path"], dir / "ill.htm");  // the user's file, not the copy
  EXPECT_EQ(dj["Title"], "Doc");
  EXPECT_EQ(dj["Author"], "Me");
  EXPECT_EQ(dj["Category"], "Essay");
  ASSERT_EQ(p.code, 0) << p.err;
  Json pj = Json::parse(p.out);
  EXPECT_EQ(pj["Path"], dir / "part.opf");
  EXPECT_EQ(pj["Title"], "T");
  EXPECT_EQ(pj["Extension"], "opf");

  EXPECT_EQ(ReadFile(dir / "ill.htm"), document);
  EXPECT_EQ(ReadFile(dir / "part.opf"), package);
  EXPECT_TRUE(fs::is_empty(tmp.path()));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);

  // `book package` still cleans the document up in place, as it says.
  ASSERT_EQ(Vellix({"book", "package", dir / "ill.htm"}).code, 0);
  EXPECT_NE(ReadFile(dir / "ill.htm"), document);
}

TEST(OebPackTest, NamesThatNeedEscapingPackAndCheck) {
  TempDir dir;
  // File name on disk, href as the package writes it (XML-escaped), and the
  // href the container carries.
  struct Name {
    std::string file, xml_href, carried;
  };
  const std::vector<Name> names = {{"caf\xC3\xA9.htm", "caf\xC3\xA9.htm", "caf%C3%A9.htm"},
                                   {"a b.htm", "a b.htm", "a b.htm"},
                                   {"q\"uote.htm", "q&quot;uote.htm", "q%22uote.htm"},
                                   {"50%.htm", "50%.htm", "50%25.htm"},
                                   {"cr\r\nlf.htm", "cr&#13;&#10;lf.htm", "cr%0D%0Alf.htm"}};
  std::string manifest;
  for (size_t i = 0; i < names.size(); ++i) {
    WriteFile(dir / names[i].file, "body " + std::to_string(i));
    manifest += "<item id=\"i" + std::to_string(i) + "\" href=\"" + names[i].xml_href +
                "\" media-type=\"text/x-oeb1-document\"/>";
  }
  WriteFile(dir / "book.opf", "<?xml version=\"1.0\"?>\n<package><manifest>" + manifest + "</manifest></package>");

  ToolOutcome pack = Vellix({"oeb", "pack", dir / "book.opf"});
  ASSERT_EQ(pack.code, 0) << pack.err;
  ToolOutcome check = Vellix({"oeb", "check", dir / "book.oeb", "--json"});
  ASSERT_EQ(check.code, 0) << check.out << check.err;
  Json parts = Json::parse(check.out)["parts"];
  ASSERT_EQ(parts.size(), names.size() + 1);
  std::string container = ReadFile(dir / "book.oeb");
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_NE(container.find("href=\"" + names[i].carried + "\"\r\n"), std::string::npos) << names[i].carried;
    int64_t start = parts[i + 1]["body_start"], end = parts[i + 1]["body_end"];
    EXPECT_EQ(container.substr(start, end - 1 - start), "body " + std::to_string(i));
  }
}

}  // namespace
